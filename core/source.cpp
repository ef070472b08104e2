#include "core/source.h"

#include "core/exif.h"
#include "core/webp.h"

#include <new>
#include <utility>

ImageSize SourceFacts::uprightSize() const
{
    ImageSize size = header.size;
    if (orientation >= 5) std::swap(size.width, size.height);
    return size;
}

SourceFacts sourceFacts(ByteSpan file)
{
    SourceFacts facts;
    if (isJpeg(file)) {
        facts.kind = SourceKind::jpeg;
        facts.header = jpegHeader(file);
        facts.orientation = jpegOrientation(file);
    } else if (isPng(file)) {
        facts.kind = SourceKind::png;
    } else if (isWebp(file)) {
        facts.kind = SourceKind::webp;
    }
    try {
        if (facts.kind == SourceKind::jpeg) facts.colourProfile = forRgbOutputs(jpegColourProfile(file));
        if (facts.kind == SourceKind::png) facts.colourProfile = forRgbOutputs(pngColourProfile(file));
        if (facts.kind == SourceKind::webp) {
            WebpFacts webp = webpFacts(file);
            facts.header.size = webp.size;
            facts.orientation = webp.orientation;
            facts.colourProfile = std::move(webp.colourProfile);
        }
    } catch (const std::bad_alloc&) {
        // Short of memory for the profile: the picture goes without one.
    }
    return facts;
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

ReducedView decodingView(const SourceFacts& facts, ImageSize needed, ImageSize kept)
{
    const ImageSize upright = facts.uprightSize();
    if (facts.kind != SourceKind::jpeg || upright.width <= 0 || upright.height <= 0) return {};
    const bool keepsAll = (kept.width <= 0 || kept.width >= upright.width) && (kept.height <= 0 || kept.height >= upright.height);
    if (keepsAll) return {reductionFor(upright, needed), {}};
    if (facts.turned() || facts.header.inks) return {};
    return {reductionFor({kept.width > 0 ? kept.width : upright.width, kept.height > 0 ? kept.height : upright.height}, needed),
            kept};
}
