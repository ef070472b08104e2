#include "app/dialog_helpers.h"
#include "batch/worker.h"
#include "common/win32/text.h"
#include "core/webp.h"
#include "pipeline/output.h"
#include "pipeline/jpeg.h"
#include "pipeline/profile.h"
#include "pipeline/source_file.h"
#include "preview/canvas.h"
#include "settings/settings.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace imaging;

namespace {

// An APP2 "ICC_PROFILE" segment: chunk `number` of `count`, holding `data`; `extraLength` is
// added to the length it states.
Bytes iccSegment(int number, int count, const Bytes& data, int extraLength = 0)
{
    const Bytes contents = iccContents(number, count, data);
    return jpegSegment(0xE2, contents, contents.size() + 2 + extraLength);
}

// A JPEG's opening: its start-of-image marker, the segments, and a frame header that ends them.
Bytes jpegWith(const std::vector<Bytes>& segments)
{
    return withSegments({0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 8, 0, 1, 0, 1, 1, 1, 0x11, 0}, segments);
}

// A 1 x 1 uncompressed RGB TIFF whose IFD0 holds a camera's make and a date beside the picture's
// own tags.
Bytes taggedTiff()
{
    Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto add16 = [&file](uint32_t value) { file.insert(file.end(), {uint8_t(value), uint8_t(value >> 8)}); };
    const auto add32 = [&](uint32_t value) { add16(value & 0xFFFF), add16(value >> 16); };
    const std::string make = "Inkveil Optical", date = "2024:05:17 14:03:22";
    constexpr uint32_t entries = 11;
    const uint32_t valuesAt = 8 + 2 + entries * 12 + 4;
    const uint32_t makeAt = valuesAt + 6, dateAt = makeAt + static_cast<uint32_t>(make.size() + 1);
    const uint32_t pixelsAt = dateAt + static_cast<uint32_t>(date.size() + 1);
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        add16(tag), add16(type), add32(count), add32(value);
    };
    add16(entries);
    entry(256, 3, 1, 1);                                          // ImageWidth
    entry(257, 3, 1, 1);                                          // ImageLength
    entry(258, 3, 3, valuesAt);                                   // BitsPerSample
    entry(259, 3, 1, 1);                                          // no compression
    entry(262, 3, 1, 2);                                          // RGB
    entry(271, 2, static_cast<uint32_t>(make.size() + 1), makeAt);  // Make
    entry(273, 4, 1, pixelsAt);                                   // StripOffsets
    entry(277, 3, 1, 3);                                          // SamplesPerPixel
    entry(278, 3, 1, 1);                                          // RowsPerStrip
    entry(279, 4, 1, 3);                                          // StripByteCounts
    entry(306, 2, static_cast<uint32_t>(date.size() + 1), dateAt);  // DateTime
    add32(0);
    add16(8), add16(8), add16(8);
    file.insert(file.end(), make.begin(), make.end() + 1);
    file.insert(file.end(), date.begin(), date.end() + 1);
    file.insert(file.end(), {0x33, 0x66, 0x99});
    return file;
}

// The text of an ASCII entry, or the bytes of any other, in a carried block; empty when missing.
std::vector<uint8_t> exifValue(const std::vector<ExifEntry>& entries, ExifDirectory directory, uint16_t tag)
{
    for (const ExifEntry& entry : entries)
        if (entry.directory == directory && entry.tag == tag) return littleEndianValue(entry);
    return {};
}

std::string exifText(const std::vector<ExifEntry>& entries, ExifDirectory directory, uint16_t tag)
{
    const std::vector<uint8_t> bytes = exifValue(entries, directory, tag);
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

}  // namespace

TEST(ColourProfile, MalformedProfilesAreNoProfile)
{
    const Bytes first(100, 0x11), second(50, 0x22);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    Bytes cutStream = zlibCompressed(joined);
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
        {"png, whole", pngWithProfileStream(zlibCompressed(joined)), joined},
        {"png, a stream that does not inflate", pngWithProfileStream(cutStream), {}},
        {"png, larger than 16 MB inflated", pngWithProfileStream(zlibCompressed(Bytes(largestColourProfile + 1, 0))), {}},
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
    ASSERT_EQ(writeJpeg(picture.get(), wideText(inksSource).c_str(), {inks, {}}), Outcome::done);
    const std::string jpegSource = directory.file("tagged.jpg");
    ASSERT_EQ(writeJpeg(picture.get(), wideText(jpegSource).c_str(), {profile, {}}), Outcome::done);
    const std::string pngSource = directory.file("tagged.png");
    ASSERT_EQ(saveImage(picture.get(), wideText(pngSource).c_str(), "png", {profile, {}}), Outcome::done);

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
        ASSERT_EQ(processFile(wideText(row.source).c_str(), wideText(output).c_str(), row.subtype, false, copySettings()), Outcome::done);
        EXPECT_EQ(openSource(wideText(output).c_str()).facts.colourProfile, profile);
        GdiBitmap written;
        EXPECT_EQ(GdipCreateBitmapFromFile(toWide(output.c_str()), written.receive()), Ok);
    }
    // A profile of other values than the output's RGB ones would misdescribe them.
    ASSERT_EQ(processFile(wideText(inksSource).c_str(), wideText(directory.file("inks.png")).c_str(), "png", false, copySettings()),
              Outcome::done);
    EXPECT_TRUE(openSource(wideText(directory.file("inks.png")).c_str()).facts.colourProfile.empty());
    EXPECT_EQ(jpegColourProfile(readFile(inksSource)), inks);
    stopImaging();
}

TEST(Exif, ACameraPhotoKeepsItsDatesAndCameraAndNothingThatLeaksOrMisleads)
{
    TempDir directory;
    TestDialog dialog;
    startImaging(dialogWindow());
    // Stored 64 x 48 and turned by its orientation 6: 48 x 64 as shown and as converted.
    Bytes exif(exifSignature.begin(), exifSignature.end());
    const Bytes tiff = cameraTiff({true});
    exif.insert(exif.end(), tiff.begin(), tiff.end());
    const std::string source = directory.file("camera.jpg");
    writeFile(source, withSegments(encodePicture(64, 48), {jpegSegment(0xE1, exif)}));
    resetDefaults();

    for (const char* subtype : {"jpeg", "png", "webp"}) {
        SCOPED_TRACE(subtype);
        const std::string output = directory.file(std::string("out.") + subtype);
        ASSERT_EQ(processFile(wideText(source).c_str(), wideText(output).c_str(), subtype, false, copySettings()),
                  Outcome::done);
        const Bytes written = readFile(output);
        const ByteSpan block = isJpeg(written) ? jpegExif(written) : isPng(written) ? pngExif(written)
                                                                                  : webpFacts(written).exif;
        const std::vector<ExifEntry> entries = readExifEntries(block);
        const auto value = [&](ExifDirectory directory, uint16_t tag) { return exifValue(entries, directory, tag); };
        const auto text = [&](ExifDirectory directory, uint16_t tag) { return exifText(entries, directory, tag); };
        EXPECT_EQ(text(ExifDirectory::ifd0, 0x010F), "Inkveil Optical");
        EXPECT_EQ(text(ExifDirectory::ifd0, 0x0110), "IV-100");
        EXPECT_EQ(text(ExifDirectory::exif, 0x9003), "2024:05:17 14:03:22");
        EXPECT_EQ(text(ExifDirectory::exif, 0x9004), "2024:05:17 14:03:22");
        EXPECT_EQ(value(ExifDirectory::ifd0, 0x0112), (std::vector<uint8_t>{1, 0}));
        EXPECT_EQ(value(ExifDirectory::exif, 0xA002), (std::vector<uint8_t>{48, 0, 0, 0}));
        EXPECT_EQ(value(ExifDirectory::exif, 0xA003), (std::vector<uint8_t>{64, 0, 0, 0}));
        for (const ExifEntry& entry : entries) {
            EXPECT_TRUE(entry.directory == ExifDirectory::ifd0 || entry.directory == ExifDirectory::exif)
                << "an entry of the GPS, Interoperability or thumbnail's IFD: " << entry.tag;
            EXPECT_TRUE(entry.tag != 0x927C && entry.tag != 0xA431 && entry.tag != 0xA435) << entry.tag;
        }
    }

    // A TIFF's tags come as GDI+ lists them.
    const std::string tiffSource = directory.file("camera.tiff");
    writeFile(tiffSource, taggedTiff());
    const std::string output = directory.file("tiff.jpg");
    ASSERT_EQ(processFile(wideText(tiffSource).c_str(), wideText(output).c_str(), "jpeg", false, copySettings()), Outcome::done);
    const std::vector<ExifEntry> entries = readExifEntries(jpegExif(readFile(output)));
    EXPECT_EQ(exifText(entries, ExifDirectory::ifd0, 0x010F), "Inkveil Optical");
    EXPECT_EQ(exifText(entries, ExifDirectory::ifd0, 0x0132), "2024:05:17 14:03:22");
    EXPECT_EQ(exifValue(entries, ExifDirectory::exif, 0xA002), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_TRUE(exifValue(entries, ExifDirectory::ifd0, 0x0100).empty()) << "the TIFF's own ImageWidth";
    stopImaging();
}
