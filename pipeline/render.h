#pragma once
// Draws the adjusted source region over the whole target and the watermark text over it.
#include "common/win32/imaging.h"
#include "pipeline/geometry.h"
#include "core/blend.h"
#include "core/conversion_plan.h"
#include "core/resample.h"
#include "core/source.h"
#include "settings/settings.h"

// What the four colour settings do to every pixel: a gain per channel (adjust x 0.01 + 1) and
// one brightness offset (brightness x 0.01 of the full scale) on red, green and blue, each
// formed in double precision from the float 0.01 and stored as a float; alpha passes.
ColourGains colourGainsFor(const WatermarkSettings& settings);

// Opaque red with the low 8 bits of textOpacity as alpha.
imaging::ARGB textColourFor(const WatermarkSettings& settings);

// The installed family the watermark is written in; there is no fallback.
extern const wchar_t* const watermarkFontFamily;

// The source region that starts at its top-left pixel (fractions allowed, for a target
// rendered at a pane's scale from a reduced copy) stretched over all of `target`, a 32-bit
// ARGB bitmap, through the colour matrix: area averaging where it shrinks, bilinear where it
// grows. False, drawing nothing, when either bitmap is missing or cannot be locked or the region
// is empty.
bool drawAdjustedSource(imaging::GpBitmap* source, double regionWidth, double regionHeight,
                        imaging::GpBitmap* target, const WatermarkSettings& settings);

// The watermark text as it lies over a target of `size` pixels at the resolution every target has
// (that of a bitmap createBitmap makes): drawn once into a transparent layer no larger than the
// text's measured bounds (widened for overhang). Empty when there is no text to draw (no font
// family, an empty text) or the layer cannot be made.
Layer watermarkLayer(imaging::ImageSize size, const WatermarkSettings& settings, double textScale,
                     const wchar_t* fontFamily);

// The watermark text laid out over the whole of `target`, its em size times textScale, through
// its layer. A missing font family draws no text.
void drawWatermarkText(imaging::GpBitmap* target, const WatermarkSettings& settings, double textScale = 1.0,
                       const wchar_t* fontFamily = watermarkFontFamily);

// The pixel format a target is made in: 24-bit RGB when an opaque 24-bit source (a decoded
// JPEG) becomes a JPEG, whose encoder keeps no alpha and would make that copy itself; every
// pixel is opaque then, so the file is the same. 32-bit ARGB otherwise.
imaging::PixelFormat targetFormatFor(imaging::GpBitmap* source, OutputFormat format);

// Both onto `target` (geometry.width x geometry.height): the crop region, then the text. A
// source decoded at 1/sourceReduction of the picture's size has its crop region reduced alike.
// Returns whether the picture was drawn; the text alone may fail (no font), silently.
bool renderWatermarked(imaging::GpBitmap* source, imaging::GpBitmap* target, const TargetGeometry& geometry,
                       const WatermarkSettings& settings, const wchar_t* fontFamily = watermarkFontFamily,
                       int sourceReduction = 1);

// renderWatermarked and then saveImage as a JPEG into outputPath, for an opaque 24-bit source
// (a decoded JPEG): the target is made a band of rows at a time aside, on the processors, while
// the encoder takes the bands before it, and is never held whole. The file is the one those two
// make. `done` once it is written, else why not.
Outcome renderJpegInBands(imaging::GpBitmap* source, const TargetGeometry& geometry, const WatermarkSettings& settings,
                          int sourceReduction, const wchar_t* outputPath, const CarriedMetadata& carried,
                          const wchar_t* fontFamily = watermarkFontFamily);
