// Files made to hurt: cut short in every way a copy or a download is, declaring far more picture
// than they hold, or with more scans than any encoder writes. Each fails with its reason, and
// nothing is written for it.
#include "app/dialog_helpers.h"
#include "batch/worker.h"
#include "common/win32/text.h"
#include "core/colour_profile.h"
#include "core/jpeg_decoder.h"
#include "preview/canvas.h"
#include "settings/settings.h"
#include "tests/pictures.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Hostile : public ::testing::Test {
protected:
    TempDir directory;
    TestDialog dialog;

    void SetUp() override { startImaging(dialogWindow()); }
    void TearDown() override { stopImaging(); }

    // Converts `file` as the per-file job does; nothing is left in the directory when it fails.
    Outcome convert(const Bytes& file, const WatermarkSettings& settings, const char* subtype)
    {
        const std::string source = directory.file("source.jpg"), output = directory.file("output");
        writeFile(source, file);
        const Outcome outcome = processFile(wideText(source).c_str(), wideText(output).c_str(), subtype, false, settings);
        DeleteFileA(source.c_str());
        if (outcome != Outcome::done) {
            EXPECT_EQ(filesIn(directory.path()), std::vector<std::string>{});
        }
        DeleteFileA(output.c_str());
        return outcome;
    }
};

WatermarkSettings keptSize()
{
    WatermarkSettings settings{};
    settings.keepSourceSize = 1;
    settings.fontSize = 12;
    settings.textOpacity = 100;
    std::strcpy(settings.watermarkText, "Inkveil");
    return settings;
}

WatermarkSettings fixedSize(int width, int height)
{
    WatermarkSettings settings = keptSize();
    settings.keepSourceSize = 0;
    settings.targetWidth = width;
    settings.targetHeight = height;
    return settings;
}

// Where a JPEG's entropy-coded data begins: after its (first) scan header.
std::size_t entropyStart(const Bytes& jpeg)
{
    const std::size_t scan = scanStarts(jpeg).at(0);
    return scan + 2 + (static_cast<std::size_t>(jpeg[scan + 2]) << 8 | jpeg[scan + 3]);
}

TEST_F(Hostile, JpegsCutShortFailInEveryRouteWhileWholeDataConvertsWithOrWithoutItsEnd)
{
    Encoding photo;
    photo.quality = 95;
    photo.grain = 20;
    OrientationExif turned;
    turned.orientation = 6;
    // 2048 x 1536 to 160 x 120 decodes at 1/8 on two threads; to 160 x 97 a region whose lower
    // edge cuts through blocks, decoded again at full size.
    const Bytes upright = encodePicture(2048, 1536, photo);
    const Bytes stored = withSegments(upright, {jpegSegment(0xE1, exifContents(turned))});
    struct Route {
        const char* name;
        const Bytes& file;
        WatermarkSettings settings;
        const char* subtype;
    };
    const Route routes[] = {
        {"streamed into a JPEG", upright, keptSize(), "jpeg"},
        {"streamed into a PNG", upright, keptSize(), "png"},
        {"reduced on two threads", upright, fixedSize(160, 120), "jpeg"},
        {"reduced to a region", upright, fixedSize(160, 97), "png"},
        {"decoded whole and turned", stored, keptSize(), "jpeg"},
    };
    struct Cut {
        const char* name;
        std::size_t (*keptBytes)(const Bytes& file);
        Outcome outcome;
    };
    const Cut cuts[] = {
        {"cut right after the scan header", [](const Bytes& file) { return entropyStart(file); }, Outcome::incomplete},
        {"cut at 1 % of its data",
         [](const Bytes& file) { return entropyStart(file) + (file.size() - entropyStart(file)) / 100; },
         Outcome::incomplete},
        {"cut halfway", [](const Bytes& file) { return file.size() / 2; }, Outcome::incomplete},
        {"cut before its last MCU", [](const Bytes& file) { return file.size() - 40; }, Outcome::incomplete},
        {"without its end marker", [](const Bytes& file) { return file.size() - 2; }, Outcome::done},
    };
    for (const Route& route : routes) {
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(std::string(route.name) + ", " + cut.name);
            const Bytes file(route.file.begin(), route.file.begin() + static_cast<std::ptrdiff_t>(cut.keptBytes(route.file)));
            EXPECT_EQ(convert(file, route.settings, route.subtype), cut.outcome);
        }
        SCOPED_TRACE(std::string(route.name) + ", with bytes after its end marker");
        Bytes trailing = route.file;
        trailing.insert(trailing.end(), 300, 0x5A);
        EXPECT_EQ(convert(trailing, route.settings, route.subtype), Outcome::done);
    }
}

TEST_F(Hostile, BombsFailAndWriteNothing)
{
    Bytes webpBomb = encodeWebpPicture(64, 48, false);
    // The VP8 frame header, after "RIFF", the size, "WEBPVP8 ", the chunk size and the frame tag:
    // the start code, then 14 bits of width and of height.
    ASSERT_EQ(webpBomb[23], 0x9D);
    for (const std::size_t at : {26u, 28u}) {
        webpBomb[at] = 0xFF;
        webpBomb[at + 1] = 0x3F;
    }
    Bytes pngBomb(pngSignature.begin(), pngSignature.end());
    const Bytes header = {0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30, 8, 2, 0, 0, 0};  // 30000 x 30000 RGB
    for (const Bytes& chunk : {pngChunk("IHDR", header), pngChunk("IDAT", zlibCompressed(Bytes(3000, 0))),
                               pngChunk("IEND", {})})
        pngBomb.insert(pngBomb.end(), chunk.begin(), chunk.end());
    Encoding progressive, arithmetic;
    progressive.progressive = arithmetic.arithmetic = true;
    const Bytes progressiveFile = encodePicture(64, 48, progressive);
    // Its first scan's data cut to a few bytes, up to the next scan's header.
    const std::vector<std::size_t> scans = scanStarts(progressiveFile);
    Bytes scanCutShort(progressiveFile.begin(), progressiveFile.begin() + static_cast<std::ptrdiff_t>(scans[0]) + 20);
    scanCutShort.insert(scanCutShort.end(), progressiveFile.begin() + static_cast<std::ptrdiff_t>(scans[1]),
                        progressiveFile.end());
    struct Row {
        const char* name;
        Bytes file;
        WatermarkSettings settings;
        Outcome outcome;  // `done`: any failure, as memory allows
    };
    // One scan short of the limit decodes; past it, the file is taken for damaged.
    const Row rows[] = {
        {"a progressive JPEG of more scans than any encoder writes", scanHeavyJpeg(256, 256, mostJpegScans),
         keptSize(), Outcome::damaged},
        {"the same for a fixed size", scanHeavyJpeg(256, 256, mostJpegScans), fixedSize(64, 64), Outcome::damaged},
        {"a JPEG declaring 65500 x 65500 over a few hundred bytes", withDeclaredSize(encodePicture(64, 48), 65500, 65500),
         keptSize(), Outcome::incomplete},
        {"the same for a fixed size", withDeclaredSize(encodePicture(64, 48), 65500, 65500), fixedSize(160, 120),
         Outcome::incomplete},
        {"an arithmetic-coded JPEG declaring 30000 x 30000", withDeclaredSize(encodePicture(64, 48, arithmetic), 30000, 30000),
         keptSize(), Outcome::incomplete},
        {"a progressive JPEG declaring 10000 x 10000, its first scan's data ending at the next scan",
         withDeclaredSize(progressiveFile, 10000, 10000), keptSize(), Outcome::damaged},
        {"a progressive JPEG declaring 65500 x 65500, past the coefficients libjpeg may hold",
         withDeclaredSize(progressiveFile, 65500, 65500), keptSize(), Outcome::tooLarge},
        {"a progressive JPEG whose first scan the next one's header cuts short", scanCutShort, keptSize(),
         Outcome::damaged},
        {"a WebP declaring 16383 x 16383 over a few hundred bytes", webpBomb, keptSize(), Outcome::done},
        {"a PNG declaring 30000 x 30000 over a few bytes", pngBomb, keptSize(), Outcome::done},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome outcome = convert(row.file, row.settings, "jpeg");
        EXPECT_NE(outcome, Outcome::done);
        if (row.outcome != Outcome::done) {
            EXPECT_EQ(outcome, row.outcome);
        }
    }
    EXPECT_EQ(convert(scanHeavyJpeg(256, 256, mostJpegScans - 1), keptSize(), "jpeg"), Outcome::done);
}

}  // namespace
