// A PNG's colour profile read from its iCCP chunk and its Exif from its eXIf chunk, and a profile
// and an Exif block put into it: what was put in must read back unchanged.
#include "core/colour_profile.h"
#include "core/exif.h"
#include "fuzz/fuzzing.h"
#include "tests/pictures.h"

#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const ColourProfile profile = rgbProfileOf(200);
    const std::vector<uint8_t> file(data, data + size);
    static const ExifBlock exif = carriedExif(cameraTiff(), {40, 30}, false);
    if (pngColourProfile(file).size() > largestColourProfile) mismatch("a profile beyond the largest");
    const ByteSpan held = pngExif(file);
    if (held.size() != 0 && (held.data() < file.data() || held.data() + held.size() > file.data() + file.size()))
        mismatch("an eXIf block outside the file");
    const bool png = isPng(file);
    std::vector<uint8_t> rewritten;
    const ByteSink collect = [&](const uint8_t* bytes, std::size_t count) {
        rewritten.insert(rewritten.end(), bytes, bytes + count);
        return true;
    };
    const bool written = writePngWithColourProfile(sourceOf(file), profile, collect);
    if (!written) return 0;
    if (!png || !isPng(rewritten)) mismatch("a PNG made from what is no PNG");
    if (pngColourProfile(rewritten) != profile) mismatch("the profile put into a PNG does not read back");

    rewritten.clear();
    if (!writePngWithMetadata(sourceOf(file), profile, exif, collect)) mismatch("a PNG took a profile but not Exif");
    const ByteSpan readBack = pngExif(rewritten);
    if (pngColourProfile(rewritten) != profile ||
        !std::equal(exif.begin(), exif.end(), readBack.data(), readBack.data() + readBack.size()))
        mismatch("the profile or the Exif put into a PNG does not read back");
    return 0;
}
