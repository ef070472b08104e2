#pragma once
// JPEG files through libjpeg-turbo, several times faster than the imaging library's codec:
// decoding straight into a bitmap's pixels, and encoding at quality 100, which Wine's GDI+
// encoder ignores. Every other format stays with GDI+.
#include "common/file_view.h"
#include "common/handles.h"
#include "common/imaging.h"
#include "common/pooled_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// How a decoding ended. A picture that failed for want of memory may decode when less else
// is held.
enum class DecodeOutcome { decoded, failed, outOfMemory };

// Whether the file opens with a JPEG's start-of-image marker.
bool opensAsJpeg(const char* path);

// The whole file when it opens as a JPEG (its start-of-image marker); empty for any other
// file, or one that cannot be read.
FileView readJpegFile(const char* path);

// The whole file when its first bytes are `opening`; empty otherwise, or when it cannot be read.
FileView readWholeFile(const char* path, std::string_view opening);

// Bytes of a file held in memory by someone else, who keeps them while the span is used; or a
// part of them. Empty by default.
class ByteSpan {
public:
    ByteSpan() = default;
    ByteSpan(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    ByteSpan(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
    ByteSpan(const PooledMemory& bytes) : data_(bytes.data()), size_(bytes.size()) {}
    ByteSpan(const FileView& bytes) : data_(bytes.data()), size_(bytes.size()) {}
    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    uint8_t operator[](std::size_t at) const { return data_[at]; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The contents (after its length) of the first application segment of that marker (0xE0 to
// 0xEF) whose contents begin with `signature`, among all the segments before the JPEG's frame
// header; empty when there is none, or the file does not hold it whole.
ByteSpan applicationSegment(ByteSpan file, uint8_t marker, std::string_view signature);

// Every such segment before the frame header, in the file's order, up to any that the file does
// not hold whole.
std::vector<ByteSpan> applicationSegments(ByteSpan file, uint8_t marker, std::string_view signature);

// What a JPEG's header tells before any decoding: the picture's size as its frame header gives
// it (0 x 0 for a file that is no JPEG), and whether it holds inks (CMYK or YCCK).
struct JpegHeader {
    imaging::ImageSize size;
    bool inks = false;
};
JpegHeader jpegHeader(ByteSpan file);

// The largest of libjpeg's reductions (8, 4 or 2; else 1) whose picture, each side divided and
// rounded up as libjpeg does, still has at least `needed` pixels on each side.
int reducedScaleFor(imaging::ImageSize picture, imaging::ImageSize needed);

struct JpegReader;
struct JpegWriter;
struct CutBlocks;

// A JPEG decoded in order, a band of rows at a time, at 1/scaleDenominator (1, 2, 4 or 8) of
// its size: 3 bytes a pixel (blue, green, red) for colour and grey pictures, 4 (inks) for CMYK
// and YCCK ones. The file must outlive the reader.
class JpegRowReader {
public:
    // Reads the header and starts decoding; not started() when libjpeg refuses the file.
    // blockLocal: no pixel takes anything from beyond its own block row and column (no fancy
    // upsampling, no block smoothing).
    explicit JpegRowReader(ByteSpan file, int scaleDenominator = 1, bool blockLocal = false);
    ~JpegRowReader();
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    bool started() const { return started_; }
    imaging::ImageSize size() const;         // of the rows read
    imaging::ImageSize pictureSize() const;  // the file's own
    imaging::ImageSize blockSize() const;    // of its blocks of all components, in the picture's pixels
    // Before the first row: only the columns from `first` on, `width` of them, which libjpeg
    // widens to whole blocks (both are updated).
    bool crop(int& first, int& width);
    // Before the first row of a blockLocal reader: also decode at full size, into `blocks`, the
    // blocks holding the pixels of `columns` and `rows`, as keepCutBlocks (cut_blocks.h) says.
    bool keepCutBlocks(CutBlocks& blocks, const imaging::Rect& columns, const imaging::Rect& rows);
    // Passes over rows without making their pixels.
    bool skip(int rows);
    bool inks() const;
    bool adobeInks() const;  // stored inverted, as Adobe's files store them
    // The next `count` rows into rows of `stride` bytes. False after a fatal error, and for
    // every call after one; damage libjpeg decodes past is no error.
    bool read(uint8_t* pixels, int stride, int count);
    // Every row at once, on two threads, into rows of `stride` bytes, with the blocks kept by
    // keepCutBlocks when given: as read() and finish() would decode them. False, with the
    // reader where it was and what it wrote to be read over, when the file is not of the kind
    // that allows it (split_scan.h), or is damaged.
    bool readSplit(uint8_t* pixels, int stride, CutBlocks* blocks);
    // Once every row is read: whether the rest of the file decoded too.
    bool finish();
    bool outOfMemory() const { return outOfMemory_; }

private:
    std::unique_ptr<JpegReader> reader_;
    bool started_ = false;
    bool outOfMemory_ = false;
};

// A new file at `path` encoded as writeJpeg encodes, from rows given in order a band at a time:
// 3 bytes a pixel (blue, green, red), or 4 with the fourth unused; with `colourProfile` (ICC) in
// APP2 chunks after the header unless it is too large for them. What it wrote stays when it
// fails; the caller removes the file.
class JpegRowWriter {
public:
    JpegRowWriter(const char* path, int width, int height, int bytesPerPixel = 3,
                  const std::vector<uint8_t>& colourProfile = {});
    ~JpegRowWriter();
    JpegRowWriter(const JpegRowWriter&) = delete;
    JpegRowWriter& operator=(const JpegRowWriter&) = delete;

    // False when the file could not be made or any step failed, then and for every later call.
    bool write(const uint8_t* pixels, int stride, int count);
    // Ends the picture, which must have every row; false when it or anything before failed.
    bool finish();

private:
    KernelHandle file_;
    std::unique_ptr<JpegWriter> writer_;
    bool started_ = false;
};

// Decodes a JPEG into a new bitmap, each side 1/scaleDenominator (1, 2, 4 or 8) of the
// picture's, rounded up. A reduced decoding for a view of only the kept region from the top left
// (a side 0 or the picture's own: all of it) shows nothing from beyond the region's edge: the
// blocks that straddle it are decoded at full size too, and the reduced pixels there become the
// means of their part inside. The pixels are 24-bit RGB for colour and grey pictures, 32-bit
// RGB for CMYK and YCCK ones, whose inks become the colours GDI+ shows for them. Damaged data that
// libjpeg decodes past with a warning counts as decoded, as with GDI+; a fatal error anywhere,
// a size GDI+ cannot hold, or a file libjpeg refuses is `failed`, with `result` empty. An ink
// picture has no cut blocks: it is decoded without regard to `kept`.
DecodeOutcome decodeJpeg(ByteSpan file, imaging::GdiBitmap& result, int scaleDenominator = 1,
                         imaging::ImageSize kept = {});

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB with its alpha
// dropped) to `path` as a baseline JPEG at quality 100 with 4:2:0 chroma, replacing what the
// file held, streaming to it as it encodes, with `colourProfile` as JpegRowWriter writes it.
// False when it cannot be encoded or written.
bool writeJpeg(imaging::GpBitmap* picture, const char* path, const std::vector<uint8_t>& colourProfile = {});
