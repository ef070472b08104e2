#pragma once
// JPEG files held in memory, decoded through libjpeg-turbo into plain pixels: whole, a band of
// rows at a time, or at a reduced size with nothing from beyond a kept region's edge.
#include "common/bytes.h"
#include "common/cancellation.h"
#include "common/outcome.h"
#include "common/pixels.h"
#include "core/decoding_target.h"
#include "core/jpeg_segments.h"
#include "core/reduced_view.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

// What a JPEG's header tells before any decoding: the picture's size as its frame header gives
// it (0 x 0 for a file that is no JPEG or that libjpeg refuses), and whether it holds inks (CMYK
// or YCCK).
struct JpegHeader {
    ImageSize size;
    bool inks = false;
};
JpegHeader jpegHeader(ByteSpan file);

struct JpegReader;
struct CutBlocks;

// Past this many scans a file is taken for damage: no encoder writes nearly so many, while every
// scan of a progressive file costs a pass over all its blocks.
constexpr int mostJpegScans = 500;

// A JPEG decoded in order, a band of rows at a time, at 1/scaleDenominator (1, 2, 4 or 8) of
// its size: 3 bytes a pixel (blue, green, red) for colour and grey pictures, 4 (inks) for CMYK
// and YCCK ones. The file and the cancellation must outlive the reader.
//
// A decoding fails as soon as the entropy-coded data of a scan ends before its last MCU (the file
// cut short, or its data damaged, which libjpeg would fill with grey), a multi-scan file shows its
// last scans missing, the file holds more than mostJpegScans scans, or `cancellation` says so.
// Other damage that libjpeg decodes past is no failure, nor is a missing end marker or anything
// after it.
class JpegRowReader {
public:
    // Reads the header and starts decoding (which for a progressive file reads every scan); not
    // started() when libjpeg refuses the file or the start fails. blockLocal: no pixel takes
    // anything from beyond its own block row and column (no fancy upsampling, no block smoothing).
    explicit JpegRowReader(ByteSpan file, int scaleDenominator = 1, bool blockLocal = false,
                           const Cancellation& cancellation = neverCancelled());
    ~JpegRowReader();
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    bool started() const { return started_; }
    ImageSize size() const;         // of the rows read
    ImageSize pictureSize() const;  // the file's own
    ImageSize blockSize() const;    // of its blocks of all components, in the picture's pixels
    // Before the first row: only the columns from `first` on, `width` of them, which libjpeg
    // widens to whole blocks (both are updated).
    bool crop(int& first, int& width);
    // Before the first row of a blockLocal reader: also decode at full size, into `blocks`, the
    // blocks holding the pixels of `columns` and `rows`, as keepCutBlocks (cut_blocks.h) says.
    bool keepCutBlocks(CutBlocks& blocks, const PixelArea& columns, const PixelArea& rows);
    // Passes over rows without making their pixels.
    bool skip(int rows);
    bool inks() const;
    bool adobeInks() const;  // stored inverted, as Adobe's files store them
    // The next `count` rows into rows of `stride` bytes. False after a failure, and for every
    // call after one.
    bool read(uint8_t* pixels, int stride, int count);
    // Every row at once, on two threads, into rows of `stride` bytes, with the blocks kept by
    // keepCutBlocks when given: as read() and finish() would decode them. False, with the
    // reader where it was and what it wrote to be read over, when the file is not of the kind
    // that allows it (split_scan.h), or is damaged.
    bool readSplit(uint8_t* pixels, int stride, CutBlocks* blocks);
    // Once every row is read: whether the rest of the file decoded too.
    bool finish();
    // Why the reader did not start, or a step failed.
    Outcome failure() const { return failure_; }

private:
    bool failed(Outcome outcome);

    std::unique_ptr<JpegReader> reader_;
    bool started_ = false;
    Outcome failure_ = Outcome::done;
};

// Decodes a JPEG whose header is `header` into the rows `target` gives, each side
// 1/view.scaleDenominator (1, 2, 4 or 8) of the picture's, rounded up. A view that cuts (a reduced
// decoding of only the kept region from the top left) shows nothing from beyond the region's edge:
// the blocks that straddle it are decoded at full size too, and the reduced pixels there become
// the means of their part inside. An ink picture has no cut blocks: a view that cuts one fails it
// as damaged; it is decoded 4 bytes a pixel, its inks made the colours GDI+ shows for them. Damaged
// data that libjpeg decodes past with a warning counts as decoded; a fatal error anywhere, no rows
// to write to, or a file libjpeg refuses fails it, as JpegRowReader says.
Outcome decodeJpegPixels(ByteSpan file, const JpegHeader& header, const ReducedView& view, const PixelsFor& target,
                         const Cancellation& cancellation = neverCancelled());
