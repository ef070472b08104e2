// Values that no fuzz target can judge, since a wrong one neither crashes nor contradicts itself:
// the reduction a decoding is planned at, the edge of a kept region, the pane reduction's and the
// resampler's means, and which of a JPEG's application segments its header yields.
#include "core/band_stream.h"
#include "core/conversion_plan.h"
#include "core/exif.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_segments.h"
#include "core/resample.h"
#include "core/source.h"
#include "tests/pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

namespace {

SourceFacts jpegFacts(ImageSize stored, int orientation = 0, bool inks = false)
{
    SourceFacts facts;
    facts.kind = SourceKind::jpeg;
    facts.header = {stored, inks};
    facts.orientation = orientation;
    return facts;
}

// A side 0 keeps all of the picture along it.
ImageSize keptSides(ImageSize kept, ImageSize picture)
{
    return {kept.width > 0 ? kept.width : picture.width, kept.height > 0 ? kept.height : picture.height};
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

const Bytes jpegStart = {0xFF, 0xD8};
const Bytes frameHeader = jpegSegment(0xC0, {8, 0, 16, 0, 16, 1, 1, 0x11, 0});
const Bytes xmp = jpegSegment(0xE1, bytesOf("http://ns.adobe.com/xap/1.0/"));

std::vector<int> levelsOf(const std::vector<uint8_t>& bytes) { return std::vector<int>(bytes.begin(), bytes.end()); }

}  // namespace

TEST(Reduction, LargestThatLeavesTheNeededPixelsOnBothSides)
{
    struct Row {
        const char* name;
        ImageSize region, needed;
        int expected;
    };
    const Row rows[] = {
        {"exactly 8x", {800, 600}, {100, 75}, 8},
        {"a pixel short of 8x across", {799, 600}, {100, 75}, 4},
        {"a pixel short of 8x down", {800, 599}, {100, 75}, 4},
        {"a pixel short of 4x", {399, 300}, {100, 75}, 2},
        {"exactly 2x", {200, 150}, {100, 75}, 2},
        {"a pixel short of 2x", {199, 150}, {100, 75}, 1},
        {"needs that overflow an int at 8x", {INT_MAX, INT_MAX}, {300'000'000, 300'000'000}, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(reductionFor(row.region, row.needed), row.expected);
    }
}

TEST(Plan, ARegionIsCutOnlyWhereTheDecodingCanKeepIt)
{
    struct Row {
        const char* name;
        SourceFacts facts;
        int keepSourceSize;
        ImageSize target;
        Route route;
        int scale;
        ImageSize expectedKept;  // of the upright picture
    };
    const ImageSize whole{1600, 1200};
    SourceFacts png;
    png.kind = SourceKind::png;
    const Row rows[] = {
        {"size kept, upright: streamed", jpegFacts(whole), 1, {}, Route::streamed, 1, whole},
        {"size kept, turned: whole", jpegFacts(whole, 6), 1, {}, Route::whole, 1, {1200, 1600}},
        {"size kept, inks: whole", jpegFacts(whole, 0, true), 2, {}, Route::whole, 1, whole},
        {"size kept, not a JPEG: whole", png, 1, {}, Route::whole, 1, {}},
        {"the whole picture in the crop", jpegFacts(whole), 0, {200, 150}, Route::whole, 8, whole},
        {"a narrower crop, reduced by its own size", jpegFacts(whole), 0, {100, 150}, Route::cutRegion, 8,
         {800, 1200}},
        {"a crop with no reduction: whole", jpegFacts(whole), 0, {1000, 500}, Route::whole, 1, whole},
        {"orientation 1 is upright", jpegFacts(whole, 1), 0, {100, 150}, Route::cutRegion, 8, {800, 1200}},
        {"turned: reduced by its upright size", jpegFacts({800, 2400}, 6), 0, {300, 100}, Route::whole, 8,
         {2400, 800}},
        {"turned, with a crop: whole at full size", jpegFacts({800, 2400}, 6), 0, {300, 200}, Route::whole, 1,
         {2400, 800}},
        {"upside down, with a crop", jpegFacts(whole, 3), 0, {100, 150}, Route::whole, 1, whole},
        {"inks, with a crop", jpegFacts(whole, 0, true), 0, {100, 150}, Route::whole, 1, whole},
        {"inks, without one", jpegFacts(whole, 0, true), 0, {200, 150}, Route::whole, 8, whole},
        {"not a JPEG", png, 0, {100, 150}, Route::whole, 1, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings{};
        settings.keepSourceSize = row.keepSourceSize;
        settings.targetWidth = row.target.width;
        settings.targetHeight = row.target.height;
        const ConversionPlan plan = planConversion(row.facts, settings, OutputFormat::jpeg);
        const ImageSize upright = row.facts.uprightSize();
        const ImageSize kept = keptSides(plan.view.kept, upright);
        EXPECT_EQ(plan.route, row.route);
        EXPECT_EQ(plan.view.cuts(), row.route == Route::cutRegion);
        EXPECT_EQ(plan.view.scaleDenominator, row.scale);
        EXPECT_EQ(kept.width, row.expectedKept.width);
        EXPECT_EQ(kept.height, row.expectedKept.height);
        EXPECT_EQ(plan.keepsSize, row.keepSourceSize != 0);
    }
    EXPECT_EQ(outputFormatOf("jpeg"), OutputFormat::jpeg);
    EXPECT_EQ(outputFormatOf("jpg"), OutputFormat::other) << "subtypes are MIME spellings";
    EXPECT_EQ(outputFormatOf("gif"), OutputFormat::gif);
}

// The reduced pixels that a kept region's edge cuts through show only what lies inside it,
// wherever the edge falls in its block.
TEST(Reduction, KeptRegionsShowNothingFromBeyondTheirEdge)
{
    struct Row {
        const char* name;
        bool halfChroma, down;
        int edge, scale;
    };
    const Row rows[] = {
        {"across, inside an 8-pixel block, halved", false, false, 21, 2},
        {"across, inside an 8-pixel block, at an eighth", false, false, 21, 8},
        {"down, inside an 8-pixel block, at a quarter", false, true, 13, 4},
        {"across, in the second half of a 16-pixel block", true, false, 28, 8},
        {"down, in the first half of a 16-pixel block", true, true, 36, 4},
        {"across, on a block's edge", false, false, 24, 2},
    };
    // Apart in chroma too; 4:2:0 edges fall between chroma samples.
    constexpr int side = 48;
    constexpr uint8_t inside[3] = {200, 60, 60}, beyond[3] = {60, 60, 200};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Encoding encoding;
        encoding.quality = 100;
        encoding.halfChroma = row.halfChroma;
        const Bytes file = encodeSamples(side, side, encoding, [&](int x, int y, int component) {
            return (row.down ? y : x) < row.edge ? inside[component] : beyond[component];
        });
        const ImageSize kept = row.down ? ImageSize{0, row.edge} : ImageSize{row.edge, 0};
        std::vector<uint8_t> pixels;
        ImageSize size;
        const auto into = [&](ImageSize given, PixelLayout layout) {
            size = given;
            pixels.assign(static_cast<std::size_t>(given.width) * given.height * 3, 0);
            if (layout != PixelLayout::bgr) return PixelRows{};
            return PixelRows{pixels.data(), given.width * 3, given.width, given.height, 3};
        };
        ASSERT_EQ(decodeJpegPixels(file, jpegHeader(file), ReducedView{row.scale, kept}, into), Outcome::done);
        const int reachingInside = (row.edge + row.scale - 1) / row.scale;
        int worst = 0;
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                const uint8_t* pixel = &pixels[(static_cast<std::size_t>(y) * size.width + x) * 3];
                if ((row.down ? y : x) < reachingInside)
                    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(pixel[c] - inside[c]));
            }
        EXPECT_LE(worst, 6);
    }
}

TEST(BoxReduction, TheSideWithFewestWholeBoxesSetsTheFactor)
{
    struct Row {
        const char* name;
        ImageSize picture, atLeast, expected;
    };
    const Row rows[] = {
        {"8 across and down", {64, 48}, {8, 6}, {8, 6}},
        {"7 across: a last row of boxes 6 rows high", {63, 48}, {8, 6}, {9, 7}},
        {"7 down: a last box of 1 column and 5 rows", {64, 47}, {8, 6}, {10, 7}},
        {"smaller than asked: no reduction", {5, 5}, {10, 10}, {5, 5}},
        {"capped where a column's sums stay in 16 bits", {1024, 1024}, {1, 1}, {4, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BoxReduction reduction(row.picture, row.atLeast);
        const std::vector<uint8_t> white(static_cast<std::size_t>(row.picture.width) * 3, 255);
        for (int y = 0; y < row.picture.height; ++y) reduction.add(white.data());
        reduction.finish();
        EXPECT_EQ(reduction.size().width, row.expected.width);
        EXPECT_EQ(reduction.size().height, row.expected.height);
        const std::size_t bytes = static_cast<std::size_t>(row.expected.width) * row.expected.height * 3;
        EXPECT_EQ(reduction.pixels(), std::vector<uint8_t>(bytes, 255)) << "each box the mean of what it holds";
    }
}

TEST(BoxReduction, FourBytePixelsAverageEveryByteAlike)
{
    // Premultiplied red beside clear pixels: half as opaque, half as bright.
    BoxReduction reduction({4, 2}, {2, 1}, 4);
    ASSERT_EQ(reduction.size().width, 2);
    ASSERT_EQ(reduction.size().height, 1);
    const std::vector<uint8_t> row = {0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 200, 200, 0, 0, 200, 200};
    reduction.add(row.data());
    reduction.add(row.data());
    reduction.finish();
    EXPECT_EQ(levelsOf(reduction.pixels()), (std::vector<int>{0, 0, 128, 128, 0, 0, 200, 200}));
}

TEST(BoxReduction, EdgeBoxesAverageWhatTheyHoldToTheNearestByte)
{
    // 5 x 3 in boxes of 2: the right boxes hold one column, the bottom ones one row.
    const int blue[3][5] = {{0, 1, 0, 0, 200}, {1, 1, 0, 1, 100}, {7, 9, 50, 60, 255}};
    BoxReduction reduction({5, 3}, {2, 1});
    ASSERT_EQ(reduction.size().width, 3);
    ASSERT_EQ(reduction.size().height, 2);
    for (const auto& levels : blue) {
        std::vector<uint8_t> row;
        for (int level : levels) row.insert(row.end(), {static_cast<uint8_t>(level), 10, 30});
        reduction.add(row.data());
    }
    reduction.finish();
    // 0.75 up to 1 and 0.25 down to 0; green and red stay apart from blue.
    const std::vector<int> expected = {1, 10, 30, 0, 10, 30, 150, 10, 30, 8, 10, 30, 55, 10, 30, 255, 10, 30};
    EXPECT_EQ(levelsOf(reduction.pixels()), expected);
}

TEST(Resample, GreyRegionsShrinkToBoxMeansAndGrowBilinearly)
{
    struct Row {
        const char* name;
        ImageSize source;
        std::vector<int> levels;
        double regionWidth, regionHeight;
        ImageSize target;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"4x2 into 2x1: each 2x2 box", {4, 2}, {0, 10, 20, 40, 2, 12, 22, 42}, 4, 2, {2, 1}, {6, 31}},
        {"only the 2x2 region counts", {4, 2}, {0, 10, 255, 255, 20, 30, 255, 255}, 2, 2, {1, 1}, {15}},
        {"1.5 x 1.5: the second column and row in half", {3, 3}, {0, 90, 255, 90, 180, 255, 255, 255, 255}, 1.5, 1.5,
         {1, 1}, {60}},
        {"2x2 grown to 4x4: between centres, edges held", {2, 2}, {0, 200, 200, 0}, 2, 2, {4, 4},
         {0, 50, 150, 200, 50, 75, 125, 150, 150, 125, 75, 50, 200, 150, 50, 0}},
        {"halved across, doubled down", {4, 2}, {0, 20, 100, 140, 200, 220, 100, 60}, 4, 2, {2, 4},
         {10, 120, 60, 110, 160, 90, 210, 80}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> source, target(row.expected.size() * 3);
        for (int level : row.levels) source.insert(source.end(), 3, static_cast<uint8_t>(level));
        resampleRegion({source.data(), row.source.width * 3, row.source.width, row.source.height, 3}, row.regionWidth,
                       row.regionHeight, {target.data(), row.target.width * 3, row.target.width, row.target.height, 3});
        std::vector<int> levels;
        for (std::size_t at = 0; at < target.size(); at += 3) levels.push_back(target[at]);
        EXPECT_EQ(levels, row.expected);
    }
}

TEST(Resample, ChannelsGainsAndAlphaModes)
{
    ColourGains gains;
    gains.gain[0] = 2.0f;  // blue 200 goes past 255
    gains.gain[1] = 0.5f;
    gains.offset[1] = 10.0f;
    gains.offset[2] = -50.0f;  // red 0 goes below 0
    ColourGains bluer;
    bluer.gain[0] = 2.0f;
    const std::vector<uint8_t> opaquePair = {100, 100, 100, 200, 40, 0};
    const std::vector<uint8_t> redCorner = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 255};
    struct Row {
        const char* name;
        std::vector<uint8_t> source;
        ImageSize sourceSize;
        int sourceBytes;
        ImageSize target;
        int targetBytes;
        TargetAlpha alpha;
        ColourGains gains;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"2x2 into 1x1: each channel its own mean", {10, 0, 100, 20, 0, 100, 30, 0, 100, 41, 255, 100}, {2, 2}, 3,
         {1, 1}, 4, TargetAlpha::premultiplied, {}, {25, 64, 100, 255}},
        {"quarter-covered, premultiplied", redCorner, {2, 2}, 4, {1, 1}, 4, TargetAlpha::premultiplied, {},
         {0, 0, 50, 64}},
        {"quarter-covered, straight", redCorner, {2, 2}, 4, {1, 1}, 4, TargetAlpha::straight, {}, {0, 0, 200, 64}},
        {"quarter-covered, without alpha", redCorner, {2, 2}, 4, {1, 1}, 3, TargetAlpha::premultiplied, {},
         {0, 0, 200}},
        {"gains at the same size, 3 bytes", opaquePair, {2, 1}, 3, {2, 1}, 3, TargetAlpha::straight, gains,
         {200, 60, 50, 255, 30, 0}},
        {"gains at the same size, 4 bytes", opaquePair, {2, 1}, 3, {2, 1}, 4, TargetAlpha::premultiplied, gains,
         {200, 60, 50, 255, 255, 30, 0, 255}},
        {"gains after the means", {100, 100, 100, 100, 100, 100, 200, 40, 0, 200, 40, 0}, {4, 1}, 3, {2, 1}, 4,
         TargetAlpha::premultiplied, gains, {200, 60, 50, 255, 255, 30, 0, 255}},
        {"gains act on straight colours, premultiplied", {50, 50, 50, 128}, {1, 1}, 4, {1, 1}, 4,
         TargetAlpha::premultiplied, bluer, {100, 50, 50, 128}},
        {"gains act on straight colours, straight", {50, 50, 50, 128}, {1, 1}, 4, {1, 1}, 4, TargetAlpha::straight,
         bluer, {199, 100, 100, 128}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PixelRows source{const_cast<uint8_t*>(row.source.data()), row.sourceSize.width * row.sourceBytes,
                               row.sourceSize.width, row.sourceSize.height, row.sourceBytes};
        std::vector<uint8_t> target(row.expected.size());
        resampleRegion(source, row.sourceSize.width, row.sourceSize.height,
                       {target.data(), row.target.width * row.targetBytes, row.target.width, row.target.height,
                        row.targetBytes},
                       row.alpha, row.gains);
        EXPECT_EQ(levelsOf(target), row.expected);
    }
}

// Rows are converted four pixels at a time, with overlapping stores for 3-byte targets, and the
// last pixels one by one: each pixel must land in its own place. Pairs of equal pixels halved
// across are their own means.
TEST(Resample, WideRowsKeepEachPixelInItsPlace)
{
    for (const int width : {4, 5, 8, 9, 13}) {
        for (const int targetBytes : {3, 4}) {
            SCOPED_TRACE("width " + std::to_string(width) + ", " + std::to_string(targetBytes) + " bytes");
            std::vector<uint8_t> source, expected;
            for (int x = 0; x < width; ++x) {
                const uint8_t pixel[3] = {static_cast<uint8_t>(x * 37), static_cast<uint8_t>(x * 37 + 91),
                                          static_cast<uint8_t>(255 - x * 19)};
                for (int copy = 0; copy < 2; ++copy) source.insert(source.end(), pixel, pixel + 3);
                expected.insert(expected.end(), pixel, pixel + 3);
                if (targetBytes == 4) expected.push_back(255);
            }
            // A guard byte after the row, which no store may reach.
            std::vector<uint8_t> target(expected.size() + 1, 7);
            resampleRegion({source.data(), width * 6, width * 2, 1, 3}, width * 2, 1,
                           {target.data(), width * targetBytes, width, 1, targetBytes});
            EXPECT_EQ(target.back(), 7);
            target.pop_back();
            EXPECT_EQ(levelsOf(target), levelsOf(expected));
        }
    }
}

TEST(Segments, TheFirstWholeMatchingSegmentBeforeTheFrameHeader)
{
    const Bytes first = bytesOf(std::string(exifSignature) + "first");
    const Bytes second = bytesOf(std::string(exifSignature) + "second");
    const Bytes exif = jpegSegment(0xE1, first), laterExif = jpegSegment(0xE1, second);
    const Bytes& frame = frameHeader;
    const Bytes progressiveFrame = jpegSegment(0xC2, {8, 0, 16, 0, 16, 1, 1, 0x11, 0});
    const Bytes tables = jpegSegment(0xDB, Bytes(65, 1)), huffman = jpegSegment(0xC4, Bytes(29, 0));
    const Bytes scanAndEnd = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0xFF, 0xD9};
    Bytes cutShort = exif;
    cutShort[3] += 1;  // a byte short
    const auto file = [](const std::vector<Bytes>& segments) { return withSegments(jpegStart, segments); };
    struct Row {
        const char* name;
        Bytes file;
        std::size_t most;
        std::vector<Bytes> expected;
    };
    const Row rows[] = {
        {"the only one", file({exif, frame, scanAndEnd}), 4, {first}},
        {"the first of two", file({exif, laterExif, frame}), 1, {first}},
        {"both, in order", file({exif, xmp, laterExif, frame}), 4, {first, second}},
        {"past another signature and marker", file({xmp, jpegSegment(0xE2, first), laterExif}), 4, {second}},
        {"past fill bytes before its marker", file({{0xFF, 0xFF, 0xFF}, exif}), 4, {first}},
        {"past the tables, which are no frame header", file({tables, huffman, exif, frame}), 4, {first}},
        {"not after the frame header", file({frame, exif, scanAndEnd}), 4, {}},
        {"not after a progressive frame header", file({laterExif, progressiveFrame, exif}), 4, {second}},
        {"not one a byte short", file({cutShort}), 4, {}},
        {"those before one a byte short", file({exif, laterExif, cutShort}), 4, {first, second}},
        {"not one shorter than the signature", file({jpegSegment(0xE1, bytesOf("Exif"))}), 4, {}},
        {"none in what is no JPEG", Bytes(exif.begin(), exif.end()), 4, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Bytes> found;
        for (const ByteSpan& segment : applicationSegments(row.file, 0xE1, exifSignature, row.most))
            found.emplace_back(segment.data(), segment.data() + segment.size());
        EXPECT_EQ(found, row.expected);
        const ByteSpan one = applicationSegment(row.file, 0xE1, exifSignature);
        EXPECT_EQ(Bytes(one.data(), one.data() + one.size()), row.expected.empty() ? Bytes() : row.expected.front());
    }
}

TEST(Segments, OrientationOfTheFirstExifSegment)
{
    const auto exifOf = [](uint16_t orientation, bool bigEndian) {
        OrientationExif block;
        block.orientation = orientation;
        block.bigEndian = bigEndian;
        return jpegSegment(0xE1, exifContents(block));
    };
    struct Row {
        const char* name;
        Bytes file;
        int expected;
    };
    const Row rows[] = {
        {"the first of two", withSegments(jpegStart, {exifOf(3, false), exifOf(6, false)}), 3},
        {"big-endian, after XMP", withSegments(jpegStart, {xmp, exifOf(8, true)}), 8},
        {"after fill bytes", withSegments(jpegStart, {{0xFF}, exifOf(5, false)}), 5},
        {"none after the frame header", withSegments(jpegStart, {frameHeader, exifOf(6, false)}), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(jpegOrientation(row.file), row.expected);
        const ByteSpan block = jpegExif(row.file);
        EXPECT_EQ(tiffOrientation(block.data(), block.size()), row.expected) << "the block from its byte order";
        if (row.expected == 0) continue;
        const ByteSpan contents = applicationSegment(row.file, 0xE1, exifSignature);
        EXPECT_EQ(exifOrientation(contents.data(), contents.size()), row.expected);
    }
}
