#pragma once
// Owners of GDI+ handles: each holds one handle and releases it when it goes out of scope.
#include <windows.h>

#include <gdiplus.h>

#include "common/pixels.h"
#include "common/pooled_memory.h"

#include <utility>

namespace imaging {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

template <typename Handle, GpStatus(WINGDIPAPI* dispose)(Handle*)>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle* handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    Handle* get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // For a creating call: releases what is held and receives the new handle.
    Handle** receive()
    {
        reset();
        return &handle_;
    }

    void reset()
    {
        if (handle_ != nullptr) dispose(handle_);
        handle_ = nullptr;
    }

private:
    Handle* handle_ = nullptr;
};

inline GpStatus WINGDIPAPI disposeBitmap(GpBitmap* bitmap) { return GdipDisposeImage(bitmap); }

// A bitmap, and the pooled pixels it was made on when it was: they go back to the pool only
// once the bitmap that draws on them is disposed.
class GdiBitmap {
public:
    GdiBitmap() = default;
    explicit GdiBitmap(GpBitmap* handle) : handle_(handle) {}
    ~GdiBitmap() { reset(); }
    GdiBitmap(GdiBitmap&& other) noexcept = default;
    GdiBitmap& operator=(GdiBitmap&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::move(other.handle_);
            pixels_ = std::move(other.pixels_);
        }
        return *this;
    }

    GpBitmap* get() const { return handle_.get(); }
    explicit operator bool() const { return static_cast<bool>(handle_); }
    GpBitmap** receive()
    {
        reset();
        return handle_.receive();
    }
    void reset()
    {
        handle_.reset();
        pixels_ = PooledMemory();
    }

    // Only createBitmap: the bitmap it made on `pixels`.
    void adopt(GpBitmap* handle, PooledMemory pixels)
    {
        reset();
        *handle_.receive() = handle;
        pixels_ = std::move(pixels);
    }

private:
    using Handle = Owned<GpBitmap, disposeBitmap>;
    Handle handle_;
    PooledMemory pixels_;
};
using GdiGraphics = Owned<GpGraphics, GdipDeleteGraphics>;
using GdiBrush = Owned<GpBrush, GdipDeleteBrush>;
using GdiPen = Owned<GpPen, GdipDeletePen>;
using GdiFont = Owned<GpFont, GdipDeleteFont>;
using GdiFontFamily = Owned<GpFontFamily, GdipDeleteFontFamily>;
using GdiStringFormat = Owned<GpStringFormat, GdipDeleteStringFormat>;

using ::ImageSize;
// The size of an image; 0 x 0 for no image.
ImageSize imageSize(GpImage* image);

// Whether GDI+ can hold width x height pixels of `format`: both sides positive, and the row
// stride and stride x height within INT, in which its flat interface computes every size (Wine
// wraps a product past it into a far smaller buffer). Computed in 64 bits.
bool bitmapFits(long long width, long long height, PixelFormat format);

// A new bitmap whose pixels start at zero (GdipCreateBitmapFromScan0), into `result`; a large
// one's pixels are pooled memory, given back when the bitmap is disposed. A size that does not
// fit is refused before GDI+ is asked, as ValueOverflow; OutOfMemory when it fits but cannot be
// had.
GpStatus createBitmap(int width, int height, PixelFormat format, GdiBitmap& result);

// The pixels of a rectangle of a bitmap in one format, locked for its lifetime
// (GdipBitmapLockBits); empty when the bitmap cannot be locked so, also when a copy in that
// format would not fit (bitmapFits).
class BitmapLock {
public:
    BitmapLock(GpBitmap* bitmap, const Rect& area, UINT mode, PixelFormat format);
    ~BitmapLock();
    BitmapLock(const BitmapLock&) = delete;
    BitmapLock& operator=(const BitmapLock&) = delete;

    explicit operator bool() const { return locked_; }
    const BitmapData& data() const { return data_; }

private:
    GpBitmap* bitmap_;
    BitmapData data_{};
    bool locked_ = false;
};

// Starts the imaging library (GDI+) for the process, once for every stopImagingLibrary.
void startImagingLibrary();
// Ends it, once nothing made by it is left.
void stopImagingLibrary();

}  // namespace imaging
