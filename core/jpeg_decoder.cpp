#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h: the message codes, and what reads libjpeg's own structures.
#include <jerror.h>

#include "core/cut_blocks.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_errors.h"
#include "core/resample.h"
#include "core/split_scan.h"
#include "common/task_pool.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

namespace {

// What libjpeg may hold for a decoding: a multi-scan file holds all its coefficients, two bytes
// for each sample its header declares (900 MB for 300 MP with halved chroma). Beyond it, a file
// is too large, as libjpeg keeps no coefficients outside memory.
constexpr long largestDecoderMemory = 1L << 30;

}  // namespace

// A decompressor over a file held in memory, which stops a decoding as JpegRowReader says.
struct JpegReader {
    JpegErrors errors;
    jpeg_decompress_struct info{};
    struct Progress {
        jpeg_progress_mgr manager;
        JpegReader* reader;
    } progress{};
    const Cancellation& cancellation;
    unsigned componentsScanned = 0;  // bit c: component c was in a scan
    bool failed = false;

    explicit JpegReader(const Cancellation& givenUp) : cancellation(givenUp)
    {
        info.err = &errors.manager;
        errors.manager.emit_message = noticeWarning;
        progress.manager.progress_monitor = monitor;
        progress.reader = this;
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    // Where a scan's data ends early, the Huffman decoder fills what it lacks with zero bits up to
    // the scan's end, and warns once that it hit a marker: the file's end marker or one made up
    // past the end of the bytes when the file is cut short, another when its data is damaged.
    // Either way the picture would be grey from there on, for as many blocks as its header
    // declares. A missing end marker alone costs no bit of the picture. The arithmetic decoder
    // reads zeros past a marker without a word: its data ended early when it met one other than a
    // restart marker before the scan's last row of MCUs.
    static void noticeWarning(j_common_ptr common, int level)
    {
        if (level >= 0) return;
        JpegErrors& errors = JpegErrors::of(common);
        const auto& info = *reinterpret_cast<j_decompress_ptr>(common);
        if (common->err->msg_code == JWRN_JPEG_EOF) errors.endOfData = true;
        if (common->err->msg_code == JWRN_HIT_MARKER || arithmeticDataEnded(info))
            errors.stop(dataEndedEarly(errors, info));
    }
    static Outcome dataEndedEarly(const JpegErrors& errors, const jpeg_decompress_struct& info)
    {
        return errors.endOfData || info.unread_marker == JPEG_EOI ? Outcome::incomplete : Outcome::damaged;
    }
    static bool arithmeticDataEnded(const jpeg_decompress_struct& info)
    {
        const bool restart = info.unread_marker >= JPEG_RST0 && info.unread_marker <= JPEG_RST0 + 7;
        return info.arith_code && info.unread_marker != 0 && !restart && info.input_iMCU_row + 1 < info.total_iMCU_rows;
    }

    // Called as the scans of a multi-scan file are read, and for every call that reads rows.
    static void monitor(j_common_ptr common)
    {
        const auto& info = *reinterpret_cast<j_decompress_ptr>(common);
        JpegReader& reader = *reinterpret_cast<Progress*>(info.progress)->reader;
        if (reader.cancellation.cancelled()) reader.errors.stop(Outcome::cancelled);
        if (info.input_scan_number > mostJpegScans) reader.errors.stop(Outcome::damaged);
        if (arithmeticDataEnded(info)) reader.errors.stop(dataEndedEarly(reader.errors, info));
        for (int i = 0; i < info.comps_in_scan; ++i)
            reader.componentsScanned |= 1u << info.cur_comp_info[i]->component_index;
    }

    // Once a multi-scan file's every scan is read: whether its data ended before some scan that
    // completes the picture (a progressive file's coefficients are then not all whole, or some
    // component of a sequential one had no scan).
    bool cutBetweenScans() const
    {
        if (!errors.endOfData || !jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&info))) return false;
        if (!info.progressive_mode) return componentsScanned != (1u << info.num_components) - 1;
        for (int c = 0; c < info.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (info.coef_bits[c][k] != 0) return true;
        return false;
    }
};

namespace {

// The header, with the output colours chosen (inks for CMYK and YCCK, else blue, green, red)
// and the output size at 1/scaleDenominator of the picture's.
bool readHeader(JpegReader& reader, ByteSpan file, int scaleDenominator, bool blockLocal)
{
    if (setjmp(reader.errors.fatal)) return false;
    jpeg_create_decompress(&reader.info);
    reader.info.progress = &reader.progress.manager;
    reader.info.mem->max_memory_to_use = largestDecoderMemory;
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

// Whether a multi-scan file's coefficients fit in what libjpeg may hold. Counted here in 64 bits:
// a 32-bit libjpeg's own count wraps for a header that declares enough of them, and it then
// reports memory short where the file is too large.
bool coefficientsFit(const jpeg_decompress_struct& info)
{
    if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&info))) return true;
    const auto roundedUp = [](JDIMENSION value, int multiple) {
        return (static_cast<uint64_t>(value) + static_cast<uint64_t>(multiple) - 1) / static_cast<uint64_t>(multiple) *
               static_cast<uint64_t>(multiple);
    };
    uint64_t bytes = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        bytes += roundedUp(component.width_in_blocks, component.h_samp_factor) *
                 roundedUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
    }
    return bytes <= static_cast<uint64_t>(largestDecoderMemory);
}

bool startDecoding(JpegReader& reader)
{
    if (setjmp(reader.errors.fatal)) return false;
    if (!coefficientsFit(reader.info)) reader.errors.stop(Outcome::tooLarge);
    jpeg_start_decompress(&reader.info);
    if (reader.cutBetweenScans()) reader.errors.stop(Outcome::incomplete);
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
void inksToColours(const PixelRows& pixels, bool inverted)
{
    const uint8_t flip = inverted ? 0xFF : 0x00;
    for (int y = 0; y < pixels.height; ++y) {
        uint8_t* pixel = pixels.row(y);
        for (int x = 0; x < pixels.width; ++x, pixel += 4) {
            const int cyan = pixel[0] ^ flip, magenta = pixel[1] ^ flip, yellow = pixel[2] ^ flip;
            const int black = pixel[3] ^ flip;
            pixel[0] = static_cast<uint8_t>((255 - yellow) * (255 - black) / 255);
            pixel[1] = static_cast<uint8_t>((255 - magenta) * (255 - black) / 255);
            pixel[2] = static_cast<uint8_t>((255 - cyan) * (255 - black) / 255);
            pixel[3] = 0xFF;
        }
    }
}

// The columns [first, end) of the rows [0, rows), or the rows [first, end) of every column;
// each pixel from its own blocks alone.
Outcome decodeStrip(ByteSpan file, bool columns, int first, int end, int rows, Strip& strip,
                    const Cancellation& cancellation)
{
    JpegRowReader reader(file, 1, true, cancellation);
    if (!reader.started()) return reader.failure();
    int width = reader.size().width;
    strip.firstColumn = 0;
    strip.firstRow = columns ? 0 : first;
    if (columns) {
        strip.firstColumn = first;
        width = end - first;
        if (!reader.crop(strip.firstColumn, width)) return reader.failure();
    } else if (!reader.skip(first)) {
        return reader.failure();
    }
    strip.width = width;
    strip.height = columns ? rows : end - first;
    strip.pixels.assign(static_cast<std::size_t>(strip.width) * 3 * strip.height, 0);
    return reader.read(strip.pixels.data(), strip.width * 3, strip.height) ? Outcome::done : reader.failure();
}

// Makes the pixels of `area` of `reduced` (3 bytes each, each 1/scale of the picture a side)
// the means of the strip's pixels they cover within kept.width x kept.height.
void averageStripInto(const Strip& strip, int scale, ImageSize kept, const PixelArea& area, const PixelRows& reduced)
{
    for (int y = area.y; y < area.y + area.height; ++y) {
        uint8_t* out = reduced.row(y);
        const int top = y * scale, bottom = std::min((y + 1) * scale, kept.height);
        for (int x = area.x; x < area.x + area.width; ++x) {
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

JpegHeader jpegHeader(ByteSpan file)
{
    if (!isJpeg(file) || file.size() > std::numeric_limits<unsigned long>::max()) return {};
    JpegReader reader(neverCancelled());
    if (!readHeader(reader, file, 1, false)) return {};
    return {{side(reader.info.image_width), side(reader.info.image_height)}, reader.info.out_color_space == JCS_CMYK};
}

JpegRowReader::JpegRowReader(ByteSpan file, int scaleDenominator, bool blockLocal, const Cancellation& cancellation)
{
    if (!isJpeg(file) || file.size() > std::numeric_limits<unsigned long>::max()) {
        failure_ = Outcome::notPicture;
        return;
    }
    try {
        reader_ = std::make_unique<JpegReader>(cancellation);
    } catch (const std::bad_alloc&) {
        failure_ = Outcome::outOfMemory;
        return;
    }
    started_ = readHeader(*reader_, file, scaleDenominator, blockLocal) && startDecoding(*reader_);
    if (!started_) failure_ = reader_->errors.failure;
}

bool JpegRowReader::failed(Outcome outcome)
{
    reader_->failed = true;
    failure_ = outcome;
    return false;
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
    return cropDecoding(*reader_, first, width) || failed(reader_->errors.failure);
}

bool JpegRowReader::keepCutBlocks(CutBlocks& blocks, const PixelArea& columns, const PixelArea& rows)
{
    if (!started_ || reader_->failed || reader_->info.output_scanline > 0) return false;
    if (!::keepCutBlocks(reader_->info, blocks, columns, rows)) return false;
    return keepEveryCoefficient(*reader_) || failed(reader_->errors.failure);
}

bool JpegRowReader::skip(int rows)
{
    if (!started_ || reader_->failed) return false;
    return skipDecoding(*reader_, rows) || failed(reader_->errors.failure);
}

bool JpegRowReader::inks() const { return started_ && reader_->info.out_color_space == JCS_CMYK; }

bool JpegRowReader::adobeInks() const { return inks() && reader_->info.saw_Adobe_marker; }

bool JpegRowReader::read(uint8_t* pixels, int stride, int count)
{
    if (!started_ || reader_->failed) return false;
    return readBand(*reader_, pixels, stride, count) || failed(reader_->errors.failure);
}

bool JpegRowReader::readSplit(uint8_t* pixels, int stride, CutBlocks* blocks)
{
    if (!started_ || reader_->failed || reader_->info.output_scanline > 0 || reader_->info.src == nullptr) return false;
    const ByteSpan data(reader_->info.src->next_input_byte, reader_->info.src->bytes_in_buffer);
    try {
        return decodeScanSplit(reader_->info, data, pixels, stride, blocks, reader_->cancellation);
    } catch (const std::exception&) {
        return false;
    }
}

bool JpegRowReader::finish()
{
    if (!started_ || reader_->failed) return false;
    return finishDecoding(*reader_) || failed(reader_->errors.failure);
}

Outcome decodeJpegPixels(ByteSpan file, const JpegHeader& header, const ReducedView& view, const PixelsFor& target,
                         const Cancellation& cancellation)
{
    const bool cut = view.cuts();
    if (cut && header.inks) return Outcome::damaged;
    const int scaleDenominator = view.scaleDenominator;
    const ImageSize kept = view.kept;
    CutBlocks cutBlocks;
    JpegRowReader reader(file, scaleDenominator, cut, cancellation);
    if (!reader.started()) return reader.failure();
    const ImageSize picture = reader.pictureSize(), block = reader.blockSize();
    const Cut across = cut ? cutAt(kept.width, picture.width, block.width) : Cut{};
    const Cut down = cut ? cutAt(kept.height, picture.height, block.height) : Cut{};

    // The blocks the region's edge cuts through, decoded whole from the same coefficients, or
    // where that cannot be, by decodings of their own beside the reduced one.
    const int keptHeight = down ? down.edge : picture.height, keptWidth = across ? across.edge : picture.width;
    const PixelArea columnArea = across ? PixelArea{across.first, 0, across.edge - across.first, keptHeight} : PixelArea{};
    const PixelArea rowArea = down ? PixelArea{0, down.first, keptWidth, down.edge - down.first} : PixelArea{};
    const bool blocksKept = (across || down) && reader.keepCutBlocks(cutBlocks, columnArea, rowArea);
    Strip columns, rows;
    Outcome strips = Outcome::done;
    std::optional<Task> stripTask;
    if ((across || down) && !blocksKept) {
        stripTask.emplace(runAside([&] {
            if (across) strips = decodeStrip(file, true, across.first, across.edge, keptHeight, columns, cancellation);
            if (down && strips == Outcome::done)
                strips = decodeStrip(file, false, down.first, down.edge, 0, rows, cancellation);
        }));
    }

    const PixelRows pixels = target(reader.size(), reader.inks() ? PixelLayout::bgrUnused : PixelLayout::bgr);
    if (pixels.pixels == nullptr) return Outcome::outOfMemory;
    const bool decoded = reader.readSplit(pixels.pixels, pixels.stride, blocksKept ? &cutBlocks : nullptr) ||
                         (reader.read(pixels.pixels, pixels.stride, pixels.height) && reader.finish());
    if (stripTask) stripTask->wait();
    if (!decoded) return reader.failure();
    if (strips != Outcome::done) return strips;
    if (blocksKept) {
        columns = cutPixels(cutBlocks, 0);
        rows = cutPixels(cutBlocks, 1);
    }
    if (reader.inks()) inksToColours(pixels, reader.adobeInks());
    const ImageSize inside{keptWidth, keptHeight};
    const auto reducedSide = [scaleDenominator](int full) { return (full + scaleDenominator - 1) / scaleDenominator; };
    if (across) {
        const int first = across.first / scaleDenominator;
        averageStripInto(columns, scaleDenominator, inside,
                         {first, 0, reducedSide(across.edge) - first, reducedSide(keptHeight)}, pixels);
    }
    if (down) {
        const int first = down.first / scaleDenominator;
        averageStripInto(rows, scaleDenominator, inside, {0, first, reducedSide(keptWidth), reducedSide(down.edge) - first},
                         pixels);
    }
    return Outcome::done;
}
