#include "core/colour_profile.h"

#include "core/jpeg_segments.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view iccSignature("ICC_PROFILE\0", 12);
// PNG lengths are below 2^31.
constexpr uint32_t largestChunk = 0x7FFFFFFF;
// Names a profile in an iCCP chunk: 1 to 79 Latin-1 letters.
constexpr std::string_view profileName("ICC profile");

uint32_t bigEndian(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A PNG's chunks after its signature, read in order from a source, each checked against its CRC
// as its data is read.
class PngChunks {
public:
    explicit PngChunks(const ByteSource& source) : source_(source) {}

    // Reads the next chunk's length and type; false at the end of the bytes, or for a length past
    // PNG's bound.
    bool next()
    {
        if (!source_(header_, sizeof header_)) return false;
        length_ = bigEndian(header_);
        return length_ <= largestChunk;
    }
    std::string_view type() const { return std::string_view(reinterpret_cast<const char*>(header_ + 4), 4); }
    uint32_t length() const { return length_; }
    // The length and type as the file holds them.
    const uint8_t* header() const { return header_; }

    // Hands the chunk's data to `take` a piece at a time and reads its CRC; false when they
    // cannot be read, `take` refuses a piece, or the CRC is wrong.
    bool read(const ByteSink& take)
    {
        uLong crc = crc32(crc32(0L, Z_NULL, 0), header_ + 4, 4);
        for (uint32_t done = 0; done < length_;) {
            const uint32_t size = std::min<uint32_t>(sizeof piece_, length_ - done);
            if (!source_(piece_, size) || !take(piece_, size)) return false;
            crc = crc32(crc, piece_, size);
            done += size;
        }
        return source_(crc_, sizeof crc_) && bigEndian(crc_) == crc;
    }
    // The CRC as the file holds it, once read.
    const uint8_t* crc() const { return crc_; }

private:
    const ByteSource& source_;
    uint8_t header_[8] = {};
    uint8_t crc_[4] = {};
    uint32_t length_ = 0;
    uint8_t piece_[1 << 16];
};

// A whole chunk: its length, type, data and CRC.
std::vector<uint8_t> chunkOf(std::string_view type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> chunk(8 + data.size());
    for (std::size_t at = 0; at < 4; ++at) {
        chunk[at] = static_cast<uint8_t>(data.size() >> (24 - 8 * at));
        chunk[4 + at] = static_cast<uint8_t>(type[at]);
    }
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    appendBigEndian(chunk, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4,
                                                        static_cast<uInt>(chunk.size() - 4))));
    return chunk;
}

// The text of a profile's description tag, from a v2 'desc' (its ASCII) or a v4 'mluc' (each
// record's UTF-16 with letters past ASCII as '?', one line a record); nothing when it cannot be read.
std::optional<std::vector<std::string>> descriptions(ByteSpan tag)
{
    if (tag.size() < 12) return std::nullopt;
    const uint8_t* bytes = tag.data();
    const uint32_t count = bigEndian(bytes + 8);
    if (std::memcmp(bytes, "desc", 4) == 0) {
        if (count > tag.size() - 12) return std::nullopt;
        const char* text = reinterpret_cast<const char*>(bytes + 12);
        return std::vector<std::string>{std::string(text, std::find(text, text + count, '\0'))};
    }
    if (std::memcmp(bytes, "mluc", 4) != 0 || tag.size() < 16 || bigEndian(bytes + 12) != 12 ||
        count > (tag.size() - 16) / 12 || count == 0)
        return std::nullopt;
    std::vector<std::string> texts;
    for (uint32_t record = 0; record < count; ++record) {
        const uint8_t* entry = bytes + 16 + 12 * static_cast<std::size_t>(record);
        const uint32_t length = bigEndian(entry + 4), offset = bigEndian(entry + 8);
        if (offset > tag.size() || length > tag.size() - offset) return std::nullopt;
        std::string text;
        for (std::size_t at = offset; at + 1 < std::size_t{offset} + length; at += 2) {
            const unsigned letter = static_cast<unsigned>(bytes[at]) << 8 | bytes[at + 1];
            text.push_back(letter < 0x80 ? static_cast<char>(letter) : '?');
        }
        texts.push_back(std::move(text));
    }
    return texts;
}

// "sRGB" as a word of its own: not "esRGB" nor "e-sRGB", though "sRGB2014" is.
bool namesSrgb(const std::string& text)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    for (std::size_t at = text.find("sRGB"); at != std::string::npos; at = text.find("sRGB", at + 1)) {
        const bool before = at > 0 && (letter(text[at - 1]) || text[at - 1] == '-');
        const bool after = at + 4 < text.size() && letter(text[at + 4]);
        if (!before && !after) return true;
    }
    return false;
}

bool readsPngSignature(const ByteSource& source)
{
    uint8_t signature[pngSignature.size()];
    return source(signature, sizeof signature) && isPng(ByteSpan(signature, sizeof signature));
}

ColourProfile inflated(const uint8_t* data, std::size_t size)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    ColourProfile profile;
    int status = Z_OK;
    uint8_t piece[1 << 16];
    while (status == Z_OK) {
        stream.next_out = piece;
        stream.avail_out = sizeof piece;
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t made = sizeof piece - stream.avail_out;
        if (profile.size() + made > largestColourProfile) {
            status = Z_BUF_ERROR;
            break;
        }
        profile.insert(profile.end(), piece, piece + made);
        if (status == Z_BUF_ERROR && made > 0) status = Z_OK;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return {};
    return profile;
}

}  // namespace

bool isPng(ByteSpan file)
{
    return file.size() >= pngSignature.size() && std::memcmp(file.data(), pngSignature.data(), pngSignature.size()) == 0;
}

bool writePngWithColourProfile(const ByteSource& png, const ColourProfile& profile, const ByteSink& output)
{
    return writePngWithMetadata(png, profile, {}, output);
}

bool writePngWithMetadata(const ByteSource& png, const ColourProfile& profile, const ExifBlock& exif,
                          const ByteSink& output)
{
    const auto pngChunks = std::make_unique<PngChunks>(png);
    PngChunks& chunks = *pngChunks;
    if (!readsPngSignature(png) || !chunks.next() || chunks.type() != "IHDR") return false;
    std::vector<uint8_t> iccp;
    if (!profile.empty()) {
        std::vector<uint8_t> data(profileName.begin(), profileName.end());
        data.push_back(0);
        data.push_back(0);  // deflate
        uLongf compressedSize = compressBound(static_cast<uLong>(profile.size()));
        const std::size_t compressedStart = data.size();
        data.resize(compressedStart + compressedSize);
        if (compress2(data.data() + compressedStart, &compressedSize, profile.data(), static_cast<uLong>(profile.size()),
                      Z_BEST_COMPRESSION) != Z_OK)
            return false;
        data.resize(compressedStart + compressedSize);
        iccp = chunkOf("iCCP", data);
    }
    const std::vector<uint8_t> exifChunk = exif.empty() ? std::vector<uint8_t>() : chunkOf("eXIf", exif);

    const auto copied = [&] { return output(chunks.header(), 8) && chunks.read(output) && output(chunks.crc(), 4); };
    if (!output(reinterpret_cast<const uint8_t*>(pngSignature.data()), pngSignature.size()) || !copied() ||
        (!iccp.empty() && !output(iccp.data(), iccp.size())))
        return false;
    bool exifWritten = exifChunk.empty();
    while (chunks.next()) {
        if (!exifWritten && (chunks.type() == "IDAT" || chunks.type() == "IEND")) {
            if (!output(exifChunk.data(), exifChunk.size())) return false;
            exifWritten = true;
        }
        const bool dropped = (!iccp.empty() && (chunks.type() == "iCCP" || chunks.type() == "sRGB")) ||
                             (!exifChunk.empty() && chunks.type() == "eXIf");
        if (!(dropped ? chunks.read([](const uint8_t*, std::size_t) { return true; }) : copied())) return false;
        if (chunks.type() == "IEND") return true;
    }
    return false;
}

ByteSpan pngExif(ByteSpan file)
{
    if (!isPng(file)) return {};
    // Each chunk: its length, type, data and CRC.
    for (std::size_t at = pngSignature.size(); file.size() - at >= 12;) {
        const uint32_t length = bigEndian(file.data() + at);
        if (length > largestChunk || file.size() - at - 12 < length) return {};
        const std::string_view type(reinterpret_cast<const char*>(file.data() + at + 4), 4);
        if (type == "IEND") return {};
        if (type == "eXIf") {
            const uLong crc = crc32(crc32(0L, Z_NULL, 0), file.data() + at + 4, static_cast<uInt>(length) + 4);
            if (bigEndian(file.data() + at + 8 + length) != crc) return {};
            return ByteSpan(file.data() + at + 8, length);
        }
        at += 12 + static_cast<std::size_t>(length);
    }
    return {};
}

ColourProfile jpegColourProfile(ByteSpan file)
{
    // Numbered in a byte: one chunk more than that can number is damage.
    constexpr std::size_t mostChunks = 255;
    const std::vector<ByteSpan> segments = applicationSegments(file, 0xE2, iccSignature, mostChunks + 1);
    // After the signature: the chunk's sequence number and the count of chunks.
    constexpr std::size_t chunkStart = iccSignature.size() + 2;
    if (segments.empty() || segments.size() > mostChunks || segments.front().size() < chunkStart) return {};
    const int count = segments.front()[iccSignature.size() + 1];
    if (count == 0 || segments.size() != static_cast<std::size_t>(count)) return {};
    std::vector<const ByteSpan*> inOrder(static_cast<std::size_t>(count), nullptr);
    for (const ByteSpan& segment : segments) {
        if (segment.size() < chunkStart || segment[iccSignature.size() + 1] != count) return {};
        const int number = segment[iccSignature.size()];
        if (number < 1 || number > count || inOrder[static_cast<std::size_t>(number - 1)] != nullptr) return {};
        inOrder[static_cast<std::size_t>(number - 1)] = &segment;
    }
    ColourProfile profile;
    for (const ByteSpan* chunk : inOrder) profile.insert(profile.end(), chunk->data() + chunkStart, chunk->data() + chunk->size());
    return profile;
}

ColourProfile pngColourProfile(ByteSpan file)
{
    const ByteSource source = sourceOf(file);
    const auto pngChunks = std::make_unique<PngChunks>(source);
    PngChunks& chunks = *pngChunks;
    if (!readsPngSignature(source)) return {};
    while (chunks.next() && chunks.type() != "IDAT") {
        const bool profile = chunks.type() == "iCCP";
        // A stream larger than this would inflate past the largest profile.
        if (profile && chunks.length() > largestColourProfile + (1 << 16)) return {};
        std::vector<uint8_t> data;
        const bool read = chunks.read([&](const uint8_t* bytes, std::size_t size) {
            if (profile) data.insert(data.end(), bytes, bytes + size);
            return true;
        });
        if (!read) return {};
        if (!profile) continue;
        const uint8_t* nameEnd = std::find(data.data(), data.data() + data.size(), 0);
        const std::size_t nameLength = static_cast<std::size_t>(nameEnd - data.data());
        // The name, its NUL and the compression method (0: deflate), then the stream.
        if (nameLength < 1 || nameLength > 79 || data.size() - nameLength < 2 || nameEnd[1] != 0) return {};
        return inflated(nameEnd + 2, data.size() - nameLength - 2);
    }
    return {};
}

bool describesSrgb(const ColourProfile& profile)
{
    if (profile.empty()) return true;
    // The header, then the count of tags and 12 bytes for each: its signature, offset and size.
    constexpr std::size_t tagTable = 128;
    if (profile.size() < tagTable + 4) return false;
    const std::size_t tags = std::min<std::size_t>(bigEndian(profile.data() + tagTable), (profile.size() - tagTable - 4) / 12);
    for (std::size_t tag = 0; tag < tags; ++tag) {
        const uint8_t* entry = profile.data() + tagTable + 4 + 12 * tag;
        if (std::memcmp(entry, "desc", 4) != 0) continue;
        const uint32_t offset = bigEndian(entry + 4), size = bigEndian(entry + 8);
        if (offset > profile.size() || size > profile.size() - offset) return false;
        const std::optional<std::vector<std::string>> texts = descriptions(ByteSpan(profile.data() + offset, size));
        return texts && std::all_of(texts->begin(), texts->end(), namesSrgb);
    }
    return false;
}

ColourProfile forRgbOutputs(ColourProfile profile)
{
    // The header's data colour space, at byte 16 of its 128.
    constexpr std::size_t headerSize = 128, colourSpaceAt = 16;
    if (profile.size() < headerSize || std::memcmp(profile.data() + colourSpaceAt, "RGB ", 4) != 0) return {};
    return profile;
}
