// A WebP source as the program reads it: its container's facts, then its first frame decoded. The
// decoding must fill the canvas the facts name, and a small picture that decodes must encode
// again, alpha, profile and Exif included, into a WebP of that size.
#include "core/exif.h"
#include "core/webp.h"
#include "fuzz/fuzzing.h"

#include <cstdint>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const ByteSpan file(data, size);
    WebpFacts facts;
    try {
        facts = webpFacts(file);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!worthDecoding(file, facts.size)) return 0;
    std::vector<uint8_t> pixels;
    ImageSize given;
    const auto into = [&](ImageSize canvas, PixelLayout) {
        given = canvas;
        pixels.resize(static_cast<std::size_t>(canvas.width) * canvas.height * 4);
        return PixelRows{pixels.data(), canvas.width * 4, canvas.width, canvas.height, 4};
    };
    const Outcome outcome = decodeWebpPixels(file, into);
    if (given.width != 0 && (given.width != facts.size.width || given.height != facts.size.height))
        mismatch("the decoding asked for rows of another size than the container's canvas");
    if (outcome != Outcome::done || static_cast<int64_t>(given.width) * given.height > 64 * 64) return 0;

    std::vector<uint8_t> encoded;
    const ByteSink sink = [&encoded](const uint8_t* bytes, std::size_t count) {
        encoded.insert(encoded.end(), bytes, bytes + count);
        return true;
    };
    const PixelRows rows{pixels.data(), given.width * 4, given.width, given.height, 4};
    // The program writes TIFF blocks alone. One that still begins with an Exif header once the
    // container's was taken off loses that one too when it is read again.
    const bool tiffBlock = withoutExifHeader(facts.exif).size() == facts.exif.size();
    const ExifBlock exif = tiffBlock ? ExifBlock(facts.exif.data(), facts.exif.data() + facts.exif.size()) : ExifBlock{};
    if (!encodeWebp(rows, true, facts.colourProfile, sink, exif)) mismatch("a decoded picture did not encode");
    const WebpFacts again = webpFacts(encoded);
    if (again.size.width != given.width || again.size.height != given.height || again.colourProfile != facts.colourProfile ||
        ExifBlock(again.exif.data(), again.exif.data() + again.exif.size()) != exif)
        mismatch("the encoded WebP lost the picture's size, its profile or its Exif");
    return 0;
}
