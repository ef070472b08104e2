#include "pipeline/bitmap_resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace imaging;

bool resampleInto(GpBitmap* source, double regionWidth, double regionHeight, GpBitmap* target, TargetAlpha alpha,
                  const ColourGains& gains)
{
    const ImageSize size = imageSize(source);
    const ImageSize targetSize = imageSize(target);
    if (size.width <= 0 || size.height <= 0 || targetSize.width <= 0 || targetSize.height <= 0 ||
        !(regionWidth > 0.0) || !(regionHeight > 0.0))
        return false;
    regionWidth = std::min(regionWidth, static_cast<double>(size.width));
    regionHeight = std::min(regionHeight, static_cast<double>(size.height));

    // Decoded JPEGs are read as they are; everything else as premultiplied ARGB.
    PixelFormat format = 0;
    GdipGetImagePixelFormat(source, &format);
    const bool opaqueRgb = format == PixelFormat24bppRGB;
    PixelFormat targetFormat = 0;
    GdipGetImagePixelFormat(target, &targetFormat);
    const bool rgbTarget = targetFormat == PixelFormat24bppRGB;
    if (!rgbTarget) targetFormat = alpha == TargetAlpha::premultiplied ? PixelFormat32bppPARGB : PixelFormat32bppARGB;
    const Rect used(0, 0, static_cast<INT>(std::ceil(regionWidth)), static_cast<INT>(std::ceil(regionHeight)));
    const BitmapLock read(source, used, ImageLockModeRead, opaqueRgb ? PixelFormat24bppRGB : PixelFormat32bppPARGB);
    const BitmapLock written(target, Rect(0, 0, targetSize.width, targetSize.height), ImageLockModeWrite,
                             targetFormat);
    if (!read || !written) return false;
    const BitmapData& in = read.data();
    const BitmapData& out = written.data();
    resampleRegion({static_cast<uint8_t*>(in.Scan0), in.Stride, static_cast<int>(in.Width),
                    static_cast<int>(in.Height), opaqueRgb ? 3 : 4},
                   regionWidth, regionHeight,
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
    PixelFormat format = 0;
    GdipGetImagePixelFormat(picture, &format);
    const bool opaqueRgb = format == PixelFormat24bppRGB;
    const BitmapLock read(picture, Rect(0, 0, size.width, size.height), ImageLockModeRead,
                          opaqueRgb ? PixelFormat24bppRGB : PixelFormat32bppPARGB);
    if (!read) return {};
    BoxReduction reduction(size, atLeast, opaqueRgb ? 3 : 4);
    for (int y = 0; y < size.height; ++y)
        reduction.add(static_cast<const uint8_t*>(read.data().Scan0) + static_cast<std::ptrdiff_t>(y) * read.data().Stride);
    reduction.finish();
    return bitmapOf(reduction);
}
