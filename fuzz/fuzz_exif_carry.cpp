// A source's Exif carried into an output: the new block must read back as exactly the entries of
// the source that the standard's whitelist keeps, with the written orientation, pixel dimensions
// and colour space, fit one APP1 segment and carry itself unchanged. The input, read as a colour
// profile, must be judged without harm.
#include "core/colour_profile.h"
#include "core/exif.h"
#include "fuzz/fuzzing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

constexpr uint16_t ascii = 2, shortType = 3, longType = 4, rational = 5, undefined = 7, signedRational = 10;

struct Kept {
    ExifDirectory directory;
    uint16_t type;
    uint32_t count;  // 0: any
    std::vector<uint16_t> tags;
};

// The whitelist as the Exif and TIFF standards type it, kept apart from the core's own table.
const std::vector<Kept>& whitelist()
{
    static const std::vector<Kept> kept = {
        {ExifDirectory::ifd0, ascii, 0, {0x010F, 0x0110, 0x0132, 0x013B, 0x8298}},
        {ExifDirectory::ifd0, rational, 1, {0x011A, 0x011B}},
        {ExifDirectory::ifd0, shortType, 1, {0x0128}},
        {ExifDirectory::exif, ascii, 0, {0x9003, 0x9004, 0x9010, 0x9011, 0x9012, 0x9290, 0x9291, 0x9292, 0xA433, 0xA434}},
        {ExifDirectory::exif, rational, 1, {0x829A, 0x829D, 0x920A}},
        {ExifDirectory::exif, signedRational, 1, {0x9204}},
        {ExifDirectory::exif, shortType, 1, {0x8822, 0x9207, 0x9209, 0xA403, 0xA405}},
        {ExifDirectory::exif, shortType, 0, {0x8827}},
        {ExifDirectory::exif, undefined, 4, {0x9000}},
    };
    return kept;
}

struct Expected {
    ExifDirectory directory;
    uint16_t tag;
    uint16_t type;
    std::vector<uint8_t> value;  // little-endian

    bool operator<(const Expected& other) const { return std::tie(directory, tag) < std::tie(other.directory, other.tag); }
};

std::vector<uint8_t> littleEndian(uint32_t value, int bytes)
{
    std::vector<uint8_t> out;
    for (int at = 0; at < bytes; ++at) out.push_back(static_cast<uint8_t>(value >> (8 * at)));
    return out;
}

// What carriedExif must write for `source`, worked out from the whitelist: the first entry of each
// kept tag of its type and count, ASCII bounded to 1 KiB with a NUL at its end, other values of
// more than 1 KiB left behind.
std::vector<Expected> expectedEntries(const std::vector<ExifEntry>& source, ImageSize size, bool srgb)
{
    std::vector<Expected> expected;
    for (const ExifEntry& entry : source) {
        const auto seen = [&](const Expected& e) { return e.directory == entry.directory && e.tag == entry.tag; };
        const auto kept = std::find_if(whitelist().begin(), whitelist().end(), [&](const Kept& rule) {
            return rule.directory == entry.directory && std::count(rule.tags.begin(), rule.tags.end(), entry.tag) != 0;
        });
        if (kept == whitelist().end() || std::any_of(expected.begin(), expected.end(), seen) || entry.type != kept->type ||
            (kept->count != 0 && entry.count != kept->count))
            continue;
        std::vector<uint8_t> value = littleEndianValue(entry);
        if (entry.type == ascii) {
            value.resize(std::min<std::size_t>(value.size(), 1024));
            if (value.size() == 1024)
                value.back() = 0;
            else if (value.back() != 0)
                value.push_back(0);
        } else if (value.size() > 1024) {
            continue;
        }
        expected.push_back({entry.directory, entry.tag, entry.type, value});
    }
    expected.push_back({ExifDirectory::ifd0, 0x0112, shortType, littleEndian(1, 2)});
    expected.push_back({ExifDirectory::exif, 0xA001, shortType, littleEndian(srgb ? 1 : 0xFFFF, 2)});
    expected.push_back({ExifDirectory::exif, 0xA002, longType, littleEndian(static_cast<uint32_t>(size.width), 4)});
    expected.push_back({ExifDirectory::exif, 0xA003, longType, littleEndian(static_cast<uint32_t>(size.height), 4)});
    std::sort(expected.begin(), expected.end());
    return expected;
}

bool opensAsTiff(const uint8_t* data, std::size_t size)
{
    return size >= 8 && (std::memcmp(data, "II\x2A\0", 4) == 0 || std::memcmp(data, "MM\0\x2A", 4) == 0);
}

void checkCarried(const ExifBlock& carried, const std::vector<Expected>& expected)
{
    const std::vector<ExifEntry> read = readExifEntries(carried);
    if (read.size() != expected.size()) mismatch("the carried block holds other entries than the whitelist keeps");
    for (std::size_t at = 0; at < read.size(); ++at) {
        const ExifEntry& entry = read[at];
        const Expected& wanted = expected[at];
        const std::size_t itemSize = wanted.type == rational || wanted.type == signedRational ? 8
                                     : wanted.type == longType                               ? 4
                                     : wanted.type == shortType                              ? 2
                                                                                             : 1;
        if (entry.bigEndian || entry.directory != wanted.directory || entry.tag != wanted.tag ||
            entry.type != wanted.type || entry.count != wanted.value.size() / itemSize ||
            littleEndianValue(entry) != wanted.value)
            mismatch("a carried entry differs from the source's, or its tags are out of order");
    }
    // IFD0's entries, then the offset of an IFD1, which must be none.
    const std::size_t entries = carried[8] | carried[9] << 8;
    const std::size_t next = 10 + 12 * entries;
    if (carried.size() < next + 4 || carried[next] != 0 || carried[next + 1] != 0 || carried[next + 2] != 0 ||
        carried[next + 3] != 0)
        mismatch("the carried block points to an IFD1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    describesSrgb(ColourProfile(data, data + size));

    const ByteSpan source(data, size);
    const ImageSize outputSize{static_cast<int>(size * 37 % 20000), static_cast<int>(size % 7000) + 1};
    const bool srgb = size % 2 == 0;
    const ExifBlock carried = carriedExif(source, outputSize, srgb);
    if (carried.size() > largestCarriedExif) mismatch("a carried block too large for an APP1 segment");
    if (carried.empty() != !opensAsTiff(data, size)) mismatch("a carried block for what is no TIFF block, or none for one");
    if (carried.empty()) return 0;

    checkCarried(carried, expectedEntries(readExifEntries(source), outputSize, srgb));
    if (carriedExif(carried, outputSize, srgb) != carried) mismatch("the carried block does not carry itself unchanged");

    // The same entries as GDI+ lists a picture's properties, without their directories: the block
    // made of them holds only what a carried block keeps of it, besides the four written tags.
    const std::vector<ExifEntry> entries = readExifEntries(source);
    std::vector<std::vector<uint8_t>> values;
    for (const ExifEntry& entry : entries) values.push_back(littleEndianValue(entry));
    std::vector<ExifProperty> properties;
    for (std::size_t index = 0; index < entries.size(); ++index)
        properties.push_back({entries[index].tag, entries[index].type, values[index]});
    const ExifBlock listed = exifBlockOfProperties(properties);
    if (listed.size() > largestCarriedExif) mismatch("a block of properties too large for an APP1 segment");
    if (listed.empty()) return 0;
    const ExifBlock carriedListed = carriedExif(listed, outputSize, srgb);
    checkCarried(carriedListed, expectedEntries(readExifEntries(listed), outputSize, srgb));
    if (readExifEntries(carriedListed).size() != readExifEntries(listed).size() + 4)
        mismatch("a block of properties holds what a carried block leaves behind");
    return 0;
}
