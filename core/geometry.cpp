#include "core/geometry.h"

TargetGeometry targetGeometryFor(int sourceWidth, int sourceHeight, const WatermarkSettings& settings)
{
    if (settings.keepSourceSize != 0) return {sourceWidth, sourceHeight, sourceWidth, sourceHeight};

    const int targetWidth = settings.targetWidth;
    const int targetHeight = settings.targetHeight;
    if (sourceWidth == 0 || sourceHeight == 0 || targetWidth <= 0 || targetHeight <= 0)
        return {targetWidth, targetHeight, 0, 0};

    // The width's scale is compared in double against the height's as a float.
    const double widthScale = static_cast<double>(targetWidth) / sourceWidth;
    const float widthScaleFloat = static_cast<float>(widthScale);
    const float heightScale = static_cast<float>(static_cast<double>(targetHeight) / sourceHeight);
    if (widthScale > heightScale)
        return {targetWidth, targetHeight, sourceWidth, static_cast<int32_t>(targetHeight / static_cast<double>(widthScaleFloat))};
    return {targetWidth, targetHeight, static_cast<int32_t>(targetWidth / static_cast<double>(heightScale)), sourceHeight};
}
