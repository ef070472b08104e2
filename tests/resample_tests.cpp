#include "pipeline/bitmap_resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Pixels as 4-byte blue, green, red, alpha, or 3-byte blue, green, red, row after row.
struct Pixels {
    int width, height, bytesPerPixel;
    std::vector<uint8_t> bytes;

    Pixels(int w, int h, int bpp) : width(w), height(h), bytesPerPixel(bpp), bytes(static_cast<std::size_t>(w) * h * bpp) {}
    PixelRows rows() { return {bytes.data(), width * bytesPerPixel, width, height, bytesPerPixel}; }
    uint8_t* at(int x, int y) { return &bytes[(static_cast<std::size_t>(y) * width + x) * bytesPerPixel]; }
};

// One row of opaque grey levels.
Pixels greyRow(const std::vector<int>& levels)
{
    Pixels row(static_cast<int>(levels.size()), 1, 3);
    for (int x = 0; x < row.width; ++x)
        for (int c = 0; c < 3; ++c) row.at(x, 0)[c] = static_cast<uint8_t>(levels[x]);
    return row;
}

std::vector<int> greyLevels(Pixels& row)
{
    std::vector<int> levels;
    for (int x = 0; x < row.width; ++x) {
        EXPECT_EQ(row.at(x, 0)[3], 255) << "opaque in, opaque out";
        levels.push_back(row.at(x, 0)[0]);
    }
    return levels;
}

}  // namespace

TEST(Resample, AveragesWhatShrinksAndInterpolatesWhatGrows)
{
    struct Row {
        const char* name;
        std::vector<int> source;
        double region;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"same size", {10, 200, 30}, 3.0, {10, 200, 30}},
        {"halved: pairs averaged", {0, 100, 200, 250}, 4.0, {50, 225}},
        {"three into two: a pixel and half of the next", {0, 90, 240}, 3.0, {30, 190}},
        {"only the region counts", {0, 100, 255, 255}, 2.0, {50}},
        {"fractional region: its last pixel in part", {0, 100, 255}, 1.5, {33}},
        {"doubled: bilinear between centres, edges held", {0, 200}, 2.0, {0, 50, 150, 200}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Pixels source = greyRow(row.source);
        Pixels target(static_cast<int>(row.expected.size()), 1, 4);
        resampleRegion(source.rows(), row.region, 1.0, target.rows());
        EXPECT_EQ(greyLevels(target), row.expected);
    }
}

TEST(Resample, AveragesPremultipliedSoTransparentPixelsAddNoColour)
{
    Pixels source(2, 1, 4);
    const uint8_t opaqueRed[] = {0, 0, 255, 255};
    const uint8_t transparentWhite[] = {0, 0, 0, 0};  // premultiplied: its colour is gone
    std::copy(opaqueRed, opaqueRed + 4, source.at(0, 0));
    std::copy(transparentWhite, transparentWhite + 4, source.at(1, 0));
    Pixels target(1, 1, 4);
    resampleRegion(source.rows(), 2.0, 1.0, target.rows());
    EXPECT_EQ(std::vector<int>(target.at(0, 0), target.at(0, 0) + 4), (std::vector<int>{0, 0, 128, 128}));
}

TEST(Resample, LargePicturesSpreadOverThreadsGiveEveryRowItsMean)
{
    // Blue counts columns and green rows, so each 2 x 2 mean is known.
    Pixels source(2048, 1024, 3);
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x) {
            source.at(x, y)[0] = static_cast<uint8_t>(x / 8);
            source.at(x, y)[1] = static_cast<uint8_t>(y / 4);
            source.at(x, y)[2] = 77;
        }
    Pixels target(1024, 512, 4);
    resampleRegion(source.rows(), 2048.0, 1024.0, target.rows());
    int wrong = 0;
    for (int y = 0; y < target.height; ++y)
        for (int x = 0; x < target.width; ++x) {
            const uint8_t* pixel = target.at(x, y);
            if ((pixel[0] != x / 4 || pixel[1] != y / 2 || pixel[2] != 77 || pixel[3] != 255) && ++wrong <= 5)
                ADD_FAILURE() << "at " << x << "," << y;
        }
    EXPECT_EQ(wrong, 0);
}
