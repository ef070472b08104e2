#pragma once
// Where a decoder writes the picture it decodes.
#include "common/pixels.h"

#include <functional>

// Where a decoding writes its picture: rows of the size and layout asked for; empty pixels when
// none can be had.
using PixelsFor = std::function<PixelRows(ImageSize size, PixelLayout layout)>;
