#include "pipeline/stream.h"

#include "core/band_stream.h"
#include "pipeline/jpeg.h"
#include "pipeline/output.h"
#include "pipeline/render.h"

#include <cstring>
#include <exception>
#include <string_view>

using namespace imaging;

namespace {

// The resolution a target made by createBitmap has, which the text is laid out at.
struct Resolution {
    REAL x = 96.0f;
    REAL y = 96.0f;
};
Resolution newBitmapResolution()
{
    Resolution resolution;
    GdiBitmap probe;
    if (!probe.track(createBitmap(1, 1, PixelFormat32bppARGB, probe))) return resolution;
    GdipGetImageHorizontalResolution(probe.get(), &resolution.x);
    GdipGetImageVerticalResolution(probe.get(), &resolution.y);
    return resolution;
}

// Each band through the gains into the locked 32-bit target, then the layer over it there.
class BitmapSink : public BandSink {
public:
    BitmapSink(GpBitmap* target, ImageSize size, const ColourGains& gains, const Layer& layer)
        : lock_(target, Rect(0, 0, size.width, size.height), ImageLockModeWrite, PixelFormat32bppARGB), gains_(gains),
          layer_(layer)
    {
    }
    explicit operator bool() const { return static_cast<bool>(lock_); }
    bool take(const PixelRows& band, int firstRow) override
    {
        const BitmapData& data = lock_.data();
        const PixelRows rows{static_cast<uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(firstRow) * data.Stride,
                             data.Stride, band.width, band.height, 4};
        copyThroughGains(band, rows, gains_);
        blendLayer(layer_, rows, firstRow);
        return true;
    }

private:
    BitmapLock lock_;
    const ColourGains& gains_;
    const Layer& layer_;
};

// The reduction as a new 24-bit bitmap (empty when it cannot be made).
GdiBitmap bitmapOf(const BoxReduction& reduction)
{
    const ImageSize size = reduction.size();
    GdiBitmap result;
    if (!result.track(createBitmap(size.width, size.height, PixelFormat24bppRGB, result))) return result;
    const BitmapLock written(result.get(), Rect(0, 0, size.width, size.height), ImageLockModeWrite, PixelFormat24bppRGB);
    if (!written) return result;
    const std::size_t rowBytes = static_cast<std::size_t>(size.width) * 3;
    for (int y = 0; y < size.height; ++y)
        std::memcpy(static_cast<uint8_t*>(written.data().Scan0) + static_cast<std::ptrdiff_t>(y) * written.data().Stride,
                    reduction.pixels().data() + rowBytes * y, rowBytes);
    return result;
}

}  // namespace

StreamedConversion convertStreamed(const SourceFile& source, const char* outputPath, const char* subtype,
                                   const WatermarkSettings& settings, ImageSize (*paneSize)(ImageSize picture))
{
    if (settings.keepSourceSize == 0 || source.facts.kind != SourceKind::jpeg || source.facts.turned() ||
        source.facts.header.inks)
        return {};
    JpegRowReader reader(source.bytes);
    const ImageSize size = reader.size();
    if (!reader.started() || size.width <= 0 || size.height <= 0) return {};

    const ColourGains gains = colourGainsFor(settings);
    const Resolution resolution = newBitmapResolution();
    const Layer layer = watermarkLayer(size, resolution.x, resolution.y, settings, 1.0, watermarkFontFamily);
    BoxReduction paneReduction(size, paneSize(size));
    bool decodingFailed = false;
    const bool written = [&] {
        if (std::string_view(subtype) == "jpeg") {
            return saveThroughTemporary(outputPath, [&](const char* temporary) {
                JpegBandSink sink(fileSink(temporary), size, gains, layer, source.facts.colourProfile);
                const StreamedBands streamed = streamBands(reader, sink, paneReduction);
                decodingFailed = streamed.decodingFailed;
                return streamed.taken && !decodingFailed && sink.finish();
            });
        }
        GdiBitmap target;
        // A target that cannot be had fails on either path.
        if (!target.track(createBitmap(size.width, size.height, PixelFormat32bppARGB, target))) return false;
        {
            BitmapSink sink(target.get(), size, gains, layer);
            if (!sink) return false;
            const StreamedBands streamed = streamBands(reader, sink, paneReduction);
            decodingFailed = streamed.decodingFailed;
            if (!streamed.taken || decodingFailed) return false;
        }
        return saveImage(target.get(), outputPath, subtype, source.facts.colourProfile);
    }();
    if (decodingFailed) return {};
    paneReduction.finish();
    return {written ? StreamOutcome::written : StreamOutcome::failed, size, bitmapOf(paneReduction)};
}
