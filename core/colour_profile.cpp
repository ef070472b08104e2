#include "core/colour_profile.h"

#include "core/jpeg_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
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
    const auto pngChunks = std::make_unique<PngChunks>(png);
    PngChunks& chunks = *pngChunks;
    if (!readsPngSignature(png) || !chunks.next() || chunks.type() != "IHDR") return false;
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
    std::vector<uint8_t> iccp;
    appendBigEndian(iccp, static_cast<uint32_t>(data.size()));
    iccp.insert(iccp.end(), {'i', 'C', 'C', 'P'});
    iccp.insert(iccp.end(), data.begin(), data.end());
    appendBigEndian(iccp, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), iccp.data() + 4,
                                                       static_cast<uInt>(iccp.size() - 4))));

    const auto copied = [&] { return output(chunks.header(), 8) && chunks.read(output) && output(chunks.crc(), 4); };
    if (!output(reinterpret_cast<const uint8_t*>(pngSignature.data()), pngSignature.size()) || !copied() ||
        !output(iccp.data(), iccp.size()))
        return false;
    while (chunks.next()) {
        const bool dropped = chunks.type() == "iCCP" || chunks.type() == "sRGB";
        if (!(dropped ? chunks.read([](const uint8_t*, std::size_t) { return true; }) : copied())) return false;
        if (chunks.type() == "IEND") return true;
    }
    return false;
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

ColourProfile forRgbOutputs(ColourProfile profile)
{
    // The header's data colour space, at byte 16 of its 128.
    constexpr std::size_t headerSize = 128, colourSpaceAt = 16;
    if (profile.size() < headerSize || std::memcmp(profile.data() + colourSpaceAt, "RGB ", 4) != 0) return {};
    return profile;
}
