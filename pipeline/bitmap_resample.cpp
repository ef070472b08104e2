#include "pipeline/bitmap_resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace imaging;

LockedRegion::LockedRegion(GpBitmap* picture, double regionWidth, double regionHeight)
{
    const ImageSize size = imageSize(picture);
    if (size.width <= 0 || size.height <= 0 || !(regionWidth > 0.0) || !(regionHeight > 0.0)) return;
    width_ = std::min(regionWidth, static_cast<double>(size.width));
    height_ = std::min(regionHeight, static_cast<double>(size.height));
    PixelFormat format = 0;
    GdipGetImagePixelFormat(picture, &format);
    const bool opaqueRgb = format == PixelFormat24bppRGB;
    bytesPerPixel_ = opaqueRgb ? 3 : 4;
    lock_.emplace(picture, Rect(0, 0, static_cast<INT>(std::ceil(width_)), static_cast<INT>(std::ceil(height_))),
                  ImageLockModeRead, opaqueRgb ? PixelFormat24bppRGB : PixelFormat32bppPARGB);
}

PixelRows LockedRegion::rows() const
{
    const BitmapData& data = lock_->data();
    return {static_cast<uint8_t*>(data.Scan0), data.Stride, static_cast<int>(data.Width), static_cast<int>(data.Height),
            bytesPerPixel_};
}

bool resampleInto(GpBitmap* source, double regionWidth, double regionHeight, GpBitmap* target, TargetAlpha alpha,
                  const ColourGains& gains)
{
    const ImageSize targetSize = imageSize(target);
    if (targetSize.width <= 0 || targetSize.height <= 0) return false;
    const LockedRegion region(source, regionWidth, regionHeight);
    PixelFormat targetFormat = 0;
    GdipGetImagePixelFormat(target, &targetFormat);
    const bool rgbTarget = targetFormat == PixelFormat24bppRGB;
    if (!rgbTarget) targetFormat = alpha == TargetAlpha::premultiplied ? PixelFormat32bppPARGB : PixelFormat32bppARGB;
    const BitmapLock written(target, Rect(0, 0, targetSize.width, targetSize.height), ImageLockModeWrite,
                             targetFormat);
    if (!region || !written) return false;
    const BitmapData& out = written.data();
    resampleRegion(region.rows(), region.width(), region.height(),
                   {static_cast<uint8_t*>(out.Scan0), out.Stride, targetSize.width, targetSize.height, rgbTarget ? 3 : 4}, alpha,
                   gains);
    return true;
}

GdiBitmap resampleBitmap(GpBitmap* source, double regionWidth, double regionHeight, int width, int height)
{
    GdiBitmap result;
    if (width <= 0 || height <= 0 || imageSize(source).width <= 0) return result;
    if (createBitmap(width, height, PixelFormat32bppPARGB, result) != Ok) return result;
    if (!resampleInto(source, regionWidth, regionHeight, result.get(), TargetAlpha::premultiplied, ColourGains{}))
        result.reset();
    return result;
}

GdiBitmap bitmapOf(const BoxReduction& reduction)
{
    const ImageSize size = reduction.size();
    const PixelFormat format = reduction.bytesPerPixel() == 3 ? PixelFormat24bppRGB : PixelFormat32bppPARGB;
    GdiBitmap result;
    if (createBitmap(size.width, size.height, format, result) != Ok) return result;
    const BitmapLock written(result.get(), Rect(0, 0, size.width, size.height), ImageLockModeWrite, format);
    if (!written) {
        result.reset();
        return result;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(size.width) * reduction.bytesPerPixel();
    for (int y = 0; y < size.height; ++y)
        std::memcpy(static_cast<uint8_t*>(written.data().Scan0) + static_cast<std::ptrdiff_t>(y) * written.data().Stride,
                    reduction.pixels().data() + rowBytes * y, rowBytes);
    return result;
}

GdiBitmap boxReducedCopy(GpBitmap* picture, ImageSize atLeast)
{
    const ImageSize size = imageSize(picture);
    if (size.width <= 0 || size.height <= 0 || BoxReduction::factorFor(size, atLeast) == 1) return {};
    const LockedRegion whole(picture, size.width, size.height);
    if (!whole) return {};
    const PixelRows rows = whole.rows();
    BoxReduction reduction(size, atLeast, rows.bytesPerPixel);
    for (int y = 0; y < size.height; ++y) reduction.add(rows.row(y));
    reduction.finish();
    return bitmapOf(reduction);
}
