#include "core/blend.h"

#include "core/resample.h"

#include <algorithm>
#include <cstddef>

namespace {

// Source-over of premultiplied `layer` pixels onto straight ones: 3 bytes (opaque) or 4.
void blendRow(const uint8_t* layer, uint8_t* out, int width, int bytesPerPixel)
{
    for (int x = 0; x < width; ++x, layer += 4, out += bytesPerPixel) {
        const int coverage = layer[3];
        if (coverage == 0) continue;
        const float rest = (255 - coverage) / 255.0f;
        if (bytesPerPixel == 3) {
            for (int c = 0; c < 3; ++c) out[c] = toByte(layer[c] + out[c] * rest);
            continue;
        }
        const float below = out[3] * rest;
        const float alpha = coverage + below;
        for (int c = 0; c < 3; ++c) out[c] = toByte((layer[c] * 255.0f + out[c] * below) / alpha);
        out[3] = toByte(alpha);
    }
}

}  // namespace

void blendLayer(const Layer& layer, const PixelRows& rows, int firstRow)
{
    if (layer.pixels.size() < static_cast<std::size_t>(layer.width) * layer.height * 4) return;
    const long long top = std::max<long long>(layer.y, firstRow);
    const long long bottom = std::min<long long>(static_cast<long long>(layer.y) + layer.height,
                                                 static_cast<long long>(firstRow) + rows.height);
    const long long left = std::max(layer.x, 0);
    const long long right = std::min<long long>(static_cast<long long>(layer.x) + layer.width, rows.width);
    if (top >= bottom || left >= right) return;
    for (long long y = top; y < bottom; ++y) {
        const uint8_t* in = layer.pixels.data() +
                            (static_cast<std::size_t>(y - layer.y) * layer.width + static_cast<std::size_t>(left - layer.x)) * 4;
        uint8_t* out = rows.row(static_cast<int>(y - firstRow)) + static_cast<std::ptrdiff_t>(left) * rows.bytesPerPixel;
        blendRow(in, out, static_cast<int>(right - left), rows.bytesPerPixel);
    }
}
