#pragma once
// Where a decoder writes the picture it decodes.
#include "common/pixels.h"

#include <functional>

// Where a decoding writes its picture: rows of the size asked for, 3 bytes a pixel (blue,
// green, red) or 4 (blue, green, red, and a fourth byte each decoder says the meaning of); empty
// pixels when none can be had.
using PixelsFor = std::function<PixelRows(ImageSize size, int bytesPerPixel)>;
