#pragma once
// A layer of premultiplied pixels laid source-over onto a picture's rows, which may be any band
// of the picture.
#include "common/pixels.h"

#include <cstdint>
#include <vector>

// Premultiplied blue, green, red, alpha, `width` to a row, whose top-left pixel lies at (x, y) of
// the picture it is laid over.
struct Layer {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;

    bool empty() const { return pixels.empty(); }
};

// Lays the layer, source-over, onto `rows` (straight colours, 3 or 4 bytes a pixel), which hold
// the picture's rows from firstRow on; nothing outside them is touched.
void blendLayer(const Layer& layer, const PixelRows& rows, int firstRow);
