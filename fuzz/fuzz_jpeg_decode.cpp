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
    std::vector<uint8_t> pixels;
    ImageSize given;
    const Outcome outcome =
        decodeJpegPixels(file, header, choice.scale, choice.kept, [&](ImageSize size, int bytesPerPixel) {
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

void compareSplitWithLibjpeg(const std::vector<uint8_t>& file, const Choice& choice)
{
    JpegRowReader reference(file, choice.scale, true), split(file, choice.scale, true);
    if (reference.started() != split.started()) mismatch("two readers of one file started differently");
    if (!reference.started()) return;
    const bool areas = choice.columns.width > 0 || choice.rows.height > 0;
    CutBlocks referenceBlocks, splitBlocks;
    const bool blocksKept = areas && reference.keepCutBlocks(referenceBlocks, choice.columns, choice.rows);
    if (areas && split.keepCutBlocks(splitBlocks, choice.columns, choice.rows) != blocksKept)
        mismatch("two readers of one file kept cut blocks differently");

    const ImageSize size = reference.size();
    const int bytesPerPixel = reference.inks() ? 4 : 3;
    const int stride = size.width * bytesPerPixel;
    std::vector<uint8_t> expected(static_cast<std::size_t>(stride) * size.height), got(expected.size());
    const bool read = reference.read(expected.data(), stride, size.height);
    const bool finished = read && reference.finish();

    if (split.readSplit(got.data(), stride, blocksKept ? &splitBlocks : nullptr)) {
        if (!finished) mismatch("the split decoding took a file that libjpeg fails");
        if (got != expected) mismatch("the split decoding's rows differ from libjpeg's");
        if (blocksKept && !sameStrips(splitBlocks, referenceBlocks))
            mismatch("the split decoding's cut blocks differ from libjpeg's");
        return;
    }
    // Declined: the reader must be where it was, as decodeJpegPixels then reads it.
    if (split.read(got.data(), stride, size.height) != read) mismatch("a declined split decoding changed the reader");
    if (!read) return;
    if (split.finish() != finished) mismatch("a declined split decoding changed how the file ends");
    if (got != expected) mismatch("rows read after a declined split decoding differ from libjpeg's");
    if (blocksKept && !sameStrips(splitBlocks, referenceBlocks))
        mismatch("cut blocks read after a declined split decoding differ from libjpeg's");
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
    decodeAsTheProgramDoes(file, header, choice);
    compareSplitWithLibjpeg(file, choice);
    return 0;
}
