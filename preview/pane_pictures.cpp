#include "preview/pane_pictures.h"

#include "pipeline/orientation.h"
#include "pipeline/render.h"
#include "pipeline/bitmap_resample.h"
#include "preview/canvas.h"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace imaging;

namespace {

ULONGLONG combined(DWORD high, DWORD low) { return static_cast<ULONGLONG>(high) << 32 | low; }

// The size at which a picture of `size` stands in its pane.
ImageSize shownSize(ImageSize size)
{
    const PixelRect placed = fittedPlacement(size, 0, 0, paneWidth, paneHeight);
    return {placed.width, placed.height};
}

}  // namespace

ImageSize workingSize(ImageSize source)
{
    if (source.width <= 0 || source.height <= 0) return {};
    const double scale = std::min(1.0, std::max(static_cast<double>(paneWidth) / source.width,
                                                static_cast<double>(paneHeight) / source.height));
    return {static_cast<int>(std::ceil(source.width * scale)), static_cast<int>(std::ceil(source.height * scale))};
}

PaneRender paneRenderFor(const TargetGeometry& target, ImageSize source, ImageSize working)
{
    const ImageSize shown = shownSize({target.width, target.height});
    PaneRender render;
    render.width = shown.width;
    render.height = shown.height;
    if (source.width > 0 && source.height > 0) {
        render.regionWidth = target.cropWidth * static_cast<double>(working.width) / source.width;
        render.regionHeight = target.cropHeight * static_cast<double>(working.height) / source.height;
    }
    // The side that fills the pane is scaled exactly; the other one was truncated.
    if (target.width > 0 && target.height > 0)
        render.textScale = std::max(static_cast<double>(shown.width) / target.width,
                                    static_cast<double>(shown.height) / target.height);
    return render;
}

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return fullPath == other.fullPath && size == other.size && lastWrite == other.lastWrite;
}

std::optional<FileIdentity> identifyFile(const wchar_t* path)
{
    wchar_t fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameW(path, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(fullPath, GetFileExInfoStandard, &attributes)) return std::nullopt;
    return FileIdentity{fullPath, combined(attributes.nFileSizeHigh, attributes.nFileSizeLow),
                        combined(attributes.ftLastWriteTime.dwHighDateTime, attributes.ftLastWriteTime.dwLowDateTime)};
}

void previewFileInPanes(std::optional<PreviewSource>& cache, const wchar_t* sourcePath, const WatermarkSettings& settings,
                        const Cancellation& cancellation)
{
    std::optional<FileIdentity> file = identifyFile(sourcePath);
    if (cache && !(file && cache->file == *file)) cache.reset();
    if (!cache && file) {
        const SourceFile source = openSource(sourcePath, cancellation);
        const ImageSize upright = source.facts.uprightSize();
        const UprightDecoding decoding =
            decodeUpright(source, decodingView(source.facts, workingSize(upright)), cancellation);
        if (decoding.outcome == Outcome::cancelled) return;
        if (decoding.picture) {
            cache = reduceForPanes(decoding.picture.get(), decoding.uprightSize);
            if (cache) cache->file = std::move(*file);
        }
    }
    renderIntoPanes(cache ? &*cache : nullptr, settings);
}

std::optional<PreviewSource> reduceForPanes(GpBitmap* decoded, ImageSize size)
{
    const ImageSize working = workingSize(size);
    // Boxes of whole pixels first, as a streamed file is reduced while it is decoded; then the
    // means of what is left.
    const GdiBitmap boxed = boxReducedCopy(decoded, working);
    GpBitmap* reducing = boxed ? boxed.get() : decoded;
    const ImageSize reducingSize = imageSize(reducing);
    std::optional<PreviewSource> reduced(std::in_place);
    reduced->size = size;
    reduced->working = resampleBitmap(reducing, reducingSize.width, reducingSize.height, working.width, working.height);
    if (!reduced->working) return std::nullopt;
    // Placed by the source's own size: the working copy's sides are rounded up.
    const ImageSize shown = shownSize(size);
    reduced->sourcePicture = resampleBitmap(reduced->working.get(), working.width, working.height, shown.width, shown.height);
    return reduced;
}

void renderIntoPanes(const PreviewSource* source, const WatermarkSettings& settings)
{
    const ImageSize size = source != nullptr ? source->size : ImageSize{};
    GpBitmap* working = source != nullptr ? source->working.get() : nullptr;
    const TargetGeometry geometry = targetGeometryFor(size.width, size.height, settings);
    const PaneRender render = paneRenderFor(geometry, size, imageSize(working));
    GdiBitmap target;
    // A target that a conversion could not hold is not shown either.
    if (bitmapFits(geometry.width, geometry.height, PixelFormat32bppARGB))
        createBitmap(render.width, render.height, PixelFormat32bppARGB, target);
    drawAdjustedSource(working, render.regionWidth, render.regionHeight, target.get(), settings);
    drawWatermarkText(target.get(), settings, render.textScale);
    drawPanesUnderLock(source != nullptr ? source->sourcePicture.get() : nullptr, target.get());
}
