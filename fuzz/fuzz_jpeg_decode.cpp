// A JPEG decoded at the scale and kept region its last two bytes choose, as the program decodes
// it; then the same file through the two-thread split decoding, whose rows and cut blocks must be
// libjpeg's own, byte for byte.
#include <cstdio>

#include <jpeglib.h>

#include "core/cut_blocks.h"
#include "core/jpeg_decoder.h"
#include "fuzz/fuzzing.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Choice {
    int scale = 1;
    ImageSize kept;        // a side 0: all of it
    PixelArea columns;     // the cut blocks the split decoding keeps
    PixelArea rows;
};

// From the two control bytes: the scale, and a side or both of a region that ends anywhere in
// the picture, block edges or not.
Choice choose(uint8_t first, uint8_t second, ImageSize picture)
{
    Choice choice;
    choice.scale = 1 << (first & 3);
    const int sides = first >> 2 & 3;
    const int step = first >> 4;
    if (sides & 1) {
        choice.kept.width = std::clamp(picture.width * second / 256 + step, 1, picture.width);
    }
    if (sides & 2) {
        choice.kept.height = std::clamp(picture.height * (255 - second) / 256 + step, 1, picture.height);
    }
    const int keptWidth = choice.kept.width > 0 ? choice.kept.width : picture.width;
    const int keptHeight = choice.kept.height > 0 ? choice.kept.height : picture.height;
    if (choice.kept.width > 0) {
        const int width = std::min(keptWidth, 1 + second % 13);
        choice.columns = {keptWidth - width, 0, width, keptHeight};
    }
    if (choice.kept.height > 0) {
        const int height = std::min(keptHeight, 1 + second % 11);
        choice.rows = {0, keptHeight - height, keptWidth, height};
    }
    return choice;
}

void decodeAsTheProgramDoes(const std::vector<uint8_t>& file, const JpegHeader& header, const Choice& choice)
{
    // A region is cut only from a reduced colour or grey picture, as conversions plan it.
    const bool cuts = choice.scale > 1 && !header.inks;
    const ReducedView view{choice.scale, cuts ? choice.kept : ImageSize{}};
    std::vector<uint8_t> pixels;
    ImageSize given;
    const Outcome outcome =
        decodeJpegPixels(file, header, view, [&](ImageSize size, PixelLayout layout) {
            const int bytesPerPixel = bytesPerPixelOf(layout);
            given = size;
            if (size.width <= 0 || size.height <= 0) return PixelRows{};
            pixels.assign(static_cast<std::size_t>(size.width) * bytesPerPixel * size.height, 0);
            return PixelRows{pixels.data(), size.width * bytesPerPixel, size.width, size.height, bytesPerPixel};
        });
    const auto reduced = [&](int side) { return (side + choice.scale - 1) / choice.scale; };
    if (outcome == Outcome::done &&
        (given.width != reduced(header.size.width) || given.height != reduced(header.size.height)))
        mismatch("decodeJpegPixels gave rows of another size than the scaled picture's");
}

bool sameStrips(const CutBlocks& a, const CutBlocks& b)
{
    for (const int area : {0, 1})
        if (cutPixels(a, area).pixels != cutPixels(b, area).pixels) return false;
    return true;
}

// Whether the split decoding took the file. After it declined, the rows are compared up to
// `declinedRows`, and with them how the file ends when they are all of them.
bool compareSplitWithLibjpeg(const std::vector<uint8_t>& file, const Choice& choice, int declinedRows)
{
    JpegRowReader reference(file, choice.scale, true), split(file, choice.scale, true);
    if (reference.started() != split.started()) mismatch("two readers of one file started differently");
    if (!reference.started()) return false;
    const bool areas = choice.columns.width > 0 || choice.rows.height > 0;
    CutBlocks referenceBlocks, splitBlocks;
    const bool blocksKept = areas && reference.keepCutBlocks(referenceBlocks, choice.columns, choice.rows);
    if (areas && split.keepCutBlocks(splitBlocks, choice.columns, choice.rows) != blocksKept)
        mismatch("two readers of one file kept cut blocks differently");

    const ImageSize size = reference.size();
    const int bytesPerPixel = reference.inks() ? 4 : 3;
    const int stride = size.width * bytesPerPixel;
    std::vector<uint8_t> expected(static_cast<std::size_t>(stride) * size.height), got(expected.size());
    if (split.readSplit(got.data(), stride, blocksKept ? &splitBlocks : nullptr)) {
        if (!reference.read(expected.data(), stride, size.height) || !reference.finish())
            mismatch("the split decoding took a file that libjpeg fails");
        if (got != expected) mismatch("the split decoding's rows differ from libjpeg's");
        if (blocksKept && !sameStrips(splitBlocks, referenceBlocks))
            mismatch("the split decoding's cut blocks differ from libjpeg's");
        return true;
    }
    // Declined: the reader must be where it was, as decodeJpegPixels then reads it.
    const int rows = std::min(size.height, declinedRows);
    const bool read = reference.read(expected.data(), stride, rows);
    if (split.read(got.data(), stride, rows) != read) mismatch("a declined split decoding changed the reader");
    if (!read) return false;
    const auto readEnd = static_cast<std::ptrdiff_t>(stride) * rows;
    if (!std::equal(got.begin(), got.begin() + readEnd, expected.begin()))
        mismatch("rows read after a declined split decoding differ from libjpeg's");
    if (rows < size.height) return false;
    if (split.finish() != reference.finish()) mismatch("a declined split decoding changed how the file ends");
    if (blocksKept && !sameStrips(splitBlocks, referenceBlocks))
        mismatch("cut blocks read after a declined split decoding differ from libjpeg's");
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    // A copy of its own, so that reading past the file is caught, not read from the control bytes.
    const std::vector<uint8_t> file(data, data + size - 2);
    const JpegHeader header = jpegHeader(file);
    if (!worthDecoding(file, header.size)) return 0;
    const Choice choice = choose(data[size - 2], data[size - 1], header.size);
    // A picture that may have the split decoding's 8192 MCUs costs each decoding of it 10 to 100 ms
    // against about 1 ms for a small one, so it gets as few as tell something: none at 1/1 and 1/2,
    // where the split decoding never takes it; not the program's, which for it is the split decoding
    // checked here once more; and when the split decoding declines it, only a band of rows read
    // after, which shows the reader left where it was. Kept out of the corpus then, it is no parent
    // of more such.
    constexpr int64_t splitPixels = 8192 * 64;
    constexpr int bandAfterDecline = 8;
    const bool splitSize = static_cast<int64_t>(header.size.width) * header.size.height >= splitPixels;
    if (splitSize && choice.scale < 4) return 0;
    if (!splitSize) decodeAsTheProgramDoes(file, header, choice);
    const bool split = compareSplitWithLibjpeg(file, choice, splitSize ? bandAfterDecline : header.size.height);
    return splitSize && !split ? -1 : 0;
}
