#pragma once
// The orientation a camera or phone records for a JPEG (Exif tag 0x0112, Orientation), and
// decoding a picture turned upright by it, so that everything after sees it as viewers do.
#include "common/imaging.h"
#include "pipeline/jpeg.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The Orientation of IFD0 in the contents of an APP1 "Exif" segment (the bytes after its
// length), in either byte order: 1 to 8, or 0 when there is none or the block is malformed
// or cut short. Never reads outside the `size` bytes.
int exifOrientation(const uint8_t* contents, std::size_t size);

// The Orientation in the APP1 "Exif" segment among the application segments that open a
// JPEG file held in memory; 0 for any other file, no such segment, or one the file does
// not hold whole.
int jpegOrientation(ByteSpan file);

// How much of a picture a view needs: libjpeg's reduction (1, 2, 4 or 8), and the region of the
// upright picture from its top left beyond which nothing may show (a side 0: all of it).
struct ReducedView {
    int scaleDenominator = 1;
    imaging::ImageSize kept;
};

// The view a JPEG is decoded for when `wanted` is asked of it: a region is kept only where the
// decoding can keep it (a picture stored turned has it elsewhere; an ink picture has no cut
// blocks), so those come whole; a region as large as the picture is no region.
ReducedView plannedView(const JpegHeader& header, int orientation, ReducedView wanted);

// A decoded picture: the outcome, the picture (empty unless the outcome is `decoded`), the
// upright picture's full size, and the reduction it came at.
struct UprightDecoding {
    DecodeOutcome outcome = DecodeOutcome::failed;
    imaging::GdiBitmap picture;
    imaging::ImageSize uprightSize;
    int scaleDenominator = 1;
};

// Decodes the picture at `path` (a JPEG through libjpeg-turbo, anything else, and a JPEG
// libjpeg-turbo refuses, through GDI+) whole and turns or mirrors it as its orientation says;
// a turn that fails fails the decoding.
UprightDecoding decodeUpright(const char* path);

// decodeUpright for a view(upright full size): a JPEG libjpeg-turbo decodes comes at the view's
// reduction, and a picture that needs a turn only when the view keeps all of it; anything else
// comes whole.
UprightDecoding decodeUprightReduced(const char* path,
                                     const std::function<ReducedView(imaging::ImageSize upright)>& view);
