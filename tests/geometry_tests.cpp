#include "pipeline/geometry.h"
#include "tests/support.h"

#include <gtest/gtest.h>

using namespace imaging;

namespace {

WatermarkSettings fixedSize(int width, int height)
{
    WatermarkSettings settings = {};
    settings.targetWidth = width;
    settings.targetHeight = height;
    return settings;
}

struct GeometryCase {
    const char* name;
    int keepSourceSize, targetWidth, targetHeight, sourceWidth, sourceHeight;
    TargetGeometry expected;
};

const GeometryCase geometryCases[] = {
    {"own size keeps the picture", 1, 160, 120, 1024, 768, {1024, 768, 1024, 768}},
    {"exact ratio takes the whole picture", 0, 160, 120, 1024, 768, {160, 120, 1024, 768}},
    {"0.2 is not exact in single precision", 0, 160, 120, 800, 600, {160, 120, 799, 600}},
    {"0.1 is not exact either", 0, 160, 120, 1600, 1200, {160, 120, 1599, 1200}},
    {"wide source loses its right side", 0, 160, 120, 1920, 1080, {160, 120, 1439, 1080}},
    {"tall ratio loses the bottom rows", 0, 320, 200, 640, 480, {320, 200, 640, 400}},
    {"portrait source", 0, 160, 120, 480, 640, {160, 120, 480, 359}},
    {"square source", 0, 160, 120, 1000, 1000, {160, 120, 1000, 750}},
    {"enlarging", 0, 200, 100, 100, 100, {200, 100, 100, 50}},
    {"undecodable source, fixed size", 0, 160, 120, 0, 0, {160, 120, 0, 0}},
    {"undecodable source, own size", 1, 160, 120, 0, 0, {0, 0, 0, 0}},
    {"zero width target", 0, 0, 120, 800, 600, {0, 120, 0, 0}},
    {"negative height target", 0, 160, -1, 800, 600, {160, -1, 0, 0}},
    {"any non-zero keep flag keeps the size", 2, 160, 120, 640, 480, {640, 480, 640, 480}},
};

}  // namespace

TEST(TargetGeometry, FillsAndCropsFromTheTopLeft)
{
    for (const GeometryCase& row : geometryCases) {
        SCOPED_TRACE(row.name);
        WatermarkSettings settings = fixedSize(row.targetWidth, row.targetHeight);
        settings.keepSourceSize = row.keepSourceSize;
        const TargetGeometry geometry = targetGeometryFor(row.sourceWidth, row.sourceHeight, settings);
        EXPECT_EQ(geometry.width, row.expected.width);
        EXPECT_EQ(geometry.height, row.expected.height);
        EXPECT_EQ(geometry.cropWidth, row.expected.cropWidth);
        EXPECT_EQ(geometry.cropHeight, row.expected.cropHeight);
    }
}

TEST(TargetGeometry, ReadsTheSizeOfADecodedPicture)
{
    GdiBitmap source;
    makeSolidBitmap(source, 800, 600, 0xFF000000);
    const TargetGeometry geometry = computeTargetGeometry(source.get(), fixedSize(160, 120));
    EXPECT_EQ(geometry.cropWidth, 799);
    EXPECT_EQ(geometry.cropHeight, 600);

    const TargetGeometry failed = computeTargetGeometry(nullptr, fixedSize(160, 120));
    EXPECT_EQ(failed.cropWidth, 0);
    EXPECT_EQ(failed.cropHeight, 0);
}
