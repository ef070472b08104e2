#include "tests/pictures.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdio>

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

J_COLOR_SPACE libjpegSpace(Space space)
{
    switch (space) {
    case Space::grey: return JCS_GRAYSCALE;
    case Space::cmyk: return JCS_CMYK;
    case Space::ycbcr: return JCS_YCbCr;
    case Space::ycck: return JCS_YCCK;
    default: return JCS_EXT_BGR;
    }
}

int componentsOf(Space space) { return space == Space::grey ? 1 : space == Space::cmyk || space == Space::ycck ? 4 : 3; }

// A libjpeg compressor into memory, with its defaults for pictures of `components` in `space`.
struct MemoryCompressor {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;

    MemoryCompressor(int width, int height, Space space)
    {
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = static_cast<JDIMENSION>(width);
        info.image_height = static_cast<JDIMENSION>(height);
        info.input_components = componentsOf(space);
        info.in_color_space = libjpegSpace(space);
        jpeg_set_defaults(&info);
    }
    ~MemoryCompressor()
    {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
    MemoryCompressor(const MemoryCompressor&) = delete;
    MemoryCompressor& operator=(const MemoryCompressor&) = delete;

    Bytes finish()
    {
        jpeg_finish_compress(&info);
        return Bytes(buffer, buffer + size);
    }
};

void put16(Bytes& bytes, uint16_t value, bool bigEndian)
{
    bytes.push_back(static_cast<uint8_t>(bigEndian ? value >> 8 : value));
    bytes.push_back(static_cast<uint8_t>(bigEndian ? value : value >> 8));
}

void put32(Bytes& bytes, uint32_t value, bool bigEndian)
{
    put16(bytes, static_cast<uint16_t>(bigEndian ? value >> 16 : value), bigEndian);
    put16(bytes, static_cast<uint16_t>(bigEndian ? value : value >> 16), bigEndian);
}

}  // namespace

uint8_t photoSample(int x, int y, int component, int width, int height, int grain)
{
    const double dx = x - width * 0.6, dy = y - height * 0.4;
    const bool disc = dx * dx + dy * dy < height * height * 0.04;
    const bool block = x > width / 8 && x < width / 3 && y > height / 2;
    // As smooth at every size as across 64 x 48 pixels.
    const double u = x * 64.0 / width, v = y * 48.0 / height;
    const double shading[] = {100 + 60 * std::sin(u / 9.0), 120 + 50 * std::cos(v / 7.0),
                              140 + 40 * std::sin((u + v) / 11.0), 40 + 30 * std::cos(u / 13.0)};
    const int discColour[] = {40, 200, 230, 20}, blockColour[] = {40, 70, 110, 200};
    const int value = disc ? discColour[component] : block ? blockColour[component] : static_cast<int>(shading[component]);
    if (grain == 0) return static_cast<uint8_t>(value);
    const uint32_t hash = (static_cast<uint32_t>(x) * 7919u + static_cast<uint32_t>(y) * 104729u +
                           static_cast<uint32_t>(component) * 31u) * 2654435761u;
    return static_cast<uint8_t>(std::clamp(value + static_cast<int>(hash >> 20) % (2 * grain + 1) - grain, 0, 255));
}

Bytes encodeSamples(int width, int height, const Encoding& encoding,
                    const std::function<uint8_t(int x, int y, int component)>& sample)
{
    MemoryCompressor compressor(width, height, encoding.input);
    jpeg_compress_struct& info = compressor.info;
    jpeg_set_colorspace(&info, libjpegSpace(encoding.stored));
    jpeg_set_quality(&info, encoding.quality, TRUE);
    info.restart_in_rows = encoding.restartRows;
    if (encoding.progressive) jpeg_simple_progression(&info);
    info.arith_code = encoding.arithmetic ? TRUE : FALSE;
    for (int c = 0; c < info.num_components; ++c) {
        const bool doubled = encoding.halfChroma ? c == 0 : encoding.lumaBelowChroma && c > 0;
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = doubled ? 2 : 1;
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * info.input_components);
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < info.input_components; ++c)
                row[static_cast<std::size_t>(x) * info.input_components + c] = sample(x, y, c);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    return compressor.finish();
}

Bytes encodePicture(int width, int height, const Encoding& encoding)
{
    return encodeSamples(width, height, encoding, [&](int x, int y, int component) {
        return photoSample(x, y, component, width, height, encoding.grain);
    });
}

// A 4:2:0 file of flat grey but for one Cr block whose 2 x 2 reduction lies past libjpeg's
// clamping table: DC 1023 at a quantization of 4.
Bytes chromaPastClampingTable()
{
    MemoryCompressor compressor(2048, 1024, Space::bgr);
    jpeg_compress_struct& info = compressor.info;
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 2;
    unsigned int chromaTable[DCTSIZE2];
    std::fill(std::begin(chromaTable), std::end(chromaTable), 1u);
    chromaTable[0] = 4;
    jpeg_add_quant_table(&info, 1, chromaTable, 100, TRUE);
    jvirt_barray_ptr arrays[3];
    for (int c = 0; c < 3; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const JDIMENSION across = (info.image_width * component.h_samp_factor + 15) / 16;
        const JDIMENSION down = (info.image_height * component.v_samp_factor + 15) / 16;
        arrays[c] = info.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, TRUE, across, down,
                                                   static_cast<JDIMENSION>(component.v_samp_factor));
    }
    jpeg_write_coefficients(&info, arrays);
    for (int c = 0; c < 3; ++c)
        for (JDIMENSION row = 0; row < info.comp_info[c].height_in_blocks; ++row) {
            JBLOCKARRAY blocks = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info), arrays[c], row, 1, TRUE);
            for (JDIMENSION column = 0; column < info.comp_info[c].width_in_blocks; ++column)
                std::fill_n(blocks[0][column], DCTSIZE2, JCOEF{0});
            if (c == 2 && row == 40) blocks[0][100][0] = 1023;
        }
    return compressor.finish();
}

Bytes scanHeavyJpeg(int width, int height, int acScans)
{
    MemoryCompressor compressor(width, height, Space::grey);
    jpeg_compress_struct& info = compressor.info;
    static const jpeg_scan_info script[] = {{1, {0}, 0, 0, 0, 0}, {1, {0}, 1, 63, 0, 0}};
    info.scan_info = script;
    info.num_scans = 2;
    jpeg_start_compress(&info, TRUE);
    const std::vector<JSAMPLE> row(static_cast<std::size_t>(width), 128);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = {const_cast<JSAMPLE*>(row.data())};
        jpeg_write_scanlines(&info, rows, 1);
    }
    const Bytes once = compressor.finish();
    const std::size_t acScan = scanStarts(once).at(1), end = once.size() - 2;
    Bytes file(once.begin(), once.begin() + static_cast<std::ptrdiff_t>(acScan));
    for (int scan = 0; scan < acScans; ++scan) file.insert(file.end(), once.begin() + acScan, once.begin() + end);
    file.insert(file.end(), once.begin() + end, once.end());
    return file;
}

Bytes withDeclaredSize(Bytes jpeg, uint16_t width, uint16_t height)
{
    for (std::size_t at = 2; at + 8 < jpeg.size(); ++at) {
        const uint8_t marker = jpeg[at + 1];
        const bool frame = jpeg[at] == 0xFF && marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                           marker != 0xCC;
        if (!frame) continue;
        // After the marker: the length, the precision, then height and width.
        jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
        jpeg[at + 6] = static_cast<uint8_t>(height);
        jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
        jpeg[at + 8] = static_cast<uint8_t>(width);
        break;
    }
    return jpeg;
}

std::vector<std::size_t> scanStarts(const Bytes& jpeg)
{
    std::vector<std::size_t> starts;
    for (std::size_t at = 2; at + 1 < jpeg.size(); ++at)
        if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA) starts.push_back(at);
    return starts;
}

Bytes jpegSegment(uint8_t marker, const Bytes& contents, std::size_t statedLength)
{
    const std::size_t length = statedLength != 0 ? statedLength : contents.size() + 2;
    Bytes segment(4 + contents.size());
    segment[0] = 0xFF;
    segment[1] = marker;
    segment[2] = static_cast<uint8_t>(length >> 8);
    segment[3] = static_cast<uint8_t>(length);
    std::copy(contents.begin(), contents.end(), segment.begin() + 4);
    return segment;
}

Bytes withSegments(const Bytes& jpeg, const std::vector<Bytes>& segments)
{
    Bytes file(jpeg.begin(), jpeg.begin() + std::min<std::size_t>(2, jpeg.size()));
    for (const Bytes& segment : segments) file.insert(file.end(), segment.begin(), segment.end());
    if (jpeg.size() > 2) file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
    return file;
}

Bytes exifContents(const OrientationExif& block)
{
    Bytes bytes = {'E', 'x', 'i', 'f', 0, 0};
    const bool big = block.bigEndian;
    bytes.push_back(big ? 'M' : 'I');
    bytes.push_back(big ? 'M' : 'I');
    put16(bytes, 42, big);
    put32(bytes, block.directoryOffset, big);
    put16(bytes, block.entries, big);
    put16(bytes, 0x0112, big);
    put16(bytes, 3, big);
    put32(bytes, block.valueCount, big);
    put16(bytes, block.orientation, big);
    put16(bytes, 0, big);
    put32(bytes, 0, big);  // no next IFD
    return bytes;
}

namespace {

struct TiffField {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    Bytes value;     // in the block's byte order
    int part = -1;   // for a pointer, the part whose offset is its value
};

// An IFD and the part its next-IFD offset points to, or raw bytes (a thumbnail) when it has no
// fields.
struct TiffPart {
    std::vector<TiffField> fields;
    int next = -1;
    Bytes raw;
};

class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian) : big_(bigEndian) {}

    TiffField text(uint16_t tag, std::string_view value) const
    {
        Bytes bytes(value.begin(), value.end());
        bytes.push_back(0);
        return {tag, 2, static_cast<uint32_t>(bytes.size()), bytes};
    }
    TiffField shorts(uint16_t tag, std::initializer_list<uint16_t> values, uint16_t type = 3) const
    {
        Bytes bytes;
        for (const uint16_t value : values) put16(bytes, value, big_);
        return {tag, type, static_cast<uint32_t>(values.size()), bytes};
    }
    TiffField longValue(uint16_t tag, uint32_t value) const
    {
        Bytes bytes;
        put32(bytes, value, big_);
        return {tag, 4, 1, bytes};
    }
    TiffField fraction(uint16_t tag, uint32_t numerator, uint32_t denominator, uint16_t type = 5) const
    {
        Bytes bytes;
        put32(bytes, numerator, big_);
        put32(bytes, denominator, big_);
        return {tag, type, 1, bytes};
    }
    static TiffField undefined(uint16_t tag, Bytes bytes) { return {tag, 7, static_cast<uint32_t>(bytes.size()), bytes}; }
    static TiffField pointer(uint16_t tag, int part) { return {tag, 4, 1, {}, part}; }

    // The parts one after another from offset 8, each IFD followed by its values.
    Bytes block(const std::vector<TiffPart>& parts) const
    {
        const auto padded = [](std::size_t size) { return (size + 1) / 2 * 2; };
        std::vector<uint32_t> offsets;
        std::size_t at = 8;
        for (const TiffPart& part : parts) {
            offsets.push_back(static_cast<uint32_t>(at));
            std::size_t size = part.fields.empty() ? part.raw.size() : 2 + 12 * part.fields.size() + 4;
            for (const TiffField& field : part.fields)
                if (field.value.size() > 4) size += padded(field.value.size());
            at += padded(size);
        }
        Bytes bytes = {big_ ? uint8_t('M') : uint8_t('I'), big_ ? uint8_t('M') : uint8_t('I')};
        put16(bytes, 42, big_);
        put32(bytes, 8, big_);
        for (std::size_t index = 0; index < parts.size(); ++index) {
            const TiffPart& part = parts[index];
            if (part.fields.empty()) {
                bytes.insert(bytes.end(), part.raw.begin(), part.raw.end());
                bytes.resize(padded(bytes.size()));
                continue;
            }
            std::size_t valueAt = offsets[index] + 2 + 12 * part.fields.size() + 4;
            put16(bytes, static_cast<uint16_t>(part.fields.size()), big_);
            for (const TiffField& field : part.fields) {
                put16(bytes, field.tag, big_);
                put16(bytes, field.type, big_);
                put32(bytes, field.count, big_);
                if (field.part >= 0) {
                    put32(bytes, offsets[static_cast<std::size_t>(field.part)], big_);
                } else if (field.value.size() > 4) {
                    put32(bytes, static_cast<uint32_t>(valueAt), big_);
                    valueAt += padded(field.value.size());
                } else {
                    Bytes inPlace = field.value;
                    inPlace.resize(4);
                    bytes.insert(bytes.end(), inPlace.begin(), inPlace.end());
                }
            }
            put32(bytes, part.next >= 0 ? offsets[static_cast<std::size_t>(part.next)] : 0, big_);
            for (const TiffField& field : part.fields) {
                if (field.value.size() <= 4) continue;
                bytes.insert(bytes.end(), field.value.begin(), field.value.end());
                bytes.resize(padded(bytes.size()));
            }
        }
        return bytes;
    }

private:
    bool big_;
};

}  // namespace

Bytes cameraTiff(const CameraTiff& options)
{
    const TiffBuilder tiff(options.bigEndian);
    enum Part { ifd0, exif, interoperability, gps, ifd1, thumbnail };
    Bytes makerNote(200);
    for (std::size_t at = 0; at < makerNote.size(); ++at) makerNote[at] = static_cast<uint8_t>(at * 7);
    const Bytes thumbnailJpeg = encodePicture(16, 12);
    const bool mistyped = options.mistyped;

    TiffPart main{{
        mistyped ? tiff.shorts(0x010F, {1, 2, 3}) : tiff.text(0x010F, "Inkveil Optical"),
        tiff.text(0x0110, "IV-100"),
        tiff.shorts(0x0112, {6}),
        mistyped ? tiff.longValue(0x011A, 72) : tiff.fraction(0x011A, 300, 1),
        tiff.fraction(0x011B, 300, 1),
        tiff.shorts(0x0128, {2}),
        tiff.text(0x0131, "Firmware 1.2"),
        tiff.text(0x0132, "2024:05:17 14:03:22"),
        tiff.text(0x013B, mistyped ? std::string(3000, 'A') : "A. Photographer"),
        tiff.text(0x8298, "(c) 2024 A. Photographer"),
        TiffBuilder::pointer(0x8769, options.looped ? ifd0 : exif),
        TiffBuilder::pointer(0x8825, gps),
    }, options.looped ? ifd0 : ifd1, {}};
    if (mistyped) {
        main.fields.push_back(tiff.text(0x0110, "a second model"));
        // The artist of 3000 letters without its NUL.
        main.fields[8].value.pop_back();
        main.fields[8].count = 3000;
    }
    const TiffPart camera{{
        tiff.fraction(0x829A, 1, 250),
        mistyped ? TiffField{0x829D, 5, 2, Bytes(16, 1)} : tiff.fraction(0x829D, 28, 10),
        tiff.shorts(0x8822, {2}),
        tiff.shorts(0x8827, {400, 400}),
        TiffBuilder::undefined(0x9000, mistyped ? Bytes{'0', '2', '3', '2', '0'} : Bytes{'0', '2', '3', '2'}),
        tiff.text(0x9003, "2024:05:17 14:03:22"),
        tiff.text(0x9004, "2024:05:17 14:03:22"),
        tiff.text(0x9010, "+02:00"),
        tiff.text(0x9011, "+02:00"),
        tiff.text(0x9012, "+02:00"),
        tiff.fraction(0x9204, static_cast<uint32_t>(-2), 3, 10),
        tiff.shorts(0x9207, {5}),
        tiff.shorts(0x9209, {16}),
        tiff.fraction(0x920A, 50, 1),
        TiffBuilder::undefined(0x927C, makerNote),
        tiff.text(0x9290, "25"),
        tiff.text(0x9291, "25"),
        tiff.text(0x9292, "25"),
        tiff.shorts(0xA001, {1}),
        tiff.longValue(0xA002, 4000),
        tiff.longValue(0xA003, 3000),
        TiffBuilder::pointer(0xA005, interoperability),
        tiff.shorts(0xA403, {0}),
        tiff.shorts(0xA405, {75}),
        tiff.text(0xA431, "SN 0123456789"),
        tiff.text(0xA433, "Inkveil Optical"),
        tiff.text(0xA434, "IV 24-70mm F2.8"),
        tiff.text(0xA435, "LSN 9876543210"),
    }, -1, {}};
    const TiffPart interoperable{{tiff.text(0x0001, "R98"), TiffBuilder::undefined(0x0002, {'0', '1', '0', '0'})}, -1, {}};
    const TiffPart position{{TiffBuilder::undefined(0x0000, {2, 3, 0, 0}), tiff.text(0x0001, "N")}, -1, {}};
    const TiffPart small{{tiff.shorts(0x0103, {6}), TiffBuilder::pointer(0x0201, thumbnail),
                          tiff.longValue(0x0202, static_cast<uint32_t>(thumbnailJpeg.size()))},
                         options.looped ? ifd0 : -1, {}};
    return tiff.block({main, camera, interoperable, position, small, TiffPart{{}, -1, thumbnailJpeg}});
}

Bytes iccContents(int number, int count, const Bytes& data)
{
    Bytes contents;
    for (const char letter : std::string_view("ICC_PROFILE\0", 12)) contents.push_back(static_cast<uint8_t>(letter));
    contents.push_back(static_cast<uint8_t>(number));
    contents.push_back(static_cast<uint8_t>(count));
    contents.insert(contents.end(), data.begin(), data.end());
    return contents;
}

Bytes rgbProfileOf(std::size_t size)
{
    Bytes profile(size);
    for (std::size_t at = 0; at < size; ++at) profile[at] = static_cast<uint8_t>((at * 2654435761u) >> 13);
    if (size >= 20) std::memcpy(profile.data() + 16, "RGB ", 4);
    return profile;
}

Bytes pngChunk(std::string_view type, const Bytes& data)
{
    Bytes chunk;
    put32(chunk, static_cast<uint32_t>(data.size()), true);
    for (const char letter : type.substr(0, 4)) chunk.push_back(static_cast<uint8_t>(letter));
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
    put32(chunk, static_cast<uint32_t>(crc), true);
    return chunk;
}

Bytes pngWithProfileStream(const Bytes& compressed)
{
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const Bytes header = {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0};
    Bytes iccp = {'s', 'R', 'G', 'B', 0, 0};
    iccp.insert(iccp.end(), compressed.begin(), compressed.end());
    for (const Bytes& chunk : {pngChunk("IHDR", header), pngChunk("iCCP", iccp), pngChunk("IDAT", {}), pngChunk("IEND", {})})
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

Bytes zlibCompressed(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

Bytes encodeWebpPicture(int width, int height, bool lossless)
{
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            for (int c = 0; c < 3; ++c) pixel[c] = photoSample(x, y, c, width, height);
            pixel[3] = lossless ? static_cast<uint8_t>(255 - x * 255 / std::max(1, width - 1)) : 255;
        }
    uint8_t* encoded = nullptr;
    const std::size_t size = lossless ? WebPEncodeLosslessBGRA(pixels.data(), width, height, width * 4, &encoded)
                                      : WebPEncodeBGRA(pixels.data(), width, height, width * 4, 90.0f, &encoded);
    Bytes webp(encoded, encoded + size);
    WebPFree(encoded);
    return webp;
}

namespace {

// The file `mux` holds (empty unless `ready`), with `mux` let go.
Bytes assembledFile(WebPMux* mux, bool ready)
{
    WebPData assembled;
    WebPDataInit(&assembled);
    const bool made = ready && WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    Bytes result = made ? Bytes(assembled.bytes, assembled.bytes + assembled.size) : Bytes{};
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return result;
}

}  // namespace

Bytes webpWithChunks(const Bytes& webp, const Bytes& exif, const Bytes& profile)
{
    const WebPData image{webp.data(), webp.size()};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    if (mux == nullptr) return {};
    const WebPData exifData{exif.data(), exif.size()};
    const WebPData profileData{profile.data(), profile.size()};
    if (!exif.empty()) WebPMuxSetChunk(mux, "EXIF", &exifData, 1);
    if (!profile.empty()) WebPMuxSetChunk(mux, "ICCP", &profileData, 1);
    return assembledFile(mux, true);
}

Bytes animatedWebp(const Bytes& frame, int canvasWidth, int canvasHeight)
{
    WebPMux* mux = WebPMuxNew();
    if (mux == nullptr) return {};
    WebPMuxFrameInfo info{};
    info.bitstream = {frame.data(), frame.size()};
    info.id = WEBP_CHUNK_ANMF;
    info.duration = 100;
    info.dispose_method = WEBP_MUX_DISPOSE_NONE;
    info.blend_method = WEBP_MUX_NO_BLEND;
    const WebPMuxAnimParams looping{0, 0};
    const bool ready = WebPMuxPushFrame(mux, &info, 1) == WEBP_MUX_OK &&
                       WebPMuxSetAnimationParams(mux, &looping) == WEBP_MUX_OK &&
                       WebPMuxSetCanvasSize(mux, canvasWidth, canvasHeight) == WEBP_MUX_OK;
    return assembledFile(mux, ready);
}
