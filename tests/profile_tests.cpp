#include "app/dialog_helpers.h"
#include "batch/worker.h"
#include "common/text.h"
#include "pipeline/output.h"
#include "pipeline/jpeg.h"
#include "pipeline/profile.h"
#include "pipeline/source_file.h"
#include "preview/canvas.h"
#include "settings/settings.h"
#include "tests/support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace imaging;

namespace {

using Bytes = std::vector<uint8_t>;

// A stand-in profile of RGB values (a header naming them), then bytes that do not repeat.
Bytes rgbProfileOf(std::size_t size)
{
    Bytes profile(size);
    for (std::size_t at = 0; at < size; ++at) profile[at] = static_cast<uint8_t>((at * 2654435761u) >> 13);
    std::memcpy(profile.data() + 16, "RGB ", 4);
    return profile;
}

Bytes bigEndian(uint32_t value) { return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)}; }

// An APP2 "ICC_PROFILE" segment: chunk `number` of `count`, holding `data`; `extraLength` is
// added to the length it states.
Bytes iccSegment(int number, int count, const Bytes& data, int extraLength = 0)
{
    const std::size_t length = 2 + 14 + data.size() + extraLength;
    Bytes segment = {0xFF, 0xE2, uint8_t(length >> 8), uint8_t(length)};
    for (const char letter : std::string_view("ICC_PROFILE\0", 12)) segment.push_back(static_cast<uint8_t>(letter));
    segment.push_back(static_cast<uint8_t>(number));
    segment.push_back(static_cast<uint8_t>(count));
    segment.insert(segment.end(), data.begin(), data.end());
    return segment;
}

// A JPEG's opening: its start-of-image marker, the segments, and a frame header that ends them.
Bytes jpegWith(const std::vector<Bytes>& segments)
{
    Bytes file = {0xFF, 0xD8};
    for (const Bytes& segment : segments) file.insert(file.end(), segment.begin(), segment.end());
    const Bytes frame = {0xFF, 0xC0, 0x00, 0x0B, 8, 0, 1, 0, 1, 1, 1, 0x11, 0};
    file.insert(file.end(), frame.begin(), frame.end());
    return file;
}

Bytes pngChunk(const char* type, const Bytes& data)
{
    Bytes chunk = bigEndian(static_cast<uint32_t>(data.size()));
    for (const char letter : std::string_view(type, 4)) chunk.push_back(static_cast<uint8_t>(letter));
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    const Bytes crcBytes = bigEndian(static_cast<uint32_t>(crc));
    chunk.insert(chunk.end(), crcBytes.begin(), crcBytes.end());
    return chunk;
}

// A PNG's chunks up to IDAT with an iCCP chunk of `compressed` (a zlib stream) after the header.
Bytes pngWith(const Bytes& compressed)
{
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const Bytes header = {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0};
    Bytes iccp = {'s', 'R', 'G', 'B', 0, 0};
    iccp.insert(iccp.end(), compressed.begin(), compressed.end());
    for (const Bytes& chunk : {pngChunk("IHDR", header), pngChunk("iCCP", iccp), pngChunk("IDAT", {}), pngChunk("IEND", {})})
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

Bytes compressed(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

}  // namespace

TEST(ColourProfile, MalformedProfilesAreNoProfile)
{
    const Bytes first(100, 0x11), second(50, 0x22);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    Bytes cutStream = compressed(joined);
    cutStream.resize(cutStream.size() / 2);
    struct Row {
        const char* name;
        Bytes file;
        Bytes expected;
    };
    const Row rows[] = {
        {"jpeg, two chunks stored out of order", jpegWith({iccSegment(2, 2, second), iccSegment(1, 2, first)}), joined},
        {"jpeg, a chunk missing", jpegWith({iccSegment(1, 2, first)}), {}},
        {"jpeg, a chunk repeated", jpegWith({iccSegment(1, 2, first), iccSegment(1, 2, first), iccSegment(2, 2, second)}), {}},
        {"jpeg, counts that differ", jpegWith({iccSegment(1, 2, first), iccSegment(2, 3, second)}), {}},
        {"jpeg, a count of 0", jpegWith({iccSegment(0, 0, first)}), {}},
        {"jpeg, a length past the file", jpegWith({iccSegment(1, 1, first, 5000)}), {}},
        {"png, whole", pngWith(compressed(joined)), joined},
        {"png, a stream that does not inflate", pngWith(cutStream), {}},
        {"png, larger than 16 MB inflated", pngWith(compressed(Bytes(largestColourProfile + 1, 0))), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes found = row.file[0] == 0xFF ? jpegColourProfile(row.file) : pngColourProfile(row.file);
        EXPECT_EQ(found, row.expected);
    }
}

TEST(ColourProfile, ConversionsCarryTheSourcesProfile)
{
    TempDir directory;
    TestDialog dialog;
    startImaging(dialogWindow());
    // Nine APP2 chunks' worth.
    const Bytes profile = rgbProfileOf(557536);
    Bytes inks = profile;
    std::memcpy(inks.data() + 16, "CMYK", 4);
    GdiBitmap picture;
    makeSolidBitmap(picture, 64, 48, 0xFF336699);
    const std::string inksSource = directory.file("inks.jpg");
    ASSERT_TRUE(writeJpeg(picture.get(), inksSource.c_str(), inks));
    const std::string jpegSource = directory.file("tagged.jpg");
    ASSERT_TRUE(writeJpeg(picture.get(), jpegSource.c_str(), profile));
    const std::string pngSource = directory.file("tagged.png");
    ASSERT_TRUE(saveImage(picture.get(), pngSource.c_str(), "png", profile));

    struct Row {
        const std::string& source;
        const char* subtype;
        int keepSourceSize;
    };
    for (const Row& row : {Row{jpegSource, "jpeg", 1}, Row{jpegSource, "png", 1}, Row{jpegSource, "jpeg", 0},
                           Row{jpegSource, "png", 0}, Row{pngSource, "jpeg", 1}, Row{pngSource, "png", 0}}) {
        const std::string output = directory.file(std::string("out.") + row.subtype);
        SCOPED_TRACE(row.source + " to " + row.subtype + (row.keepSourceSize ? ", size kept" : ", fixed size"));
        resetDefaults();
        setKeepSourceSize(row.keepSourceSize);
        ASSERT_TRUE(processFile(row.source.c_str(), output.c_str(), row.subtype, false, copySettings()));
        EXPECT_EQ(openSource(output.c_str()).facts.colourProfile, profile);
        GdiBitmap written;
        EXPECT_EQ(GdipCreateBitmapFromFile(toWide(output.c_str()), written.receive()), Ok);
    }
    // A profile of other values than the output's RGB ones would misdescribe them.
    ASSERT_TRUE(processFile(inksSource.c_str(), directory.file("inks.png").c_str(), "png", false, copySettings()));
    EXPECT_TRUE(openSource(directory.file("inks.png").c_str()).facts.colourProfile.empty());
    EXPECT_EQ(jpegColourProfile(FileView(inksSource.c_str())), inks);
    stopImaging();
}
