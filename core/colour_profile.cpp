#include "core/colour_profile.h"

#include "core/jpeg_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace {

constexpr std::string_view iccSignature("ICC_PROFILE\0", 12);
constexpr std::size_t chunkFrame = 12;  // length, type and CRC
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

// One chunk of a PNG: its type and data, and where the whole chunk starts and ends.
struct PngChunk {
    std::string_view type;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The chunks after the signature up to and including IEND, each whole and with its CRC right;
// false with what came before when one is not.
bool pngChunks(ByteSpan file, std::vector<PngChunk>& chunks)
{
    if (!isPng(file)) return false;
    std::size_t at = pngSignature.size();
    while (file.size() - at >= chunkFrame) {
        const uint32_t length = bigEndian(file.data() + at);
        if (length > largestChunk || file.size() - at - chunkFrame < length) return false;
        const uint8_t* type = file.data() + at + 4;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), type, static_cast<uInt>(4 + length));
        if (crc != bigEndian(type + 4 + length)) return false;
        const std::size_t begin = at;
        at += chunkFrame + length;
        chunks.push_back({std::string_view(reinterpret_cast<const char*>(type), 4), type + 4, length, begin, at});
        if (chunks.back().type == "IEND") return true;
    }
    return false;
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

std::vector<uint8_t> pngWithColourProfile(ByteSpan png, const ColourProfile& profile)
{
    std::vector<PngChunk> chunks;
    if (!pngChunks(png, chunks) || chunks.front().type != "IHDR") return {};
    std::vector<uint8_t> data(profileName.begin(), profileName.end());
    data.push_back(0);
    data.push_back(0);  // deflate
    uLongf compressedSize = compressBound(static_cast<uLong>(profile.size()));
    const std::size_t compressedStart = data.size();
    data.resize(compressedStart + compressedSize);
    if (compress2(data.data() + compressedStart, &compressedSize, profile.data(), static_cast<uLong>(profile.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return {};
    data.resize(compressedStart + compressedSize);

    std::vector<uint8_t> out(png.data(), png.data() + chunks.front().end);
    appendBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), {'i', 'C', 'C', 'P'});
    out.insert(out.end(), data.begin(), data.end());
    appendBigEndian(out, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), out.data() + typeStart,
                                                      static_cast<uInt>(out.size() - typeStart))));
    for (auto chunk = chunks.begin() + 1; chunk != chunks.end(); ++chunk)
        if (chunk->type != "iCCP" && chunk->type != "sRGB")
            out.insert(out.end(), png.data() + chunk->begin, png.data() + chunk->end);
    return out;
}

ColourProfile jpegColourProfile(ByteSpan file)
{
    const std::vector<ByteSpan> segments = applicationSegments(file, 0xE2, iccSignature);
    // After the signature: the chunk's sequence number and the count of chunks.
    constexpr std::size_t chunkStart = iccSignature.size() + 2;
    if (segments.empty() || segments.front().size() < chunkStart) return {};
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
    std::vector<PngChunk> chunks;
    pngChunks(file, chunks);
    for (const PngChunk& chunk : chunks) {
        if (chunk.type == "IDAT") break;
        if (chunk.type != "iCCP") continue;
        const uint8_t* nameEnd = std::find(chunk.data, chunk.data + chunk.length, 0);
        const std::size_t nameLength = static_cast<std::size_t>(nameEnd - chunk.data);
        // The name, its NUL and the compression method (0: deflate), then the stream.
        if (nameLength < 1 || nameLength > 79 || chunk.length - nameLength < 2 || nameEnd[1] != 0) return {};
        return inflated(nameEnd + 2, chunk.length - nameLength - 2);
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
