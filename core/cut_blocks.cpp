#include <cstdio>

#include <jpeglib.h>

#include "core/cut_blocks.h"

#include <algorithm>
#include <cstdint>

// libjpeg's inverse DCT stage as its internal header lays it out, unchanged since libjpeg 6: one
// method a component, which a single-scan decoding calls for every block as it decodes it.
struct jpeg_inverse_dct {
    void (*start_pass)(j_decompress_ptr);
    CutBlocks::InverseDct inverse_DCT[MAX_COMPONENTS];
};

// Its entropy decoder's public part, laid out the same way.
struct jpeg_entropy_decoder {
    void (*start_pass)(j_decompress_ptr);
    boolean (*decode_mcu)(j_decompress_ptr, JBLOCKROW*);
    boolean insufficient_data;
};

// libjpeg's full-size integer inverse DCT, which its SIMD versions match bit for bit.
extern "C" void jpeg_idct_islow(j_decompress_ptr, jpeg_component_info*, JCOEFPTR, JSAMPARRAY, JDIMENSION);

namespace {

void setReducedSide(jpeg_component_info& component, int side)
{
#if JPEG_LIB_VERSION >= 70
    component.DCT_h_scaled_size = component.DCT_v_scaled_size = side;
#else
    component.DCT_scaled_size = side;
#endif
}

// Takes each block to the reduced decoding, and a cut one to its plane at full size too.
void decodeBlock(j_decompress_ptr info, jpeg_component_info* component, JCOEFPTR coefficients, JSAMPARRAY output,
                 JDIMENSION outputColumn)
{
    CutBlocks& blocks = *static_cast<CutBlocks*>(info->client_data);
    CutBlocks::Component& own = blocks.components[component->component_index];
    // An iMCU row's blocks arrive from its left edge, the first at the start of its output.
    if (own.blockRowsOf != info->input_iMCU_row) {
        own.blockRowsOf = info->input_iMCU_row;
        own.firstOutputRow = output;
        const int firstRow = static_cast<int>(info->input_iMCU_row) * component->v_samp_factor;
        for (std::size_t a = 0; a < own.planes.size(); ++a) {
            const BlockPlane& plane = own.planes[a];
            own.rowHeld[a] = firstRow < plane.firstRow + plane.rows && plane.firstRow < firstRow + component->v_samp_factor;
        }
    }
    const auto mayHold = [&](std::size_t a) {
        return own.rowHeld[a] && outputColumn >= own.firstOutputColumn[a] && outputColumn < own.endOutputColumn[a];
    };
    if (!mayHold(0) && !mayHold(1)) {
        own.reduced(info, component, coefficients, output, outputColumn);
        return;
    }
    const int row = static_cast<int>(info->input_iMCU_row) * component->v_samp_factor +
                    static_cast<int>(output - own.firstOutputRow) / reducedHeight(*component);
    const int column = static_cast<int>(outputColumn) / reducedWidth(*component);
    decodeCutBlock(blocks, info, component, coefficients, column, row);
    own.reduced(info, component, coefficients, output, outputColumn);
}

// The blocks of a component holding the pixels [first, first + count) along one axis.
void blocksAlong(int first, int count, int factor, int largest, int& firstBlock, int& blocks)
{
    if (count <= 0) {
        firstBlock = blocks = 0;
        return;
    }
    firstBlock = first * factor / largest / DCTSIZE;
    blocks = (first + count - 1) * factor / largest / DCTSIZE + 1 - firstBlock;
}

}  // namespace

void decodeCutBlock(CutBlocks& blocks, j_decompress_ptr info, jpeg_component_info* component, JCOEFPTR coefficients,
                    int column, int row)
{
    for (BlockPlane& plane : blocks.components[component->component_index].planes) {
        if (!plane.holds(column, row)) continue;
        jpeg_idct_islow(info, component, coefficients, plane.rowStarts.data() + (row - plane.firstRow) * DCTSIZE,
                        static_cast<JDIMENSION>((column - plane.firstColumn) * DCTSIZE));
    }
}

const YccTables& yccTables()
{
    static const YccTables tables = [] {
        constexpr int scaleBits = 16;
        constexpr int32_t half = int32_t{1} << (scaleBits - 1);
        const auto fixed = [](double value) { return static_cast<int32_t>(value * (1 << scaleBits) + 0.5); };
        YccTables made{};
        for (int i = 0; i < 256; ++i) {
            const int32_t x = i - 128;
            made.redFromCr[i] = static_cast<int>((fixed(1.40200) * x + half) >> scaleBits);
            made.blueFromCb[i] = static_cast<int>((fixed(1.77200) * x + half) >> scaleBits);
            made.greenFromCr[i] = -fixed(0.71414) * x;
            made.greenFromCb[i] = -fixed(0.34414) * x + half;
        }
        return made;
    }();
    return tables;
}

bool keepCutBlocks(jpeg_decompress_struct& info, CutBlocks& blocks, const PixelArea& columns, const PixelArea& rows)
{
    const bool ycc = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
    if (!(ycc || grey) || jpeg_has_multiple_scans(&info) || info.comps_in_scan != info.num_components ||
        info.data_precision != 8 || info.idct == nullptr)
        return false;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        if (info.max_h_samp_factor % component.h_samp_factor != 0 ||
            info.max_v_samp_factor % component.v_samp_factor != 0 || reducedWidth(component) <= 0 ||
            reducedHeight(component) <= 0)
            return false;
    }
    blocks.areas = {columns, rows};
    blocks.componentCount = info.num_components;
    blocks.largestHorizontal = info.max_h_samp_factor;
    blocks.largestVertical = info.max_v_samp_factor;
    for (int c = 0; c < info.num_components; ++c) {
        CutBlocks::Component& own = blocks.components[c];
        own.horizontal = info.comp_info[c].h_samp_factor;
        own.vertical = info.comp_info[c].v_samp_factor;
        for (std::size_t a = 0; a < own.planes.size(); ++a) {
            BlockPlane& plane = own.planes[a];
            const PixelArea& area = blocks.areas[a];
            blocksAlong(area.x, area.width, own.horizontal, blocks.largestHorizontal, plane.firstColumn, plane.columns);
            blocksAlong(area.y, area.height, own.vertical, blocks.largestVertical, plane.firstRow, plane.rows);
            const std::size_t width = static_cast<std::size_t>(plane.columns) * DCTSIZE;
            plane.samples.assign(width * static_cast<std::size_t>(plane.rows) * DCTSIZE, 0);
            plane.rowStarts.resize(static_cast<std::size_t>(plane.rows) * DCTSIZE);
            for (std::size_t y = 0; y < plane.rowStarts.size(); ++y) plane.rowStarts[y] = plane.samples.data() + y * width;
            const auto side = static_cast<JDIMENSION>(reducedWidth(info.comp_info[c]));
            own.firstOutputColumn[a] = static_cast<JDIMENSION>(plane.firstColumn) * side;
            own.endOutputColumn[a] = static_cast<JDIMENSION>(plane.firstColumn + plane.columns) * side;
        }
    }
    info.client_data = &blocks;
    for (int c = 0; c < info.num_components; ++c) {
        blocks.components[c].reduced = info.idct->inverse_DCT[c];
        info.idct->inverse_DCT[c] = decodeBlock;
    }
    return true;
}

Strip cutPixels(const CutBlocks& blocks, int area)
{
    const PixelArea& region = blocks.areas[area];
    Strip strip{{}, region.x, region.y, region.width, region.height};
    strip.pixels.resize(static_cast<std::size_t>(strip.width) * strip.height * 3);
    const YccTables& ycc = yccTables();
    uint8_t* out = strip.pixels.data();
    for (int y = region.y; y < region.y + region.height; ++y) {
        for (int x = region.x; x < region.x + region.width; ++x, out += 3) {
            const auto sample = [&](int c) {
                const CutBlocks::Component& own = blocks.components[c];
                const BlockPlane& plane = own.planes[area];
                const int row = y * own.vertical / blocks.largestVertical - plane.firstRow * DCTSIZE;
                const int column = x * own.horizontal / blocks.largestHorizontal - plane.firstColumn * DCTSIZE;
                return static_cast<int>(plane.rowStarts[row][column]);
            };
            const int luma = sample(0);
            if (blocks.componentCount == 1) {
                out[0] = out[1] = out[2] = static_cast<uint8_t>(luma);
                continue;
            }
            yccToBgr(ycc, luma, sample(1), sample(2), out);
        }
    }
    return strip;
}

void keepAllCoefficients(jpeg_decompress_struct& info)
{
    std::array<bool, MAX_COMPONENTS> atOnePixel{};
    for (int c = 0; c < info.num_components; ++c) atOnePixel[c] = reducedWidth(info.comp_info[c]) == 1;
    if (std::none_of(atOnePixel.begin(), atOnePixel.end(), [](bool one) { return one; })) return;
    for (int c = 0; c < info.num_components; ++c)
        if (atOnePixel[c]) setReducedSide(info.comp_info[c], 2);
    info.entropy->start_pass(&info);
    for (int c = 0; c < info.num_components; ++c)
        if (atOnePixel[c]) setReducedSide(info.comp_info[c], 1);
}
