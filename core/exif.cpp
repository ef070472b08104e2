#include "core/exif.h"

#include "core/jpeg_segments.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

namespace {

constexpr uint16_t orientationTag = 0x0112;

enum TiffType : uint16_t {
    asciiType = 2,
    shortType = 3,
    longType = 4,
    rationalType = 5,
    undefinedType = 7,
    signedRationalType = 10,
    directoryType = 13,
};

// The bytes of one item of a type (BYTE, ASCII, SHORT, LONG, RATIONAL, their signed kinds,
// UNDEFINED, FLOAT, DOUBLE and IFD), 0 for a type TIFF does not know.
std::size_t itemSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

// The bytes turned as one in the other byte order: a rational is two integers.
std::size_t swappedSize(uint16_t type)
{
    return type == rationalType || type == signedRationalType ? 4 : itemSize(type);
}

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

// The block when its header is a TIFF header.
std::optional<TiffBlock> openedTiff(const uint8_t* bytes, std::size_t size)
{
    TiffBlock tiff{bytes, size, false};
    if (!tiff.holds(0, 8)) return std::nullopt;
    if (bytes[0] == 'M' && bytes[1] == 'M')
        tiff.bigEndian = true;
    else if (bytes[0] != 'I' || bytes[1] != 'I')
        return std::nullopt;
    uint16_t magic = 0;
    if (!tiff.read16(2, magic) || magic != 42) return std::nullopt;
    return tiff;
}

// The IFD a tag of `directory` points to, if it is a pointer.
std::optional<ExifDirectory> pointedTo(ExifDirectory directory, uint16_t tag)
{
    if (directory == ExifDirectory::ifd0 && tag == 0x8769) return ExifDirectory::exif;
    if (directory == ExifDirectory::ifd0 && tag == 0x8825) return ExifDirectory::gps;
    if (directory == ExifDirectory::exif && tag == 0xA005) return ExifDirectory::interoperability;
    return std::nullopt;
}

// Hands every entry readExifEntries lists to `visit`, in its order.
template <typename Visit>
void visitEntries(ByteSpan bytes, Visit&& visit)
{
    const std::optional<TiffBlock> tiff = openedTiff(bytes.data(), bytes.size());
    if (!tiff) return;
    struct Directory {
        ExifDirectory directory;
        uint32_t offset;
    };
    // One of each kind at most, so the queue never grows past five and no IFD is read twice.
    Directory queue[5];
    std::size_t queued = 0;
    const auto follow = [&](ExifDirectory directory, uint32_t offset) {
        const bool known = std::any_of(queue, queue + queued, [&](const Directory& seen) {
            return seen.directory == directory || seen.offset == offset;
        });
        if (offset != 0 && !known) queue[queued++] = {directory, offset};
    };
    uint32_t first = 0;
    tiff->read32(4, first);
    follow(ExifDirectory::ifd0, first);
    for (std::size_t next = 0; next < queued; ++next) {
        const Directory directory = queue[next];
        uint16_t count = 0;
        if (!tiff->read16(directory.offset, count)) continue;
        const std::size_t entries = static_cast<std::size_t>(directory.offset) + 2;
        const std::size_t held = std::min<std::size_t>(count, (tiff->size - entries) / 12);
        for (std::size_t entry = entries; entry < entries + held * 12; entry += 12) {
            ExifEntry read;
            read.directory = directory.directory;
            read.bigEndian = tiff->bigEndian;
            uint32_t offset = 0;
            tiff->read16(entry, read.tag);
            tiff->read16(entry + 2, read.type);
            tiff->read32(entry + 4, read.count);
            tiff->read32(entry + 8, offset);
            if (const std::optional<ExifDirectory> pointer = pointedTo(directory.directory, read.tag)) {
                if ((read.type == longType || read.type == directoryType) && read.count == 1) follow(*pointer, offset);
                continue;
            }
            const uint64_t length = static_cast<uint64_t>(read.count) * itemSize(read.type);
            if (length == 0) continue;
            const std::size_t at = length <= 4 ? entry + 8 : offset;
            if (length > tiff->size || !tiff->holds(at, static_cast<std::size_t>(length))) continue;
            read.value = ByteSpan(tiff->bytes + at, static_cast<std::size_t>(length));
            visit(read);
        }
        uint32_t after = 0;
        if (directory.directory == ExifDirectory::ifd0 && held == count && tiff->read32(entries + held * 12, after))
            follow(ExifDirectory::ifd1, after);
    }
}

// Larger values are left behind, but for ASCII ones, which are cut to it.
constexpr std::size_t largestValue = 1024;

struct CarriedTag {
    ExifDirectory directory;
    uint16_t tag;
    uint16_t type;
    uint32_t count;  // 0: any
};
constexpr CarriedTag carriedTags[] = {
    {ExifDirectory::ifd0, 0x010F, asciiType, 0},           // Make
    {ExifDirectory::ifd0, 0x0110, asciiType, 0},           // Model
    {ExifDirectory::ifd0, 0x011A, rationalType, 1},        // XResolution
    {ExifDirectory::ifd0, 0x011B, rationalType, 1},        // YResolution
    {ExifDirectory::ifd0, 0x0128, shortType, 1},           // ResolutionUnit
    {ExifDirectory::ifd0, 0x0132, asciiType, 0},           // DateTime
    {ExifDirectory::ifd0, 0x013B, asciiType, 0},           // Artist
    {ExifDirectory::ifd0, 0x8298, asciiType, 0},           // Copyright
    {ExifDirectory::exif, 0x829A, rationalType, 1},        // ExposureTime
    {ExifDirectory::exif, 0x829D, rationalType, 1},        // FNumber
    {ExifDirectory::exif, 0x8822, shortType, 1},           // ExposureProgram
    {ExifDirectory::exif, 0x8827, shortType, 0},           // PhotographicSensitivity
    {ExifDirectory::exif, 0x9000, undefinedType, 4},       // ExifVersion
    {ExifDirectory::exif, 0x9003, asciiType, 0},           // DateTimeOriginal
    {ExifDirectory::exif, 0x9004, asciiType, 0},           // DateTimeDigitized
    {ExifDirectory::exif, 0x9010, asciiType, 0},           // OffsetTime
    {ExifDirectory::exif, 0x9011, asciiType, 0},           // OffsetTimeOriginal
    {ExifDirectory::exif, 0x9012, asciiType, 0},           // OffsetTimeDigitized
    {ExifDirectory::exif, 0x9204, signedRationalType, 1},  // ExposureBiasValue
    {ExifDirectory::exif, 0x9207, shortType, 1},           // MeteringMode
    {ExifDirectory::exif, 0x9209, shortType, 1},           // Flash
    {ExifDirectory::exif, 0x920A, rationalType, 1},        // FocalLength
    {ExifDirectory::exif, 0x9290, asciiType, 0},           // SubSecTime
    {ExifDirectory::exif, 0x9291, asciiType, 0},           // SubSecTimeOriginal
    {ExifDirectory::exif, 0x9292, asciiType, 0},           // SubSecTimeDigitized
    {ExifDirectory::exif, 0xA403, shortType, 1},           // WhiteBalance
    {ExifDirectory::exif, 0xA405, shortType, 1},           // FocalLengthIn35mmFilm
    {ExifDirectory::exif, 0xA433, asciiType, 0},           // LensMake
    {ExifDirectory::exif, 0xA434, asciiType, 0},           // LensModel
};
// The written tags, the Exif IFD's pointer, the headers and every carried value at its largest.
static_assert(std::size(carriedTags) * (12 + largestValue) + 8 * 12 + 32 <= largestCarriedExif);

constexpr uint16_t exifPointerTag = 0x8769;

// An entry to write: its value in little-endian order.
struct Field {
    uint16_t tag;
    uint16_t type;
    std::vector<uint8_t> value;
};

std::vector<uint8_t> littleEndian16(uint16_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}

std::vector<uint8_t> littleEndian32(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// The value as carried, or nothing when its type, count or size keeps it behind.
std::optional<std::vector<uint8_t>> carriedValue(const ExifEntry& entry, const CarriedTag& carried)
{
    if (entry.type != carried.type || (carried.count != 0 && entry.count != carried.count)) return std::nullopt;
    if (entry.type != asciiType) {
        if (entry.value.size() > largestValue) return std::nullopt;
        return littleEndianValue(entry);
    }
    std::vector<uint8_t> text(entry.value.data(), entry.value.data() + std::min(entry.value.size(), largestValue));
    if (text.size() == largestValue)
        text.back() = 0;
    else if (text.empty() || text.back() != 0)
        text.push_back(0);
    return text;
}

// The carried entries as they come: of each tag, the first whose value is carried.
struct CarriedFields {
    std::vector<Field> ifd0, exif;
    bool taken[std::size(carriedTags)] = {};

    // `entry` when it is carried from its directory, or with `anyDirectory` from wherever it stands.
    void take(const ExifEntry& entry, bool anyDirectory)
    {
        const auto carried = std::find_if(std::begin(carriedTags), std::end(carriedTags), [&](const CarriedTag& tag) {
            return (anyDirectory || tag.directory == entry.directory) && tag.tag == entry.tag;
        });
        const std::size_t index = static_cast<std::size_t>(carried - std::begin(carriedTags));
        if (carried == std::end(carriedTags) || taken[index]) return;
        std::optional<std::vector<uint8_t>> value = carriedValue(entry, *carried);
        if (!value) return;
        taken[index] = true;
        (carried->directory == ExifDirectory::ifd0 ? ifd0 : exif).push_back({entry.tag, entry.type, std::move(*value)});
    }
};

// The bytes an IFD of `fields` takes with its values, each value at an even offset.
std::size_t directorySize(const std::vector<Field>& fields)
{
    std::size_t size = 2 + 12 * fields.size() + 4;
    for (const Field& field : fields)
        if (field.value.size() > 4) size += (field.value.size() + 1) / 2 * 2;
    return size;
}

// A little-endian TIFF block of IFD0 and the Exif IFD, IFD0 pointing to the other and to no IFD1.
ExifBlock writtenBlock(std::vector<Field> ifd0, std::vector<Field> exif)
{
    const std::size_t exifAt = 8 + directorySize(ifd0) + 12;
    ifd0.push_back({exifPointerTag, longType, littleEndian32(static_cast<uint32_t>(exifAt))});
    ExifBlock block = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto append = [&block](const std::vector<uint8_t>& bytes) { block.insert(block.end(), bytes.begin(), bytes.end()); };
    for (std::vector<Field>* fields : {&ifd0, &exif}) {
        std::sort(fields->begin(), fields->end(), [](const Field& a, const Field& b) { return a.tag < b.tag; });
        std::size_t valueAt = block.size() + 2 + 12 * fields->size() + 4;
        append(littleEndian16(static_cast<uint16_t>(fields->size())));
        for (const Field& field : *fields) {
            append(littleEndian16(field.tag));
            append(littleEndian16(field.type));
            append(littleEndian32(static_cast<uint32_t>(field.value.size() / itemSize(field.type))));
            if (field.value.size() > 4) {
                append(littleEndian32(static_cast<uint32_t>(valueAt)));
                valueAt += (field.value.size() + 1) / 2 * 2;
            } else {
                std::vector<uint8_t> inPlace = field.value;
                inPlace.resize(4);
                append(inPlace);
            }
        }
        append(littleEndian32(0));
        for (const Field& field : *fields) {
            if (field.value.size() <= 4) continue;
            append(field.value);
            if (field.value.size() % 2 != 0) block.push_back(0);
        }
    }
    return block;
}

}  // namespace

int exifOrientation(const uint8_t* contents, std::size_t size)
{
    const ByteSpan block = withoutExifHeader(ByteSpan(contents, size));
    if (block.size() == size) return 0;
    return tiffOrientation(block.data(), block.size());
}

int tiffOrientation(const uint8_t* block, std::size_t size)
{
    const std::optional<TiffBlock> tiff = openedTiff(block, size);
    uint16_t entries = 0;
    uint32_t directory = 0;
    if (!tiff || !tiff->read32(4, directory) || !tiff->read16(directory, entries)) return 0;
    const std::size_t firstEntry = static_cast<std::size_t>(directory) + 2;
    if (!tiff->holds(firstEntry, static_cast<std::size_t>(entries) * 12)) return 0;
    for (std::size_t entry = firstEntry; entry < firstEntry + static_cast<std::size_t>(entries) * 12; entry += 12) {
        uint16_t tag = 0, type = 0, value = 0;
        uint32_t count = 0;
        tiff->read16(entry, tag);
        if (tag != orientationTag) continue;
        tiff->read16(entry + 2, type);
        tiff->read32(entry + 4, count);
        if (type != shortType || count != 1 || !tiff->read16(entry + 8, value)) return 0;
        return value >= 1 && value <= 8 ? value : 0;
    }
    return 0;
}

ByteSpan jpegExif(ByteSpan file)
{
    const ByteSpan contents = applicationSegment(file, 0xE1, exifSignature);
    if (contents.data() == nullptr) return {};
    return withoutExifHeader(contents);
}

int jpegOrientation(ByteSpan file)
{
    const ByteSpan block = jpegExif(file);
    return tiffOrientation(block.data(), block.size());
}

ByteSpan withoutExifHeader(ByteSpan payload)
{
    if (payload.size() < exifSignature.size() || std::memcmp(payload.data(), exifSignature.data(), exifSignature.size()) != 0)
        return payload;
    return ByteSpan(payload.data() + exifSignature.size(), payload.size() - exifSignature.size());
}

std::vector<uint8_t> littleEndianValue(const ExifEntry& entry)
{
    std::vector<uint8_t> value(entry.value.data(), entry.value.data() + entry.value.size());
    const std::size_t unit = swappedSize(entry.type);
    if (entry.bigEndian && unit > 1)
        for (auto item = value.begin(); value.end() - item >= static_cast<std::ptrdiff_t>(unit); item += unit)
            std::reverse(item, item + unit);
    return value;
}

std::vector<ExifEntry> readExifEntries(ByteSpan tiff)
{
    std::vector<ExifEntry> entries;
    visitEntries(tiff, [&entries](const ExifEntry& entry) { entries.push_back(entry); });
    return entries;
}

ExifBlock carriedExif(ByteSpan source, ImageSize outputSize, bool describesSrgb)
{
    if (!openedTiff(source.data(), source.size())) return {};
    CarriedFields fields;
    visitEntries(source, [&fields](const ExifEntry& entry) { fields.take(entry, false); });
    std::vector<Field>& ifd0 = fields.ifd0;
    std::vector<Field>& exif = fields.exif;
    ifd0.push_back({orientationTag, shortType, littleEndian16(1)});
    exif.push_back({0xA001, shortType, littleEndian16(describesSrgb ? 1 : 0xFFFF)});  // ColorSpace
    exif.push_back({0xA002, longType, littleEndian32(static_cast<uint32_t>(std::max(0, outputSize.width)))});
    exif.push_back({0xA003, longType, littleEndian32(static_cast<uint32_t>(std::max(0, outputSize.height)))});
    return writtenBlock(std::move(ifd0), std::move(exif));
}

ExifBlock exifBlockOfProperties(const std::vector<ExifProperty>& properties)
{
    CarriedFields fields;
    for (const ExifProperty& property : properties) {
        const std::size_t size = itemSize(property.type);
        if (size == 0 || property.value.size() == 0 || property.value.size() % size != 0) continue;
        const auto count = static_cast<uint32_t>(property.value.size() / size);
        fields.take({ExifDirectory::ifd0, property.tag, property.type, count, property.value, false}, true);
    }
    if (fields.ifd0.empty() && fields.exif.empty()) return {};
    return writtenBlock(std::move(fields.ifd0), std::move(fields.exif));
}
