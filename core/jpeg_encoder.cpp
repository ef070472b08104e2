#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

#include "core/jpeg_encoder.h"
#include "core/jpeg_errors.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

constexpr int jpegQuality = 100;

}  // namespace

// A compressor whose output goes to its sink in blocks as it is made.
struct JpegWriter {
    jpeg_destination_mgr destination{};
    JpegErrors errors;
    jpeg_compress_struct info{};
    ByteSink sink;
    std::vector<JOCTET> block = std::vector<JOCTET>(1 << 16);
    bool failed = false;

    explicit JpegWriter(ByteSink output) : sink(std::move(output))
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
        if (!sink(block.data(), size)) ERREXIT(&info, JERR_FILE_WRITE);
        startBlock();
    }
};

namespace {

// APP2 chunks hold at most this many bytes of a profile each, and there are at most 255 of them.
constexpr std::size_t profileBytesPerChunk = 65519;
constexpr std::size_t largestProfileChunks = 255;

// Starts a picture of `width` x `height` pixels of 3 bytes each, or 4 with an unused fourth.
bool startEncoding(JpegWriter& writer, int width, int height, bool threeBytes, const std::vector<uint8_t>& colourProfile,
                   const ExifBlock& exif)
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
    if (!exif.empty() && exif.size() <= largestCarriedExif) {
        jpeg_write_m_header(&writer.info, JPEG_APP0 + 1, static_cast<unsigned int>(exifSignature.size() + exif.size()));
        for (const char letter : exifSignature) jpeg_write_m_byte(&writer.info, letter);
        for (const uint8_t byte : exif) jpeg_write_m_byte(&writer.info, byte);
    }
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

JpegRowWriter::JpegRowWriter(ByteSink sink, int width, int height, int bytesPerPixel,
                             const std::vector<uint8_t>& colourProfile, const ExifBlock& exif)
{
    if (!sink || width <= 0 || height <= 0) return;
    try {
        writer_ = std::make_unique<JpegWriter>(std::move(sink));
    } catch (const std::bad_alloc&) {
        return;
    }
    started_ = startEncoding(*writer_, width, height, bytesPerPixel == 3, colourProfile, exif);
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

