#pragma once
// Exif in photos: the orientation a camera or phone records (tag 0x0112), and the metadata carried
// from a source into its outputs, read from and written as TIFF blocks (from their "II" or "MM").
#include "common/bytes.h"
#include "common/pixels.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// A TIFF block from its "II" or "MM", as an APP1 segment holds it after "Exif\0\0".
using ExifBlock = std::vector<uint8_t>;

// What opens an APP1 segment of Exif before its TIFF block.
constexpr std::string_view exifSignature("Exif\0\0", 6);

// Larger blocks in a PNG or a WebP are taken for damage; a JPEG's cannot pass 64 KiB.
constexpr std::size_t largestExifBlock = std::size_t{1} << 20;

// The largest block one APP1 segment holds after "Exif\0\0".
constexpr std::size_t largestCarriedExif = 65527;

// The Orientation of IFD0 in the contents of an APP1 "Exif" segment (the bytes after its
// length), in either byte order: 1 to 8, or 0 when there is none or the block is malformed
// or cut short. Never reads outside the `size` bytes.
int exifOrientation(const uint8_t* contents, std::size_t size);
// The same of the TIFF block alone (from its "II" or "MM"), as a WebP's EXIF chunk holds it.
int tiffOrientation(const uint8_t* block, std::size_t size);

// The TIFF block of the first APP1 "Exif" segment among the application segments that open a
// JPEG file held in memory; empty for any other file, no such segment, or one the file does not
// hold whole.
ByteSpan jpegExif(ByteSpan file);

// The Orientation in that block; 0 when there is none.
int jpegOrientation(ByteSpan file);

// An Exif payload without the "Exif\0\0" that some writers put before the TIFF block.
ByteSpan withoutExifHeader(ByteSpan payload);

enum class ExifDirectory : uint8_t { ifd0, exif, gps, interoperability, ifd1 };

// One entry of a TIFF block: its value is `count` items of `type`, in the block's byte order.
struct ExifEntry {
    ExifDirectory directory = ExifDirectory::ifd0;
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    ByteSpan value;
    bool bigEndian = false;
};

// The value's bytes in little-endian order, each item turned on its own (a rational's two halves
// each).
std::vector<uint8_t> littleEndianValue(const ExifEntry& entry);

// The entries of IFD0, then of the IFDs it leads to as they are found: the one after it (IFD1), the
// Exif and GPS IFDs it points to and the Interoperability IFD the Exif IFD points to, each in the
// block's order. Each IFD is read once, however the pointers loop. The pointers themselves are
// followed rather than listed. An entry of an unknown type, a count of 0 or a value outside the
// block is left out, as are the entries an IFD cut short does not hold whole. Empty for what is no
// TIFF block.
std::vector<ExifEntry> readExifEntries(ByteSpan tiff);

// A new little-endian TIFF block of what a picture made from the source may carry: from IFD0 the
// camera's make and model, the date, the artist, the copyright and the resolution; from the Exif
// IFD the version, the dates with their offsets and fractions of seconds, the exposure, the flash,
// the white balance, the focal length and the lens; each the first entry of its tag that has a
// type and count the standard allows, an ASCII value cut to 1 KiB and ended by a NUL, any other
// value of up to 1 KiB. The orientation is written as 1 (the pixels are turned already), the pixel
// dimensions as `outputSize`, the colour space as sRGB when `describesSrgb` and uncalibrated
// otherwise. The thumbnail, the GPS and Interoperability IFDs, the maker's notes, serial numbers
// and every other tag are left behind. A malformed source that still opens as a TIFF block gives
// the entries that read cleanly (perhaps none) and the written ones; a source that is no TIFF
// block gives an empty block. Never larger than largestCarriedExif.
ExifBlock carriedExif(ByteSpan source, ImageSize outputSize, bool describesSrgb);

// One property as GDI+ lists a picture's: a tag without the directory it stood in, its TIFF type,
// and its value in little-endian order.
struct ExifProperty {
    uint16_t tag = 0;
    uint16_t type = 0;
    ByteSpan value;
};

// A TIFF block of the properties carriedExif would carry, each in the directory it carries it
// from (whitelisted tags are not repeated across directories); empty when there are none.
ExifBlock exifBlockOfProperties(const std::vector<ExifProperty>& properties);
