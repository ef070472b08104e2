#pragma once
// The words the settings record stores and everything that reads them shares: the output
// format names and the text alignment codes.
#include <cstdint>

// Keeps the source's own format and file name.
constexpr const char* keepFormatName = "保持不变";
// In the order the format list offers them.
constexpr const char* outputFormatNames[] = {keepFormatName, "jpg", "gif", "png", "bmp", "tiff", "webp"};

// `textAlignment`: where the watermark stands in the target. Any other value is the top left.
enum TextAlignmentCode : int32_t {
    alignTopLeft = 0,
    alignCentre = 1,
    alignBottomCentre = 2,
    alignBottomRight = 3,
};
