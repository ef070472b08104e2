#pragma once
// Draws the adjusted source region over the whole target and the watermark text over it.
#include "common/imaging.h"
#include "pipeline/geometry.h"
#include "settings/settings.h"

// The 5 x 5 colour matrix of the four colour settings: a gain per channel and one
// brightness offset on red, green and blue; alpha passes unchanged.
imaging::ColorMatrix colourMatrixFor(const WatermarkSettings& settings);

// Opaque red with the low 8 bits of textOpacity as alpha.
imaging::ARGB textColourFor(const WatermarkSettings& settings);

// The installed family the watermark is written in; there is no fallback.
extern const wchar_t* const watermarkFontFamily;

// Draws into `target` (a 32-bit ARGB bitmap of geometry.width x geometry.height), the text's
// em size multiplied by textScale (a target rendered at the scale a pane shows it).
// Failures are silent: a missing font family draws no text, a null target draws nothing.
void renderWatermarked(imaging::GpImage* source, imaging::GpBitmap* target,
                       const TargetGeometry& geometry, const WatermarkSettings& settings,
                       double textScale = 1.0, const wchar_t* fontFamily = watermarkFontFamily);
