#pragma once
// The resampling pass between GDI+ bitmaps, each locked for it in the format the pass reads or
// writes.
#include "common/win32/imaging.h"
#include "core/resample.h"

#include <optional>

// The region of a picture that starts at its top-left pixel (fractions allowed), kept within the
// picture and locked for reading as the resampler reads it: 24-bit RGB as it is (a decoded JPEG),
// any other format as premultiplied ARGB. Empty when there is no such region or no lock.
class LockedRegion {
public:
    LockedRegion(imaging::GpBitmap* picture, double regionWidth, double regionHeight);
    explicit operator bool() const { return lock_ && *lock_; }
    // Only when not empty: the rows of the whole pixels it touches, and its size.
    PixelRows rows() const;
    double width() const { return width_; }
    double height() const { return height_; }

private:
    double width_ = 0.0;
    double height_ = 0.0;
    int bytesPerPixel_ = 4;
    std::optional<imaging::BitmapLock> lock_;
};

// resampleRegion between two bitmaps of any pixel format, each locked for the pass; the
// target is written as 32-bit premultiplied or straight ARGB, or as 24-bit RGB when that is
// its format. False, with the target as it was, when there is nothing to resample or either
// bitmap cannot be locked.
bool resampleInto(imaging::GpBitmap* source, double regionWidth, double regionHeight,
                  imaging::GpBitmap* target, TargetAlpha alpha, const ColourGains& gains);

// A new 32-bit premultiplied ARGB bitmap of width x height made by resampleRegion from a
// bitmap of any pixel format; empty when there is nothing to resample or a bitmap cannot be
// locked or made.
imaging::GdiBitmap resampleBitmap(imaging::GpBitmap* source, double regionWidth, double regionHeight, int width,
                                  int height);

// The reduction as a new bitmap: 24-bit RGB, or 32-bit premultiplied ARGB for 4 bytes a pixel
// (empty when it cannot be made).
imaging::GdiBitmap bitmapOf(const BoxReduction& reduction);

// The picture (of any pixel format) reduced by BoxReduction to at least `atLeast`: 24-bit when
// it is, else premultiplied; empty when it needs no reduction, or cannot be locked or made.
imaging::GdiBitmap boxReducedCopy(imaging::GpBitmap* picture, imaging::ImageSize atLeast);
