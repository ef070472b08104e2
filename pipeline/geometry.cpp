#include "pipeline/geometry.h"

TargetGeometry computeTargetGeometry(imaging::GpImage* source, const WatermarkSettings& settings)
{
    const imaging::ImageSize size = imaging::imageSize(source);
    return targetGeometryFor(size.width, size.height, settings);
}
