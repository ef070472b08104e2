#pragma once
// The target geometry of a decoded picture.
#include "common/win32/imaging.h"
#include "core/geometry.h"

// The geometry for a decoded picture; a side that cannot be read counts as 0.
TargetGeometry computeTargetGeometry(imaging::GpImage* source, const WatermarkSettings& settings);
