#pragma once
// A JPEG's one scan decoded at a reduced size on two threads, though its entropy coding has no
// restart markers to split it at. The second thread starts near halfway through the data, where
// its Huffman decoding falls into step with the true block boundaries within a few blocks. Where
// the first thread, decoding from the start, arrives at the position of an MCU the second one
// began, both decode the same MCUs from there on, and the second thread's DC values differ from
// the true ones by what their predictors differed by there: its MCUs are put into the rows then,
// on every processor. Used by the JPEG code; include jpeglib.h and cut_blocks.h before this header.
#include "core/jpeg_decoder.h"

#include <cstdint>

// Decodes `data`, the scan of the started decompression `info` before its first row, from its
// first entropy-coded byte to the end of the file, into info's output rows as libjpeg would
// decode them: 3 bytes a pixel (blue, green, red), rows of `stride` bytes; and the full-size
// samples of `blocks`' planes when given. Only for one baseline scan of every component without
// restart intervals, in YCbCr or grey, where each block becomes one pixel or 2 x 2 and nothing is
// upsampled. False for any other file, when anything in the data up to its end marker is out
// of the ordinary, or once `cancellation` says so; what it wrote is then to be decoded over.
bool decodeScanSplit(jpeg_decompress_struct& info, ByteSpan data, uint8_t* pixels, int stride, CutBlocks* blocks,
                     const Cancellation& cancellation);
