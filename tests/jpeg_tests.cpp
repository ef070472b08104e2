#include "common/win32/text.h"
#include "core/conversion_plan.h"
#include "pipeline/jpeg.h"
#include "pipeline/orientation.h"
#include "pipeline/bitmap_resample.h"
#include "pipeline/geometry.h"
#include "pipeline/output.h"
#include "pipeline/render.h"
#include "pipeline/stream.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <string>
#include <vector>

#include "core/cut_blocks.h"

using namespace imaging;

namespace {

// `count` application segments of filler (APP2).
std::vector<Bytes> fillerSegments(int count)
{
    return std::vector<Bytes>(static_cast<std::size_t>(count), jpegSegment(0xE2, Bytes(0x100, 0x5A)));
}

// Where each start-of-scan marker stands.
struct Difference {
    int largest = 0;
    double mean = 0.0;  // over the colour channels of every pixel
};

Difference differenceOf(GpBitmap* a, GpBitmap* b)
{
    const ImageSize size = imageSize(a);
    EXPECT_EQ(imageSize(b).width, size.width);
    EXPECT_EQ(imageSize(b).height, size.height);
    Difference difference;
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const Channels p = channels(pixelAt(a, x, y)), q = channels(pixelAt(b, x, y));
            for (const int channel : {std::abs(p.red - q.red), std::abs(p.green - q.green),
                                      std::abs(p.blue - q.blue)}) {
                difference.largest = std::max(difference.largest, channel);
                difference.mean += channel;
            }
            difference.largest = std::max(difference.largest, std::abs(p.alpha - q.alpha));
        }
    difference.mean /= 3.0 * std::max(1, size.width * size.height);
    return difference;
}

// Every quantisation table entry of a JPEG file, up to its first scan.
std::vector<int> quantisationEntries(const Bytes& file)
{
    std::vector<int> entries;
    for (std::size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA;) {
        const std::size_t length = static_cast<std::size_t>(file[at + 2]) << 8 | file[at + 3];
        if (file[at + 1] == 0xDB) {
            for (std::size_t table = at + 4; table < at + 2 + length && table < file.size();) {
                const int wide = file[table] >> 4;
                for (int i = 0; i < 64; ++i) {
                    const std::size_t entry = table + 1 + static_cast<std::size_t>(i) * (wide + 1);
                    if (entry + wide >= file.size()) return entries;
                    entries.push_back(wide ? file[entry] << 8 | file[entry + 1] : file[entry]);
                }
                table += 1 + 64 * static_cast<std::size_t>(wide + 1);
            }
        }
        at += 2 + length;
    }
    return entries;
}

}  // namespace

// A file of several reading pieces and part of one reads back byte for byte: the pages readied
// for each piece leave what the pieces before it put into them alone. So does one large enough to
// be read in two halves at once, split within a page.
TEST(SourceFile, LargeFilesReadBackByteForByte)
{
    for (const std::size_t size : {(std::size_t{9} << 20) + 123, (std::size_t{41} << 20) + 123}) {
        SCOPED_TRACE(size);
        TempDir directory;
        Bytes bytes(size);
        uint32_t state = 1;
        for (uint8_t& byte : bytes) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(state >> 24);
        }
        bytes[0] = 0xFF;
        bytes[1] = 0xD8;
        const std::string path = directory.file("large.jpg");
        writeFile(path, bytes);
        const SourceFile opened = openSource(wideText(path).c_str());
        ASSERT_EQ(opened.read, Outcome::done);
        ASSERT_EQ(opened.bytes.size(), bytes.size());
        EXPECT_EQ(std::memcmp(opened.bytes.data(), bytes.data(), bytes.size()), 0);
    }
}

TEST(Jpeg, DecodesAsTheImagingLibraryDoes)
{
    // Full chroma, where decoders agree to the unit; halved chroma is upsampled differently
    // by Wine's IJG decoder (and by Windows'), which shows at sharp colour edges.
    struct Row {
        const char* name;
        Encoding encoding;
        bool byLibjpegTurbo;
        int largest;
        double mean;
        int segmentsFirst = 0;
    };
    const Row rows[] = {
        {"baseline", {}, true, 1, 0.1},
        {"progressive", {Space::bgr, Space::ycbcr, true}, true, 1, 0.1},
        {"arithmetic-coded", {Space::bgr, Space::ycbcr, false, true}, true, 1, 0.1},
        {"grey", {Space::grey, Space::grey}, true, 1, 0.1},
        {"CMYK with Adobe's inverted inks", {Space::cmyk, Space::cmyk}, true, 1, 0.1},
        {"CMYK with Adobe's marker behind 20 other application segments", {Space::cmyk, Space::cmyk}, true, 1, 0.1, 20},
        {"YCCK", {Space::cmyk, Space::ycck}, true, 1, 0.1},
        {"baseline with 4:2:0 chroma", {Space::bgr, Space::ycbcr, false, false, true}, true, 255, 1.5},
        {"luma at half the chroma's resolution", {Space::bgr, Space::ycbcr, false, false, false, true}, true, 255, 1.5},
    };
    TempDir directory;
    const std::string path = directory.file("picture.jpg");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes file = withSegments(encodePicture(64, 48, row.encoding), fillerSegments(row.segmentsFirst));
        writeFile(path, file);
        GdiBitmap theirs, turbo;
        EXPECT_EQ(decodeJpeg(file, jpegHeader(file), turbo) == Outcome::done, row.byLibjpegTurbo);
        const GdiBitmap ours = decodeUpright(openSource(wideText(path).c_str())).picture;
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(path), theirs.receive()), Ok);
        ASSERT_TRUE(ours);
        const Difference difference = differenceOf(ours.get(), theirs.get());
        EXPECT_LE(difference.largest, row.largest);
        EXPECT_LE(difference.mean, row.mean);
    }
}

TEST(Jpeg, DamageIsDecodedPastOnlyWhereLibjpegGoesOn)
{
    // A progressive picture: the first scan holds the DC of every component, the later ones
    // refine it. Bytes that belong to no segment after the first scan are a warning; a later
    // scan header with an impossible spectral range is a fatal error, after which nothing of
    // the picture has been output.
    const Bytes intact = encodePicture(64, 48, {Space::bgr, Space::ycbcr, true});
    const std::vector<std::size_t> scans = scanStarts(intact);
    ASSERT_GE(scans.size(), 3u);
    std::size_t afterFirstScan = scans[0] + 2 + (intact[scans[0] + 2] << 8 | intact[scans[0] + 3]);
    while (!(intact[afterFirstScan] == 0xFF && intact[afterFirstScan + 1] != 0x00)) ++afterFirstScan;

    struct Row {
        const char* name;
        bool fatal;
    };
    TempDir directory;
    const std::string path = directory.file("damaged.jpg");
    for (const Row& row : {Row{"stray bytes after the first scan", false},
                           Row{"stray bytes, then a scan libjpeg cannot take", true}}) {
        SCOPED_TRACE(row.name);
        Bytes damaged = intact;
        if (row.fatal) {
            const std::size_t components = damaged[scans[1] + 4];
            damaged[scans[1] + 5 + 2 * components] = 64;  // the scan's first coefficient
        }
        damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(afterFirstScan), 40, 0x00);
        writeFile(path, damaged);

        GdiBitmap theirs;
        UprightDecoding decoding = decodeUpright(openSource(wideText(path).c_str()));
        const Outcome outcome = decoding.outcome;
        const GdiBitmap ours = std::move(decoding.picture);
        const bool theyDecode = GdipCreateBitmapFromFile(toWide(path), theirs.receive()) == Ok;
        if (row.fatal) {
            EXPECT_EQ(outcome, Outcome::damaged);
            EXPECT_FALSE(ours);
            EXPECT_FALSE(theyDecode) << "the imaging library takes what libjpeg refuses";
            continue;
        }
        ASSERT_EQ(outcome, Outcome::done);
        ASSERT_TRUE(theyDecode);
        EXPECT_LE(differenceOf(ours.get(), theirs.get()).largest, 1);
    }
}

TEST(Jpeg, SavesAtQuality100)
{
    TempDir directory;
    GdiBitmap picture;
    makeSolidBitmap(picture, 40, 24, 0xFF336699);
    const std::string path = directory.file("out.jpg");
    ASSERT_EQ(saveImage(picture.get(), wideText(path).c_str(), "jpeg"), Outcome::done);
    const std::vector<int> entries = quantisationEntries(readFile(path));
    ASSERT_GE(entries.size(), 128u) << "a luma and a chroma table";
    for (int entry : entries) ASSERT_EQ(entry, 1);
    GdiBitmap decoded;
    ASSERT_EQ(GdipCreateBitmapFromFile(toWide(path), decoded.receive()), Ok);
    EXPECT_TRUE(nearColour(pixelAt(decoded.get(), 20, 12), 0xFF336699, 2));
}

// The encoders' file is opened without cutting it, for speed; one that held more must not keep a tail.
TEST(Jpeg, WrittenOverALongerFileLeavesNothingOfIt)
{
    TempDir directory;
    GdiBitmap picture;
    makeSolidBitmap(picture, 40, 24, 0xFF336699);
    const std::string fresh = directory.file("fresh.jpg"), reused = directory.file("reused.jpg");
    writeFile(reused, std::vector<unsigned char>(100000, 0xAB));
    ASSERT_EQ(writeJpeg(picture.get(), wideText(fresh).c_str()), Outcome::done);
    ASSERT_EQ(writeJpeg(picture.get(), wideText(reused).c_str()), Outcome::done);
    EXPECT_EQ(readFile(reused), readFile(fresh));
}

TEST(Jpeg, StreamedConversionsComeOutAsTheWholePictureOnes)
{
    TempDir directory;
    // 3 bands of rows and a part one; the text crosses the band edge at row 64.
    const std::string source = directory.file("source.jpg");
    writeFile(source, encodePicture(150, 101, Encoding{}));
    WatermarkSettings settings = {};
    settings.keepSourceSize = 1;
    settings.fontSize = 20;
    settings.textOpacity = 200;
    settings.textAlignment = 1;
    settings.redAdjust = 30;
    settings.blueAdjust = -20;
    settings.brightnessAdjust = 5;
    std::strcpy(settings.watermarkText, "Inkveil");
    for (const char* subtype : {"jpeg", "png"}) {
        SCOPED_TRACE(subtype);
        const std::string streamed = directory.file(std::string("streamed.") + subtype);
        const std::string whole = directory.file(std::string("whole.") + subtype);
        const auto atLeast = [](ImageSize) { return ImageSize{40, 30}; };
        TaskLine line;
        SourceFile opened = openSource(wideText(source).c_str());
        const ConversionPlan plan = planConversion(opened.facts, settings, outputFormatOf(subtype));
        ASSERT_EQ(plan.route, Route::streamed);
        StreamedFile file(std::move(opened), settings, plan, subtype, line, atLeast);
        const StreamedConversion conversion = file.writeTo(wideText(streamed).c_str());
        ASSERT_EQ(conversion.outcome, Outcome::done);
        ASSERT_TRUE(conversion.paneReduction);
        EXPECT_EQ(conversion.paneReduction->size().width, 50) << "boxes of 3 pixels";
        EXPECT_EQ(conversion.paneReduction->size().height, 34);

        UprightDecoding decoding = decodeUpright(openSource(wideText(source).c_str()));
        ASSERT_EQ(decoding.outcome, Outcome::done);
        const GdiBitmap decoded = std::move(decoding.picture);
        // The panes show a streamed file as they show it decoded whole.
        const GdiBitmap streamedCopy = bitmapOf(*conversion.paneReduction);
        const GdiBitmap decodedCopy = boxReducedCopy(decoded.get(), {40, 30});
        ASSERT_TRUE(streamedCopy && decodedCopy);
        EXPECT_EQ(differenceOf(streamedCopy.get(), decodedCopy.get()).largest, 0);
        GdiBitmap target;
        const TargetGeometry geometry = computeTargetGeometry(decoded.get(), settings);
        ASSERT_EQ(createBitmap(geometry.width, geometry.height, targetFormatFor(decoded.get(), outputFormatOf(subtype)), target), Ok);
        ASSERT_TRUE(renderWatermarked(decoded.get(), target.get(), geometry, settings));
        ASSERT_EQ(saveImage(target.get(), wideText(whole).c_str(), subtype), Outcome::done);
        if (std::string_view(subtype) == "jpeg") {
            EXPECT_EQ(readFile(streamed), readFile(whole));
            continue;
        }
        GdiBitmap ours, theirs;
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(streamed), ours.receive()), Ok);
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(whole), theirs.receive()), Ok);
        EXPECT_EQ(differenceOf(ours.get(), theirs.get()).largest, 0);
    }

    WatermarkSettings fixedSize = settings;
    fixedSize.keepSourceSize = 0;
    EXPECT_NE(planConversion(openSource(wideText(source).c_str()).facts, fixedSize, OutputFormat::jpeg).route,
              Route::streamed);
}

// A decoded JPEG rendered and encoded a band at a time comes out as its whole target saved.
TEST(Jpeg, BandedRendersComeOutAsTheWholeTargetSaved)
{
    TempDir directory;
    const std::string source = directory.file("source.jpg");
    writeFile(source, encodePicture(300, 203, Encoding{}));
    UprightDecoding decoding = decodeUpright(openSource(wideText(source).c_str()));
    ASSERT_EQ(decoding.outcome, Outcome::done);
    const GdiBitmap decoded = std::move(decoding.picture);
    struct Row {
        const char* name;
        int width, height, reduction, red;
    };
    // The text crosses the bands' edge at row 64; the last band is a part one.
    const Row rows[] = {
        {"shrunk, colours changed", 200, 130, 1, 30},
        {"as from a decoding at half size", 120, 90, 2, 0},
        {"enlarged and cropped", 500, 200, 1, -20},
        {"the source's own size", 300, 203, 1, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = {};
        settings.targetWidth = row.width;
        settings.targetHeight = row.height;
        settings.redAdjust = row.red;
        settings.fontSize = 24;
        settings.textOpacity = 200;
        settings.textAlignment = 1;
        std::strcpy(settings.watermarkText, "Inkveil");
        const TargetGeometry geometry = computeTargetGeometry(decoded.get(), settings);
        GpBitmap* used = decoded.get();
        const std::string banded = directory.file("banded.jpg");
        const std::string whole = directory.file("whole.jpg");
        const CarriedMetadata carried = carriedMetadata({}, {}, {geometry.width, geometry.height});
        ASSERT_EQ(renderJpegInBands(used, geometry, settings, row.reduction, wideText(banded).c_str(), carried),
                  Outcome::done);
        GdiBitmap target;
        ASSERT_EQ(createBitmap(geometry.width, geometry.height, PixelFormat24bppRGB, target), Ok);
        ASSERT_TRUE(renderWatermarked(used, target.get(), geometry, settings, watermarkFontFamily, row.reduction));
        ASSERT_EQ(saveImage(target.get(), wideText(whole).c_str(), "jpeg", carried), Outcome::done);
        EXPECT_EQ(readFile(banded), readFile(whole));
    }
}

// Where the kept region's edges cut through blocks, a reduced decoding's pixels are the means of
// the full-size block-local pixels inside the region: for every kind of file and reduction.
TEST(Jpeg, CutBlocksBecomeTheMeansOfTheirFullSizePixels)
{
    struct Row {
        const char* name;
        Encoding encoding;
        int scale;
        ImageSize kept;
    };
    Encoding halfChroma, grey, progressive, arithmetic;
    halfChroma.halfChroma = progressive.halfChroma = true;
    grey.input = grey.stored = Space::grey;
    progressive.progressive = arithmetic.arithmetic = true;
    const Row rows[] = {{"4:2:0 at 1/2, right edge", halfChroma, 2, {91, 0}},
                        {"4:2:0 at 1/4, bottom edge", halfChroma, 4, {0, 57}},
                        {"4:2:0 at 1/8, both edges", halfChroma, 8, {93, 61}},
                        {"4:4:4 at 1/8, both edges", Encoding{}, 8, {85, 45}},
                        {"grey at 1/8, both edges", grey, 8, {99, 51}},
                        {"progressive at 1/4, both edges", progressive, 4, {91, 61}},
                        {"arithmetic at 1/8, right edge", arithmetic, 8, {93, 0}}};
    constexpr int width = 120, height = 80;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes file = encodePicture(width, height, row.encoding);
        JpegRowReader full(file, 1, true);
        ASSERT_TRUE(full.started());
        std::vector<uint8_t> whole(width * 3 * height);
        ASSERT_TRUE(full.read(whole.data(), width * 3, height));
        GdiBitmap reduced;
        ASSERT_EQ(decodeJpeg(file, jpegHeader(file), reduced, {row.scale, row.kept}), Outcome::done);
        const int keptWidth = row.kept.width > 0 ? row.kept.width : width;
        const int keptHeight = row.kept.height > 0 ? row.kept.height : height;
        const int block = row.encoding.halfChroma ? 16 : 8;
        for (int y = 0; y * row.scale < keptHeight; ++y)
            for (int x = 0; x * row.scale < keptWidth; ++x) {
                const bool cut = (row.kept.width > 0 && x * row.scale >= keptWidth / block * block) ||
                                 (row.kept.height > 0 && y * row.scale >= keptHeight / block * block);
                if (!cut) continue;
                int sum[3] = {}, count = 0;
                for (int v = y * row.scale; v < std::min((y + 1) * row.scale, keptHeight); ++v)
                    for (int u = x * row.scale; u < std::min((x + 1) * row.scale, keptWidth); ++u, ++count)
                        for (int c = 0; c < 3; ++c) sum[c] += whole[(v * width + u) * 3 + c];
                const Channels got = channels(pixelAt(reduced.get(), x, y));
                const int expected[] = {sum[0] / count, sum[1] / count, sum[2] / count};
                ASSERT_NEAR(got.blue, expected[0], 1) << "at " << x << ", " << y;
                ASSERT_NEAR(got.green, expected[1], 1) << "at " << x << ", " << y;
                ASSERT_NEAR(got.red, expected[2], 1) << "at " << x << ", " << y;
            }
    }
}

// Decoded on two threads, a scan comes out exactly as libjpeg decodes it, cut blocks included;
// a file that does not allow it is left to libjpeg, which still decodes it whole.
TEST(Jpeg, SplitDecodingsMatchLibjpeg)
{
    struct Row {
        const char* name;
        Encoding encoding;
        int width, height;
        int scale;
        std::size_t cutShort;  // bytes cut off the file's end
        bool splits;
        bool codelessMiddle = false;  // 48 one bits, where no code can start, just past the data's middle
    };
    Encoding halfChroma, full, grey, restarts, progressive;
    for (Encoding* encoding : {&halfChroma, &full, &grey, &restarts, &progressive}) {
        encoding->quality = 100;
        encoding->grain = 40;
    }
    halfChroma.halfChroma = true;
    grey.input = grey.stored = Space::grey;
    restarts.restartRows = 4;
    progressive.progressive = true;
    const Row rows[] = {{"4:2:0", halfChroma, 2056, 1036, 8, 0, true},
                        {"4:4:4", full, 1024, 1030, 8, 0, true},
                        {"4:4:4 at 1/4", full, 1030, 1024, 4, 0, true},
                        {"grey", grey, 1030, 1024, 8, 0, true},
                        {"4:2:0 at 1/4", halfChroma, 2056, 1036, 4, 0, false},
                        {"cut short", full, 1024, 1024, 8, 5000, false},
                        {"restart markers", restarts, 1024, 1024, 8, 0, false},
                        {"progressive", progressive, 1024, 1024, 8, 0, false},
                        {"too few MCUs to pay", full, 512, 512, 8, 0, false},
                        {"no code halfway", full, 1024, 1024, 8, 0, false, true},
                        {"reduced past the clamping table", Encoding{}, 0, 0, 8, 0, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = row.width > 0 ? encodePicture(row.width, row.height, row.encoding) : chromaPastClampingTable();
        file.resize(file.size() - row.cutShort);
        if (row.codelessMiddle) {
            const std::size_t scan = scanStarts(file).at(0);
            const std::size_t data = scan + 2 + (static_cast<std::size_t>(file[scan + 2]) << 8 | file[scan + 3]);
            const std::size_t damage = data + (file.size() - data) / 2 + 200;
            for (std::size_t at = damage - 1; at < damage + 12; ++at) file[at] = at % 2 == damage % 2 ? 0xFF : 0x00;
        }
        const ImageSize picture = jpegHeader(file).size;
        const PixelArea columns{picture.width * 3 / 4 - 5, 0, 10, picture.height - 20},
            cutRows{0, picture.height * 3 / 4 - 5, picture.width - 20, 10};
        JpegRowReader reference(file, row.scale, true), split(file, row.scale, true);
        CutBlocks referenceBlocks, splitBlocks;
        const bool blocksKept = reference.keepCutBlocks(referenceBlocks, columns, cutRows);
        ASSERT_EQ(split.keepCutBlocks(splitBlocks, columns, cutRows), blocksKept);
        const ImageSize size = reference.size();
        const int stride = size.width * 3;
        std::vector<uint8_t> expected(static_cast<std::size_t>(stride) * size.height), got(expected.size());
        if (row.cutShort > 0) {
            // Both fail where the data ends, the split one having declined.
            EXPECT_FALSE(reference.read(expected.data(), stride, size.height));
            EXPECT_EQ(reference.failure(), Outcome::incomplete);
            EXPECT_FALSE(split.readSplit(got.data(), stride, blocksKept ? &splitBlocks : nullptr));
            EXPECT_FALSE(split.read(got.data(), stride, size.height));
            EXPECT_EQ(split.failure(), Outcome::incomplete);
            continue;
        }
        ASSERT_TRUE(reference.read(expected.data(), stride, size.height));
        reference.finish();
        ASSERT_EQ(split.readSplit(got.data(), stride, blocksKept ? &splitBlocks : nullptr), row.splits);
        if (!row.splits) {
            ASSERT_TRUE(split.read(got.data(), stride, size.height));
        }
        EXPECT_TRUE(got == expected);
        if (!blocksKept) continue;
        for (const int area : {0, 1}) {
            EXPECT_TRUE(cutPixels(splitBlocks, area).pixels == cutPixels(referenceBlocks, area).pixels);
        }
    }
}

TEST(Jpeg, ReducedDecodingsShowNothingBeyondTheCropEdge)
{
    struct Row {
        const char* name;
        int width, height;
        bool bottomEdge;  // else the right edge
        int edge;         // the crop's extent across that edge, inside a block
        int scale;
        int band;  // of yellow, inside the edge
    };
    // 160 x 120 from 1000 x 1000 keeps 1000 x 750; from 1000 x 500, 666 x 500; from 2000 x 2000,
    // 2000 x 1500; from 2000 x 1005, 1340 x 1005.
    const Row rows[] = {{"the crop's bottom edge", 1000, 1000, true, 750, 4, 6},
                        {"the crop's right edge", 1000, 500, false, 666, 4, 6},
                        {"the bottom edge at 1/8", 2000, 2000, true, 1500, 8, 12},
                        {"the right edge at 1/8", 2000, 1005, false, 1340, 8, 12}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A band of yellow just inside the edge, blue beyond it.
        GdiBitmap picture;
        ASSERT_EQ(createBitmap(row.width, row.height, PixelFormat24bppRGB, picture), Ok);
        {
            const BitmapLock pixels(picture.get(), Rect(0, 0, row.width, row.height), ImageLockModeWrite, PixelFormat24bppRGB);
            ASSERT_TRUE(pixels);
            for (int y = 0; y < row.height; ++y)
                for (int x = 0; x < row.width; ++x) {
                    const int across = row.bottomEdge ? y : x;
                    const uint8_t blue[] = {250, 0, 0}, yellow[] = {0, 230, 250}, green[] = {0, 200, 0};
                    std::memcpy(static_cast<uint8_t*>(pixels.data().Scan0) + y * pixels.data().Stride + x * 3,
                                across >= row.edge ? blue : across >= row.edge - row.band ? yellow : green, 3);
                }
        }
        TempDir directory;
        const std::string path = directory.file("picture.jpg");
        ASSERT_EQ(writeJpeg(picture.get(), wideText(path).c_str()), Outcome::done);
        WatermarkSettings settings = {};
        settings.targetWidth = 160;
        settings.targetHeight = 120;
        const TargetGeometry geometry = targetGeometryFor(row.width, row.height, settings);
        ASSERT_EQ(row.bottomEdge ? geometry.cropHeight : geometry.cropWidth, row.edge);
        const int scale = reductionFor({geometry.cropWidth, geometry.cropHeight}, {geometry.width, geometry.height});
        ASSERT_EQ(scale, row.scale);

        GdiBitmap decoded, target;
        const SourceFile source = openSource(wideText(path).c_str());
        ASSERT_EQ(decodeJpeg(source.bytes, source.facts.header, decoded, {scale, {geometry.cropWidth, geometry.cropHeight}}),
                  Outcome::done);
        ASSERT_EQ(createBitmap(160, 120, PixelFormat32bppARGB, target), Ok);
        ASSERT_TRUE(renderWatermarked(decoded.get(), target.get(), geometry, settings, watermarkFontFamily, scale));
        int mostBlue = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x) mostBlue = std::max(mostBlue, channels(pixelAt(target.get(), x, y)).blue);
        EXPECT_LT(mostBlue, 8);
        const ARGB lastLine = row.bottomEdge ? pixelAt(target.get(), 80, 119) : pixelAt(target.get(), 159, 60);
        EXPECT_GT(channels(lastLine).red, 180) << "the yellow band at the edge is shown";
    }
}

// Damage anywhere in a scan that the split decoding would take never ends the decoding badly:
// the file is decoded past the damage, as libjpeg does, or fails.
TEST(Jpeg, DamagedScansAtAFixedSizeDecodeOrFail)
{
    Encoding full, grey;
    for (Encoding* encoding : {&full, &grey}) {
        encoding->quality = 100;
        encoding->grain = 40;
    }
    grey.input = grey.stored = Space::grey;
    enum class Damage { cutAfterHeader, cutOneByteIn, cutAtOnePercent, scrambledMiddle };
    struct Row {
        const char* name;
        const Encoding& encoding;
        Damage damage;
    };
    const Row rows[] = {{"4:4:4 cut right after the scan header", full, Damage::cutAfterHeader},
                        {"grey cut right after the scan header", grey, Damage::cutAfterHeader},
                        {"4:4:4 cut one byte into the scan", full, Damage::cutOneByteIn},
                        {"grey cut at 1 % of the scan", grey, Damage::cutAtOnePercent},
                        {"4:4:4 scrambled in the middle", full, Damage::scrambledMiddle}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = encodePicture(1030, 1024, row.encoding);
        const std::size_t scan = scanStarts(file).at(0);
        const std::size_t data = scan + 2 + (static_cast<std::size_t>(file[scan + 2]) << 8 | file[scan + 3]);
        switch (row.damage) {
        case Damage::cutAfterHeader: file.resize(data); break;
        case Damage::cutOneByteIn: file.resize(data + 1); break;
        case Damage::cutAtOnePercent: file.resize(data + (file.size() - data) / 100); break;
        case Damage::scrambledMiddle:
            for (std::size_t at = data + (file.size() - data) / 2; at < data + (file.size() - data) / 2 + 4000; ++at)
                file[at] = static_cast<uint8_t>(at * 2654435761u >> 13);
            break;
        }
        GdiBitmap decoded;
        const Outcome outcome = decodeJpeg(file, jpegHeader(file), decoded, {8, {1000, 900}});
        EXPECT_NE(outcome, Outcome::outOfMemory);
        EXPECT_EQ(static_cast<bool>(decoded), outcome == Outcome::done);
    }
}

// A CMYK picture brought to a fixed size shows its whole crop region, as its RGB twin does:
// left red, right blue.
TEST(Jpeg, InkPicturesAtAFixedSizeShowTheWholeCrop)
{
    constexpr int width = 800, height = 600;
    TempDir directory;
    const std::string path = directory.file("inks.jpg");
    // Stored inverted, as Adobe's files store inks (libjpeg writes their marker).
    writeFile(path, encodeSamples(width, height, {Space::cmyk, Space::cmyk}, [](int x, int, int component) {
                  const uint8_t red[] = {255, 0, 0, 255}, blue[] = {0, 0, 255, 255};
                  return x < width / 2 ? red[component] : blue[component];
              }));
    WatermarkSettings settings = {};
    settings.targetWidth = 100;
    settings.targetHeight = 100;
    const TargetGeometry geometry = targetGeometryFor(width, height, settings);
    ASSERT_GT(reductionFor({geometry.cropWidth, geometry.cropHeight}, {geometry.width, geometry.height}), 1);
    const SourceFile source = openSource(wideText(path).c_str());
    UprightDecoding decoded =
        decodeUpright(source, planConversion(source.facts, settings, OutputFormat::png).view);
    ASSERT_EQ(decoded.outcome, Outcome::done);
    GdiBitmap target;
    ASSERT_EQ(createBitmap(100, 100, PixelFormat32bppARGB, target), Ok);
    ASSERT_TRUE(renderWatermarked(decoded.picture.get(), target.get(), geometry, settings, watermarkFontFamily,
                                  decoded.scaleDenominator));
    EXPECT_TRUE(nearColour(pixelAt(target.get(), 10, 90), 0xFFFF0000, 24));
    EXPECT_TRUE(nearColour(pixelAt(target.get(), 90, 90), 0xFF0000FF, 24));
}
