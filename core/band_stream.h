#pragma once
// A JPEG converted a band of rows at a time: libjpeg decodes on one thread while another applies
// the colour gains and the watermark's layer and hands each band on to the JPEG encoder (then no
// whole picture is ever held) or wherever a sink puts it.
#include "common/pixels.h"
#include "core/blend.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_encoder.h"
#include "core/resample.h"
#include "common/task_line.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Where the finished rows of each band go, on the thread that writes them.
class BandSink {
public:
    virtual ~BandSink() = default;
    // Rows `firstRow` on, of the target's width; false stops the conversion as failed.
    virtual bool take(const PixelRows& band, int firstRow) = 0;
};

// Each band, as it comes, to the JPEG encoder.
class JpegBandSink : public BandSink {
public:
    JpegBandSink(ByteSink output, ImageSize size, const std::vector<uint8_t>& colourProfile, const ExifBlock& exif = {});
    bool take(const PixelRows& band, int firstRow) override;
    bool finish() { return writer_.finish(); }

private:
    JpegRowWriter writer_;
};

// What is done to each band in place once the pane reduction has it, for a sink that takes the
// rows as they are: the colour gains, then the watermark's layer.
struct BandEffects {
    ColourGains gains;
    Layer layer;
};

// How writing the bands ended: whether the sink took every band it was given, and unless
// `done`, why the decoding failed before the last band (then nothing the sink made is to be kept).
struct StreamedBands {
    bool taken = false;
    Outcome decoding = Outcome::done;
};

// A JPEG of `size` (colour or grey, read as 3 bytes a pixel) decoded a band of rows at a time on
// `line`, at most a few bands ahead of its writer, which adds each band to the pane reduction and
// then puts it through the effects, if any, before the sink has it. The decoding begins once the
// tasks posted before it have run, so a file's decoding follows the one before it while that
// one's last bands are written; without a thread on the line, the writer decodes each band as it
// asks for it. The decoding ends early when `givenUpWhen` says so, or at cancel(). The file must
// outlive the stream.
class BandStream {
public:
    // May throw std::bad_alloc.
    BandStream(ByteSpan jpeg, ImageSize size, ImageSize paneAtLeast, std::optional<BandEffects> effects,
               TaskLine& line, std::function<bool()> givenUpWhen = {});
    ~BandStream() { cancel(); }
    BandStream(const BandStream&) = delete;
    BandStream& operator=(const BandStream&) = delete;

    // Every band into the sink, in order; the decoding has ended when it returns. Once.
    StreamedBands writeTo(BandSink& sink);
    // The pane reduction of the whole picture, once every band was decoded; once.
    std::optional<BoxReduction> takeReduction();
    // Ends the decoding where it is: it touches the file no more once this returns.
    void cancel();

private:
    struct State;
    std::shared_ptr<State> state_;
};
