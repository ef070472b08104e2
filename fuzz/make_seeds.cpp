// Writes the seed corpora of the fuzz targets into OUT/<target>/: photo-like JPEGs of every kind
// of encoding the decoders take, Exif and ICC segments, PNGs with profiles, WebPs, and files of
// each kind cut short or declaring far more than they hold. Each further FILE (a
// JPEG or a PNG, such as the test pictures of libjpeg-turbo and libpng) is added to the targets
// that read its kind.
// usage: make_seeds OUT [FILE...]
#include "tests/pictures.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path out;

void write(const char* target, const std::string& name, const Bytes& bytes)
{
    const fs::path folder = out / target;
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<std::streamsize>(bytes.size()));
}

// fuzz_jpeg_decode reads its scale and kept region from two bytes after the file.
Bytes withChoice(Bytes file, int scale, int sides, uint8_t place)
{
    const int scaleBits = scale == 8 ? 3 : scale == 4 ? 2 : scale == 2 ? 1 : 0;
    file.push_back(static_cast<uint8_t>(scaleBits | sides << 2 | 5 << 4));
    file.push_back(place);
    return file;
}

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes cut(const Bytes& file, std::size_t size)
{
    return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(size, file.size())));
}

// What a decoder must refuse quickly and cleanly: files cut at every stage, a header declaring far
// more than its data holds, and a progressive file whose scans each cost a pass over every block.
void hostileJpegSeeds()
{
    Encoding half, progressive;
    half.halfChroma = true;
    progressive.progressive = progressive.halfChroma = true;
    const Bytes baseline = encodePicture(97, 100, half), layers = encodePicture(97, 100, progressive);
    const std::size_t scan = scanStarts(baseline).at(0);
    const std::size_t data = scan + 2 + (static_cast<std::size_t>(baseline[scan + 2]) << 8 | baseline[scan + 3]);
    const std::size_t end = baseline.size() - 2;
    const std::vector<std::size_t> layerScans = scanStarts(layers);
    const std::pair<std::string, Bytes> files[] = {
        {"cut-in-headers", cut(baseline, scan / 2)},
        {"cut-after-scan-header", cut(baseline, data)},
        {"cut-in-first-bytes-of-scan", cut(baseline, data + 16)},
        {"cut-mid-scan", cut(baseline, (data + end) / 2)},
        {"cut-in-last-mcu", cut(baseline, end - 3)},
        {"no-end-marker", cut(baseline, end)},
        {"progressive-cut-between-scans", cut(layers, layerScans.at(layerScans.size() / 2))},
        {"progressive-cut-in-last-scan", cut(layers, (layerScans.back() + layers.size()) / 2)},
        {"declared-65500x65500", withDeclaredSize(encodePicture(64, 48), 65500, 65500)},
        {"declared-1600x1200", withDeclaredSize(encodePicture(64, 48), 1600, 1200)},
        {"scans-301-64x48", scanHeavyJpeg(64, 48, 300)},
        {"scans-521-32x32", scanHeavyJpeg(32, 32, 520)},
    };
    int turn = 0;
    for (const auto& [name, file] : files) {
        const int scale = 1 << (turn % 4);
        write("fuzz_jpeg_decode", name + "-at-" + std::to_string(scale) + ".jpg",
              withChoice(file, scale, turn % 3 + 1, static_cast<uint8_t>(60 + 15 * turn)));
        write("fuzz_stream", name + ".jpg", file);
        ++turn;
    }
    write("fuzz_segments", "cut-in-headers.jpg", cut(baseline, scan / 2));
    write("fuzz_segments", "declared-65500x65500.jpg", withDeclaredSize(encodePicture(64, 48), 65500, 65500));
}

void jpegSeeds()
{
    Encoding full, half, grey, progressive, restarts, arithmetic, cmyk, ycck, lumaBelow;
    half.halfChroma = true;
    grey.input = grey.stored = Space::grey;
    progressive.progressive = progressive.halfChroma = true;
    restarts.restartRows = 1;
    arithmetic.arithmetic = true;
    cmyk.input = cmyk.stored = Space::cmyk;
    ycck.input = Space::cmyk;
    ycck.stored = Space::ycck;
    lumaBelow.lumaBelowChroma = true;
    const std::pair<const char*, Encoding> kinds[] = {
        {"444", full},           {"420", half},   {"grey", grey}, {"progressive", progressive},
        {"restarts", restarts}, {"arithmetic", arithmetic}, {"cmyk", cmyk},         {"ycck", ycck},
        {"luma-below-chroma", lumaBelow}};
    int turn = 0;
    for (const auto& [name, encoding] : kinds) {
        const Bytes small = encodePicture(61, 47, encoding);
        const int scale = 1 << (turn % 4);
        write("fuzz_jpeg_decode", std::string(name) + "-61x47-at-" + std::to_string(scale) + ".jpg",
              withChoice(small, scale, 3, static_cast<uint8_t>(90 + 20 * turn)));
        write("fuzz_stream", std::string(name) + "-97x100.jpg", encodePicture(97, 100, encoding));
        ++turn;
    }
    write("fuzz_stream", "444-40x33.jpg", encodePicture(40, 33, full));

    // Just over the split decoding's 8192 MCUs, smooth enough to stay small.
    Encoding splitFull, splitHalf, splitGrey;
    for (Encoding* encoding : {&splitFull, &splitHalf, &splitGrey}) {
        encoding->quality = 40;
        encoding->grain = 1;
    }
    splitHalf.halfChroma = true;
    splitGrey.input = splitGrey.stored = Space::grey;
    const Bytes colours = encodePicture(1030, 520, splitFull), greys = encodePicture(1030, 520, splitGrey);
    write("fuzz_jpeg_decode", "split-444-1030x520-at-8.jpg", withChoice(colours, 8, 3, 180));
    write("fuzz_jpeg_decode", "split-444-1030x520-at-4.jpg", withChoice(colours, 4, 1, 77));
    write("fuzz_jpeg_decode", "split-grey-1030x520-at-8.jpg", withChoice(greys, 8, 2, 33));
    write("fuzz_jpeg_decode", "split-grey-1030x520-at-4.jpg", withChoice(greys, 4, 3, 140));
    write("fuzz_jpeg_decode", "split-420-2056x1036-at-8.jpg", withChoice(encodePicture(2056, 1036, splitHalf), 8, 0, 0));
}

void segmentSeeds()
{
    const Bytes tiny = encodePicture(16, 16);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        OrientationExif block;
        block.orientation = static_cast<uint16_t>(orientation);
        block.bigEndian = orientation % 2 == 0;
        const Bytes contents = exifContents(block);
        write("fuzz_exif", "orientation-" + std::to_string(orientation) + ".exif", contents);
        if (orientation % 3 == 1)
            write("fuzz_segments", "exif-" + std::to_string(orientation) + ".jpg",
                  withSegments(tiny, {jpegSegment(0xE1, contents)}));
    }
    OrientationExif later, none, twice;
    later.directoryOffset = 40;
    none.entries = 0;
    twice.valueCount = 2;
    write("fuzz_exif", "directory-past-the-end.exif", exifContents(later));
    write("fuzz_exif", "no-entries.exif", exifContents(none));
    write("fuzz_exif", "two-values.exif", exifContents(twice));

    const Bytes profile = rgbProfileOf(300);
    const Bytes part1(profile.begin(), profile.begin() + 100), part2(profile.begin() + 100, profile.begin() + 200),
        part3(profile.begin() + 200, profile.end());
    write("fuzz_segments", "icc-one-chunk.jpg", withSegments(tiny, {jpegSegment(0xE2, iccContents(1, 1, profile))}));
    write("fuzz_segments", "icc-three-chunks-shuffled.jpg",
          withSegments(tiny, {jpegSegment(0xE2, iccContents(2, 3, part2)), jpegSegment(0xE1, exifContents({})),
                              jpegSegment(0xE2, iccContents(3, 3, part3)), jpegSegment(0xE2, iccContents(1, 3, part1))}));
    Bytes grey = rgbProfileOf(200);
    grey[16] = 'G', grey[17] = 'R', grey[18] = 'A', grey[19] = 'Y';
    write("fuzz_segments", "icc-grey.jpg", withSegments(tiny, {jpegSegment(0xE2, iccContents(1, 1, grey))}));
    write("fuzz_segments", "segment-longer-than-file.jpg", withSegments(tiny, {jpegSegment(0xE1, exifContents({}), 4000)}));

    const Bytes png = pngWithProfileStream(zlibCompressed(profile));
    write("fuzz_png", "iccp-rgb.png", png);
    write("fuzz_png", "iccp-grey.png", pngWithProfileStream(zlibCompressed(grey)));
    Bytes cutStream = zlibCompressed(profile);
    cutStream.resize(cutStream.size() / 2);
    write("fuzz_png", "iccp-cut-stream.png", pngWithProfileStream(cutStream));
    write("fuzz_segments", "iccp-rgb.png", png);
}

Bytes withExifSignature(const Bytes& tiff)
{
    Bytes contents = {'E', 'x', 'i', 'f', 0, 0};
    contents.insert(contents.end(), tiff.begin(), tiff.end());
    return contents;
}

// A camera's block in both byte orders, with its pointers looped, mistyped, cut short and behind
// an APP1 segment's signature; and in a JPEG, a PNG and a WebP as sources hold it.
void carrySeeds()
{
    const Bytes little = cameraTiff({}), big = cameraTiff({true, false, false});
    write("fuzz_exif_carry", "camera-le.tiff", little);
    write("fuzz_exif_carry", "camera-be.tiff", big);
    write("fuzz_exif_carry", "camera-looped-be.tiff", cameraTiff({true, true, false}));
    write("fuzz_exif_carry", "camera-mistyped-le.tiff", cameraTiff({false, false, true}));
    write("fuzz_exif_carry", "camera-cut-in-exif-ifd.tiff", cut(little, 400));
    write("fuzz_exif_carry", "camera-after-signature.exif", withExifSignature(little));
    Bytes orientation = exifContents({});
    orientation.erase(orientation.begin(), orientation.begin() + 6);
    write("fuzz_exif_carry", "orientation-only.tiff", orientation);

    const Bytes tiny = encodePicture(16, 16);
    const Bytes photo = withSegments(tiny, {jpegSegment(0xE1, withExifSignature(big))});
    write("fuzz_segments", "exif-camera.jpg", photo);
    write("fuzz_stream", "exif-camera.jpg", photo);
    Bytes png = pngWithProfileStream(zlibCompressed(rgbProfileOf(300)));
    const Bytes exifChunk = pngChunk("eXIf", little);
    png.insert(png.end() - 24, exifChunk.begin(), exifChunk.end());  // before its empty IDAT and IEND
    write("fuzz_segments", "exif-camera.png", png);
    write("fuzz_png", "exif-camera.png", png);
    write("fuzz_segments", "exif-camera.webp",
          webpWithChunks(encodeWebpPicture(24, 20, false), withExifSignature(big), {}));
}

// Two frames of 16 x 12, the second moved and half clear, as an animation libwebp assembles.
Bytes animation()
{
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) return {};
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(16, 12, &options);
    if (encoder == nullptr) return {};
    for (int frame = 0; frame < 2; ++frame) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = 16;
        picture.height = 12;
        picture.use_argb = 1;
        if (!WebPPictureAlloc(&picture)) break;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                picture.argb[y * picture.argb_stride + x] =
                    (frame == 1 && x > 8 ? 0x40000000u : 0xFF000000u) | static_cast<uint32_t>(x * 16 + frame * 100) << 16 |
                    static_cast<uint32_t>(y * 20) << 8;
        WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config);
        WebPPictureFree(&picture);
    }
    WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr);
    WebPData assembled;
    WebPDataInit(&assembled);
    Bytes result;
    if (WebPAnimEncoderAssemble(encoder, &assembled)) result.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);
    return result;
}

void webpSeeds()
{
    Bytes turned = exifContents(OrientationExif{});
    turned.erase(turned.begin(), turned.begin() + 6);
    write("fuzz_webp", "lossy-40x33.webp", encodeWebpPicture(40, 33, false));
    write("fuzz_webp", "lossless-alpha-40x33.webp", encodeWebpPicture(40, 33, true));
    const Bytes withFacts = webpWithChunks(encodeWebpPicture(24, 20, false), turned, rgbProfileOf(300));
    write("fuzz_webp", "exif-iccp-24x20.webp", withFacts);
    write("fuzz_segments", "exif-iccp-24x20.webp", withFacts);
    write("fuzz_webp", "animation-16x12.webp", animation());
}

// The canvas a simple container's bitstream declares, as its VP8 frame header or VP8L header
// holds it: 14 bits a side.
Bytes withWebpCanvas(Bytes webp, int width, int height)
{
    constexpr std::size_t bitstream = 20;
    if (webp.size() < bitstream + 10) return webp;
    if (webp[15] == 'L') {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(webp[bitstream + 1 + i]) << (8 * i);
        bits = (bits & ~0x0FFFFFFFu) | static_cast<uint32_t>(width - 1) | static_cast<uint32_t>(height - 1) << 14;
        for (int i = 0; i < 4; ++i) webp[bitstream + 1 + i] = static_cast<uint8_t>(bits >> (8 * i));
    } else {
        for (const auto& [at, side] : {std::pair<std::size_t, int>{bitstream + 6, width}, {bitstream + 8, height}}) {
            webp[at] = static_cast<uint8_t>(side);
            webp[at + 1] = static_cast<uint8_t>(side >> 8 & 0x3F);
        }
    }
    return webp;
}

void hostileWebpSeeds()
{
    const Bytes lossy = encodeWebpPicture(40, 33, false), lossless = encodeWebpPicture(40, 33, true);
    const Bytes withFacts = webpWithChunks(encodeWebpPicture(24, 20, false), {}, rgbProfileOf(300));
    const Bytes frames = animation();
    const std::pair<std::string, Bytes> files[] = {
        {"cut-in-riff-header", cut(lossy, 10)},
        {"cut-after-chunk-header", cut(lossy, 20)},
        {"lossy-cut-mid-bitstream", cut(lossy, lossy.size() / 2)},
        {"lossy-cut-near-end", cut(lossy, lossy.size() - 8)},
        {"lossless-cut-mid-bitstream", cut(lossless, lossless.size() / 2)},
        {"extended-cut-in-iccp", cut(withFacts, 30 + 150)},
        {"animation-cut-in-second-frame", cut(frames, frames.size() - 40)},
        {"lossy-declaring-16383x16383", withWebpCanvas(lossy, 16383, 16383)},
        {"lossless-declaring-16383x16383", withWebpCanvas(lossless, 16383, 16383)},
    };
    for (const auto& [name, file] : files) write("fuzz_webp", name + ".webp", file);
}

void hostilePngSeeds()
{
    const Bytes png = pngWithProfileStream(zlibCompressed(rgbProfileOf(300)));
    constexpr std::size_t iccp = 8 + 25;  // after the signature and the header chunk
    const std::size_t iccpLength = static_cast<std::size_t>(png[iccp + 2]) << 8 | png[iccp + 3];
    const std::pair<std::string, Bytes> files[] = {
        {"cut-in-signature", cut(png, 5)},
        {"cut-in-header-chunk", cut(png, 8 + 14)},
        {"cut-after-iccp-type", cut(png, iccp + 8)},
        {"iccp-chunk-cut-short", cut(png, iccp + 8 + iccpLength / 2)},
        {"cut-in-last-crc", cut(png, png.size() - 2)},
    };
    for (const auto& [name, file] : files) write("fuzz_png", name + ".png", file);
    write("fuzz_segments", "iccp-chunk-cut-short.png", cut(png, iccp + 8 + iccpLength / 2));

    Bytes huge = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const Bytes header = {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 8, 2, 0, 0, 0};
    Bytes iccpData = {'s', 'R', 'G', 'B', 0, 0};
    const Bytes profile = zlibCompressed(rgbProfileOf(300));
    iccpData.insert(iccpData.end(), profile.begin(), profile.end());
    for (const Bytes& chunk : {pngChunk("IHDR", header), pngChunk("iCCP", iccpData), pngChunk("IDAT", zlibCompressed({0, 1, 2})),
                               pngChunk("IEND", {})})
        huge.insert(huge.end(), chunk.begin(), chunk.end());
    write("fuzz_png", "header-2147483647x2147483647.png", huge);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [FILE...]\n", argv[0]);
        return 2;
    }
    out = argv[1];
    jpegSeeds();
    segmentSeeds();
    carrySeeds();
    webpSeeds();
    hostileJpegSeeds();
    hostileWebpSeeds();
    hostilePngSeeds();
    for (int i = 2; i < argc; ++i) {
        const fs::path path = argv[i];
        const Bytes file = readFile(path);
        const std::string name = path.filename().string();
        if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
            write("fuzz_jpeg_decode", name, withChoice(file, 4, 3, 100));
            write("fuzz_stream", name, file);
            write("fuzz_segments", name, file);
        } else if (file.size() >= 8 && file[0] == 0x89 && file[1] == 'P') {
            write("fuzz_png", name, file);
        } else {
            std::fprintf(stderr, "%s: neither a JPEG nor a PNG\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
