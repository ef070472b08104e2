#include "pipeline/jpeg.h"

#include "common/handles.h"
#include "common/joined_thread.h"
#include "pipeline/resample.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include <jpeglib.h>
// After jpeglib.h: the message codes and ERREXIT, and what reads libjpeg's own structures.
#include <jerror.h>

#include "pipeline/cut_blocks.h"
#include "pipeline/split_scan.h"

using namespace imaging;

namespace {

constexpr int jpegQuality = 100;
// Rows handed to libjpeg per call.
constexpr int rowsPerCall = 16;

bool isJpeg(ByteSpan file) { return file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8; }

// Markers after which no application segment of the header can follow: the frame headers,
// the first scan, and the markers that carry no length.
bool endsHeader(uint8_t kind)
{
    const bool frame = kind >= 0xC0 && kind <= 0xCF && kind != 0xC4 && kind != 0xC8 && kind != 0xCC;
    return frame || kind == 0xDA || (kind >= 0xD0 && kind <= 0xD9) || kind == 0x01;
}

// libjpeg's error manager for one call: warnings (damaged data it decodes past) are counted, a
// fatal error jumps back to the setjmp of the step that met it, whose frame holds nothing that
// needs unwinding. libjpeg itself prints nothing.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf fatal;
    int warnings = 0;
    bool outOfMemory = false;

    JpegErrors()
    {
        jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr info) {
            JpegErrors& errors = *reinterpret_cast<JpegErrors*>(info->err);
            errors.outOfMemory = info->err->msg_code == JERR_OUT_OF_MEMORY;
            std::longjmp(errors.fatal, 1);
        };
        manager.emit_message = [](j_common_ptr info, int level) {
            if (level < 0) ++reinterpret_cast<JpegErrors*>(info->err)->warnings;
        };
        manager.output_message = [](j_common_ptr) {};
    }
};

}  // namespace

// A decompressor over a file held in memory.
struct JpegReader {
    JpegErrors errors;
    jpeg_decompress_struct info{};
    bool failed = false;

    JpegReader() { info.err = &errors.manager; }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
};

namespace {

// The header, with the output colours chosen (inks for CMYK and YCCK, else blue, green, red)
// and the output size at 1/scaleDenominator of the picture's.
bool readHeader(JpegReader& reader, ByteSpan file, int scaleDenominator, bool blockLocal)
{
    if (setjmp(reader.errors.fatal)) return false;
    jpeg_create_decompress(&reader.info);
    jpeg_mem_src(&reader.info, file.data(), static_cast<unsigned long>(file.size()));
    if (jpeg_read_header(&reader.info, TRUE) != JPEG_HEADER_OK) return false;
    const bool inks = reader.info.jpeg_color_space == JCS_CMYK || reader.info.jpeg_color_space == JCS_YCCK;
    reader.info.out_color_space = inks ? JCS_CMYK : JCS_EXT_BGR;
    reader.info.scale_num = 1;
    reader.info.scale_denom = static_cast<unsigned int>(scaleDenominator);
    if (blockLocal) {
        reader.info.do_fancy_upsampling = FALSE;
        reader.info.do_block_smoothing = FALSE;
    }
    jpeg_calc_output_dimensions(&reader.info);
    return true;
}

bool startDecoding(JpegReader& reader)
{
    if (setjmp(reader.errors.fatal)) return false;
    jpeg_start_decompress(&reader.info);
    return true;
}

// The next `count` rows into `pixels`, rows of `stride` bytes.
bool readBand(JpegReader& reader, uint8_t* pixels, int stride, int count)
{
    if (setjmp(reader.errors.fatal)) return false;
    for (int done = 0; done < count;) {
        JSAMPROW rows[rowsPerCall];
        const int batch = std::min(rowsPerCall, count - done);
        for (int row = 0; row < batch; ++row) rows[row] = pixels + static_cast<std::ptrdiff_t>(done + row) * stride;
        const JDIMENSION read = jpeg_read_scanlines(&reader.info, rows, static_cast<JDIMENSION>(batch));
        if (read == 0) return false;
        done += static_cast<int>(read);
    }
    return true;
}

bool cropDecoding(JpegReader& reader, int& first, int& width)
{
    if (setjmp(reader.errors.fatal)) return false;
    JDIMENSION offset = static_cast<JDIMENSION>(first), columns = static_cast<JDIMENSION>(width);
    jpeg_crop_scanline(&reader.info, &offset, &columns);
    first = static_cast<int>(offset);
    width = static_cast<int>(columns);
    return true;
}

bool skipDecoding(JpegReader& reader, int rows)
{
    if (setjmp(reader.errors.fatal)) return false;
    return jpeg_skip_scanlines(&reader.info, static_cast<JDIMENSION>(rows)) == static_cast<JDIMENSION>(rows);
}

bool keepEveryCoefficient(JpegReader& reader)
{
    if (setjmp(reader.errors.fatal)) return false;
    keepAllCoefficients(reader.info);
    return true;
}

bool finishDecoding(JpegReader& reader)
{
    if (setjmp(reader.errors.fatal)) return false;
    jpeg_finish_decompress(&reader.info);
    return true;
}

// A side as GDI+ takes it; one past INT stays too large to fit.
int side(JDIMENSION pixels) { return static_cast<int>(std::min<JDIMENSION>(pixels, INT_MAX)); }

// Inks to colours in place, four bytes a pixel. Adobe's files store the inks inverted.
void inksToColours(const BitmapData& pixels, bool inverted)
{
    const uint8_t flip = inverted ? 0xFF : 0x00;
    for (UINT y = 0; y < pixels.Height; ++y) {
        uint8_t* pixel = static_cast<uint8_t*>(pixels.Scan0) + static_cast<std::ptrdiff_t>(y) * pixels.Stride;
        for (UINT x = 0; x < pixels.Width; ++x, pixel += 4) {
            const int cyan = pixel[0] ^ flip, magenta = pixel[1] ^ flip, yellow = pixel[2] ^ flip;
            const int black = pixel[3] ^ flip;
            pixel[0] = static_cast<uint8_t>((255 - yellow) * (255 - black) / 255);
            pixel[1] = static_cast<uint8_t>((255 - magenta) * (255 - black) / 255);
            pixel[2] = static_cast<uint8_t>((255 - cyan) * (255 - black) / 255);
            pixel[3] = 0xFF;
        }
    }
}

}  // namespace

// A compressor whose output goes to an open file in blocks as it is made.
struct JpegWriter {
    jpeg_destination_mgr destination{};
    JpegErrors errors;
    jpeg_compress_struct info{};
    HANDLE file;
    std::vector<JOCTET> block = std::vector<JOCTET>(1 << 16);
    bool failed = false;

    explicit JpegWriter(HANDLE output) : file(output)
    {
        info.err = &errors.manager;
        destination.init_destination = [](j_compress_ptr info) { writerOf(info).startBlock(); };
        destination.empty_output_buffer = [](j_compress_ptr info) -> boolean {
            writerOf(info).writeBlock(writerOf(info).block.size());
            return TRUE;
        };
        destination.term_destination = [](j_compress_ptr info) {
            JpegWriter& writer = writerOf(info);
            writer.writeBlock(writer.block.size() - writer.destination.free_in_buffer);
        };
    }
    ~JpegWriter() { jpeg_destroy_compress(&info); }
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    static JpegWriter& writerOf(j_compress_ptr info) { return *static_cast<JpegWriter*>(info->client_data); }
    void startBlock()
    {
        destination.next_output_byte = block.data();
        destination.free_in_buffer = block.size();
    }
    // A short write is a fatal error of the compression.
    void writeBlock(std::size_t size)
    {
        if (!writeWhole(file, block.data(), static_cast<DWORD>(size))) ERREXIT(&info, JERR_FILE_WRITE);
        startBlock();
    }
};

namespace {

// APP2 chunks hold at most this many bytes of a profile each, and there are at most 255 of them.
constexpr std::size_t profileBytesPerChunk = 65519;
constexpr std::size_t largestProfileChunks = 255;

// Starts a picture of `width` x `height` pixels of 3 bytes each, or 4 with an unused fourth.
bool startEncoding(JpegWriter& writer, int width, int height, bool threeBytes, const std::vector<uint8_t>& colourProfile)
{
    if (setjmp(writer.errors.fatal)) return false;
    jpeg_create_compress(&writer.info);
    writer.info.client_data = &writer;
    writer.info.dest = &writer.destination;
    writer.info.image_width = static_cast<JDIMENSION>(width);
    writer.info.image_height = static_cast<JDIMENSION>(height);
    writer.info.input_components = threeBytes ? 3 : 4;
    writer.info.in_color_space = threeBytes ? JCS_EXT_BGR : JCS_EXT_BGRX;
    jpeg_set_defaults(&writer.info);
    jpeg_set_quality(&writer.info, jpegQuality, TRUE);
    writer.info.dct_method = JDCT_ISLOW;
    jpeg_set_colorspace(&writer.info, JCS_YCbCr);
    // 4:2:0: chroma at half the luma's resolution each way.
    writer.info.comp_info[0].h_samp_factor = writer.info.comp_info[0].v_samp_factor = 2;
    jpeg_start_compress(&writer.info, TRUE);
    if (!colourProfile.empty() && colourProfile.size() <= profileBytesPerChunk * largestProfileChunks)
        jpeg_write_icc_profile(&writer.info, colourProfile.data(), static_cast<unsigned int>(colourProfile.size()));
    return true;
}

// The next `count` rows, of `stride` bytes each; never more than the picture has left.
bool writeBand(JpegWriter& writer, const uint8_t* pixels, int stride, int count)
{
    if (setjmp(writer.errors.fatal)) return false;
    const int left = static_cast<int>(std::min<JDIMENSION>(static_cast<JDIMENSION>(count),
                                                           writer.info.image_height - writer.info.next_scanline));
    for (int done = 0; done < left;) {
        JSAMPROW rows[rowsPerCall];
        const int batch = std::min(rowsPerCall, left - done);
        for (int row = 0; row < batch; ++row)
            rows[row] = const_cast<uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(done + row) * stride;
        done += static_cast<int>(jpeg_write_scanlines(&writer.info, rows, static_cast<JDIMENSION>(batch)));
    }
    return true;
}

bool finishEncoding(JpegWriter& writer)
{
    if (setjmp(writer.errors.fatal)) return false;
    if (writer.info.next_scanline < writer.info.image_height) return false;
    jpeg_finish_compress(&writer.info);
    return true;
}

}  // namespace

namespace {

constexpr std::string_view jpegOpening("\xFF\xD8", 2);

KernelHandle openForReading(const char* path)
{
    return KernelHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Whether the next bytes of `file` are `opening`; they are read past either way.
bool readsAs(const KernelHandle& file, std::string_view opening)
{
    std::vector<uint8_t> start(opening.size());
    const DWORD startSize = static_cast<DWORD>(start.size());
    DWORD read = 0;
    return file && ReadFile(file.get(), start.data(), startSize, &read, nullptr) && read == startSize &&
           std::memcmp(start.data(), opening.data(), opening.size()) == 0;
}

}  // namespace

bool opensAsJpeg(const char* path) { return readsAs(openForReading(path), jpegOpening); }

FileView readWholeFile(const char* path, std::string_view opening)
{
    FileView file(path);
    if (!file || file.size() < opening.size() || std::memcmp(file.data(), opening.data(), opening.size()) != 0) return {};
    return file;
}

FileView readJpegFile(const char* path) { return readWholeFile(path, jpegOpening); }

std::vector<ByteSpan> applicationSegments(ByteSpan file, uint8_t marker, std::string_view signature)
{
    std::vector<ByteSpan> found;
    if (!isJpeg(file)) return found;
    std::size_t at = 2;
    while (file.size() - at >= 4) {
        if (file[at] != 0xFF) break;
        const uint8_t kind = file[at + 1];
        if (kind == 0xFF) {
            ++at;  // a fill byte before the marker
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(file[at + 2]) << 8 | file[at + 3];
        if (endsHeader(kind) || length < 2 || file.size() - at - 2 < length) break;
        const ByteSpan contents(file.data() + at + 4, length - 2);
        if (kind == marker && contents.size() >= signature.size() &&
            std::memcmp(contents.data(), signature.data(), signature.size()) == 0)
            found.push_back(contents);
        at += 2 + length;
    }
    return found;
}

ByteSpan applicationSegment(ByteSpan file, uint8_t marker, std::string_view signature)
{
    const std::vector<ByteSpan> found = applicationSegments(file, marker, signature);
    return found.empty() ? ByteSpan() : found.front();
}

JpegHeader jpegHeader(ByteSpan file)
{
    if (!isJpeg(file) || file.size() > std::numeric_limits<unsigned long>::max()) return {};
    JpegReader reader;
    if (!readHeader(reader, file, 1, false)) return {};
    return {{side(reader.info.image_width), side(reader.info.image_height)}, reader.info.out_color_space == JCS_CMYK};
}

int reducedScaleFor(ImageSize picture, ImageSize needed)
{
    for (const int denominator : {8, 4, 2}) {
        const auto reduced = [denominator](int side) { return (static_cast<long long>(side) + denominator - 1) / denominator; };
        if (reduced(picture.width) >= needed.width && reduced(picture.height) >= needed.height) return denominator;
    }
    return 1;
}

JpegRowReader::JpegRowReader(ByteSpan file, int scaleDenominator, bool blockLocal)
{
    if (!isJpeg(file) || file.size() > std::numeric_limits<unsigned long>::max()) return;
    try {
        reader_ = std::make_unique<JpegReader>();
    } catch (const std::bad_alloc&) {
        outOfMemory_ = true;
        return;
    }
    started_ = readHeader(*reader_, file, scaleDenominator, blockLocal) && startDecoding(*reader_);
    if (!started_) outOfMemory_ = reader_->errors.outOfMemory;
}

JpegRowReader::~JpegRowReader() = default;

ImageSize JpegRowReader::size() const
{
    return started_ ? ImageSize{side(reader_->info.output_width), side(reader_->info.output_height)} : ImageSize{};
}

ImageSize JpegRowReader::pictureSize() const
{
    return started_ ? ImageSize{side(reader_->info.image_width), side(reader_->info.image_height)} : ImageSize{};
}

ImageSize JpegRowReader::blockSize() const
{
    return started_ ? ImageSize{reader_->info.max_h_samp_factor * DCTSIZE, reader_->info.max_v_samp_factor * DCTSIZE}
                    : ImageSize{};
}

bool JpegRowReader::crop(int& first, int& width)
{
    if (!started_ || reader_->failed || reader_->info.output_scanline > 0) return false;
    reader_->failed = !cropDecoding(*reader_, first, width);
    return !reader_->failed;
}

bool JpegRowReader::keepCutBlocks(CutBlocks& blocks, const Rect& columns, const Rect& rows)
{
    if (!started_ || reader_->failed || reader_->info.output_scanline > 0) return false;
    if (!::keepCutBlocks(reader_->info, blocks, columns, rows)) return false;
    reader_->failed = !keepEveryCoefficient(*reader_);
    return !reader_->failed;
}

bool JpegRowReader::skip(int rows)
{
    if (!started_ || reader_->failed) return false;
    reader_->failed = !skipDecoding(*reader_, rows);
    return !reader_->failed;
}

bool JpegRowReader::inks() const { return started_ && reader_->info.out_color_space == JCS_CMYK; }

bool JpegRowReader::adobeInks() const { return inks() && reader_->info.saw_Adobe_marker; }

bool JpegRowReader::read(uint8_t* pixels, int stride, int count)
{
    if (!started_ || reader_->failed) return false;
    if (readBand(*reader_, pixels, stride, count)) return true;
    reader_->failed = true;
    outOfMemory_ = reader_->errors.outOfMemory;
    return false;
}

bool JpegRowReader::readSplit(uint8_t* pixels, int stride, CutBlocks* blocks)
{
    if (!started_ || reader_->failed || reader_->info.output_scanline > 0 || reader_->info.src == nullptr) return false;
    const ByteSpan data(reader_->info.src->next_input_byte, reader_->info.src->bytes_in_buffer);
    try {
        return decodeScanSplit(reader_->info, data, pixels, stride, blocks);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool JpegRowReader::finish()
{
    if (!started_ || reader_->failed) return false;
    if (finishDecoding(*reader_)) return true;
    reader_->failed = true;
    outOfMemory_ = reader_->errors.outOfMemory;
    return false;
}

JpegRowWriter::JpegRowWriter(const char* path, int width, int height, int bytesPerPixel,
                             const std::vector<uint8_t>& colourProfile)
    : file_(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
{
    if (!file_ || width <= 0 || height <= 0) return;
    try {
        writer_ = std::make_unique<JpegWriter>(file_.get());
    } catch (const std::bad_alloc&) {
        return;
    }
    started_ = startEncoding(*writer_, width, height, bytesPerPixel == 3, colourProfile);
}

JpegRowWriter::~JpegRowWriter() = default;

bool JpegRowWriter::write(const uint8_t* pixels, int stride, int count)
{
    if (!started_ || writer_->failed) return false;
    if (writeBand(*writer_, pixels, stride, count)) return true;
    writer_->failed = true;
    return false;
}

bool JpegRowWriter::finish()
{
    if (!started_ || writer_->failed) return false;
    writer_->failed = !finishEncoding(*writer_);
    return !writer_->failed;
}

namespace {

// The columns [first, end) of the rows [0, rows), or the rows [first, end) of every column;
// each pixel from its own blocks alone.
bool decodeStrip(ByteSpan file, bool columns, int first, int end, int rows, Strip& strip)
{
    JpegRowReader reader(file, 1, true);
    if (!reader.started()) return false;
    int width = reader.size().width;
    strip.firstColumn = 0;
    strip.firstRow = columns ? 0 : first;
    if (columns) {
        strip.firstColumn = first;
        width = end - first;
        if (!reader.crop(strip.firstColumn, width)) return false;
    } else if (!reader.skip(first)) {
        return false;
    }
    strip.width = width;
    strip.height = columns ? rows : end - first;
    strip.pixels.assign(static_cast<std::size_t>(strip.width) * 3 * strip.height, 0);
    return reader.read(strip.pixels.data(), strip.width * 3, strip.height);
}

// Makes the pixels of `area` of `reduced` (3 bytes each, each 1/scale of the picture a side)
// the means of the strip's pixels they cover within kept.width x kept.height.
void averageStripInto(const Strip& strip, int scale, ImageSize kept, const Rect& area, const BitmapData& reduced)
{
    for (int y = area.Y; y < area.Y + area.Height; ++y) {
        uint8_t* out = static_cast<uint8_t*>(reduced.Scan0) + static_cast<std::ptrdiff_t>(y) * reduced.Stride;
        const int top = y * scale, bottom = std::min((y + 1) * scale, kept.height);
        for (int x = area.X; x < area.X + area.Width; ++x) {
            const int left = x * scale, right = std::min((x + 1) * scale, kept.width);
            uint32_t sum[3] = {};
            for (int row = top; row < bottom; ++row) {
                const uint8_t* in = strip.pixels.data() +
                                    (static_cast<std::size_t>(row - strip.firstRow) * strip.width + (left - strip.firstColumn)) * 3;
                for (int column = left; column < right; ++column, in += 3)
                    for (int c = 0; c < 3; ++c) sum[c] += in[c];
            }
            const float count = static_cast<float>(std::max(1, (bottom - top) * (right - left)));
            for (int c = 0; c < 3; ++c) out[static_cast<std::size_t>(x) * 3 + c] = toByte(sum[c] / count);
        }
    }
}

// Where a region's edge cuts through the picture along one axis: the blocks from `first` on
// straddle `edge`. None when the region reaches the picture's own edge, or ends where a block does.
struct Cut {
    int first = 0;
    int edge = 0;
    explicit operator bool() const { return edge > 0; }
};
Cut cutAt(int kept, int picture, int block)
{
    if (kept <= 0 || kept >= picture || kept % block == 0) return {};
    return {kept / block * block, kept};
}

}  // namespace

DecodeOutcome decodeJpeg(ByteSpan file, GdiBitmap& result, int scaleDenominator, ImageSize kept)
{
    result.reset();
    CutBlocks cutBlocks;
    const JpegHeader header = jpegHeader(file);
    const bool cut = scaleDenominator > 1 && !header.inks &&
                     ((kept.width > 0 && kept.width < header.size.width) ||
                      (kept.height > 0 && kept.height < header.size.height));
    JpegRowReader reader(file, scaleDenominator, cut);
    const auto unsuccessful = [&reader] { return reader.outOfMemory() ? DecodeOutcome::outOfMemory : DecodeOutcome::failed; };
    if (!reader.started()) return unsuccessful();
    const ImageSize picture = reader.pictureSize(), block = reader.blockSize();
    const Cut across = cut ? cutAt(kept.width, picture.width, block.width) : Cut{};
    const Cut down = cut ? cutAt(kept.height, picture.height, block.height) : Cut{};

    // The blocks the region's edge cuts through, decoded whole from the same coefficients, or
    // where that cannot be, by decodings of their own beside the reduced one.
    const int keptHeight = down ? down.edge : picture.height, keptWidth = across ? across.edge : picture.width;
    const Rect columnArea = across ? Rect(across.first, 0, across.edge - across.first, keptHeight) : Rect();
    const Rect rowArea = down ? Rect(0, down.first, keptWidth, down.edge - down.first) : Rect();
    bool blocksKept = false;
    try {
        blocksKept = (across || down) && reader.keepCutBlocks(cutBlocks, columnArea, rowArea);
    } catch (const std::bad_alloc&) {
        return DecodeOutcome::outOfMemory;
    }
    Strip columns, rows;
    bool stripsDecoded = true;
    std::optional<JoinedThread> strips;
    if ((across || down) && !blocksKept) {
        strips.emplace([&] {
            stripsDecoded = (!across || decodeStrip(file, true, across.first, across.edge, keptHeight, columns)) &&
                            (!down || decodeStrip(file, false, down.first, down.edge, 0, rows));
        });
    }
    const auto joinStrips = [&] {
        if (!strips) return;
        try {
            strips->join();
        } catch (const std::exception&) {
            stripsDecoded = false;
        }
        strips.reset();
    };

    const PixelFormat format = reader.inks() ? PixelFormat32bppRGB : PixelFormat24bppRGB;
    const ImageSize size = reader.size();
    const GpStatus created = createBitmap(size.width, size.height, format, result);
    bool decoded = false;
    if (result.track(created)) {
        const BitmapLock pixels(result.get(), Rect(0, 0, size.width, size.height), ImageLockModeWrite, format);
        uint8_t* const scan0 = pixels ? static_cast<uint8_t*>(pixels.data().Scan0) : nullptr;
        decoded = pixels && (reader.readSplit(scan0, pixels.data().Stride, blocksKept ? &cutBlocks : nullptr) ||
                             (reader.read(scan0, pixels.data().Stride, size.height) && reader.finish()));
        joinStrips();
        decoded = decoded && stripsDecoded;
        if (decoded && blocksKept) {
            columns = cutPixels(cutBlocks, 0);
            rows = cutPixels(cutBlocks, 1);
        }
        if (decoded && reader.inks()) inksToColours(pixels.data(), reader.adobeInks());
        const ImageSize inside{keptWidth, keptHeight};
        const auto reducedSide = [scaleDenominator](int full) { return (full + scaleDenominator - 1) / scaleDenominator; };
        if (decoded && across) {
            const int first = across.first / scaleDenominator;
            averageStripInto(columns, scaleDenominator, inside,
                             Rect(first, 0, reducedSide(across.edge) - first, reducedSide(keptHeight)), pixels.data());
        }
        if (decoded && down) {
            const int first = down.first / scaleDenominator;
            averageStripInto(rows, scaleDenominator, inside,
                             Rect(0, first, reducedSide(keptWidth), reducedSide(down.edge) - first), pixels.data());
        }
    }
    joinStrips();
    if (decoded) return DecodeOutcome::decoded;
    // Only once the pixels are unlocked.
    result.reset();
    if (created == OutOfMemory) return DecodeOutcome::outOfMemory;
    return unsuccessful();
}

bool writeJpeg(GpBitmap* picture, const char* path, const std::vector<uint8_t>& colourProfile)
{
    const ImageSize size = imageSize(picture);
    PixelFormat format = 0;
    if (size.width <= 0 || size.height <= 0 || GdipGetImagePixelFormat(picture, &format) != Ok) return false;
    const bool rgb = format == PixelFormat24bppRGB;
    const BitmapLock pixels(picture, Rect(0, 0, size.width, size.height), ImageLockModeRead,
                            rgb ? PixelFormat24bppRGB : PixelFormat32bppARGB);
    if (!pixels) return false;
    JpegRowWriter writer(path, size.width, size.height, rgb ? 3 : 4, colourProfile);
    return writer.write(static_cast<const uint8_t*>(pixels.data().Scan0), pixels.data().Stride, size.height) &&
           writer.finish();
}
