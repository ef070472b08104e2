#include "pipeline/render.h"

#include "common/text.h"
#include "pipeline/resample.h"

#include <string_view>

using namespace imaging;

namespace {

constexpr float percent = 0.01f;

float gain(int adjust) { return static_cast<float>(adjust * static_cast<double>(percent) + 1.0); }

struct Alignment {
    StringAlignment horizontal;
    StringAlignment vertical;
};

Alignment alignmentFor(int textAlignment)
{
    switch (textAlignment) {
    case 1: return {StringAlignmentCenter, StringAlignmentCenter};
    case 2: return {StringAlignmentCenter, StringAlignmentFar};
    case 3: return {StringAlignmentFar, StringAlignmentFar};
    default: return {StringAlignmentNear, StringAlignmentNear};
    }
}

}  // namespace

const wchar_t* const watermarkFontFamily = L"楷体_GB2312";

ColorMatrix colourMatrixFor(const WatermarkSettings& settings)
{
    const float offset = static_cast<float>(settings.brightnessAdjust * static_cast<double>(percent));
    ColorMatrix matrix = {};
    matrix.m[0][0] = gain(settings.redAdjust);
    matrix.m[1][1] = gain(settings.greenAdjust);
    matrix.m[2][2] = gain(settings.blueAdjust);
    matrix.m[3][3] = 1.0f;
    matrix.m[4][0] = offset;
    matrix.m[4][1] = offset;
    matrix.m[4][2] = offset;
    matrix.m[4][4] = 1.0f;
    return matrix;
}

ARGB textColourFor(const WatermarkSettings& settings)
{
    const ARGB alpha = static_cast<ARGB>(settings.textOpacity) & 0xFF;
    return alpha << 24 | 0x00FF0000;
}

bool drawAdjustedSource(GpBitmap* source, double regionWidth, double regionHeight, GpBitmap* target,
                        const WatermarkSettings& settings)
{
    return resampleInto(source, regionWidth, regionHeight, target, TargetAlpha::straight, gainsOf(colourMatrixFor(settings)));
}

void drawWatermarkText(GpBitmap* target, const WatermarkSettings& settings, double textScale, const wchar_t* fontFamily)
{
    const ImageSize size = imageSize(target);
    const RectF layout(0.0f, 0.0f, static_cast<REAL>(size.width), static_cast<REAL>(size.height));
    GdiGraphics graphics;
    graphics.track(GdipGetImageGraphicsContext(target, graphics.receive()));
    GdiBrush brush;
    brush.track(GdipCreateSolidFill(textColourFor(settings), reinterpret_cast<GpSolidFill**>(brush.receive())));
    GdiFontFamily family;
    family.track(GdipCreateFontFamilyFromName(fontFamily, nullptr, family.receive()));
    GdiFont font;
    font.track(GdipCreateFont(family.get(), static_cast<REAL>(2.0 * settings.fontSize * textScale),
                              FontStyleRegular, UnitPoint, font.receive()));
    GdiStringFormat format;
    format.track(GdipCreateStringFormat(0, LANG_NEUTRAL, format.receive()));
    const Alignment alignment = alignmentFor(settings.textAlignment);
    format.track(GdipSetStringFormatAlign(format.get(), alignment.horizontal));
    format.track(GdipSetStringFormatLineAlign(format.get(), alignment.vertical));

    const wchar_t* text = toWide(fieldText(settings.watermarkText));
    graphics.track(GdipDrawString(graphics.get(), text, static_cast<INT>(wcslen(text)), font.get(), &layout,
                                  format.get(), brush.get()));
}

PixelFormat targetFormatFor(GpBitmap* source, const char* subtype)
{
    PixelFormat format = 0;
    if (source == nullptr || GdipGetImagePixelFormat(source, &format) != Ok) format = 0;
    return format == PixelFormat24bppRGB && std::string_view(subtype) == "jpeg" ? PixelFormat24bppRGB
                                                                                : PixelFormat32bppARGB;
}

bool renderWatermarked(GpBitmap* source, GpBitmap* target, const TargetGeometry& geometry,
                       const WatermarkSettings& settings, const wchar_t* fontFamily)
{
    const bool drawn = drawAdjustedSource(source, geometry.cropWidth, geometry.cropHeight, target, settings);
    drawWatermarkText(target, settings, 1.0, fontFamily);
    return drawn;
}
