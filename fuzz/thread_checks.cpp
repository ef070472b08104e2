// The core's threaded paths, run under ThreadSanitizer: the split decoding, the band streams, work
// given up while others wait for it, the resampling spread over processors and the memory pool. Each result is also compared with the
// same work done on one thread. Exits non-zero on any difference; TSan ends it on any race.
#include <cstdio>

#include <jpeglib.h>

#include "common/joined_thread.h"
#include "common/pooled_memory.h"
#include "common/task_line.h"
#include "core/band_stream.h"
#include "core/cut_blocks.h"
#include "core/resample.h"
#include "tests/pictures.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

int failures = 0;

void check(bool passed, const char* what)
{
    std::printf("%s: %s\n", passed ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!passed) ++failures;
}

// Every row at full size, as the band stream decodes them; empty when the decoding fails.
std::vector<uint8_t> plainRows(const Bytes& file)
{
    JpegRowReader reader(file);
    const ImageSize size = reader.size();
    std::vector<uint8_t> rows(static_cast<std::size_t>(size.width) * 3 * size.height);
    if (!reader.read(rows.data(), size.width * 3, size.height) || !reader.finish()) rows.clear();
    return rows;
}

void splitDecodings(const Bytes& file, const char* what)
{
    for (int run = 0; run < 3; ++run) {
        JpegRowReader plain(file, 8, true), split(file, 8, true);
        const ImageSize picture = plain.pictureSize(), size = plain.size();
        const PixelArea columns{picture.width * 3 / 4 - 5, 0, 10, picture.height - 20};
        const PixelArea rows{0, picture.height * 3 / 4 - 5, picture.width - 20, 10};
        CutBlocks plainBlocks, splitBlocks;
        const bool kept =
            plain.keepCutBlocks(plainBlocks, columns, rows) && split.keepCutBlocks(splitBlocks, columns, rows);
        const int stride = size.width * 3;
        std::vector<uint8_t> expected(static_cast<std::size_t>(stride) * size.height), got(expected.size());
        const bool read = plain.read(expected.data(), stride, size.height) && plain.finish();
        const bool splitRead = kept && split.readSplit(got.data(), stride, &splitBlocks);
        check(read && splitRead && got == expected && cutPixels(splitBlocks, 0).pixels == cutPixels(plainBlocks, 0).pixels &&
                  cutPixels(splitBlocks, 1).pixels == cutPixels(plainBlocks, 1).pixels,
              what);
    }
}

// Every band copied into one picture, 3 bytes a pixel.
struct PictureSink : BandSink {
    explicit PictureSink(ImageSize size) : stride(static_cast<std::size_t>(size.width) * 3), pixels(stride * size.height) {}
    bool take(const PixelRows& band, int firstRow) override
    {
        for (int y = 0; y < band.height; ++y) std::memcpy(&pixels[stride * (firstRow + y)], band.row(y), stride);
        return true;
    }

    std::size_t stride;
    std::vector<uint8_t> pixels;
};

// Files streamed one after another on one line, as a conversion does: each next stream is made
// before the one before it is written, so its decoding begins while that one's last bands are
// taken; one made ahead is dropped unwritten, as when the settings change before its turn.
void streamedBands(const Bytes& file)
{
    const std::vector<uint8_t> expected = plainRows(file);
    const ImageSize size = JpegRowReader(file).size();
    std::vector<uint8_t> firstReduction;
    bool same = true;
    TaskLine line;
    auto next = std::make_unique<BandStream>(file, size, ImageSize{160, 120}, std::nullopt, line);
    for (int run = 0; run < 3; ++run) {
        std::unique_ptr<BandStream> current = std::move(next);
        next = std::make_unique<BandStream>(file, size, ImageSize{160, 120}, std::nullopt, line);
        if (run == 1) next = std::make_unique<BandStream>(file, size, ImageSize{160, 120}, std::nullopt, line);
        PictureSink sink(size);
        const StreamedBands streamed = current->writeTo(sink);
        const std::optional<BoxReduction> reduction = current->takeReduction();
        if (run == 0 && reduction) firstReduction = reduction->pixels();
        same = same && streamed.taken && streamed.decoding == Outcome::done && sink.pixels == expected && reduction &&
               reduction->pixels() == firstReduction;
    }
    check(same, "bands streamed file after file on one line are the plain decoding's rows");
}

// Work that is given up, on the thread that decodes or while another waits for its bands: it
// says so once it has been asked `asks` times, well into the decoding.
struct GivingUp {
    explicit GivingUp(int asks) : asksLeft(asks) {}
    bool operator()() { return --asksLeft < 0; }
    std::atomic<int> asksLeft;
};

void givenUpWork()
{
    // Its first rows come only once all 400 scans are read: a long wait for the writer.
    const Bytes file = scanHeavyJpeg(512, 512, 400);
    std::vector<uint8_t> pixels;
    const auto into = [&](ImageSize size, PixelLayout layout) {
        const int bytesPerPixel = bytesPerPixelOf(layout);
        pixels.assign(static_cast<std::size_t>(size.width) * bytesPerPixel * size.height, 0);
        return PixelRows{pixels.data(), size.width * bytesPerPixel, size.width, size.height, bytesPerPixel};
    };
    auto asks = std::make_shared<GivingUp>(1000);
    const Cancellation cancellation([asks] { return (*asks)(); });
    check(decodeJpegPixels(file, jpegHeader(file), {}, into, cancellation) == Outcome::cancelled,
          "a decoding cancelled among its scans ends as cancelled");

    TaskLine line;
    auto streamAsks = std::make_shared<GivingUp>(1000);
    BandStream stream(file, {512, 512}, {160, 120}, std::nullopt, line, [streamAsks] { return (*streamAsks)(); });
    PictureSink sink({512, 512});
    check(stream.writeTo(sink).decoding == Outcome::cancelled,
          "a stream given up on its line while its writer waits for a band ends, as given up");
}

void spreadResampling()
{
    constexpr int width = 2000, height = 1500;
    std::vector<uint8_t> source(static_cast<std::size_t>(width) * 3 * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                source[(static_cast<std::size_t>(y) * width + x) * 3 + c] = photoSample(x, y, c, width, height);
    const PixelRows rows{source.data(), width * 3, width, height, 3};

    ColourGains gains;
    gains.gain[1] = 1.3f;
    gains.offset[2] = -20.0f;
    std::vector<uint8_t> spread(source.size()), alone(source.size());
    resampleRegion(rows, width, height, {spread.data(), width * 3, width, height, 3}, TargetAlpha::straight, gains);
    copyThroughGains(rows, {alone.data(), width * 3, width, height, 3}, gains);
    check(spread == alone, "a copy through the gains spread over threads is the one made on one thread");

    // Halved: each target pixel the mean of its 2 x 2 source pixels.
    constexpr int halfWidth = width / 2, halfHeight = height / 2;
    std::vector<uint8_t> halved(static_cast<std::size_t>(halfWidth) * 4 * halfHeight);
    resampleRegion(rows, width, height, {halved.data(), halfWidth * 4, halfWidth, halfHeight, 4});
    bool means = true;
    for (int y = 0; y < halfHeight && means; ++y)
        for (int x = 0; x < halfWidth; ++x) {
            const uint8_t* out = &halved[(static_cast<std::size_t>(y) * halfWidth + x) * 4];
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        sum += source[(static_cast<std::size_t>(2 * y + dy) * width + 2 * x + dx) * 3 + c];
                means = means && std::abs(out[c] * 4 - sum) <= 4 && out[3] == 0xFF;
            }
        }
    check(means, "a picture halved over threads holds the means of its 2 x 2 pixels");
}

void pooledMemory()
{
    std::atomic<int> running{2};
    std::atomic<bool> wrong{false};
    const auto use = [&](uint8_t own) {
        std::vector<uint8_t> expected(std::size_t{1} << 20, own);
        for (int round = 0; round < 400; ++round) {
            const std::size_t bytes = (std::size_t{1} + (round * 7 + own) % 16) << 16;
            const bool zeroed = round % 3 == 0;
            PooledMemory memory(bytes, zeroed ? PooledMemory::Contents::zeroed : PooledMemory::Contents::unspecified);
            if (!memory) {
                wrong = true;
                continue;
            }
            if (zeroed && std::count(memory.data(), memory.data() + bytes, uint8_t{0}) != static_cast<std::ptrdiff_t>(bytes))
                wrong = true;
            std::memset(memory.data(), own, bytes);
            std::this_thread::yield();
            if (std::memcmp(memory.data(), expected.data(), bytes) != 0) wrong = true;
        }
        --running;
    };
    {
        JoinedThread first([&] { use(0x5A); }), second([&] { use(0xC3); });
        JoinedThread releasing([&] {
            while (running > 0) {
                releaseKeptMemory(std::size_t{1} << 20);
                std::this_thread::yield();
            }
        });
        first.join();
        second.join();
        releasing.join();
    }
    releaseKeptMemory();
    check(!wrong, "pooled blocks used by two threads, released by a third, hold only their own bytes");
}

}  // namespace

int main()
{
    Encoding full, half;
    for (Encoding* encoding : {&full, &half}) {
        encoding->quality = 100;
        encoding->grain = 6;
    }
    half.halfChroma = true;
    splitDecodings(encodePicture(1030, 1024, full), "a 4:4:4 scan decoded on two threads is libjpeg's, cut blocks too");
    const Bytes twoMegapixels = encodePicture(2056, 1036, half);
    splitDecodings(twoMegapixels, "a 4:2:0 scan decoded on two threads is libjpeg's, cut blocks too");
    streamedBands(twoMegapixels);
    givenUpWork();
    spreadResampling();
    pooledMemory();
    std::printf("thread checks: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
