#include "batch/worker.h"
#include "common/win32/text.h"
#include "core/conversion_plan.h"
#include "core/exif.h"
#include "pipeline/orientation.h"
#include "pipeline/output.h"
#include "preview/canvas.h"
#include "preview/pane_pictures.h"
#include "app/dialog_helpers.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using namespace imaging;

namespace {

// A JPEG with an APP1 segment of `contents` right after its start, stating `length` when given.
Bytes withApp1(const Bytes& jpeg, const Bytes& contents, std::size_t length = 0)
{
    return withSegments(jpeg, {jpegSegment(0xE1, contents, length)});
}

constexpr ARGB red = 0xFFE00000, blue = 0xFF0000E0, green = 0xFF00C000, yellow = 0xFFE0E000;

// A colour per quadrant: red, blue above; green, yellow below. Every orientation puts a
// different pair of them in the top corners.
Bytes quadrantJpeg(const TempDir& directory, int width = 64, int height = 32)
{
    GdiBitmap picture;
    makeSolidBitmap(picture, width, height, yellow);
    {
        GdiGraphics surface;
        EXPECT_EQ(GdipGetImageGraphicsContext(picture.get(), surface.receive()), Ok);
        const struct {
            ARGB colour;
            int x, y;
        } quadrants[] = {{red, 0, 0}, {blue, width / 2, 0}, {green, 0, height / 2}};
        for (const auto& quadrant : quadrants) {
            GdiBrush brush;
            GdipCreateSolidFill(quadrant.colour, reinterpret_cast<GpSolidFill**>(brush.receive()));
            GdipFillRectangleI(surface.get(), brush.get(), quadrant.x, quadrant.y, width / 2, height / 2);
        }
    }
    const std::string path = directory.file("quadrants.jpg");
    EXPECT_EQ(saveImage(picture.get(), wideText(path).c_str(), "jpeg"), Outcome::done);
    Bytes bytes = readFile(path);
    DeleteFileA(path.c_str());
    return bytes;
}

ARGB nearest(ARGB colour)
{
    ARGB best = 0;
    int bestDistance = 1 << 30;
    for (ARGB candidate : {red, blue, green, yellow}) {
        const Channels a = channels(colour), b = channels(candidate);
        const int distance = std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

TEST(Orientation, ConversionsComeOutUprightForEveryValue)
{
    struct Row {
        int orientation;
        int width, height;
        ARGB topLeft, topRight;
    };
    const Row rows[] = {
        {1, 64, 32, red, blue},    {2, 64, 32, blue, red},    {3, 64, 32, yellow, green},
        {4, 64, 32, green, yellow}, {5, 32, 64, red, green},   {6, 32, 64, green, red},
        {7, 32, 64, yellow, blue}, {8, 32, 64, blue, yellow},
    };
    TempDir directory;
    TestDialog dialog;
    startImaging(dialogWindow());
    const Bytes jpeg = quadrantJpeg(directory);
    WatermarkSettings settings = {};
    settings.keepSourceSize = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE("orientation " + std::to_string(row.orientation));
        OrientationExif block;
        block.orientation = static_cast<uint16_t>(row.orientation);
        const std::string source = directory.file("photo.jpg");
        const std::string output = directory.file("upright.png");
        writeFile(source, withApp1(jpeg, exifContents(block)));
        ASSERT_EQ(processFile(wideText(source).c_str(), wideText(output).c_str(), "png", false, settings), Outcome::done);

        GdiBitmap upright;
        ASSERT_EQ(GdipCreateBitmapFromFile(toWide(output), upright.receive()), Ok);
        EXPECT_EQ(imageSize(upright.get()).width, row.width);
        EXPECT_EQ(imageSize(upright.get()).height, row.height);
        EXPECT_EQ(nearest(pixelAt(upright.get(), 4, 4)), row.topLeft);
        EXPECT_EQ(nearest(pixelAt(upright.get(), row.width - 5, 4)), row.topRight);
    }

    // The source pane shows it upright too: 32 x 64 at its own size, centred.
    std::optional<PreviewSource> cache;
    previewFileInPanes(cache, wideText(directory.file("photo.jpg")).c_str(), settings);
    {
        CanvasLock lock;
        const int left = sourcePane.x + (paneWidth - 32) / 2, top = sourcePane.y + (paneHeight - 64) / 2;
        EXPECT_EQ(nearest(pixelAt(previewCanvas(), left + 4, top + 4)), blue);
        EXPECT_EQ(nearest(pixelAt(previewCanvas(), left + 27, top + 60)), green);
    }

    // A large photo is previewed from a reduced decoding, and still has its full upright size.
    OrientationExif block;
    block.orientation = 8;
    writeFile(directory.file("photo.jpg"), withApp1(quadrantJpeg(directory, 2048, 1024), exifContents(block)));
    cache.reset();
    previewFileInPanes(cache, wideText(directory.file("photo.jpg")).c_str(), settings);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->size.width, 1024);
    EXPECT_EQ(cache->size.height, 2048);
    {
        CanvasLock lock;
        const PixelRect shown = fittedPlacement(cache->size, sourcePane.x, sourcePane.y, paneWidth, paneHeight);
        EXPECT_EQ(nearest(pixelAt(previewCanvas(), shown.x + 4, shown.y + 4)), blue);
        EXPECT_EQ(nearest(pixelAt(previewCanvas(), shown.x + shown.width - 5, shown.y + 4)), yellow);
    }
    stopImaging();
}

TEST(Orientation, MalformedOrMissingBlocksMeanNone)
{
    TempDir directory;
    const Bytes jpeg = quadrantJpeg(directory);
    const Bytes plain = exifContents({});
    OrientationExif bigEndian;
    bigEndian.bigEndian = true;
    OrientationExif farDirectory;
    farDirectory.directoryOffset = 0xFFFFFFF0u;
    OrientationExif tooManyEntries;
    tooManyEntries.entries = 0xFFFF;
    OrientationExif overflowingCount;
    overflowingCount.valueCount = 0x80000001u;
    OrientationExif outOfRange;
    outOfRange.orientation = 9;
    Bytes wrongOrder = plain;
    wrongOrder[6] = 'I';
    wrongOrder[7] = 'M';

    struct Row {
        const char* name;
        Bytes file;
        int expected;
    };
    const Row rows[] = {
        {"little-endian, as most cameras write it", withApp1(jpeg, plain), 6},
        {"big-endian header", withApp1(jpeg, exifContents(bigEndian)), 6},
        {"segment length past the file's end", withApp1({0xFF, 0xD8}, plain, plain.size() + 400), 0},
        {"IFD offset out of range", withApp1(jpeg, exifContents(farDirectory)), 0},
        {"more entries than the segment holds", withApp1(jpeg, exifContents(tooManyEntries)), 0},
        {"a value count that overflows", withApp1(jpeg, exifContents(overflowingCount)), 0},
        {"segment cut short inside the TIFF header", withApp1(jpeg, Bytes(plain.begin(), plain.begin() + 10)), 0},
        {"no byte order mark", withApp1(jpeg, wrongOrder), 0},
        {"orientation 9", withApp1(jpeg, exifContents(outOfRange)), 0},
        {"no Exif segment", jpeg, 0},
        {"not a JPEG", {'B', 'M', 0, 0}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(jpegOrientation(row.file), row.expected);
    }
}

// A picture stored turned and kept whole at a reduction is decoded as one with no region at
// all: its upright size is not taken for a region of its stored one.
TEST(Orientation, TurnedPicturesKeptWholeHaveNoCutEdge)
{
    TempDir directory;
    OrientationExif turned;
    turned.orientation = 6;
    const std::string path = directory.file("turned.jpg");
    Encoding grainy;
    grainy.halfChroma = true;
    grainy.grain = 40;
    writeFile(path, withApp1(encodePicture(250, 200, grainy), exifContents(turned)));
    const SourceFile source = openSource(wideText(path).c_str());
    const ImageSize upright = source.facts.uprightSize();
    WatermarkSettings wholeCrop = {};
    wholeCrop.targetWidth = upright.width / 2;
    wholeCrop.targetHeight = upright.height / 2;
    const UprightDecoding keptWhole =
        decodeUpright(source, planConversion(source.facts, wholeCrop, OutputFormat::png).view);
    const UprightDecoding noRegion = decodeUpright(source, decodingView(source.facts, {100, 125}));
    ASSERT_EQ(keptWhole.outcome, Outcome::done);
    ASSERT_EQ(noRegion.outcome, Outcome::done);
    const ImageSize size = imageSize(keptWhole.picture.get());
    ASSERT_EQ(size.width, 100);
    ASSERT_EQ(size.height, 125);
    int differing = 0;
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            differing += pixelAt(keptWhole.picture.get(), x, y) != pixelAt(noRegion.picture.get(), x, y);
    EXPECT_EQ(differing, 0);
}
