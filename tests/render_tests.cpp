#include "pipeline/render.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace imaging;

namespace {

WatermarkSettings plainSettings()
{
    WatermarkSettings settings = {};
    settings.keepSourceSize = 1;
    settings.fontSize = 12;
    settings.textOpacity = 255;
    return settings;
}

void render(GdiBitmap& target, GdiBitmap& source, const WatermarkSettings& settings,
            const wchar_t* fontFamily = watermarkFontFamily)
{
    const TargetGeometry geometry = computeTargetGeometry(source.get(), settings);
    ASSERT_EQ(GdipCreateBitmapFromScan0(geometry.width, geometry.height, 0, PixelFormat32bppARGB,
                                        nullptr, target.receive()), Ok);
    renderWatermarked(source.get(), target.get(), geometry, settings, 1.0, fontFamily);
}

bool isTextRed(ARGB colour)
{
    const Channels c = channels(colour);
    return c.red > c.green + 80 && c.red > c.blue + 80;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

// Where the red text landed on a white picture.
Box redPixels(GpBitmap* bitmap)
{
    const ImageSize size = imageSize(bitmap);
    Box box;
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            if (isTextRed(pixelAt(bitmap, x, y))) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

struct ColourCase {
    const char* name;
    int red, green, blue, brightness;
    ARGB source, expected;
};

const ColourCase colourCases[] = {
    {"identity keeps colours", 0, 0, 0, 0, 0xFF336699, 0xFF336699},
    {"identity keeps alpha", 0, 0, 0, 0, 0x80C86432, 0x80C86432},
    {"red gain of 50", 50, 0, 0, 0, 0xFF646464, 0xFF966464},
    {"green and blue gains of -50", 0, -50, -50, 0, 0xFFC8C8C8, 0xFFC86464},
    {"brightness of -50", 0, 0, 0, -50, 0xFFC8B4A0, 0xFF493520},
    {"red gain 50 with brightness -50", 50, 0, 0, -50, 0xFFC8B4A0, 0xFFAC3520},
    {"brightness of 50 saturates", 0, 0, 0, 50, 0xFFC8B4A0, 0xFFFFFFFF},
};

}  // namespace

TEST(Render, ColourMatrixChangesRedGreenBlueAndNeverAlpha)
{
    for (const ColourCase& row : colourCases) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = plainSettings();
        settings.redAdjust = row.red;
        settings.greenAdjust = row.green;
        settings.blueAdjust = row.blue;
        settings.brightnessAdjust = row.brightness;
        GdiBitmap source, target;
        makeSolidBitmap(source, 4, 3, row.source);
        render(target, source, settings);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_TRUE(nearColour(pixelAt(target.get(), x, y), row.expected, 2))
                    << std::hex << pixelAt(target.get(), x, y) << " at " << std::dec << x << "," << y;
    }
}

TEST(Render, StretchesOnlyTheCroppedRegion)
{
    // Top half green, bottom half blue: a 200 x 100 target from 100 x 100 keeps the top half.
    GdiBitmap source, target;
    makeSolidBitmap(source, 100, 100, 0xFF0000FF);
    {
        GdiGraphics graphics;
        ASSERT_EQ(GdipGetImageGraphicsContext(source.get(), graphics.receive()), Ok);
        GdiBrush green;
        ASSERT_EQ(GdipCreateSolidFill(0xFF00FF00, reinterpret_cast<GpSolidFill**>(green.receive())), Ok);
        ASSERT_EQ(GdipFillRectangleI(graphics.get(), green.get(), 0, 0, 100, 50), Ok);
    }
    WatermarkSettings settings = plainSettings();
    settings.keepSourceSize = 0;
    settings.targetWidth = 200;
    settings.targetHeight = 100;
    render(target, source, settings);

    ASSERT_EQ(imageSize(target.get()).width, 200);
    for (int y = 0; y < 95; y += 5)
        for (int x = 0; x < 200; x += 10)
            ASSERT_TRUE(nearColour(pixelAt(target.get(), x, y), 0xFF00FF00, 8)) << x << "," << y;
}

TEST(Render, TextLandsWhereItsAlignmentSays)
{
    struct AlignmentCase {
        const char* name;
        int alignment;
        bool (*placed)(const Box&);
    };
    constexpr int width = 300, height = 200;
    const AlignmentCase cases[] = {
        {"0 top left", 0, [](const Box& b) { return b.left < 10 && b.top < 15 && b.right < width / 2 && b.bottom < height / 2; }},
        {"1 centre", 1, [](const Box& b) { return std::abs((b.left + b.right) / 2 - width / 2) < 10 && std::abs((b.top + b.bottom) / 2 - height / 2) < 12; }},
        {"2 bottom centre", 2, [](const Box& b) { return std::abs((b.left + b.right) / 2 - width / 2) < 10 && b.bottom > height - 15 && b.top > height / 2; }},
        {"3 bottom right", 3, [](const Box& b) { return b.right > width - 10 && b.bottom > height - 15 && b.left > width / 2 && b.top > height / 2; }},
        {"7 from a file counts as top left", 7, [](const Box& b) { return b.left < 10 && b.top < 15 && b.right < width / 2 && b.bottom < height / 2; }},
    };
    for (const AlignmentCase& row : cases) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = plainSettings();
        settings.textAlignment = row.alignment;
        std::strcpy(settings.watermarkText, "Inkveil");
        GdiBitmap source, target;
        makeSolidBitmap(source, width, height, 0xFFFFFFFF);
        render(target, source, settings);
        const Box box = redPixels(target.get());
        ASSERT_FALSE(box.empty());
        EXPECT_TRUE(row.placed(box)) << box.left << "," << box.top << " - " << box.right << "," << box.bottom;
    }
}

TEST(Render, InvisibleTextLeavesThePicture)
{
    struct OpacityCase {
        const char* name;
        int opacity;
        const wchar_t* family;
    };
    const OpacityCase cases[] = {
        {"opacity 0", 0, watermarkFontFamily},
        {"stored opacity 256 keeps only its low 8 bits", 256, watermarkFontFamily},
        {"missing font family still draws the adjusted picture", 255, L"No Such Family 12345"},
    };
    for (const OpacityCase& row : cases) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = plainSettings();
        settings.textOpacity = row.opacity;
        settings.redAdjust = -50;
        settings.textAlignment = 1;
        std::strcpy(settings.watermarkText, "Inkveil");
        GdiBitmap source, target;
        makeSolidBitmap(source, 120, 60, 0xFFC8C8C8);
        render(target, source, settings, row.family);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 120; ++x)
                ASSERT_TRUE(nearColour(pixelAt(target.get(), x, y), 0xFF64C8C8, 2))
                    << std::hex << pixelAt(target.get(), x, y) << std::dec << " at " << x << "," << y;
    }
}

TEST(Render, UndecodableSourceWithFixedSizeGetsOnlyTheText)
{
    WatermarkSettings settings = plainSettings();
    settings.keepSourceSize = 0;
    settings.targetWidth = 200;
    settings.targetHeight = 80;
    std::strcpy(settings.watermarkText, "Inkveil");
    const TargetGeometry geometry = computeTargetGeometry(nullptr, settings);
    GdiBitmap target;
    ASSERT_EQ(GdipCreateBitmapFromScan0(geometry.width, geometry.height, 0, PixelFormat32bppARGB,
                                        nullptr, target.receive()), Ok);
    renderWatermarked(nullptr, target.get(), geometry, settings);
    EXPECT_FALSE(redPixels(target.get()).empty());
    EXPECT_EQ(pixelAt(target.get(), 0, 0), 0u);
}

TEST(Render, NullTargetDrawsNothingAndDoesNotCrash)
{
    GdiBitmap source;
    makeSolidBitmap(source, 4, 4, 0xFFFFFFFF);
    renderWatermarked(source.get(), nullptr, TargetGeometry{}, plainSettings());
}
