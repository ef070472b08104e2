#include "core/band_stream.h"

#include "common/joined_thread.h"
#include "common/pooled_memory.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <optional>

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

void BoxReduction::emitRow()
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

JpegBandSink::JpegBandSink(ByteSink output, ImageSize size, const ColourGains& gains, const Layer& layer,
                           const std::vector<uint8_t>& colourProfile)
    : writer_(std::move(output), size.width, size.height, 3, colourProfile), gains_(gains), layer_(layer)
{
}

bool JpegBandSink::take(const PixelRows& band, int firstRow)
{
    copyThroughGains(band, band, gains_);
    blendLayer(layer_, band, firstRow);
    return writer_.write(band.pixels, band.stride, band.height);
}

StreamedBands streamBands(JpegRowReader& reader, BandSink& sink, BoxReduction& reduction)
{
    const ImageSize size = reader.size();
    BandQueue bands(reader, size.width, size.height);
    StreamedBands streamed;
    streamed.taken = runBands(bands, sink, size, reduction);
    streamed.decodingFailed = bands.stopFailed();
    return streamed;
}
