#include "core/resample.h"

#include "common/task_pool.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define INKVEIL_VECTOR_ROWS 1
#endif

namespace {

// Below this many source pixels another thread costs more than it saves.
constexpr double pixelsWorthAThread = 1 << 20;

// For each target index along one axis, the source indices it is made of and their weights.
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::size_t> offset;  // of the first weight in `weights`
    std::vector<float> weights;
};

void addTaps(Taps& taps, int first, const std::vector<double>& weights)
{
    double sum = 0.0;
    for (double weight : weights) sum += weight;
    taps.first.push_back(first);
    taps.count.push_back(static_cast<int>(weights.size()));
    taps.offset.push_back(taps.weights.size());
    for (double weight : weights) taps.weights.push_back(static_cast<float>(weight / sum));
}

Taps tapsFor(double region, int sourceSize, int targetSize)
{
    Taps taps;
    const double scale = region / targetSize;
    const int last = std::min(sourceSize, static_cast<int>(std::ceil(region))) - 1;
    std::vector<double> weights;
    for (int t = 0; t < targetSize; ++t) {
        weights.clear();
        if (scale >= 1.0) {
            // The mean of [begin, end): whole pixels inside, parts of the two at its ends.
            const double begin = region * t / targetSize;
            const double end = region * (t + 1) / targetSize;
            const int first = std::min(static_cast<int>(begin), last);
            for (int i = first; i <= last && i < end; ++i)
                weights.push_back(std::min(end, i + 1.0) - std::max(begin, static_cast<double>(i)));
            if (weights.empty()) weights.push_back(1.0);
            addTaps(taps, first, weights);
            continue;
        }
        // Bilinear between the two pixel centres around the target pixel's centre.
        const double centre = std::clamp((t + 0.5) * scale - 0.5, 0.0, static_cast<double>(last));
        const int below = static_cast<int>(centre);
        const double fraction = centre - below;
        weights.push_back(1.0 - fraction);
        if (below < last && fraction > 0.0) weights.push_back(fraction);
        addTaps(taps, below, weights);
    }
    return taps;
}

bool isIdentity(const ColourGains& gains)
{
    for (int c = 0; c < 3; ++c)
        if (gains.gain[c] != 1.0f || gains.offset[c] != 0.0f) return false;
    return true;
}

// Turns the weighted sums of one target pixel into its bytes: four, or three for a target
// without alpha, which gets the straight colours.
struct PixelOutput {
    TargetAlpha alpha;
    ColourGains gains;
    bool identity;
    int bytes;

    void opaque(const float* sum, uint8_t* out) const
    {
        for (int c = 0; c < 3; ++c) out[c] = toByte(sum[c] * gains.gain[c] + gains.offset[c]);
        if (bytes == 4) out[3] = 0xFF;
    }

    // `sum` holds premultiplied colours: the gains act on the straight ones.
    void translucent(const float* sum, uint8_t* out) const
    {
        const float opacity = sum[3];
        const bool premultiplied = alpha == TargetAlpha::premultiplied && bytes == 4;
        if (identity && premultiplied) {
            for (int c = 0; c < 4; ++c) out[c] = toByte(sum[c]);
            return;
        }
        if (opacity < 0.5f) {
            for (int c = 0; c < bytes; ++c) out[c] = 0;
            return;
        }
        for (int c = 0; c < 3; ++c) {
            const float straight = std::clamp(sum[c] * 255.0f / opacity * gains.gain[c] + gains.offset[c], 0.0f, 255.0f);
            out[c] = toByte(premultiplied ? straight * opacity / 255.0f : straight);
        }
        if (bytes == 4) out[3] = toByte(opacity);
    }
};

#if defined(INKVEIL_VECTOR_ROWS)
struct SixteenFloats {
    __m128 part[4];
};

// Sixteen bytes, each times `weight`.
SixteenFloats weighted(const uint8_t* bytes, float weight)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i low = _mm_unpacklo_epi8(loaded, zero);
    const __m128i high = _mm_unpackhi_epi8(loaded, zero);
    const __m128 times = _mm_set1_ps(weight);
    return {{_mm_mul_ps(times, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero))),
             _mm_mul_ps(times, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero))),
             _mm_mul_ps(times, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero))),
             _mm_mul_ps(times, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)))}};
}
#endif

// One target row's blend of source rows: for each value of the columns used, the sum down the
// row's taps of weight times byte, multiplied and added in tap order.
void blendRows(const PixelRows& source, const Taps& rows, int y, float* blended, std::size_t values)
{
    const int count = rows.count[y];
    const std::ptrdiff_t stride = source.stride;
    const uint8_t* top = source.pixels + static_cast<std::ptrdiff_t>(rows.first[y]) * stride;
    const float* weights = &rows.weights[rows.offset[y]];
    std::size_t i = 0;
#if defined(INKVEIL_VECTOR_ROWS)
    for (; i + 16 <= values; i += 16) {
        SixteenFloats sums = weighted(top + i, weights[0]);
        for (int k = 1; k < count; ++k) {
            const SixteenFloats products = weighted(top + k * stride + i, weights[k]);
            for (int part = 0; part < 4; ++part) sums.part[part] = _mm_add_ps(sums.part[part], products.part[part]);
        }
        for (int part = 0; part < 4; ++part) _mm_storeu_ps(blended + i + 4 * part, sums.part[part]);
    }
#endif
    for (; i < values; ++i) {
        float sum = weights[0] * top[i];
        for (int k = 1; k < count; ++k) sum += weights[k] * top[k * stride + i];
        blended[i] = sum;
    }
}

// Where no target pixel has more than three, the columns' taps with each pixel given as many as
// the widest has: the extra ones weigh 0 and read real values or zeros beyond them, which adds +0
// to a sum that is never -0, so the sums are the same floats.
struct EvenColumns {
    static constexpr int mostTaps = 3;
    int widest = 0;
    std::vector<float> weights;  // `widest` for each target pixel, or none

    explicit EvenColumns(const Taps& columns)
    {
        for (int count : columns.count) widest = std::max(widest, count);
        if (widest > mostTaps) return;
        weights.assign(columns.count.size() * widest, 0.0f);
        for (std::size_t x = 0; x < columns.count.size(); ++x)
            std::copy_n(&columns.weights[columns.offset[x]], columns.count[x], &weights[x * widest]);
    }
};

#if defined(INKVEIL_VECTOR_ROWS)
// A pixel's three channels (and a fourth lane, read and dropped) summed over its `count` taps, in
// tap order from +0.
__m128 columnSum(const float* pixel, const float* weight, int count)
{
    __m128 sum = _mm_setzero_ps();
    for (int k = 0; k < count; ++k, pixel += 3)
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(weight[k]), _mm_loadu_ps(pixel)));
    return sum;
}

// An opaque target row from its blend of source rows, each pixel's three channels in one vector:
// the same float operations in the same order as the pixel-by-pixel way and opaque() take, so the
// same bytes. With `evenTaps` (1 to EvenColumns::mostTaps) every pixel takes that many from the
// even columns, else its own. Four pixels are packed at a time; with three bytes a pixel their 4-byte stores
// overlap, the last reaching a byte into the pixel after them, so the row's last pixels go one by
// one.
template <int evenTaps>
void opaqueRow(const float* blended, uint8_t* out, const PixelRows& band, const Taps& columns,
               const EvenColumns& even, const PixelOutput& output)
{
    const __m128 gain = _mm_setr_ps(output.gains.gain[0], output.gains.gain[1], output.gains.gain[2], 1.0f);
    const __m128 offset = _mm_setr_ps(output.gains.offset[0], output.gains.offset[1], output.gains.offset[2], 0.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 lowest = _mm_setzero_ps();
    const __m128 highest = _mm_set1_ps(255.0f);
    const auto bytesAt = [&](int x) {
        const float* pixel = blended + static_cast<std::size_t>(columns.first[x]) * 3;
        const __m128 sum = evenTaps > 0
                               ? columnSum(pixel, &even.weights[static_cast<std::size_t>(x) * evenTaps], evenTaps)
                               : columnSum(pixel, &columns.weights[columns.offset[x]], columns.count[x]);
        const __m128 adjusted = _mm_add_ps(_mm_add_ps(_mm_mul_ps(sum, gain), offset), half);
        return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(adjusted, lowest), highest));
    };
    const int bytesPerPixel = band.bytesPerPixel;
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (const int groupsEnd = band.width - (bytesPerPixel == 4 ? 3 : 4); x < groupsEnd; x += 4) {
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(bytesAt(x), bytesAt(x + 1)),
                                                _mm_packs_epi32(bytesAt(x + 2), bytesAt(x + 3)));
        if (bytesPerPixel == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(packed, opaque));
            out += 16;
            continue;
        }
        const int32_t pixels[4] = {_mm_cvtsi128_si32(packed), _mm_cvtsi128_si32(_mm_srli_si128(packed, 4)),
                                   _mm_cvtsi128_si32(_mm_srli_si128(packed, 8)),
                                   _mm_cvtsi128_si32(_mm_srli_si128(packed, 12))};
        for (const int32_t pixel : pixels) {
            std::memcpy(out, &pixel, 4);
            out += 3;
        }
    }
    for (; x < band.width; ++x, out += bytesPerPixel) {
        const __m128i bytes = bytesAt(x);
        const uint32_t packed = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(bytes, bytes), bytes)));
        out[0] = static_cast<uint8_t>(packed);
        out[1] = static_cast<uint8_t>(packed >> 8);
        out[2] = static_cast<uint8_t>(packed >> 16);
        if (bytesPerPixel == 4) out[3] = 0xFF;
    }
}
#endif

// The target rows from firstRow on, into `band`, whose first row is that one.
template <int channels>
void resampleRows(const PixelRows& source, const PixelRows& band, int firstRow, const Taps& rows, const Taps& columns,
                  const EvenColumns& even, int columnsUsed, const PixelOutput& output)
{
    const std::size_t values = static_cast<std::size_t>(columnsUsed) * channels;
    // Zeros after the values, which the even columns' extra taps and a pixel's vector of three
    // channels read.
    std::vector<float> blended(values + 3 * static_cast<std::size_t>(even.widest) + 1);
    for (int y = firstRow; y < firstRow + band.height; ++y) {
        // Down the rows first: contiguous bytes.
        blendRows(source, rows, y, blended.data(), values);
        uint8_t* out = band.row(y - firstRow);
#if defined(INKVEIL_VECTOR_ROWS)
        if constexpr (channels == 3) {
            switch (even.widest) {
            case 1: opaqueRow<1>(blended.data(), out, band, columns, even, output); break;
            case 2: opaqueRow<2>(blended.data(), out, band, columns, even, output); break;
            case 3: opaqueRow<3>(blended.data(), out, band, columns, even, output); break;
            default: opaqueRow<0>(blended.data(), out, band, columns, even, output); break;
            }
            continue;
        }
#endif
        for (int x = 0; x < band.width; ++x, out += band.bytesPerPixel) {
            float sum[channels] = {};
            const float* pixel = &blended[static_cast<std::size_t>(columns.first[x]) * channels];
            const float* weight = &columns.weights[columns.offset[x]];
            for (int k = 0; k < columns.count[x]; ++k, pixel += channels)
                for (int c = 0; c < channels; ++c) sum[c] += weight[k] * pixel[c];
            if (channels == 3)
                output.opaque(sum, out);
            else
                output.translucent(sum, out);
        }
    }
}

// An opaque source at the target's own size: each byte through its channel's table, which
// holds what the weighted path would compute for it.
class GainTables {
public:
    explicit GainTables(const PixelOutput& output) : identity_(output.identity)
    {
        for (int value = 0; value < 256; ++value) {
            uint8_t pixel[4];
            const float sum[3] = {static_cast<float>(value), static_cast<float>(value), static_cast<float>(value)};
            output.opaque(sum, pixel);
            for (int c = 0; c < 3; ++c) table_[c][value] = pixel[c];
        }
    }

    // Rows of 3 bytes into rows of 3 or 4 (opaque alpha); the two may be the same rows.
    void copy(const PixelRows& source, const PixelRows& target) const
    {
        for (int y = 0; y < target.height; ++y) {
            const uint8_t* in = source.pixels + static_cast<std::ptrdiff_t>(y) * source.stride;
            uint8_t* out = target.pixels + static_cast<std::ptrdiff_t>(y) * target.stride;
            if (target.bytesPerPixel == 3 && identity_) {
                if (in != out) std::memcpy(out, in, static_cast<std::size_t>(target.width) * 3);
            } else if (target.bytesPerPixel == 3) {
                copyRow<3>(in, out, target.width);
            } else {
                copyRow<4>(in, out, target.width);
            }
        }
    }

private:
    template <int targetBytes>
    void copyRow(const uint8_t* in, uint8_t* out, int width) const
    {
        for (int x = 0; x < width; ++x, in += 3, out += targetBytes) {
            out[0] = table_[0][in[0]];
            out[1] = table_[1][in[1]];
            out[2] = table_[2][in[2]];
            if (targetBytes == 4) out[3] = 0xFF;
        }
    }

    bool identity_;
    uint8_t table_[3][256];
};

// Runs work(firstRow, endRow) over bands of the rows, one per processor when it pays.
template <typename Work>
void inBands(int rowCount, double sourcePixels, const Work& work)
{
    inParts(rowCount, sourcePixels >= pixelsWorthAThread ? processorCount() : 1, work);
}

}  // namespace

uint8_t toByte(float value)
{
    return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

// What a RegionResampler works from, made once for all of its bands.
struct RegionResampler::Work {
    PixelRows source;
    double regionWidth = 0.0;
    double regionHeight = 0.0;
    PixelOutput output{};
    std::optional<GainTables> sameSize;  // a plain copy through the gains, else the weighted sums
    Taps columns;
    std::optional<EvenColumns> evenColumns;
    Taps rows;
    int columnsUsed = 0;
};

RegionResampler::RegionResampler(const PixelRows& source, double regionWidth, double regionHeight, ImageSize target,
                                 int targetBytesPerPixel, TargetAlpha alpha, const ColourGains& gains)
{
    if (target.width <= 0 || target.height <= 0 || !(regionWidth > 0.0) || !(regionHeight > 0.0)) return;
    regionWidth = std::min(regionWidth, static_cast<double>(source.width));
    regionHeight = std::min(regionHeight, static_cast<double>(source.height));
    auto work = std::make_unique<Work>();
    work->source = source;
    work->regionWidth = regionWidth;
    work->regionHeight = regionHeight;
    work->output = PixelOutput{alpha, gains, isIdentity(gains), targetBytesPerPixel};
    if (source.bytesPerPixel == 3 && regionWidth == target.width && regionHeight == target.height) {
        work->sameSize.emplace(work->output);
    } else {
        work->columns = tapsFor(regionWidth, source.width, target.width);
        work->evenColumns.emplace(work->columns);
        work->rows = tapsFor(regionHeight, source.height, target.height);
        work->columnsUsed = std::min(source.width, static_cast<int>(std::ceil(regionWidth)));
    }
    work_ = std::move(work);
}

RegionResampler::~RegionResampler() = default;

double RegionResampler::sourcePixels() const { return work_ ? work_->regionWidth * work_->regionHeight : 0.0; }

void RegionResampler::resample(const PixelRows& band, int firstRow) const
{
    if (!work_) return;
    const Work& work = *work_;
    if (work.sameSize) {
        work.sameSize->copy({work.source.row(firstRow), work.source.stride, work.source.width, band.height, 3}, band);
        return;
    }
    const auto rows = work.source.bytesPerPixel == 3 ? resampleRows<3> : resampleRows<4>;
    rows(work.source, band, firstRow, work.rows, work.columns, *work.evenColumns, work.columnsUsed, work.output);
}

void resampleRegion(const PixelRows& source, double regionWidth, double regionHeight, const PixelRows& target,
                    TargetAlpha alpha, const ColourGains& gains)
{
    const RegionResampler resampler(source, regionWidth, regionHeight, {target.width, target.height},
                                    target.bytesPerPixel, alpha, gains);
    if (resampler.empty()) return;
    inBands(target.height, resampler.sourcePixels(), [&](int begin, int end) {
        resampler.resample({target.row(begin), target.stride, target.width, end - begin, target.bytesPerPixel}, begin);
    });
}

void copyThroughGains(const PixelRows& source, const PixelRows& target, const ColourGains& gains)
{
    GainTables(PixelOutput{TargetAlpha::straight, gains, isIdentity(gains), target.bytesPerPixel}).copy(source, target);
}

namespace {

// One row of boxes from the columns' sums over `rows` rows. A float division for each byte cost more
// than the sums: the product with the count's reciprocal, in double, rounds to the same float for
// every sum a box can hold (the quotient is never within double's error of a float's rounding
// point), so the bytes are the divisions' to the bit.
template <int bytes>
void emitBoxes(const uint16_t* column, uint8_t* out, int boxes, int factor, int width, int rows)
{
    const double wholeBox = 1.0 / (factor * rows);
    for (int box = 0; box < boxes; ++box, out += bytes) {
        const int columns = std::min(factor, width - box * factor);
        const double scale = columns == factor ? wholeBox : 1.0 / (columns * rows);
        uint32_t sums[bytes] = {};
        for (int x = 0; x < columns; ++x, column += bytes)
            for (int c = 0; c < bytes; ++c) sums[c] += column[c];
        for (int c = 0; c < bytes; ++c) out[c] = toByte(static_cast<float>(sums[c] * scale));
    }
}

}  // namespace

void BoxReduction::emitRow()
{
    uint8_t* out = pixels_.data() + static_cast<std::size_t>(size_.width) * bytesPerPixel_ * rowsDone_;
    if (bytesPerPixel_ == 4)
        emitBoxes<4>(columnSums_.data(), out, size_.width, factor_, width_, rowsInBox_);
    else
        emitBoxes<3>(columnSums_.data(), out, size_.width, factor_, width_, rowsInBox_);
    std::fill(columnSums_.begin(), columnSums_.end(), uint16_t{0});
    rowsInBox_ = 0;
    ++rowsDone_;
}
