#pragma once
// Our own stretch of a picture's region over a whole bitmap, each axis by its own factor:
// where the picture shrinks, each target pixel is the mean of the source area it covers (no
// aliasing); where it grows, it is interpolated bilinearly. Each pass may throw std::bad_alloc
// for its tables and scratch rows, on whichever thread ran short; all of its threads have ended
// when it does.
#include "common/pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// What a colour matrix without cross terms does to each resampled pixel: every colour channel
// times its gain plus its offset (on the 0 to 255 scale), clamped; alpha passes. Indexed in
// the pixels' byte order: blue, green, red.
struct ColourGains {
    float gain[3] = {1.0f, 1.0f, 1.0f};
    float offset[3] = {0.0f, 0.0f, 0.0f};
};

// A value on the 0 to 255 scale as the nearest byte, clamped.
uint8_t toByte(float value);

// Whether target pixels hold colours premultiplied by alpha or straight ones.
enum class TargetAlpha { premultiplied, straight };

// Fills all of `target` (4 bytes a pixel, or 3 for straight colours without alpha) from the
// region of `source` that starts at its top-left pixel and is regionWidth x regionHeight
// pixels large (fractions allowed, at most the source's size, more than 0), then applies
// `gains`. Large regions are spread over every processor. A region of the target's own size
// from an opaque source is a plain copy through the gains.
void resampleRegion(const PixelRows& source, double regionWidth, double regionHeight,
                    const PixelRows& target, TargetAlpha alpha = TargetAlpha::premultiplied,
                    const ColourGains& gains = {});

// resampleRegion's work made ready once and then done a band of target rows at a time, on any
// threads, each band once; the source's pixels must stay while it is used.
class RegionResampler {
public:
    RegionResampler(const PixelRows& source, double regionWidth, double regionHeight, ImageSize target,
                    int targetBytesPerPixel, TargetAlpha alpha, const ColourGains& gains);
    ~RegionResampler();
    RegionResampler(const RegionResampler&) = delete;
    RegionResampler& operator=(const RegionResampler&) = delete;

    // Nothing to resample: no target or no region.
    bool empty() const { return !work_; }
    double sourcePixels() const;
    // The target's rows from firstRow on, into `band` (of the target's width), whose first row
    // is that one.
    void resample(const PixelRows& band, int firstRow) const;

private:
    struct Work;
    std::unique_ptr<const Work> work_;
};

// The same-size case of resampleRegion on this thread alone: 3-byte rows through the gains into
// `target` (3 bytes, or 4 with opaque alpha) of the same size; in place when both are one.
void copyThroughGains(const PixelRows& source, const PixelRows& target, const ColourGains& gains);

// The picture averaged over square boxes of `factor` pixels a side (those at the right and
// bottom edges hold what is left), accumulated row by row: the first step of every pane copy.
// Each byte of a pixel is averaged alike, so 4-byte pixels must hold premultiplied colours.
class BoxReduction {
public:
    BoxReduction(ImageSize picture, ImageSize atLeast, int bytesPerPixel = 3)
        : width_(picture.width),
          bytesPerPixel_(bytesPerPixel),
          factor_(factorFor(picture, atLeast)),
          size_{(picture.width + factor_ - 1) / factor_, (picture.height + factor_ - 1) / factor_},
          columnSums_(static_cast<std::size_t>(picture.width) * bytesPerPixel),
          pixels_(static_cast<std::size_t>(size_.width) * bytesPerPixel * size_.height)
    {
    }

    // Keeps a column's sum over a box's rows within 16 bits.
    static constexpr int largestFactor = 256;
    // The boxes' side for a picture to keep at least `atLeast` pixels on each side: as large as
    // that allows; 1 when the picture is no larger than that.
    static int factorFor(ImageSize picture, ImageSize atLeast)
    {
        return std::clamp(std::min(picture.width / std::max(1, atLeast.width), picture.height / std::max(1, atLeast.height)),
                          1, largestFactor);
    }

    void add(const uint8_t* row)
    {
        uint16_t* sum = columnSums_.data();
        for (std::size_t i = 0; i < columnSums_.size(); ++i) sum[i] = static_cast<uint16_t>(sum[i] + row[i]);
        if (++rowsInBox_ == factor_) emitRow();
    }

    // Ends the last boxes; the reduction is then size() pixels of bytesPerPixel() bytes, rows of
    // bytesPerPixel() x size().width bytes.
    void finish()
    {
        if (rowsInBox_ > 0) emitRow();
    }
    ImageSize size() const { return size_; }
    int bytesPerPixel() const { return bytesPerPixel_; }
    const std::vector<uint8_t>& pixels() const { return pixels_; }

private:
    void emitRow();

    int width_;
    int bytesPerPixel_;
    int factor_;
    ImageSize size_;
    std::vector<uint16_t> columnSums_;  // each byte of a row, summed over the box's rows so far
    std::vector<uint8_t> pixels_;
    int rowsInBox_ = 0;
    int rowsDone_ = 0;
};
