#include "pipeline/render.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

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
            const wchar_t* fontFamily = watermarkFontFamily, PixelFormat format = PixelFormat32bppARGB)
{
    const TargetGeometry geometry = computeTargetGeometry(source.get(), settings);
    ASSERT_EQ(GdipCreateBitmapFromScan0(geometry.width, geometry.height, 0, format, nullptr, target.receive()), Ok);
    renderWatermarked(source.get(), target.get(), geometry, settings, fontFamily);
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

// The text drawn straight onto `target` by GDI+, as the layer is drawn.
void drawTextDirectly(GpBitmap* target, const WatermarkSettings& settings, StringAlignment horizontal,
                      StringAlignment vertical)
{
    const ImageSize size = imageSize(target);
    const RectF layout(0.0f, 0.0f, static_cast<REAL>(size.width), static_cast<REAL>(size.height));
    GdiGraphics graphics;
    ASSERT_EQ(GdipGetImageGraphicsContext(target, graphics.receive()), Ok);
    GdiBrush brush;
    GdipCreateSolidFill(textColourFor(settings), reinterpret_cast<GpSolidFill**>(brush.receive()));
    GdiFontFamily family;
    GdipCreateFontFamilyFromName(watermarkFontFamily, nullptr, family.receive());
    GdiFont font;
    GdipCreateFont(family.get(), static_cast<REAL>(2.0 * settings.fontSize), FontStyleRegular, UnitPoint, font.receive());
    GdiStringFormat format;
    GdipCreateStringFormat(0, LANG_NEUTRAL, format.receive());
    GdipSetStringFormatAlign(format.get(), horizontal);
    GdipSetStringFormatLineAlign(format.get(), vertical);
    const std::wstring text(settings.watermarkText, settings.watermarkText + std::strlen(settings.watermarkText));
    ASSERT_EQ(GdipDrawString(graphics.get(), text.c_str(), static_cast<INT>(text.size()), font.get(), &layout,
                             format.get(), brush.get()),
              Ok);
}

// A picture with something to blend over: a gradient, translucent at the bottom for 32-bit.
void makeGradient(GdiBitmap& bitmap, int width, int height, PixelFormat format)
{
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, bitmap.receive()), Ok);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const ARGB alpha = y >= height * 3 / 4 ? 0x80 : 0xFF;
            GdipBitmapSetPixel(bitmap.get(), x, y, alpha << 24 | (x * 255 / width) << 16 | (y * 255 / height) << 8 | 0x60);
        }
}

}  // namespace

TEST(Render, TheTextLayerMatchesDrawingStraightOntoThePicture)
{
    struct Row {
        const char* name;
        PixelFormat format;
        int alignment, fontSize, opacity;
        const char* text;
        StringAlignment horizontal, vertical;
    };
    const Row rows[] = {
        {"bottom right, translucent, over translucent rows, 32-bit", PixelFormat32bppARGB, 3, 12, 100, "Inkveil",
         StringAlignmentFar, StringAlignmentFar},
        {"centred, large, opaque, 24-bit", PixelFormat24bppRGB, 1, 60, 255, "Ink", StringAlignmentCenter, StringAlignmentCenter},
        {"bottom centre, wrapped over lines, 24-bit", PixelFormat24bppRGB, 2, 16, 180,
         "Inkveil watermark text long enough to wrap", StringAlignmentCenter, StringAlignmentFar},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = plainSettings();
        settings.textAlignment = row.alignment;
        settings.fontSize = row.fontSize;
        settings.textOpacity = row.opacity;
        std::strcpy(settings.watermarkText, row.text);
        constexpr int width = 300, height = 200;
        GdiBitmap layered, direct, untouched;
        makeGradient(layered, width, height, row.format);
        makeGradient(direct, width, height, row.format);
        makeGradient(untouched, width, height, row.format);
        drawWatermarkText(layered.get(), settings);
        drawTextDirectly(direct.get(), settings, row.horizontal, row.vertical);

        // Over the box of the pixels that either drawing changed: the mean difference per channel.
        Box changed;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const ARGB before = pixelAt(untouched.get(), x, y);
                if (pixelAt(direct.get(), x, y) == before && pixelAt(layered.get(), x, y) == before) continue;
                changed.left = std::min(changed.left, x);
                changed.top = std::min(changed.top, y);
                changed.right = std::max(changed.right, x);
                changed.bottom = std::max(changed.bottom, y);
            }
        ASSERT_FALSE(changed.empty());
        double sum = 0.0;
        for (int y = changed.top; y <= changed.bottom; ++y)
            for (int x = changed.left; x <= changed.right; ++x) {
                const ARGB expected = pixelAt(direct.get(), x, y), actual = pixelAt(layered.get(), x, y);
                for (int shift : {0, 8, 16, 24})
                    sum += std::abs(static_cast<int>(actual >> shift & 0xFF) - static_cast<int>(expected >> shift & 0xFF));
            }
        const int area = (changed.right - changed.left + 1) * (changed.bottom - changed.top + 1);
        EXPECT_LE(sum / (4.0 * area), 1.0) << "over " << area << " pixels";
    }
}

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

// Opaque 24-bit pixels as decoded JPEGs have them; colour(x, y) gives blue, green, red.
template <typename Colour>
void makeRgbBitmap(GdiBitmap& bitmap, int width, int height, Colour colour)
{
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, bitmap.receive()), Ok);
    const BitmapLock lock(bitmap.get(), Rect(0, 0, width, height), ImageLockModeWrite, PixelFormat24bppRGB);
    ASSERT_TRUE(lock);
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(lock.data().Scan0) + static_cast<std::ptrdiff_t>(y) * lock.data().Stride;
        for (int x = 0; x < width; ++x) {
            const std::array<int, 3> bgr = colour(x, y);
            for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<uint8_t>(bgr[c]);
        }
    }
}

TEST(Render, OpaqueSourcesGetTheMatrixComputedHere)
{
    // Each channel a ramp; halving averages pixel pairs, so each target value is known.
    const auto ramp = [](int x, int) { return std::array<int, 3>{x, 255 - x, (x * 7) % 256}; };
    struct Row {
        const char* name;
        int red, green, blue, brightness, targetWidth;
        PixelFormat target;
    };
    const Row rows[] = {
        {"own size, identity", 0, 0, 0, 0, 256, PixelFormat32bppARGB},
        {"own size, every setting", 30, -20, 45, -10, 256, PixelFormat32bppARGB},
        {"own size, every setting, into 24 bits as for a JPEG", 30, -20, 45, -10, 256, PixelFormat24bppRGB},
        {"own size, brightness saturates", 0, 0, 0, 50, 256, PixelFormat32bppARGB},
        {"halved, every setting", -40, 10, 25, 20, 128, PixelFormat32bppARGB},
        {"halved, every setting, into 24 bits", -40, 10, 25, 20, 128, PixelFormat24bppRGB},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = plainSettings();
        settings.textOpacity = 0;
        settings.keepSourceSize = row.targetWidth == 256 ? 1 : 0;
        settings.targetWidth = row.targetWidth;
        settings.targetHeight = 2;
        settings.redAdjust = row.red;
        settings.greenAdjust = row.green;
        settings.blueAdjust = row.blue;
        settings.brightnessAdjust = row.brightness;
        GdiBitmap source, target;
        makeRgbBitmap(source, 256, 4, ramp);
        render(target, source, settings, watermarkFontFamily, row.target);
        ASSERT_EQ(imageSize(target.get()).width, row.targetWidth);

        const int factor = 256 / row.targetWidth;
        const int adjusts[3] = {row.blue, row.green, row.red};
        const double offset = static_cast<float>(row.brightness * static_cast<double>(0.01f)) * 255.0;
        for (int x = 0; x < row.targetWidth; ++x) {
            const ARGB actual = pixelAt(target.get(), x, 1);
            for (int c = 0; c < 3; ++c) {
                double mean = 0.0;
                for (int k = 0; k < factor; ++k) mean += ramp(x * factor + k, 0)[c];
                mean /= factor;
                const double gain = static_cast<float>(adjusts[c] * static_cast<double>(0.01f) + 1.0);
                const int expected = static_cast<int>(std::lround(std::clamp(mean * gain + offset, 0.0, 255.0)));
                ASSERT_NEAR(static_cast<int>(actual >> (8 * c) & 0xFF), expected, 1) << "channel " << c << " at " << x;
            }
            ASSERT_EQ(actual >> 24, 0xFFu);
        }
    }
}

TEST(Render, NothingBeyondTheCropEdgeReachesTheTarget)
{
    constexpr std::array<int, 3> green{0, 200, 0}, yellow{0, 230, 250}, blue{250, 0, 0};
    struct Row {
        const char* name;
        int width, height;
        bool bottomEdge;  // else the right edge
        int edge;         // the crop's extent across that edge
    };
    // 160 x 120 from 1000 x 1000 keeps 1000 x 750; from 1000 x 500, 666 x 500.
    const Row rows[] = {{"width fills: the crop's bottom edge", 1000, 1000, true, 750},
                        {"height fills: the crop's right edge", 1000, 500, false, 666}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GdiBitmap source, target;
        // A band of yellow just inside the edge, blue beyond it.
        makeRgbBitmap(source, row.width, row.height, [&](int x, int y) {
            const int across = row.bottomEdge ? y : x;
            return across >= row.edge ? blue : across >= row.edge - 6 ? yellow : green;
        });
        WatermarkSettings settings = plainSettings();
        settings.textOpacity = 0;
        settings.keepSourceSize = 0;
        settings.targetWidth = 160;
        settings.targetHeight = 120;
        const TargetGeometry geometry = computeTargetGeometry(source.get(), settings);
        ASSERT_EQ(row.bottomEdge ? geometry.cropHeight : geometry.cropWidth, row.edge);
        render(target, source, settings);

        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                ASSERT_LT(channels(pixelAt(target.get(), x, y)).blue, 8) << x << "," << y;
        const ARGB lastLine = row.bottomEdge ? pixelAt(target.get(), 80, 119) : pixelAt(target.get(), 159, 60);
        const ARGB inside = row.bottomEdge ? pixelAt(target.get(), 80, 110) : pixelAt(target.get(), 150, 60);
        EXPECT_GT(channels(lastLine).red, 180) << "the yellow band at the edge is shown";
        EXPECT_TRUE(nearColour(inside, 0xFF00C800, 1));
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
    EXPECT_FALSE(renderWatermarked(nullptr, target.get(), geometry, settings)) << "no picture was drawn";
    EXPECT_FALSE(redPixels(target.get()).empty());
    EXPECT_EQ(pixelAt(target.get(), 0, 0), 0u);
}

TEST(Render, ASourceWhosePixelsCannotBeReadFailsTheRender)
{
    // Locked elsewhere, as a picture GDI+ cannot read or hold a second copy of would be.
    GdiBitmap source;
    makeSolidBitmap(source, 8, 6, 0xFF336699);
    const WatermarkSettings settings = plainSettings();
    const TargetGeometry geometry = computeTargetGeometry(source.get(), settings);
    GdiBitmap target;
    ASSERT_EQ(createBitmap(geometry.width, geometry.height, PixelFormat32bppARGB, target), Ok);
    {
        const BitmapLock held(source.get(), Rect(0, 0, 8, 6), ImageLockModeRead, PixelFormat32bppARGB);
        ASSERT_TRUE(held);
        EXPECT_FALSE(renderWatermarked(source.get(), target.get(), geometry, settings));
    }
    EXPECT_TRUE(renderWatermarked(source.get(), target.get(), geometry, settings));
}

TEST(Render, NullTargetDrawsNothingAndDoesNotCrash)
{
    GdiBitmap source;
    makeSolidBitmap(source, 4, 4, 0xFFFFFFFF);
    renderWatermarked(source.get(), nullptr, TargetGeometry{}, plainSettings());
}
