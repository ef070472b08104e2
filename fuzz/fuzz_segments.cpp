// A JPEG's header segments as the program reads them before decoding: application segments of a
// few kinds, the colour profile from its ICC chunks, and the source's facts.
#include "core/colour_profile.h"
#include "core/conversion_plan.h"
#include "core/jpeg_decoder.h"
#include "core/source.h"
#include "core/webp.h"
#include "fuzz/fuzzing.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

struct Kind {
    uint8_t marker;
    std::string_view signature;
};
constexpr Kind kinds[] = {{0xE1, std::string_view("Exif\0\0", 6)},
                          {0xE2, std::string_view("ICC_PROFILE\0", 12)},
                          {0xE0, "JFIF"},
                          {0xEE, "Adobe"},
                          {0xED, ""}};

void checkSegments(const std::vector<uint8_t>& file, const Kind& kind)
{
    const std::vector<ByteSpan> segments = applicationSegments(file, kind.marker, kind.signature, file.size());
    for (const ByteSpan& segment : segments) {
        if (segment.data() < file.data() + 4 || segment.size() > file.size() ||
            segment.data() + segment.size() > file.data() + file.size())
            mismatch("a segment outside the file");
        if (segment.data()[-4] != 0xFF || segment.data()[-3] != kind.marker ||
            (static_cast<std::size_t>(segment.data()[-2]) << 8 | segment.data()[-1]) != segment.size() + 2)
            mismatch("a segment whose marker or length is not the one before it");
        if (segment.size() < kind.signature.size() ||
            std::memcmp(segment.data(), kind.signature.data(), kind.signature.size()) != 0)
            mismatch("a segment without its signature");
    }
    const ByteSpan first = applicationSegment(file, kind.marker, kind.signature);
    const bool same = segments.empty() ? first.data() == nullptr && first.size() == 0
                                       : first.data() == segments.front().data() && first.size() == segments.front().size();
    if (!same) mismatch("applicationSegment is not the first of applicationSegments");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::vector<uint8_t> file(data, data + size);
    for (const Kind& kind : kinds) checkSegments(file, kind);
    if (jpegColourProfile(file).size() > file.size()) mismatch("a JPEG's profile larger than the file");

    const SourceFacts facts = sourceFacts(file);
    const SourceKind kind = isJpeg(file)   ? SourceKind::jpeg
                            : isPng(file)  ? SourceKind::png
                            : isWebp(file) ? SourceKind::webp
                                           : SourceKind::other;
    if (facts.kind != kind) mismatch("a source of the wrong kind");
    if (facts.orientation < 0 || facts.orientation > 8) mismatch("a source's orientation outside 0 to 8");
    if (!facts.colourProfile.empty() && forRgbOutputs(facts.colourProfile) != facts.colourProfile)
        mismatch("a source's profile that RGB outputs cannot carry");
    if (facts.header.size.width < 0 || facts.header.size.height < 0) mismatch("a negative side");
    WatermarkSettings settings{};
    settings.targetWidth = 160;
    settings.targetHeight = 120;
    const ConversionPlan plan = planConversion(facts, settings, OutputFormat::png);
    const ReducedView& view = plan.view;
    if (view.scaleDenominator != 1 && view.scaleDenominator != 2 && view.scaleDenominator != 4 &&
        view.scaleDenominator != 8)
        mismatch("a reduction libjpeg does not make");
    if ((plan.route == Route::cutRegion) != view.cuts()) mismatch("a cut region's view that does not cut, or the reverse");
    if (view.cuts() && (facts.turned() || facts.header.inks || view.scaleDenominator == 1))
        mismatch("a region cut where the decoding cannot keep it");
    return 0;
}
