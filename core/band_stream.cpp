#include "core/band_stream.h"

#include "common/handoff.h"
#include "common/pooled_memory.h"

#include <atomic>
#include <mutex>
#include <new>
#include <utility>

namespace {

constexpr int bandRows = 32;
// The decoder runs ahead of the writer by up to this much of a picture, or this many bands of a
// wide one: enough to go on through the writer's work between two files.
constexpr std::size_t bytesInFlight = std::size_t{8} << 20;
constexpr int fewestBandsInFlight = 4;

int slotsFor(std::size_t stride, int bandCount)
{
    const std::size_t fitting = bytesInFlight / (stride * bandRows);
    return static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(fitting, fewestBandsInFlight),
                                                  static_cast<std::size_t>(std::max(bandCount, 1))));
}

}  // namespace

// Shared by the stream and the task that decodes it, which may run after the stream is gone;
// the task touches the file only while `running`, and the reduction is the writer's alone.
struct BandStream::State {
    State(ByteSpan file, ImageSize pictureSize, ImageSize paneAtLeast, std::optional<BandEffects> bandEffects,
          std::function<bool()> givenUpWhen)
        : cancellation(std::move(givenUpWhen)), jpeg(file), size(pictureSize),
          stride(static_cast<std::size_t>(pictureSize.width) * 3),
          bandCount((pictureSize.height + bandRows - 1) / bandRows), effects(std::move(bandEffects)),
          reduction(pictureSize, paneAtLeast), slotCount(slotsFor(stride, bandCount)),
          slots(stride * bandRows * static_cast<std::size_t>(slotCount), PooledMemory::Contents::unspecified)
    {
        if (!slots) throw std::bad_alloc();
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    int rowsOf(int band) const { return std::min(bandRows, size.height - band * bandRows); }
    PixelRows rowsAt(int band) const
    {
        return {slots.data() + stride * bandRows * static_cast<std::size_t>(band % slotCount), static_cast<int>(stride),
                size.width, rowsOf(band), 3};
    }

    // Decodes the band; false after a fatal error, which `failure` then names. The last band also
    // ends the file, whose rest must decode too, and lets the decoder's memory go before a next
    // file's decoding takes its own.
    bool decodeBand(int band)
    {
        if (band == 0) {
            reader.emplace(jpeg, 1, false, cancellation);
            const ImageSize read = reader->size();
            if (!reader->started()) return fail(reader->failure());
            if (reader->inks() || read.width != size.width || read.height != size.height) return fail(Outcome::damaged);
        }
        const PixelRows rows = rowsAt(band);
        if (!reader->read(rows.pixels, rows.stride, rows.height)) return fail(reader->failure());
        const bool last = band + 1 == bandCount;
        if (last && !reader->finish()) return fail(reader->failure());
        if (last) reader.reset();
        return true;
    }
    // The writer's part of a decoded band, taken off the decoding line, which is the slower: the
    // band added to the pane reduction, then put through the effects.
    void finishBand(int band)
    {
        const PixelRows rows = rowsAt(band);
        for (int y = 0; y < rows.height; ++y) reduction.add(rows.row(y));
        reduced = band + 1;
        if (!effects) return;
        copyThroughGains(rows, rows, effects->gains);
        blendLayer(effects->layer, rows, band * bandRows);
    }
    bool fail(Outcome outcome)
    {
        failure = outcome;
        return false;
    }

    // The line's task: every band, as the writer frees their slots, until the end or a cancel.
    void decodeAll()
    {
        {
            const std::lock_guard<std::mutex> lock(starting);
            if (cancellation.cancelled()) return;
            running = true;
        }
        bool ok = true;
        try {
            for (int band = 0; band < bandCount && ok; ++band) {
                handoff.waitUntil([&] { return band - consumed.load() < slotCount || cancellation.cancelled(); });
                if (cancellation.cancelled()) break;
                ok = decodeBand(band);
                if (ok) decoded = band + 1;
                handoff.changed();
            }
        } catch (const std::bad_alloc&) {
            ok = fail(Outcome::outOfMemory);
        } catch (...) {
            ok = fail(Outcome::damaged);
        }
        // Given up with bands still to come: a writer waiting for them must not wait on.
        if (ok && decoded < bandCount) ok = fail(Outcome::cancelled);
        reader.reset();
        if (!ok) failed = true;
        running = false;
        handoff.changed();
    }

    // Band `band` (each asked for once, in order), or null when the decoding failed. The band
    // before it is handed back to the decoder.
    uint8_t* next(int band)
    {
        if (!onLine) {
            try {
                if (!decodeBand(band)) failed = true;
            } catch (const std::bad_alloc&) {
                failed = !fail(Outcome::outOfMemory);
            } catch (const std::exception&) {
                failed = !fail(Outcome::damaged);
            }
            if (!failed) decoded = band + 1;
            return failed ? nullptr : rowsAt(band).pixels;
        }
        consumed = band;
        handoff.changed();
        handoff.waitUntil([&] { return decoded.load() > band || failed.load(); });
        return decoded > band ? rowsAt(band).pixels : nullptr;
    }

    void cancel()
    {
        {
            const std::lock_guard<std::mutex> lock(starting);
            cancellation.cancel();
        }
        handoff.changed();
        handoff.waitUntil([&] { return !running.load(); });
        if (!onLine) reader.reset();
    }

    Cancellation cancellation;
    ByteSpan jpeg;
    ImageSize size;
    std::size_t stride;
    int bandCount;
    std::optional<BandEffects> effects;
    BoxReduction reduction;
    int reduced = 0;  // bands added to the reduction
    int slotCount;
    PooledMemory slots;  // slotCount bands, one after the other
    std::optional<JpegRowReader> reader;
    bool onLine = false;  // decoded by the line's task, not by the writer

    Handoff handoff;
    std::mutex starting;  // a cancel and the start of the line's task come one after the other
    std::atomic<int> decoded{0};   // bands ready
    std::atomic<int> consumed{0};  // the band the writer holds; those before it may be decoded over
    std::atomic<bool> failed{false};
    Outcome failure = Outcome::done;  // why, once `failed`
    std::atomic<bool> running{false};
};

JpegBandSink::JpegBandSink(ByteSink output, ImageSize size, const std::vector<uint8_t>& colourProfile,
                           const ExifBlock& exif)
    : writer_(std::move(output), size.width, size.height, 3, colourProfile, exif)
{
}

bool JpegBandSink::take(const PixelRows& band, int)
{
    return writer_.write(band.pixels, band.stride, band.height);
}

BandStream::BandStream(ByteSpan jpeg, ImageSize size, ImageSize paneAtLeast, std::optional<BandEffects> effects,
                       TaskLine& line, std::function<bool()> givenUpWhen)
    : state_(std::make_shared<State>(jpeg, size, paneAtLeast, std::move(effects), std::move(givenUpWhen)))
{
    state_->onLine = line.post([state = state_] { state->decodeAll(); });
}

StreamedBands BandStream::writeTo(BandSink& sink)
{
    State& state = *state_;
    StreamedBands streamed;
    streamed.taken = true;
    for (int band = 0; band < state.bandCount && streamed.taken; ++band) {
        if (state.next(band) == nullptr) {
            streamed.decoding = state.failure;
            break;
        }
        state.finishBand(band);
        streamed.taken = sink.take(state.rowsAt(band), band * bandRows);
    }
    cancel();
    return streamed;
}

std::optional<BoxReduction> BandStream::takeReduction()
{
    cancel();
    State& state = *state_;
    if (state.reduced < state.bandCount) return std::nullopt;
    state.reduction.finish();
    return std::move(state.reduction);
}

void BandStream::cancel() { state_->cancel(); }
