#pragma once
// A JPEG converted a band of rows at a time: libjpeg decodes on a thread of its own while the
// calling thread hands each band on, through the colour gains and the watermark's layer, to the
// JPEG encoder (then no whole picture is ever held) or wherever a sink puts it.
#include "common/pixels.h"
#include "core/blend.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_encoder.h"
#include "core/resample.h"

#include <algorithm>
#include <cstdint>
#include <vector>

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

    // Ends the last boxes; the reduction is then size() pixels of 3 bytes, rows of
    // 3 x size().width bytes.
    void finish()
    {
        if (rowsInBox_ > 0) emitRow();
    }
    ImageSize size() const { return size_; }
    const std::vector<uint8_t>& pixels() const { return pixels_; }

private:
    void emitRow();

    int width_;
    int factor_;
    ImageSize size_;
    std::vector<uint32_t> sums_;
    std::vector<uint8_t> pixels_;
    int rowsInBox_ = 0;
    int rowsDone_ = 0;
};

// Where the finished rows of each band go.
class BandSink {
public:
    virtual ~BandSink() = default;
    // Rows `firstRow` on, of the target's width; false stops the conversion as failed.
    virtual bool take(const PixelRows& band, int firstRow) = 0;
};

// Each band through the gains and the layer in place, then to the encoder.
class JpegBandSink : public BandSink {
public:
    JpegBandSink(ByteSink output, ImageSize size, const ColourGains& gains, const Layer& layer,
                 const std::vector<uint8_t>& colourProfile);
    bool take(const PixelRows& band, int firstRow) override;
    bool finish() { return writer_.finish(); }

private:
    JpegRowWriter writer_;
    const ColourGains& gains_;
    const Layer& layer_;
};

// How streaming every band ended: whether the sink took them all, and whether the decoding
// met a fatal error (then nothing the sink made is to be kept).
struct StreamedBands {
    bool taken = false;
    bool decodingFailed = false;
};

// Every band of `reader` (started, 3 bytes a pixel, no row read yet) into `sink` and `reduction`, in
// order; the reader's rest is decoded with its last band. May throw std::bad_alloc before the first band.
StreamedBands streamBands(JpegRowReader& reader, BandSink& sink, BoxReduction& reduction);
