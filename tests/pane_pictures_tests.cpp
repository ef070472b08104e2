#include "common/win32/text.h"
#include "pipeline/geometry.h"
#include "pipeline/output.h"
#include "pipeline/render.h"
#include "preview/canvas.h"
#include "preview/pane_pictures.h"
#include "app/dialog_helpers.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace imaging;

namespace {

constexpr ARGB white = 0xFFFFFFFF;

using PanePixels = std::vector<ARGB>;

PanePixels panePixels(GpBitmap* bitmap, int x, int y)
{
    const BitmapLock lock(bitmap, Rect(x, y, paneWidth, paneHeight), ImageLockModeRead, PixelFormat32bppARGB);
    EXPECT_TRUE(lock);
    PanePixels pixels;
    if (!lock) return pixels;
    for (int row = 0; row < paneHeight; ++row) {
        const auto* line = reinterpret_cast<const ARGB*>(static_cast<const uint8_t*>(lock.data().Scan0) +
                                                          static_cast<std::ptrdiff_t>(row) * lock.data().Stride);
        pixels.insert(pixels.end(), line, line + paneWidth);
    }
    return pixels;
}

PanePixels canvasPane(PixelPoint pane)
{
    CanvasLock lock;
    EXPECT_TRUE(lock);
    return panePixels(previewCanvas(), pane.x, pane.y);
}

// As the panes showed pictures before previews were rendered at their scale: the full-size
// picture fitted into a white pane by the imaging library.
PanePixels fittedOnWhite(GpImage* picture)
{
    GdiBitmap pane;
    makeSolidBitmap(pane, paneWidth, paneHeight, white);
    {
        GdiGraphics surface;
        EXPECT_EQ(GdipGetImageGraphicsContext(pane.get(), surface.receive()), Ok);
        fitIntoPane(surface.get(), picture, 0, 0, paneWidth, paneHeight);
    }
    return panePixels(pane.get(), 0, 0);
}

// The mean over red, green and blue of every pixel's difference, in 255ths.
double meanDifference(const PanePixels& a, const PanePixels& b)
{
    if (a.size() != b.size() || a.empty()) return 255.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16}) sum += std::abs(static_cast<int>(a[i] >> shift & 0xFF) - static_cast<int>(b[i] >> shift & 0xFF));
    return sum / (3.0 * a.size());
}

class PanePictures : public ::testing::Test {
protected:
    TempDir directory;
    TestDialog dialog;

    void SetUp() override
    {
        CurrentDirectory inDirectory(directory.path());
        resetDefaults();
        startImaging(dialogWindow());
    }
    void TearDown() override { stopImaging(); }
};

}  // namespace

TEST_F(PanePictures, LookLikeTheFullSizeRenderFittedIntoThePanes)
{
    const std::string photo = directory.file("photo.jpg");
    Encoding grainy;
    grainy.grain = 4;
    writeFile(photo, encodePicture(2400, 1600, grainy));
    GdiBitmap decoded;
    ASSERT_EQ(GdipCreateBitmapFromFile(toWide(photo), decoded.receive()), Ok);

    struct Row {
        const char* name;
        int keepSize, width, height, red, brightness, fontSize, alignment;
    };
    const Row rows[] = {
        {"size kept, defaults", 1, 0, 0, 0, 0, 12, 3},
        {"reduced to 1600 x 1200, colours changed, large centred text", 0, 1600, 1200, 30, -20, 60, 1},
        {"enlarged to 3000 x 1000, text at the top left", 0, 3000, 1000, 0, 10, 30, 0},
        {"reduced below the pane's size", 0, 200, 150, -20, 0, 8, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = copySettings();
        settings.keepSourceSize = row.keepSize;
        settings.targetWidth = row.width;
        settings.targetHeight = row.height;
        settings.redAdjust = row.red;
        settings.brightnessAdjust = row.brightness;
        settings.fontSize = row.fontSize;
        settings.textAlignment = row.alignment;
        std::optional<PreviewSource> cache;
        previewFileInPanes(cache, wideText(photo).c_str(), settings);

        const TargetGeometry geometry = computeTargetGeometry(decoded.get(), settings);
        GdiBitmap target;
        ASSERT_EQ(GdipCreateBitmapFromScan0(geometry.width, geometry.height, 0, PixelFormat32bppARGB, nullptr,
                                            target.receive()),
                  Ok);
        renderWatermarked(decoded.get(), target.get(), geometry, settings);
        EXPECT_LE(meanDifference(canvasPane(sourcePane), fittedOnWhite(decoded.get())), 3.0);
        EXPECT_LE(meanDifference(canvasPane(targetPane), fittedOnWhite(target.get())), 3.0);
    }
}

TEST_F(PanePictures, TheKeptSourceServesUntilItsFileChanges)
{
    const std::string path = directory.file("a.png");
    const WatermarkSettings settings = copySettings();
    const auto writePicture = [&](int width, int height, ARGB colour) {
        GdiBitmap picture;
        makeSolidBitmap(picture, width, height, colour);
        ASSERT_EQ(saveImage(picture.get(), wideText(path).c_str(), "png"), Outcome::done);
    };
    const auto sourcePaneCentre = [] {
        CanvasLock lock;
        return pixelAt(previewCanvas(), sourcePane.x + paneWidth / 2, sourcePane.y + paneHeight / 2);
    };
    std::optional<PreviewSource> cache;

    writePicture(100, 80, 0xFFC00000);
    previewFileInPanes(cache, wideText(path).c_str(), settings);
    ASSERT_TRUE(cache);
    GpBitmap* kept = cache->working.get();
    previewFileInPanes(cache, wideText(path).c_str(), settings);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->working.get(), kept) << "the same file was decoded again";
    EXPECT_TRUE(nearColour(sourcePaneCentre(), 0xFFC00000, 2));

    writePicture(90, 60, 0xFF0000C0);
    previewFileInPanes(cache, wideText(path).c_str(), settings);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->size.width, 90);
    EXPECT_TRUE(nearColour(sourcePaneCentre(), 0xFF0000C0, 2));

    writeFile(path, {'n', 'o', 't'});
    previewFileInPanes(cache, wideText(path).c_str(), settings);
    EXPECT_FALSE(cache);
    EXPECT_EQ(sourcePaneCentre(), white);
}

// The working copy of a large translucent picture averages its colours weighted by their alpha:
// opaque red beside clear white columns stays red, half covering.
TEST_F(PanePictures, TranslucentPicturesKeepTheirColourInTheWorkingCopy)
{
    GdiBitmap picture;
    makeSolidBitmap(picture, 1280, 960, 0xFFFF0000);
    {
        const BitmapLock written(picture.get(), Rect(0, 0, 1280, 960), ImageLockModeWrite, PixelFormat32bppARGB);
        ASSERT_TRUE(written);
        for (int y = 0; y < 960; ++y) {
            auto* row = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(written.data().Scan0) +
                                                static_cast<std::ptrdiff_t>(y) * written.data().Stride);
            for (int x = 1; x < 1280; x += 2) row[x] = 0x00FFFFFF;
        }
    }
    const std::optional<PreviewSource> reduced = reduceForPanes(picture.get(), {1280, 960});
    ASSERT_TRUE(reduced);
    EXPECT_TRUE(nearColour(pixelAt(reduced->working.get(), 160, 120), 0x80FF0000, 2));
}
