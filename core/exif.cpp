#include "core/exif.h"

#include "core/jpeg_decoder.h"

#include <cstring>
#include <string_view>

namespace {

constexpr uint8_t exifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t orientationTag = 0x0112;
constexpr uint16_t shortType = 3;

// Integers of a TIFF block in its byte order, each read only when it lies inside the block.
struct TiffBlock {
    const uint8_t* bytes;
    std::size_t size;
    bool bigEndian;

    bool holds(std::size_t at, std::size_t length) const { return at <= size && size - at >= length; }
    bool read16(std::size_t at, uint16_t& value) const
    {
        if (!holds(at, 2)) return false;
        value = static_cast<uint16_t>(bigEndian ? bytes[at] << 8 | bytes[at + 1] : bytes[at + 1] << 8 | bytes[at]);
        return true;
    }
    bool read32(std::size_t at, uint32_t& value) const
    {
        uint16_t first = 0, second = 0;
        if (!read16(at, first) || !read16(at + 2, second)) return false;
        value = bigEndian ? static_cast<uint32_t>(first) << 16 | second : static_cast<uint32_t>(second) << 16 | first;
        return true;
    }
};

}  // namespace

int exifOrientation(const uint8_t* contents, std::size_t size)
{
    if (size < sizeof exifHeader || std::memcmp(contents, exifHeader, sizeof exifHeader) != 0) return 0;
    return tiffOrientation(contents + sizeof exifHeader, size - sizeof exifHeader);
}

int tiffOrientation(const uint8_t* block, std::size_t size)
{
    TiffBlock tiff{block, size, false};
    if (!tiff.holds(0, 8)) return 0;
    if (tiff.bytes[0] == 'M' && tiff.bytes[1] == 'M')
        tiff.bigEndian = true;
    else if (tiff.bytes[0] != 'I' || tiff.bytes[1] != 'I')
        return 0;
    uint16_t magic = 0, entries = 0;
    uint32_t directory = 0;
    if (!tiff.read16(2, magic) || magic != 42 || !tiff.read32(4, directory) || !tiff.read16(directory, entries))
        return 0;
    const std::size_t firstEntry = static_cast<std::size_t>(directory) + 2;
    if (!tiff.holds(firstEntry, static_cast<std::size_t>(entries) * 12)) return 0;
    for (std::size_t entry = firstEntry; entry < firstEntry + static_cast<std::size_t>(entries) * 12; entry += 12) {
        uint16_t tag = 0, type = 0, value = 0;
        uint32_t count = 0;
        tiff.read16(entry, tag);
        if (tag != orientationTag) continue;
        tiff.read16(entry + 2, type);
        tiff.read32(entry + 4, count);
        if (type != shortType || count != 1 || !tiff.read16(entry + 8, value)) return 0;
        return value >= 1 && value <= 8 ? value : 0;
    }
    return 0;
}

int jpegOrientation(ByteSpan file)
{
    const std::string_view signature(reinterpret_cast<const char*>(exifHeader), sizeof exifHeader);
    const ByteSpan exif = applicationSegment(file, 0xE1, signature);
    return exif.data() != nullptr ? exifOrientation(exif.data(), exif.size()) : 0;
}

