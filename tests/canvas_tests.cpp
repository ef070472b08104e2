#include "common/win32/handles.h"
#include "preview/canvas.h"
#include "app/dialog_helpers.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <thread>

using namespace imaging;

namespace {

constexpr ARGB red = 0xFFFF0000;
constexpr ARGB white = 0xFFFFFFFF;
constexpr ARGB grey = 0xFF808080;
constexpr ARGB green = 0xFF00FF00;
constexpr ARGB blue = 0xFF0000FF;
constexpr int canvasWidth = 776;
constexpr int canvasHeight = 540;

bool inside(int x, int y, int left, int top, int right, int bottom)
{
    return x >= left && x <= right && y >= top && y <= bottom;
}

// What drawPaneFrames leaves at (x, y) over `background`.
ARGB framedColour(int x, int y, ARGB background)
{
    for (const int top : {10, 260}) {
        if (inside(x, y, 400, top, 719, top + 239)) return white;
        if (inside(x, y, 399, top - 1, 720, top + 240)) return red;
    }
    return background;
}

bool inPreviewArea(int x, int y) { return inside(x, y, 399, 9, 720, 500); }

// Compares every pixel of a canvas-sized picture, naming the first few that differ.
template <typename Actual, typename Expected>
void expectEveryPixel(Actual actual, Expected expected)
{
    int wrong = 0;
    for (int y = 0; y < canvasHeight; ++y)
        for (int x = 0; x < canvasWidth; ++x)
            if (actual(x, y) != expected(x, y) && ++wrong <= 5)
                ADD_FAILURE() << "at " << x << "," << y << ": " << std::hex << actual(x, y) << " not "
                              << expected(x, y);
    EXPECT_EQ(wrong, 0);
}

void fill(GpBitmap* bitmap, ARGB colour)
{
    GdiGraphics surface;
    ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, surface.receive()), Ok);
    ASSERT_EQ(GdipGraphicsClear(surface.get(), colour), Ok);
}

// A window's client area in memory: a top-down 32-bit DIB section in a memory DC.
class WindowPixels {
public:
    WindowPixels(int width, int height) : width_(width)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
        previous_ = SelectObject(dc_, bitmap_);
        for (int at = 0; at < width * height; ++at) bits_[at] = grey;
    }
    ~WindowPixels()
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    WindowPixels(const WindowPixels&) = delete;
    WindowPixels& operator=(const WindowPixels&) = delete;

    HDC dc() const { return dc_; }
    // The colour at (x, y), opaque: a window has no alpha.
    ARGB at(int x, int y) const
    {
        GdiFlush();
        return bits_[static_cast<std::size_t>(y) * width_ + x] | 0xFF000000;
    }

private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

class Canvas : public ::testing::Test {
protected:
    void SetUp() override { startImaging(dialogWindow()); }
    void TearDown() override { stopImaging(); }

    TestDialog dialog{canvasWidth, canvasHeight};
    WindowPixels window{canvasWidth, canvasHeight};
};

}  // namespace

TEST(PanePlacement, ShrinksOnlyWhatDoesNotFitAndCentres)
{
    struct Row {
        int width, height;
        PixelRect expected;  // in sourcePane
    };
    const Row rows[] = {
        {100, 50, {510, 105, 100, 50}},   {320, 240, {400, 10, 320, 240}},  {640, 480, {400, 10, 320, 240}},
        {321, 240, {400, 10, 320, 239}},  {320, 241, {401, 10, 318, 240}},  {1000, 500, {400, 50, 320, 160}},
        {300, 600, {500, 10, 120, 240}},  {3000, 2000, {400, 23, 320, 213}}, {155, 248, {485, 10, 149, 240}},
        {352, 220, {400, 30, 320, 199}},  {1, 1000, {560, 10, 0, 240}},     {0, 0, {560, 130, 0, 0}},
        {1000, 1, {400, 130, 320, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        for (const PixelPoint pane : {sourcePane, targetPane}) {
            const PixelRect placed = fittedPlacement({row.width, row.height}, pane.x, pane.y, paneWidth, paneHeight);
            EXPECT_EQ(placed.x, row.expected.x);
            EXPECT_EQ(placed.y, row.expected.y + pane.y - sourcePane.y);
            EXPECT_EQ(placed.width, row.expected.width);
            EXPECT_EQ(placed.height, row.expected.height);
        }
    }
}

TEST(PaneFrames, FrameAndWhitePanesExactlyAndNothingElse)
{
    GdiBitmap canvas;
    makeSolidBitmap(canvas, canvasWidth, canvasHeight, grey);
    GdiGraphics surface;
    ASSERT_EQ(GdipGetImageGraphicsContext(canvas.get(), surface.receive()), Ok);
    drawPaneFrames(surface.get());
    surface.reset();

    expectEveryPixel([&](int x, int y) { return pixelAt(canvas.get(), x, y); },
                     [](int x, int y) { return framedColour(x, y, grey); });
}

TEST(PaneFrames, PicturesLandWherePlacedOnWhite)
{
    struct Row {
        int width, height;
        PixelPoint pane;
    };
    const Row rows[] = {{100, 50, sourcePane}, {1000, 500, sourcePane}, {300, 600, targetPane}, {155, 248, targetPane}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        GdiBitmap canvas;
        makeSolidBitmap(canvas, canvasWidth, canvasHeight, 0);
        GdiBitmap picture;
        makeSolidBitmap(picture, row.width, row.height, blue);
        GdiGraphics surface;
        ASSERT_EQ(GdipGetImageGraphicsContext(canvas.get(), surface.receive()), Ok);
        drawPaneFrames(surface.get());
        fitIntoPane(surface.get(), picture.get(), row.pane.x, row.pane.y, paneWidth, paneHeight);
        surface.reset();

        const PixelRect placed = fittedPlacement({row.width, row.height}, row.pane.x, row.pane.y, paneWidth, paneHeight);
        const int right = placed.x + placed.width - 1;
        const int bottom = placed.y + placed.height - 1;
        // The outermost rows and columns of a shrunk picture are blended by the scaling filter.
        for (const POINT within : {POINT{placed.x + 1, placed.y + 1}, POINT{right - 1, placed.y + 1},
                                   POINT{placed.x + 1, bottom - 1}, POINT{right - 1, bottom - 1}})
            EXPECT_TRUE(nearColour(pixelAt(canvas.get(), within.x, within.y), blue, 8)) << within.x << "," << within.y;
        for (const POINT beside : {POINT{placed.x - 1, placed.y + 5}, POINT{right + 1, placed.y + 5},
                                   POINT{placed.x + 5, placed.y - 1}, POINT{placed.x + 5, bottom + 1}})
            EXPECT_EQ(pixelAt(canvas.get(), beside.x, beside.y), framedColour(beside.x, beside.y, 0))
                << beside.x << "," << beside.y;
    }
}

TEST_F(Canvas, StartsTransparentAtTheWindowsSizeAndPaintsTheFramesOnTheWindow)
{
    {
        CanvasLock lock;
        ASSERT_TRUE(lock);
        ASSERT_NE(previewCanvas(), nullptr);
        const ImageSize size = imageSize(previewCanvas());
        EXPECT_EQ(size.width, canvasWidth);
        EXPECT_EQ(size.height, canvasHeight);
        expectEveryPixel([](int x, int y) { return pixelAt(previewCanvas(), x, y); }, [](int, int) { return 0u; });
    }
    paintPreview(dialogWindow(), window.dc());

    expectEveryPixel([&](int x, int y) { return window.at(x, y); },
                     [](int x, int y) { return framedColour(x, y, grey); });
}

TEST_F(Canvas, PaintCopiesThePreviewAreaAndNothingElse)
{
    {
        CanvasLock lock;
        ASSERT_TRUE(lock);
        fill(previewCanvas(), green);
    }
    paintPreview(dialogWindow(), window.dc());

    expectEveryPixel([&](int x, int y) { return window.at(x, y); },
                     [](int x, int y) { return inPreviewArea(x, y) ? green : grey; });
}

TEST_F(Canvas, PaintWaitsForTheJobHoldingTheCanvas)
{
    KernelHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread job([&] {
        CanvasLock lock;
        SetEvent(held.get());
        Sleep(200);  // a paint that did not wait would copy the canvas before this fill
        fill(previewCanvas(), blue);
    });
    WaitForSingleObject(held.get(), INFINITE);
    paintPreview(dialogWindow(), window.dc());
    job.join();

    EXPECT_EQ(window.at(560, 130), blue);
    EXPECT_EQ(window.at(399, 9), blue);
    EXPECT_EQ(window.at(560, 255), blue);
}

TEST_F(Canvas, PaintThatCannotHaveTheCanvasDrawsNothingAndAsksAgain)
{
    ValidateRect(dialog.window(), nullptr);
    {
        CanvasHolder job;
        paintPreview(dialogWindow(), window.dc(), 50);
    }

    expectEveryPixel([&](int x, int y) { return window.at(x, y); }, [](int, int) { return grey; });
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(dialog.window(), &update, FALSE));
    const RECT area{399, 9, 721, 501};
    EXPECT_TRUE(EqualRect(&update, &area));
}

// Opaque pictures at their own size are copied into the panes: the canvas must still come out as
// GDI+ would draw the frames and blend the pictures in, to the bit.
TEST_F(Canvas, PanesShowWhatBlendingThePicturesWouldGive)
{
    struct Row {
        const char* name;
        int width, height;
        PixelFormat format;
        ARGB middle;  // the colour of the middle pixel
    };
    const Row rows[] = {
        {"opaque, own size", 101, 57, PixelFormat24bppRGB, 0xFF123456},
        {"opaque, shrunk", 400, 300, PixelFormat32bppARGB, 0xFF123456},
        {"one translucent pixel", 101, 57, PixelFormat32bppARGB, 0x80204060},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GdiBitmap picture;
        ASSERT_EQ(createBitmap(row.width, row.height, row.format, picture), Ok);
        for (int y = 0; y < row.height; ++y)
            for (int x = 0; x < row.width; ++x)
                GdipBitmapSetPixel(picture.get(), x, y, 0xFF000000u | (x * 7 % 256) << 16 | (y * 5 % 256) << 8 | (x + y) % 256);
        GdipBitmapSetPixel(picture.get(), row.width / 2, row.height / 2, row.middle);

        GdiBitmap blended;
        makeSolidBitmap(blended, canvasWidth, canvasHeight, 0);
        {
            GdiGraphics surface;
            ASSERT_EQ(GdipGetImageGraphicsContext(blended.get(), surface.receive()), Ok);
            drawPaneFrames(surface.get());
            fitIntoPane(surface.get(), picture.get(), sourcePane.x, sourcePane.y, paneWidth, paneHeight);
            fitIntoPane(surface.get(), picture.get(), targetPane.x, targetPane.y, paneWidth, paneHeight);
        }
        drawPanesUnderLock(picture.get(), picture.get());

        CanvasLock lock;
        ASSERT_TRUE(lock);
        expectEveryPixel([](int x, int y) { return pixelAt(previewCanvas(), x, y); },
                         [&](int x, int y) { return pixelAt(blended.get(), x, y); });
    }
}

TEST_F(Canvas, StopWaitsUntilTheJobLeavesTheCanvas)
{
    bool usable = false;
    std::thread stopper;
    {
        CanvasLock lock;
        ASSERT_TRUE(lock);
        stopper = std::thread(stopImaging);
        Sleep(200);  // time for a stop that did not wait to release the canvas
        usable = imagingStarted() && previewCanvas() != nullptr;
        if (usable) fill(previewCanvas(), blue);
    }
    stopper.join();
    EXPECT_TRUE(usable);
    EXPECT_FALSE(imagingStarted());
    EXPECT_EQ(previewCanvas(), nullptr);
}
