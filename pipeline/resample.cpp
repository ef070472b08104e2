#include "pipeline/resample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

using namespace imaging;

namespace {

// Below this many source pixels another thread costs more than it saves.
constexpr double pixelsWorthAThread = 1 << 20;

// For each target index along one axis, the source indices it is made of and their weights.
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> offset;  // of the first weight in `weights`
    std::vector<float> weights;
};

void addTaps(Taps& taps, int first, const std::vector<double>& weights)
{
    double sum = 0.0;
    for (double weight : weights) sum += weight;
    taps.first.push_back(first);
    taps.count.push_back(static_cast<int>(weights.size()));
    taps.offset.push_back(static_cast<int>(taps.weights.size()));
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

uint8_t toByte(float value)
{
    return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

template <int channels>
void resampleRows(const PixelRows& source, const PixelRows& target, const Taps& rows,
                  const Taps& columns, int columnsUsed, int rowBegin, int rowEnd)
{
    const std::size_t values = static_cast<std::size_t>(columnsUsed) * channels;
    std::vector<float> blended(values);
    for (int y = rowBegin; y < rowEnd; ++y) {
        // Down the rows first: contiguous bytes, one multiply-add each.
        for (int k = 0; k < rows.count[y]; ++k) {
            const uint8_t* row = source.pixels + static_cast<std::ptrdiff_t>(rows.first[y] + k) * source.stride;
            const float weight = rows.weights[rows.offset[y] + k];
            if (k == 0) {
                for (std::size_t i = 0; i < values; ++i) blended[i] = weight * row[i];
            } else {
                for (std::size_t i = 0; i < values; ++i) blended[i] += weight * row[i];
            }
        }
        uint8_t* out = target.pixels + static_cast<std::ptrdiff_t>(y) * target.stride;
        for (int x = 0; x < target.width; ++x, out += 4) {
            float sum[channels] = {};
            const float* pixel = &blended[static_cast<std::size_t>(columns.first[x]) * channels];
            const float* weight = &columns.weights[columns.offset[x]];
            for (int k = 0; k < columns.count[x]; ++k, pixel += channels)
                for (int c = 0; c < channels; ++c) sum[c] += weight[k] * pixel[c];
            for (int c = 0; c < channels; ++c) out[c] = toByte(sum[c]);
            if (channels == 3) out[3] = 0xFF;
        }
    }
}

int threadsFor(double sourcePixels, int targetRows)
{
    if (sourcePixels < pixelsWorthAThread) return 1;
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::max(1, std::min(processors, targetRows));
}

}  // namespace

void resampleRegion(const PixelRows& source, double regionWidth, double regionHeight, const PixelRows& target)
{
    if (target.width <= 0 || target.height <= 0 || !(regionWidth > 0.0) || !(regionHeight > 0.0)) return;
    regionWidth = std::min(regionWidth, static_cast<double>(source.width));
    regionHeight = std::min(regionHeight, static_cast<double>(source.height));
    const Taps columns = tapsFor(regionWidth, source.width, target.width);
    const Taps rows = tapsFor(regionHeight, source.height, target.height);
    const int columnsUsed = std::min(source.width, static_cast<int>(std::ceil(regionWidth)));
    const auto band = source.bytesPerPixel == 3 ? resampleRows<3> : resampleRows<4>;

    const int threads = threadsFor(regionWidth * regionHeight, target.height);
    std::vector<std::thread> helpers;
    int begin = 0;
    for (int part = 0; part < threads; ++part) {
        const int end = static_cast<int>(static_cast<long long>(target.height) * (part + 1) / threads);
        if (part + 1 == threads) {
            band(source, target, rows, columns, columnsUsed, begin, end);
            break;
        }
        try {
            helpers.emplace_back(band, std::cref(source), std::cref(target), std::cref(rows),
                                 std::cref(columns), columnsUsed, begin, end);
        } catch (const std::system_error&) {
            band(source, target, rows, columns, columnsUsed, begin, end);
        }
        begin = end;
    }
    for (std::thread& helper : helpers) helper.join();
}

void resampleBitmap(GpBitmap* source, double regionWidth, double regionHeight, int width, int height,
                    GdiBitmap& result)
{
    result.reset();
    const ImageSize size = imageSize(source);
    if (size.width <= 0 || size.height <= 0 || width <= 0 || height <= 0 || !(regionWidth > 0.0) ||
        !(regionHeight > 0.0))
        return;
    regionWidth = std::min(regionWidth, static_cast<double>(size.width));
    regionHeight = std::min(regionHeight, static_cast<double>(size.height));

    // Decoded JPEGs are read as they are; everything else as premultiplied ARGB.
    PixelFormat format = 0;
    GdipGetImagePixelFormat(source, &format);
    const bool opaqueRgb = format == PixelFormat24bppRGB;
    const Rect used(0, 0, static_cast<INT>(std::ceil(regionWidth)), static_cast<INT>(std::ceil(regionHeight)));
    const BitmapLock read(source, used, ImageLockModeRead, opaqueRgb ? PixelFormat24bppRGB : PixelFormat32bppPARGB);
    if (!read) return;

    if (!result.track(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr,
                                                result.receive())))
        return;
    {
        const BitmapLock written(result.get(), Rect(0, 0, width, height), ImageLockModeWrite,
                                 PixelFormat32bppPARGB);
        if (written) {
            const BitmapData& in = read.data();
            const BitmapData& out = written.data();
            resampleRegion({static_cast<uint8_t*>(in.Scan0), in.Stride, static_cast<int>(in.Width),
                            static_cast<int>(in.Height), opaqueRgb ? 3 : 4},
                           regionWidth, regionHeight,
                           {static_cast<uint8_t*>(out.Scan0), out.Stride, width, height, 4});
            return;
        }
    }
    result.reset();
}
