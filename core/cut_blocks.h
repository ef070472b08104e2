#pragma once
// The blocks of a JPEG that a kept region's edges cut through, at full size, made from the
// coefficients that a reduced decoding of the file meets anyway: the file's entropy coding is
// decoded once for both. Used by the JPEG code; include jpeglib.h before this header.
#include "common/pixels.h"

#include <array>
#include <cstdint>
#include <vector>

// The sides of a component's blocks in a reduced decoding, which scales chroma less than luma
// where that spares upsampling.
inline int reducedWidth(const jpeg_component_info& component)
{
#if JPEG_LIB_VERSION >= 70
    return component.DCT_h_scaled_size;
#else
    return component.DCT_scaled_size;
#endif
}

inline int reducedHeight(const jpeg_component_info& component)
{
#if JPEG_LIB_VERSION >= 70
    return component.DCT_v_scaled_size;
#else
    return component.DCT_scaled_size;
#endif
}

// Full-size pixels of a strip of the picture: 3 bytes each (blue, green, red), `width` to a row,
// the first at (firstColumn, firstRow) of the picture.
struct Strip {
    std::vector<uint8_t> pixels;
    int firstColumn = 0;
    int firstRow = 0;
    int width = 0;
    int height = 0;
};

// One component's full-size samples over a rectangle of its blocks (counted in blocks).
struct BlockPlane {
    int firstColumn = 0;
    int firstRow = 0;
    int columns = 0;
    int rows = 0;
    std::vector<uint8_t> samples;
    std::vector<JSAMPROW> rowStarts;

    bool holds(int column, int row) const
    {
        return column >= firstColumn && column < firstColumn + columns && row >= firstRow && row < firstRow + rows;
    }
};

// What one decoding keeps of its cut blocks: two areas of the picture, the columns cut and the
// rows cut (either may be empty), and per component its samples over the blocks they touch.
struct CutBlocks {
    using InverseDct = void (*)(j_decompress_ptr, jpeg_component_info*, JCOEFPTR, JSAMPARRAY, JDIMENSION);
    struct Component {
        InverseDct reduced = nullptr;
        int horizontal = 1;  // sampling factors
        int vertical = 1;
        JDIMENSION blockRowsOf = ~JDIMENSION{0};  // the iMCU row whose blocks arrive now
        JSAMPARRAY firstOutputRow = nullptr;      // where that row's reduced samples begin
        std::array<BlockPlane, 2> planes;
        // Per plane: whether the iMCU row whose blocks arrive now holds some of its blocks, and
        // the reduced output columns its blocks take, so that most blocks pass at a glance.
        std::array<bool, 2> rowHeld{};
        std::array<JDIMENSION, 2> firstOutputColumn{};
        std::array<JDIMENSION, 2> endOutputColumn{};
    };
    std::array<PixelArea, 2> areas;
    std::array<Component, 3> components;
    int componentCount = 0;
    int largestHorizontal = 1;
    int largestVertical = 1;
};

// Before the first row of `info`'s block-local decoding: has it also decode at full size, into
// `blocks`, every block that holds a pixel of `columns` or of `rows`. False, with nothing
// changed, when the file is decoded in several scans or holds colours other than YCbCr or grey;
// std::bad_alloc when the planes cannot be held. `blocks` must outlive the decoding.
bool keepCutBlocks(jpeg_decompress_struct& info, CutBlocks& blocks, const PixelArea& columns,
                   const PixelArea& rows);

// Decodes one block at full size into whichever of its component's planes hold it (column and
// row counted in the component's blocks); `coefficients` are dequantized as libjpeg does.
void decodeCutBlock(CutBlocks& blocks, j_decompress_ptr info, jpeg_component_info* component,
                    JCOEFPTR coefficients, int column, int row);

// libjpeg's YCbCr to RGB conversion, in its fixed-point steps.
struct YccTables {
    int redFromCr[256];
    int blueFromCb[256];
    int32_t greenFromCr[256];
    int32_t greenFromCb[256];
};
const YccTables& yccTables();

// One pixel through it, as blue, green, red.
inline void yccToBgr(const YccTables& ycc, int luma, int cb, int cr, uint8_t* out)
{
    const auto clamp = [](int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); };
    out[0] = clamp(luma + ycc.blueFromCb[cb]);
    out[1] = clamp(luma + static_cast<int>((ycc.greenFromCb[cb] + ycc.greenFromCr[cr]) >> 16));
    out[2] = clamp(luma + ycc.redFromCr[cr]);
}

// Once the decoding has read every row: the pixels of the columns (0) or rows (1) area, as a
// full-size block-local decoding of the file gives them.
Strip cutPixels(const CutBlocks& blocks, int area);

// After keepCutBlocks, before the first row: has a Huffman decoding keep the AC coefficients of
// components it reduces to a pixel a block, which it would otherwise drop. May raise libjpeg's
// fatal error.
void keepAllCoefficients(jpeg_decompress_struct& info);
