#include "pipeline/bitmap_resample.h"

#include <algorithm>
#include <cmath>

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
