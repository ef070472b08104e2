// A PNG's colour profile read from its iCCP chunk, and a profile put into it: what was put in
// must read back unchanged.
#include "core/colour_profile.h"
#include "fuzz/fuzzing.h"
#include "tests/pictures.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const ColourProfile profile = rgbProfileOf(200);
    const std::vector<uint8_t> file(data, data + size);
    if (pngColourProfile(file).size() > largestColourProfile) mismatch("a profile beyond the largest");
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
    return 0;
}
