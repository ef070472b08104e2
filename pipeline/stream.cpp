#include "pipeline/stream.h"

#include "common/joined_thread.h"
#include "pipeline/jpeg.h"
#include "pipeline/orientation.h"
#include "pipeline/output.h"
#include "pipeline/profile.h"
#include "pipeline/render.h"
#include "pipeline/resample.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

using namespace imaging;

namespace {

constexpr int bandRows = 32;
// Enough for the decoder to run ahead while a band is encoded, few enough to stay small.
constexpr int bandsInFlight = 4;

// Bands of decoded rows passed from the decoding thread to the one that writes them, in order.
// Without a thread of its own, the reader decodes each band itself when it asks for it.
class BandQueue {
public:
    BandQueue(JpegRowReader& reader, int width, int height)
        : reader_(reader), stride_(static_cast<std::size_t>(width) * 3), height_(height),
          bandCount_((height + bandRows - 1) / bandRows)
    {
        for (int slot = 0; slot < bandsInFlight; ++slot) {
            slots_.emplace_back(stride_ * bandRows, PooledMemory::Contents::unspecified);
            if (!slots_.back()) throw std::bad_alloc();
        }
        // Without a thread, decoded band by band as next() asks.
        decoder_.emplace([this] { decodeAll(); }, JoinedThread::WithoutThread::skip);
    }
    ~BandQueue() { stop(); }
    BandQueue(const BandQueue&) = delete;
    BandQueue& operator=(const BandQueue&) = delete;

    int bandCount() const { return bandCount_; }
    int rowsOf(int band) const { return std::min(bandRows, height_ - band * bandRows); }
    std::size_t stride() const { return stride_; }

    // Band `band` (each asked for once, in order), or null when the decoding failed. The band
    // before it is handed back to the decoder.
    uint8_t* next(int band)
    {
        uint8_t* slot = slots_[static_cast<std::size_t>(band % bandsInFlight)].data();
        if (!decoder_->separate()) {
            failed_ = failed_ || !decodeBand(band);
            return failed_ ? nullptr : slot;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        consumed_ = band;
        changed_.notify_all();
        changed_.wait(lock, [&] { return decoded_ > band || failed_; });
        return decoded_ > band ? slot : nullptr;
    }

    // Ends the decoding where it is; whether it had met a fatal error by then.
    bool stopFailed()
    {
        stop();
        return failed_;
    }

private:
    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
        if (!decoder_) return;
        try {
            decoder_->join();
        } catch (const std::exception&) {
            failed_ = true;
        }
    }

    // The last band also ends the file, whose rest must decode too.
    bool decodeBand(int band)
    {
        uint8_t* slot = slots_[static_cast<std::size_t>(band % bandsInFlight)].data();
        if (!reader_.read(slot, static_cast<int>(stride_), rowsOf(band))) return false;
        return band + 1 < bandCount_ || reader_.finish();
    }

    void decodeAll()
    {
        for (int band = 0; band < bandCount_; ++band) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return band - consumed_ < bandsInFlight || cancelled_; });
                if (cancelled_) return;
            }
            const bool ok = decodeBand(band);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (ok)
                    decoded_ = band + 1;
                else
                    failed_ = true;
            }
            changed_.notify_all();
            if (!ok) return;
        }
    }

    JpegRowReader& reader_;
    std::size_t stride_;
    int height_;
    int bandCount_;
    std::vector<PooledMemory> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int decoded_ = 0;   // bands ready
    int consumed_ = 0;  // the band the writer holds; those before it may be decoded over
    bool failed_ = false;
    bool cancelled_ = false;
    std::optional<JoinedThread> decoder_;
};

// The picture averaged over square boxes of `factor` pixels a side (those at the right and
// bottom edges hold what is left), accumulated row by row.
class BoxReduction {
public:
    BoxReduction(ImageSize picture, ImageSize atLeast)
        : width_(picture.width),
          factor_(std::clamp(std::min(picture.width / std::max(1, atLeast.width),
                                      picture.height / std::max(1, atLeast.height)),
                             1, largestFactor)),
          size_{(picture.width + factor_ - 1) / factor_, (picture.height + factor_ - 1) / factor_},
          sums_(static_cast<std::size_t>(size_.width) * 3),
          pixels_(static_cast<std::size_t>(size_.width) * 3 * size_.height)
    {
    }

    // Keeps a box's sum within 32 bits.
    static constexpr int largestFactor = 256;

    void add(const uint8_t* row)
    {
        uint32_t* sum = sums_.data();
        for (int x = 0; x < width_; x += factor_, sum += 3) {
            const int count = std::min(factor_, width_ - x);
            for (int i = 0; i < count; ++i, row += 3) {
                sum[0] += row[0];
                sum[1] += row[1];
                sum[2] += row[2];
            }
        }
        if (++rowsInBox_ == factor_) emitRow();
    }

    // The reduction as a new 24-bit bitmap (empty when it cannot be made).
    GdiBitmap finish()
    {
        if (rowsInBox_ > 0) emitRow();
        GdiBitmap result;
        if (!result.track(createBitmap(size_.width, size_.height, PixelFormat24bppRGB, result))) return result;
        const BitmapLock written(result.get(), Rect(0, 0, size_.width, size_.height), ImageLockModeWrite,
                                 PixelFormat24bppRGB);
        if (!written) return result;
        const std::size_t rowBytes = static_cast<std::size_t>(size_.width) * 3;
        for (int y = 0; y < size_.height; ++y)
            std::memcpy(static_cast<uint8_t*>(written.data().Scan0) + static_cast<std::ptrdiff_t>(y) * written.data().Stride,
                        pixels_.data() + rowBytes * y, rowBytes);
        return result;
    }

private:
    void emitRow()
    {
        uint8_t* out = pixels_.data() + static_cast<std::size_t>(size_.width) * 3 * rowsDone_;
        for (int box = 0; box < size_.width; ++box) {
            const int columns = std::min(factor_, width_ - box * factor_);
            const float count = static_cast<float>(columns * rowsInBox_);
            for (int c = 0; c < 3; ++c) out[box * 3 + c] = toByte(sums_[static_cast<std::size_t>(box) * 3 + c] / count);
        }
        std::fill(sums_.begin(), sums_.end(), 0u);
        rowsInBox_ = 0;
        ++rowsDone_;
    }

    int width_;
    int factor_;
    ImageSize size_;
    std::vector<uint32_t> sums_;
    std::vector<uint8_t> pixels_;
    int rowsInBox_ = 0;
    int rowsDone_ = 0;
};

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

// Where the finished rows of each band go.
class BandSink {
public:
    virtual ~BandSink() = default;
    // Rows `firstRow` on, of the target's width; false stops the conversion as failed.
    virtual bool take(const PixelRows& band, int firstRow) = 0;
};

// Each band through the gains and the layer in place, then to the encoder.
class JpegSink : public BandSink {
public:
    JpegSink(const char* path, ImageSize size, const ColourGains& gains, const WatermarkLayer& layer,
             const ColourProfile& colourProfile)
        : writer_(path, size.width, size.height, 3, colourProfile), gains_(gains), layer_(layer)
    {
    }
    bool take(const PixelRows& band, int firstRow) override
    {
        copyThroughGains(band, band, gains_);
        blendLayer(layer_, band, firstRow);
        return writer_.write(band.pixels, band.stride, band.height);
    }
    bool finish() { return writer_.finish(); }

private:
    JpegRowWriter writer_;
    const ColourGains& gains_;
    const WatermarkLayer& layer_;
};

// Each band through the gains into the locked 32-bit target, then the layer over it there.
class BitmapSink : public BandSink {
public:
    BitmapSink(GpBitmap* target, ImageSize size, const ColourGains& gains, const WatermarkLayer& layer)
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
    const WatermarkLayer& layer_;
};

// Every band from the queue into the sink and the pane copy's reduction; false when a band
// could not be decoded or taken.
bool runBands(BandQueue& bands, BandSink& sink, ImageSize size, BoxReduction& paneReduction)
{
    for (int band = 0; band < bands.bandCount(); ++band) {
        uint8_t* pixels = bands.next(band);
        if (pixels == nullptr) return false;
        const PixelRows rows{pixels, static_cast<int>(bands.stride()), size.width, bands.rowsOf(band), 3};
        for (int y = 0; y < rows.height; ++y) paneReduction.add(pixels + bands.stride() * y);
        if (!sink.take(rows, band * bandRows)) return false;
    }
    return true;
}

}  // namespace

StreamedConversion convertStreamed(const char* sourcePath, const char* outputPath, const char* subtype,
                                   const WatermarkSettings& settings, ImageSize (*paneSize)(ImageSize picture))
{
    if (settings.keepSourceSize == 0) return {};
    const FileView jpeg = readJpegFile(sourcePath);
    if (!jpeg || jpegOrientation(jpeg) >= 2) return {};
    JpegRowReader reader(jpeg);
    const ImageSize size = reader.size();
    if (!reader.started() || reader.inks() || size.width <= 0 || size.height <= 0) return {};

    const ColourProfile colourProfile = forRgbOutputs(jpegColourProfile(jpeg));
    const ColourGains gains = colourGainsFor(settings);
    const Resolution resolution = newBitmapResolution();
    WatermarkLayer layer;
    makeWatermarkLayer(size, resolution.x, resolution.y, settings, 1.0, watermarkFontFamily, layer);
    BoxReduction paneReduction(size, paneSize(size));
    bool decodingFailed = false;
    const bool written = [&] {
        if (std::string_view(subtype) == "jpeg") {
            return saveThroughTemporary(outputPath, [&](const char* temporary) {
                JpegSink sink(temporary, size, gains, layer, colourProfile);
                BandQueue bands(reader, size.width, size.height);
                const bool encoded = runBands(bands, sink, size, paneReduction);
                decodingFailed = bands.stopFailed();
                return encoded && !decodingFailed && sink.finish();
            });
        }
        GdiBitmap target;
        // A target that cannot be had fails on either path.
        if (!target.track(createBitmap(size.width, size.height, PixelFormat32bppARGB, target))) return false;
        {
            BitmapSink sink(target.get(), size, gains, layer);
            BandQueue bands(reader, size.width, size.height);
            const bool filled = static_cast<bool>(sink) && runBands(bands, sink, size, paneReduction);
            decodingFailed = bands.stopFailed();
            if (!filled || decodingFailed) return false;
        }
        return saveImage(target.get(), outputPath, subtype, colourProfile);
    }();
    if (decodingFailed) return {};
    return {written ? StreamOutcome::written : StreamOutcome::failed, size, paneReduction.finish()};
}
