#pragma once
// GDI+ bitmaps to and from the portable codecs: a sink that writes their output to a file, their
// decodings into a new bitmap, and a bitmap's pixels as their encoders take them.
#include "common/win32/imaging.h"
#include "core/exif.h"
#include "core/jpeg_decoder.h"
#include "core/jpeg_encoder.h"

#include <functional>
#include <optional>

// A sink that writes the bytes to a new file at `path`, replacing what it held; null when the
// file cannot be made. What it wrote stays when a write fails; the caller removes the file.
ByteSink fileSink(const wchar_t* path);

// What `decode` writes through the PixelsFor it is given, into a new bitmap of its layout's format
// (24-bit RGB, 32-bit RGB, ARGB or PARGB). Unless `done`, `result` is empty: the decoding failed,
// or the bitmap is tooLarge for GDI+ to hold or its memory cannot be had.
Outcome decodeIntoBitmap(const std::function<Outcome(const PixelsFor& target)>& decode, imaging::GdiBitmap& result);

// The Exif of a picture GDI+ decoded, as exifBlockOfProperties makes it of the properties GDI+
// lists (a TIFF's tags: Wine's GDI+ lists those of IFD0 only); empty where it lists none that are
// carried, or more than largestExifBlock bytes of them.
ExifBlock exifOfProperties(imaging::GpBitmap* picture);

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
