// The size-kept conversion in memory: a JPEG decoded in bands on a line of its own, each band
// reduced for the panes and through the gains and the layer there, then into the JPEG encoder.
// The reduction must be that of the rows a plain decoding gives.
#include "core/band_stream.h"
#include "core/exif.h"
#include "fuzz/fuzzing.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

namespace {

// Straddles the second band's first row, and reaches past narrow pictures' right edge.
const Layer& watermark()
{
    static const Layer layer = [] {
        Layer made;
        made.width = 64;
        made.height = 16;
        made.x = 3;
        made.y = 24;
        made.pixels.resize(static_cast<std::size_t>(made.width) * made.height * 4);
        for (int y = 0; y < made.height; ++y)
            for (int x = 0; x < made.width; ++x) {
                uint8_t* pixel = &made.pixels[(static_cast<std::size_t>(y) * made.width + x) * 4];
                const int alpha = x * 255 / (made.width - 1);
                pixel[0] = static_cast<uint8_t>(alpha * 200 / 255);
                pixel[1] = static_cast<uint8_t>(alpha * (y * 16) / 255);
                pixel[2] = static_cast<uint8_t>(alpha);
                pixel[3] = static_cast<uint8_t>(alpha);
            }
        return made;
    }();
    return layer;
}

// The reduction of a plain decoding's rows; false when that decoding failed.
bool plainReduction(const std::vector<uint8_t>& file, ImageSize size, BoxReduction& reduction)
{
    JpegRowReader reader(file);
    std::vector<uint8_t> row(static_cast<std::size_t>(size.width) * 3);
    for (int y = 0; y < size.height; ++y) {
        if (!reader.read(row.data(), static_cast<int>(row.size()), 1)) return false;
        reduction.add(row.data());
    }
    if (!reader.finish()) return false;
    reduction.finish();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::vector<uint8_t> file(data, data + size);
    // Starting a decoding already takes memory in proportion to the picture (a file of several
    // scans is held whole before its first row), so its size is weighed first.
    const JpegHeader header = jpegHeader(file);
    if (header.inks || !worthDecoding(file, header.size)) return 0;
    JpegRowReader reader(file);
    const ImageSize picture = reader.size();
    if (!reader.started()) return 0;

    BandEffects effects;
    effects.gains.gain[0] = 0.8f;
    effects.gains.gain[2] = 1.25f;
    effects.gains.offset[1] = 12.0f;
    effects.layer = watermark();
    std::vector<uint8_t> output;
    const ExifBlock exif = carriedExif(jpegExif(file), picture, true);
    JpegBandSink sink(
        [&output](const uint8_t* bytes, std::size_t count) {
            output.insert(output.end(), bytes, bytes + count);
            return true;
        },
        picture, {}, exif);
    constexpr ImageSize paneSize{40, 30};
    StreamedBands bands;
    std::optional<BoxReduction> streamed;
    try {
        TaskLine line;
        BandStream stream(file, picture, paneSize, effects, line);
        bands = stream.writeTo(sink);
        streamed = stream.takeReduction();
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const bool decodingFailed = bands.decoding != Outcome::done;
    const bool written = bands.taken && !decodingFailed && sink.finish();
    if (!decodingFailed && !streamed) mismatch("a stream decoded whole gave no pane reduction");

    BoxReduction plain(picture, paneSize);
    const bool decoded = plainReduction(file, picture, plain);
    if (decoded == decodingFailed) mismatch("the streamed decoding failed where a plain one did not, or the other way");
    if (!decoded) return 0;
    if (!bands.taken || !written) mismatch("the encoder refused a picture that decoded");
    if (streamed->pixels() != plain.pixels()) mismatch("the streamed pane copy differs from a plain decoding's");
    const JpegHeader made = jpegHeader(output);
    if (made.size.width != picture.width || made.size.height != picture.height || made.inks)
        mismatch("the streamed JPEG is not of the picture's size");
    const ByteSpan carried = jpegExif(output);
    if (!std::equal(exif.begin(), exif.end(), carried.data(), carried.data() + carried.size()) ||
        (!exif.empty() && jpegOrientation(output) != 1))
        mismatch("the Exif carried into the streamed JPEG does not read back, upright");
    return 0;
}
