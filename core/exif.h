#pragma once
// The orientation a camera or phone records for a JPEG (Exif tag 0x0112, Orientation).
#include "common/bytes.h"

#include <cstddef>
#include <cstdint>

// The Orientation of IFD0 in the contents of an APP1 "Exif" segment (the bytes after its
// length), in either byte order: 1 to 8, or 0 when there is none or the block is malformed
// or cut short. Never reads outside the `size` bytes.
int exifOrientation(const uint8_t* contents, std::size_t size);
// The same of the TIFF block alone (from its "II" or "MM"), as a WebP's EXIF chunk holds it.
int tiffOrientation(const uint8_t* block, std::size_t size);

// The Orientation in the APP1 "Exif" segment among the application segments that open a
// JPEG file held in memory; 0 for any other file, no such segment, or one the file does
// not hold whole.
int jpegOrientation(ByteSpan file);
