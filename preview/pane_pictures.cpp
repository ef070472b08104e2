#include "preview/pane_pictures.h"

#include "common/text.h"
#include "pipeline/render.h"
#include "pipeline/resample.h"
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

void reduceForPane(GpBitmap* picture, ImageSize shownAs, GdiBitmap& result)
{
    const ImageSize size = imageSize(picture);
    const ImageSize shown = shownSize(shownAs);
    resampleBitmap(picture, size.width, size.height, shown.width, shown.height, result);
}

// Decodes the file into `cache`, or leaves it empty when that fails.
void loadPreviewSource(std::optional<PreviewSource>& cache, const char* sourcePath, FileIdentity file)
{
    GdiBitmap decoded;
    if (!decoded.track(GdipCreateBitmapFromFile(toWide(sourcePath), decoded.receive()))) return;
    cache.emplace();
    cache->file = std::move(file);
    cache->size = imageSize(decoded.get());
    const ImageSize working = workingSize(cache->size);
    resampleBitmap(decoded.get(), cache->size.width, cache->size.height, working.width, working.height,
                   cache->working);
    if (!cache->working) {
        cache.reset();
        return;
    }
    // Placed by the source's own size: the working copy's sides are rounded up.
    reduceForPane(cache->working.get(), cache->size, cache->sourcePicture);
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
    render.geometry = {shown.width, shown.height, shown.width, shown.height};
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

void panePicture(GpBitmap* picture, GdiBitmap& result) { reduceForPane(picture, imageSize(picture), result); }

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return fullPath == other.fullPath && size == other.size && lastWrite == other.lastWrite;
}

std::optional<FileIdentity> identifyFile(const char* path)
{
    char fullPath[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(fullPath, GetFileExInfoStandard, &attributes)) return std::nullopt;
    return FileIdentity{fullPath, combined(attributes.nFileSizeHigh, attributes.nFileSizeLow),
                        combined(attributes.ftLastWriteTime.dwHighDateTime, attributes.ftLastWriteTime.dwLowDateTime)};
}

void previewInPanes(std::optional<PreviewSource>& cache, const char* sourcePath, const WatermarkSettings& settings)
{
    std::optional<FileIdentity> file = identifyFile(sourcePath);
    if (cache && !(file && cache->file == *file)) cache.reset();
    if (!cache && file) loadPreviewSource(cache, sourcePath, std::move(*file));

    const ImageSize size = cache ? cache->size : ImageSize{};
    GpBitmap* working = cache ? cache->working.get() : nullptr;
    const PaneRender render =
        paneRenderFor(targetGeometryFor(size.width, size.height, settings), size, imageSize(working));
    GdiBitmap region;
    resampleBitmap(working, render.regionWidth, render.regionHeight, render.geometry.width,
                   render.geometry.height, region);
    GdiBitmap target;
    target.track(GdipCreateBitmapFromScan0(render.geometry.width, render.geometry.height, 0,
                                           PixelFormat32bppARGB, nullptr, target.receive()));
    renderWatermarked(region.get(), target.get(), render.geometry, settings, render.textScale);
    showInPanes(cache ? cache->sourcePicture.get() : nullptr, target.get());
}
