#include "pipeline/stream.h"

#include "core/band_stream.h"
#include "pipeline/codec_bitmaps.h"
#include "pipeline/output.h"
#include "pipeline/render.h"


using namespace imaging;

namespace {

// The effects, made when `wanted`: applied by the band stream for a JPEG target, copied through
// into the target bitmap for any other.
std::optional<BandEffects> effectsIf(bool wanted, ImageSize size, const WatermarkSettings& settings)
{
    if (!wanted) return std::nullopt;
    return BandEffects{colourGainsFor(settings), watermarkLayer(size, settings, 1.0, watermarkFontFamily)};
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

}  // namespace

StreamedFile::StreamedFile(SourceFile source, const WatermarkSettings& settings, const ConversionPlan& plan,
                           const char* subtype, TaskLine& line, ImageSize (*paneSize)(ImageSize picture),
                           std::function<bool()> givenUpWhen)
    : source_(std::move(source)), settings_(settings), format_(plan.format), subtype_(subtype),
      bitmapEffects_(effectsIf(format_ != OutputFormat::jpeg, source_.facts.header.size, settings)),
      bands_(source_.bytes, source_.facts.header.size, paneSize(source_.facts.header.size),
             effectsIf(format_ == OutputFormat::jpeg, source_.facts.header.size, settings), line,
             std::move(givenUpWhen))
{
}

bool StreamedFile::beganFor(const WatermarkSettings& settings, const char* subtype) const
{
    return sameSettings(settings, settings_) && subtype_ == subtype;
}

StreamedConversion StreamedFile::writeTo(const wchar_t* outputPath)
{
    const ImageSize size = source_.facts.header.size;
    const CarriedMetadata carried = carriedMetadata(source_.facts.colourProfile, source_.facts.exif, size);
    Outcome decoding = Outcome::done;
    const Outcome written = [&] {
        if (format_ == OutputFormat::jpeg) {
            return saveThroughTemporary(outputPath, [&](const wchar_t* temporary) {
                JpegBandSink sink(fileSink(temporary), size, carried.colourProfile, carried.exif);
                const StreamedBands streamed = bands_.writeTo(sink);
                decoding = streamed.decoding;
                if (decoding != Outcome::done) return decoding;
                return streamed.taken && sink.finish() ? Outcome::done : Outcome::notWritten;
            });
        }
        GdiBitmap target;
        // A target that cannot be had fails on either path.
        const GpStatus created = createBitmap(size.width, size.height, PixelFormat32bppARGB, target);
        if (created != Ok) return created == ValueOverflow ? Outcome::tooLarge : Outcome::outOfMemory;
        {
            BitmapSink sink(target.get(), size, bitmapEffects_->gains, bitmapEffects_->layer);
            if (!sink) return Outcome::outOfMemory;
            const StreamedBands streamed = bands_.writeTo(sink);
            decoding = streamed.decoding;
            if (decoding != Outcome::done) return decoding;
        }
        return saveImage(target.get(), outputPath, subtype_.c_str(), carried);
    }();
    return {written, size, decoding == Outcome::done ? bands_.takeReduction() : std::nullopt};
}

SourceFile StreamedFile::takeSource()
{
    bands_.cancel();
    return std::move(source_);
}
