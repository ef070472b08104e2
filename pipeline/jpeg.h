#pragma once
// JPEG files through libjpeg-turbo, several times faster than the imaging library's codec:
// decoding straight into a bitmap's pixels, and encoding at quality 100, which Wine's GDI+
// encoder ignores. Every other format stays with GDI+.
#include "common/imaging.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_encoder.h"
#include "core/source.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A sink that writes the bytes to a new file at `path`, replacing what it held; null when the
// file cannot be made. What it wrote stays when a write fails; the caller removes the file.
ByteSink fileSink(const char* path);

// What `decode` writes through the PixelsFor it is given, into a new bitmap: 24-bit RGB for 3 bytes
// a pixel, `fourBytesFormat` for 4. `failed`, with `result` empty, also for a size GDI+ cannot
// hold; `outOfMemory` when the bitmap or the decoder's memory cannot be had.
DecodeOutcome decodeIntoBitmap(const std::function<DecodeOutcome(const PixelsFor& target)>& decode,
                               imaging::PixelFormat fourBytesFormat, imaging::GdiBitmap& result);

// A JPEG decoded by decodeJpegPixels into a new bitmap: 24-bit RGB for colour and grey pictures,
// 32-bit RGB for ink ones. `failed`, with `result` empty, also for a size GDI+ cannot hold;
// `outOfMemory` when the bitmap or libjpeg's memory cannot be had.
DecodeOutcome decodeJpeg(ByteSpan file, const JpegHeader& header, imaging::GdiBitmap& result,
                         const ReducedView& view = {});

// A bitmap's pixels locked for reading as the encoders take them: 24-bit RGB as they are, any
// other format as 32-bit ARGB (3 or 4 bytes a pixel); empty when the bitmap has no size or
// cannot be locked.
class EncoderPixels {
public:
    explicit EncoderPixels(imaging::GpBitmap* picture);
    explicit operator bool() const { return lock_ && *lock_; }
    PixelRows rows() const;
    // Whether the bitmap's own format has alpha.
    bool alpha() const { return (format_ & PixelFormatAlpha) != 0; }

private:
    imaging::ImageSize size_;
    imaging::PixelFormat format_ = 0;
    std::optional<imaging::BitmapLock> lock_;
};

// Writes `picture` (24-bit RGB, or any other format read as 32-bit ARGB with its alpha
// dropped) to `path` as a baseline JPEG at quality 100 with 4:2:0 chroma, replacing what the
// file held, streaming to it as it encodes, with `colourProfile` as JpegRowWriter writes it.
// False when it cannot be encoded or written.
bool writeJpeg(imaging::GpBitmap* picture, const char* path, const std::vector<uint8_t>& colourProfile = {});
