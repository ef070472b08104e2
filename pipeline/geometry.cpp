#include "pipeline/geometry.h"

#include <initializer_list>

TargetGeometry targetGeometryFor(int w, int h, const WatermarkSettings& settings)
{
    if (settings.keepSourceSize != 0) return {w, h, w, h};

    const int W = settings.targetWidth;
    const int H = settings.targetHeight;
    if (w == 0 || h == 0 || W <= 0 || H <= 0) return {W, H, 0, 0};

    const double q = static_cast<double>(W) / w;
    const float sx = static_cast<float>(q);
    const float sy = static_cast<float>(static_cast<double>(H) / h);
    if (q > sy) return {W, H, w, static_cast<int32_t>(H / static_cast<double>(sx))};
    return {W, H, static_cast<int32_t>(W / static_cast<double>(sy)), h};
}

TargetGeometry computeTargetGeometry(imaging::GpImage* source, const WatermarkSettings& settings)
{
    const imaging::ImageSize size = imaging::imageSize(source);
    return targetGeometryFor(size.width, size.height, settings);
}

int shrinkOnLoadScale(const TargetGeometry& geometry)
{
    if (geometry.width <= 0 || geometry.height <= 0) return 1;
    for (const int denominator : {8, 4, 2})
        if (geometry.cropWidth >= static_cast<long long>(geometry.width) * denominator &&
            geometry.cropHeight >= static_cast<long long>(geometry.height) * denominator)
            return denominator;
    return 1;
}
