#include "core/source.h"

#include "core/exif.h"
#include "core/webp.h"

#include <cstring>
#include <exception>
#include <new>
#include <string_view>
#include <utility>

namespace {

ExifBlock heldExif(ByteSpan block) noexcept
{
    if (block.size() > largestExifBlock) return {};
    try {
        return ExifBlock(block.data(), block.data() + block.size());
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace

ImageSize SourceFacts::uprightSize() const
{
    ImageSize size = header.size;
    if (orientation >= 5) std::swap(size.width, size.height);
    return size;
}

SourceFacts sourceFacts(ByteSpan file) noexcept
{
    SourceFacts facts;
    facts.kind = isJpeg(file) ? SourceKind::jpeg : isPng(file) ? SourceKind::png : isWebp(file) ? SourceKind::webp
                                                                                                 : SourceKind::other;
    ByteSpan exif;
    try {
        if (facts.kind == SourceKind::jpeg) {
            facts.header = jpegHeader(file);
            facts.orientation = jpegOrientation(file);
            exif = jpegExif(file);
            facts.colourProfile = forRgbOutputs(jpegColourProfile(file));
        }
        if (facts.kind == SourceKind::png) {
            exif = pngExif(file);
            facts.colourProfile = forRgbOutputs(pngColourProfile(file));
        }
        if (facts.kind == SourceKind::webp) {
            WebpFacts webp = webpFacts(file);
            facts.header.size = webp.size;
            facts.orientation = webp.orientation;
            exif = webp.exif;
            facts.colourProfile = std::move(webp.colourProfile);
        }
    } catch (const std::exception&) {
        // Short of memory for what it holds, a profile: the picture goes without it.
    }
    facts.exif = heldExif(exif);
    return facts;
}

CarriedMetadata carriedMetadata(const ColourProfile& colourProfile, ByteSpan sourceExif, ImageSize outputSize)
{
    return {colourProfile, carriedExif(sourceExif, outputSize, describesSrgb(colourProfile))};
}

bool isPictureFile(ByteSpan head)
{
    const auto opensWith = [&](std::string_view signature) {
        return head.size() >= signature.size() && std::memcmp(head.data(), signature.data(), signature.size()) == 0;
    };
    using namespace std::string_view_literals;
    return isJpeg(head) || isPng(head) || isWebp(head) || opensWith("GIF87a") || opensWith("GIF89a") ||
           opensWith("BM") || opensWith("II*\0"sv) || opensWith("MM\0*"sv);
}

int reductionFor(ImageSize region, ImageSize needed)
{
    if (needed.width <= 0 || needed.height <= 0) return 1;
    for (const int denominator : {8, 4, 2})
        if (region.width >= static_cast<long long>(needed.width) * denominator &&
            region.height >= static_cast<long long>(needed.height) * denominator)
            return denominator;
    return 1;
}

ReducedView decodingView(const SourceFacts& facts, ImageSize needed)
{
    const ImageSize upright = facts.uprightSize();
    if (facts.kind != SourceKind::jpeg || upright.width <= 0 || upright.height <= 0) return {};
    return {reductionFor(upright, needed), {}};
}
