#pragma once
// JPEG files through libjpeg-turbo, several times faster than the imaging library's codec:
// decoding straight into a bitmap's pixels, and encoding at quality 100, which Wine's GDI+
// encoder ignores. Every other format stays with GDI+.
#include "common/imaging.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// How a decoding ended. A picture that failed for want of memory may decode when less else
// is held.
enum class DecodeOutcome { decoded, failed, outOfMemory };

// The whole file when it opens as a JPEG (its start-of-image marker); empty for any other
// file, or one that cannot be read.
std::vector<uint8_t> readJpegFile(const char* path);

// Bytes inside a file held in memory.
struct ByteRange {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The contents (after its length) of the first application segment of that marker (0xE0 to
// 0xEF) whose contents begin with `signature`, among all the segments before the JPEG's frame
// header; empty when there is none, or the file does not hold it whole.
ByteRange applicationSegment(const std::vector<uint8_t>& file, uint8_t marker, std::string_view signature);

// The picture's size as its frame header gives it; 0 x 0 for a file that is no JPEG.
imaging::ImageSize jpegSize(const std::vector<uint8_t>& file);

// The largest of libjpeg's reductions (8, 4 or 2; else 1) whose picture, each side divided and
// rounded up as libjpeg does, still has at least `needed` pixels on each side.
int reducedScaleFor(imaging::ImageSize picture, imaging::ImageSize needed);

// Decodes a JPEG into a new bitmap, each side 1/scaleDenominator (1, 2, 4 or 8) of the
// picture's, rounded up: 24-bit RGB for colour and grey pictures, 32-bit RGB for CMYK and
// YCCK ones, whose inks become the colours GDI+ shows for them. Damaged data that
// libjpeg decodes past with a warning counts as decoded, as with GDI+; a fatal error anywhere,
// a size GDI+ cannot hold, or a file libjpeg refuses is `failed`, with `result` empty.
DecodeOutcome decodeJpeg(const std::vector<uint8_t>& file, imaging::GdiBitmap& result, int scaleDenominator = 1);

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB with its alpha
// dropped) to `path` as a baseline JPEG at quality 100 with 4:2:0 chroma, replacing what the
// file held, streaming to it as it encodes. False when it cannot be encoded or written.
bool writeJpeg(imaging::GpBitmap* picture, const char* path);
