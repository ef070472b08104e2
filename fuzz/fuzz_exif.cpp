// Exif blocks as raw segment contents, and the same bytes as the one APP1 segment of a JPEG: the
// orientation read either way must agree, and be one of the eight or none.
#include "core/exif.h"
#include "fuzz/fuzzing.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const int orientation = exifOrientation(data, size);
    if (orientation < 0 || orientation > 8) mismatch("an orientation outside 0 to 8");
    const int inFile = jpegOrientation(ByteSpan(data, size));
    if (inFile < 0 || inFile > 8) mismatch("a file's orientation outside 0 to 8");

    const std::size_t length = size + 2;
    if (length > 0xFFFF) return 0;
    std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    file.insert(file.end(), data, data + size);
    file.insert(file.end(), {0xFF, 0xD9});
    if (jpegOrientation(file) != orientation) mismatch("the segment's orientation differs from its contents'");
    return 0;
}
