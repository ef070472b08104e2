#include "pipeline/render.h"

#include "common/pooled_memory.h"
#include "common/task_pool.h"
#include "common/win32/text.h"
#include "core/jpeg_encoder.h"
#include "pipeline/bitmap_resample.h"
#include "pipeline/codec_bitmaps.h"
#include "pipeline/output.h"
#include "settings/vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <deque>

using namespace imaging;

namespace {

constexpr float percent = 0.01f;

// A banded render's rows: enough bands ahead of the encoder to keep the other processor busy.
constexpr int renderBandRows = 64;
constexpr int renderBandsAhead = 4;

float gain(int adjust) { return static_cast<float>(adjust * static_cast<double>(percent) + 1.0); }

struct Alignment {
    StringAlignment horizontal;
    StringAlignment vertical;
};

Alignment alignmentFor(int textAlignment)
{
    switch (textAlignment) {
    case alignCentre: return {StringAlignmentCenter, StringAlignmentCenter};
    case alignBottomCentre: return {StringAlignmentCenter, StringAlignmentFar};
    case alignBottomRight: return {StringAlignmentFar, StringAlignmentFar};
    default: return {StringAlignmentNear, StringAlignmentNear};
    }
}

// The font, string format and brush of the watermark, and its text; each part empty when it
// cannot be made.
struct WatermarkTools {
    GdiBrush brush;
    GdiFontFamily family;
    GdiFont font;
    GdiStringFormat format;
    Alignment alignment;
    const wchar_t* text;

    WatermarkTools(const WatermarkSettings& settings, double textScale, const wchar_t* fontFamily)
        : alignment(alignmentFor(settings.textAlignment)), text(toWide(fieldText(settings.watermarkText)))
    {
        GdipCreateSolidFill(textColourFor(settings), reinterpret_cast<GpSolidFill**>(brush.receive()));
        GdipCreateFontFamilyFromName(fontFamily, nullptr, family.receive());
        GdipCreateFont(family.get(), static_cast<REAL>(2.0 * settings.fontSize * textScale), FontStyleRegular,
                       UnitPoint, font.receive());
        GdipCreateStringFormat(0, LANG_NEUTRAL, format.receive());
        GdipSetStringFormatAlign(format.get(), alignment.horizontal);
        GdipSetStringFormatLineAlign(format.get(), alignment.vertical);
    }
    INT length() const { return static_cast<INT>(wcslen(text)); }
};

// Where a text of the measured size lies in `layout` by its alignment (Wine's GDI+ measures
// every text as if at the top left).
double alignedStart(StringAlignment alignment, double room, double extent)
{
    switch (alignment) {
    case StringAlignmentCenter: return (room - extent) / 2.0;
    case StringAlignmentFar: return room - extent;
    default: return 0.0;
    }
}

// The resolution a target made by createBitmap has, which the text is laid out at.
struct Resolution {
    REAL x = 96.0f;
    REAL y = 96.0f;
};
Resolution newBitmapResolution()
{
    static const Resolution probed = [] {
        Resolution resolution;
        GdiBitmap probe;
        if (createBitmap(1, 1, PixelFormat32bppARGB, probe) != Ok) return resolution;
        GdipGetImageHorizontalResolution(probe.get(), &resolution.x);
        GdipGetImageVerticalResolution(probe.get(), &resolution.y);
        return resolution;
    }();
    return probed;
}

// The bounds of the text laid out in `layout`, from the size GDI+ measures and the alignment,
// widened on every side by half the em size (glyphs overhang their advance, antialiasing adds
// a pixel) and kept inside it.
Rect layerBounds(GpGraphics* graphics, const WatermarkTools& tools, const RectF& layout)
{
    RectF measured;
    if (GdipMeasureString(graphics, tools.text, tools.length(), tools.font.get(), &layout, tools.format.get(),
                          &measured, nullptr, nullptr) != Ok)
        return {};
    REAL emPixels = 0.0f;
    GdipGetFontHeight(tools.font.get(), graphics, &emPixels);
    const double margin = std::ceil(emPixels / 2.0) + 2.0;
    const double x = alignedStart(tools.alignment.horizontal, layout.Width, measured.Width);
    const double y = alignedStart(tools.alignment.vertical, layout.Height, measured.Height);
    const double left = std::max(0.0, std::floor(x - margin));
    const double top = std::max(0.0, std::floor(y - margin));
    const double right = std::min(static_cast<double>(layout.Width), std::ceil(x + measured.Width + margin));
    const double bottom = std::min(static_cast<double>(layout.Height), std::ceil(y + measured.Height + margin));
    if (!(right > left) || !(bottom > top)) return {};
    return Rect(static_cast<INT>(left), static_cast<INT>(top), static_cast<INT>(right - left),
                static_cast<INT>(bottom - top));
}

}  // namespace

const wchar_t* const watermarkFontFamily = L"楷体_GB2312";

ColourGains colourGainsFor(const WatermarkSettings& settings)
{
    const float offset = static_cast<float>(settings.brightnessAdjust * static_cast<double>(percent));
    ColourGains gains;
    gains.gain[0] = gain(settings.blueAdjust);
    gains.gain[1] = gain(settings.greenAdjust);
    gains.gain[2] = gain(settings.redAdjust);
    for (float& channelOffset : gains.offset) channelOffset = offset * 255.0f;
    return gains;
}

ARGB textColourFor(const WatermarkSettings& settings)
{
    const ARGB alpha = static_cast<ARGB>(settings.textOpacity) & 0xFF;
    return alpha << 24 | 0x00FF0000;
}

bool drawAdjustedSource(GpBitmap* source, double regionWidth, double regionHeight, GpBitmap* target,
                        const WatermarkSettings& settings)
{
    return resampleInto(source, regionWidth, regionHeight, target, TargetAlpha::straight, colourGainsFor(settings));
}

Layer watermarkLayer(ImageSize target, const WatermarkSettings& settings, double textScale, const wchar_t* fontFamily)
{
    const Resolution resolution = newBitmapResolution();
    const WatermarkTools tools(settings, textScale, fontFamily);
    if (!tools.font || tools.length() == 0 || target.width <= 0 || target.height <= 0) return {};
    GdiBitmap measuring;
    if (createBitmap(1, 1, PixelFormat32bppARGB, measuring) != Ok) return {};
    GdipBitmapSetResolution(measuring.get(), resolution.x, resolution.y);
    GdiGraphics measure;
    if (GdipGetImageGraphicsContext(measuring.get(), measure.receive()) != Ok) return {};
    const RectF layout(0.0f, 0.0f, static_cast<REAL>(target.width), static_cast<REAL>(target.height));
    const Rect bounds = layerBounds(measure.get(), tools, layout);
    GdiBitmap drawn;
    if (createBitmap(bounds.Width, bounds.Height, PixelFormat32bppARGB, drawn) != Ok) return {};
    GdipBitmapSetResolution(drawn.get(), resolution.x, resolution.y);
    {
        GdiGraphics graphics;
        if (GdipGetImageGraphicsContext(drawn.get(), graphics.receive()) != Ok ||
            GdipTranslateWorldTransform(graphics.get(), static_cast<REAL>(-bounds.X), static_cast<REAL>(-bounds.Y),
                                        MatrixOrderPrepend) != Ok ||
            GdipDrawString(graphics.get(), tools.text, tools.length(), tools.font.get(), &layout, tools.format.get(),
                           tools.brush.get()) != Ok)
            return {};
    }
    const BitmapLock read(drawn.get(), Rect(0, 0, bounds.Width, bounds.Height), ImageLockModeRead, PixelFormat32bppPARGB);
    if (!read) return {};
    Layer layer;
    layer.pixels.resize(static_cast<std::size_t>(bounds.Width) * bounds.Height * 4);
    const std::size_t rowBytes = static_cast<std::size_t>(bounds.Width) * 4;
    for (int y = 0; y < bounds.Height; ++y)
        std::memcpy(layer.pixels.data() + rowBytes * y,
                    static_cast<const uint8_t*>(read.data().Scan0) + static_cast<std::ptrdiff_t>(y) * read.data().Stride,
                    rowBytes);
    layer.width = bounds.Width;
    layer.height = bounds.Height;
    layer.x = bounds.X;
    layer.y = bounds.Y;
    return layer;
}

void drawWatermarkText(GpBitmap* target, const WatermarkSettings& settings, double textScale, const wchar_t* fontFamily)
{
    const ImageSize size = imageSize(target);
    const Layer layer = watermarkLayer(size, settings, textScale, fontFamily);
    if (layer.empty()) return;
    PixelFormat format = 0;
    GdipGetImagePixelFormat(target, &format);
    const bool rgb = format == PixelFormat24bppRGB;
    const BitmapLock written(target, Rect(0, layer.y, size.width, layer.height), ImageLockModeRead | ImageLockModeWrite,
                             rgb ? PixelFormat24bppRGB : PixelFormat32bppARGB);
    if (!written) return;
    blendLayer(layer, {static_cast<uint8_t*>(written.data().Scan0), written.data().Stride, size.width, layer.height, rgb ? 3 : 4},
               layer.y);
}

PixelFormat targetFormatFor(GpBitmap* source, OutputFormat format)
{
    PixelFormat sourceFormat = 0;
    if (source == nullptr || GdipGetImagePixelFormat(source, &sourceFormat) != Ok) sourceFormat = 0;
    return sourceFormat == PixelFormat24bppRGB && format == OutputFormat::jpeg ? PixelFormat24bppRGB
                                                                               : PixelFormat32bppARGB;
}

bool renderWatermarked(GpBitmap* source, GpBitmap* target, const TargetGeometry& geometry,
                       const WatermarkSettings& settings, const wchar_t* fontFamily, int sourceReduction)
{
    const bool drawn = drawAdjustedSource(source, geometry.cropWidth / static_cast<double>(sourceReduction),
                                          geometry.cropHeight / static_cast<double>(sourceReduction), target, settings);
    drawWatermarkText(target, settings, 1.0, fontFamily);
    return drawn;
}

Outcome renderJpegInBands(GpBitmap* source, const TargetGeometry& geometry, const WatermarkSettings& settings,
                          int sourceReduction, const wchar_t* outputPath, const CarriedMetadata& carried,
                          const wchar_t* fontFamily)
{
    const ImageSize size{geometry.width, geometry.height};
    // The same refusal as for a whole target of this size.
    if (!bitmapFits(size.width, size.height, PixelFormat24bppRGB)) return Outcome::tooLarge;
    const LockedRegion region(source, geometry.cropWidth / static_cast<double>(sourceReduction),
                              geometry.cropHeight / static_cast<double>(sourceReduction));
    if (size.width <= 0 || size.height <= 0 || !region) return Outcome::outOfMemory;
    const RegionResampler resampler(region.rows(), region.width(), region.height(), size, 3, TargetAlpha::straight,
                                    colourGainsFor(settings));
    const Layer layer = watermarkLayer(size, settings, 1.0, fontFamily);

    const std::size_t stride = static_cast<std::size_t>(size.width) * 3;
    const int bandCount = (size.height + renderBandRows - 1) / renderBandRows;
    const int slotCount = std::min(bandCount, renderBandsAhead);
    const PooledMemory slots(stride * renderBandRows * static_cast<std::size_t>(slotCount),
                             PooledMemory::Contents::unspecified);
    if (!slots) return Outcome::outOfMemory;
    const auto bandAt = [&](int band) {
        return PixelRows{slots.data() + stride * renderBandRows * static_cast<std::size_t>(band % slotCount),
                         static_cast<int>(stride), size.width, std::min(renderBandRows, size.height - band * renderBandRows), 3};
    };
    return saveThroughTemporary(outputPath, [&](const wchar_t* temporary) {
        JpegRowWriter writer(fileSink(temporary), size.width, size.height, 3, carried.colourProfile, carried.exif);
        // Last: each band still being made is waited for before what it writes into goes.
        std::deque<Task> making;
        int posted = 0;
        bool written = true;
        for (int band = 0; band < bandCount && written; ++band) {
            for (; posted < bandCount && posted < band + slotCount; ++posted)
                making.push_back(runAside([&, posted] {
                    const PixelRows rows = bandAt(posted);
                    resampler.resample(rows, posted * renderBandRows);
                    blendLayer(layer, rows, posted * renderBandRows);
                }));
            making.front().wait();
            making.pop_front();
            const PixelRows rows = bandAt(band);
            written = writer.write(rows.pixels, rows.stride, rows.height);
        }
        return written && writer.finish() ? Outcome::done : Outcome::notWritten;
    });
}
