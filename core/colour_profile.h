#pragma once
// Colour profiles (ICC) carried from a source into its output, so that viewers show the output's
// values in the colours the source's showed: read from a JPEG's APP2 "ICC_PROFILE" chunks or a
// PNG's iCCP chunk, written into JPEG and PNG outputs. The pixels are never converted. A
// malformed profile is no profile: every reader returns empty rather than fail. PNG's Exif chunk
// goes the same way.
#include "common/bytes.h"
#include "core/exif.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using ColourProfile = std::vector<uint8_t>;

// Larger profiles are taken for damage (real ones stay below a few megabytes).
constexpr std::size_t largestColourProfile = std::size_t{16} << 20;

// The profile of a JPEG held in memory: its APP2 "ICC_PROFILE\0" chunks before the frame header,
// joined by their sequence numbers, when every number from 1 to their common count is there once.
ColourProfile jpegColourProfile(ByteSpan file);

// The profile of a PNG held in memory: its iCCP chunk before the first IDAT, inflated; empty when
// the chunk's CRC or compression is wrong or it inflates past largestColourProfile.
ColourProfile pngColourProfile(ByteSpan file);

// `profile` when its header says it describes RGB values, which every output holds; else empty
// (a grey or CMYK profile would misdescribe them, and a PNG reader rejects it).
ColourProfile forRgbOutputs(ColourProfile profile);

constexpr std::string_view pngSignature("\x89PNG\r\n\x1A\n", 8);

// Whether viewers may take the pixels for sRGB: there is no profile, or its description (a v2
// 'desc' text or every record of a v4 'mluc') names sRGB. False for anything it cannot read.
bool describesSrgb(const ColourProfile& profile);

// Whether the bytes open with a PNG's signature.
bool isPng(ByteSpan file);

// Writes the PNG that `png` reads to `output` with an iCCP chunk of `profile` right after its
// header chunk, and without the iCCP and sRGB chunks it held (all as they were for an empty
// profile), a piece at a time: it never holds the file. False when `png` is no well-formed PNG up to its IEND chunk, compression fails or
// `output` refuses a write; what it wrote is then to be thrown away.
bool writePngWithColourProfile(const ByteSource& png, const ColourProfile& profile, const ByteSink& output);

// The TIFF block of a PNG's first eXIf chunk before its IEND; empty when there is none, the
// chunks before it are not held whole, or its CRC is wrong.
ByteSpan pngExif(ByteSpan file);

// Writes the PNG as writePngWithColourProfile does, and with an eXIf chunk of `exif` before its
// first IDAT instead of any it held, unless `exif` is empty.
bool writePngWithMetadata(const ByteSource& png, const ColourProfile& profile, const ExifBlock& exif,
                          const ByteSink& output);
