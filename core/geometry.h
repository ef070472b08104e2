#pragma once
// The size of the output picture and the source region that is stretched over it.
#include "settings/settings.h"

#include <cstdint>

struct TargetGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t cropWidth = 0;   // of the source region, which starts at its top-left pixel
    int32_t cropHeight = 0;
};

// Fill and crop: the target is always covered, the kept region anchored at the top left.
// The ratios pass through single precision and the quotients are truncated toward zero,
// exactly as the stored results of earlier versions expect.
TargetGeometry targetGeometryFor(int sourceWidth, int sourceHeight, const WatermarkSettings& settings);
