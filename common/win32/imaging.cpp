#include "common/win32/imaging.h"

#include "common/pooled_memory.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace imaging {

namespace {

// Smaller pixels come from GDI+ itself: a fresh block of this size costs little.
constexpr long long pooledPixelBytes = 1 << 20;

}  // namespace

ImageSize imageSize(GpImage* image)
{
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(image, &width) != Ok) width = 0;
    if (GdipGetImageHeight(image, &height) != Ok) height = 0;
    return {static_cast<int>(width), static_cast<int>(height)};
}

bool bitmapFits(long long width, long long height, PixelFormat format)
{
    constexpr long long largest = std::numeric_limits<INT>::max();
    if (width <= 0 || height <= 0 || width > largest || height > largest) return false;
    const long long stride = (width * GetPixelFormatSize(format) + 31) / 32 * 4;
    return stride <= largest && stride * height <= largest;
}

GpStatus createBitmap(int width, int height, PixelFormat format, GdiBitmap& result)
{
    result.reset();
    if (!bitmapFits(width, height, format)) return ValueOverflow;
    const INT stride = static_cast<INT>((width * static_cast<long long>(GetPixelFormatSize(format)) + 31) / 32 * 4);
    const long long bytes = static_cast<long long>(stride) * height;
    if (bytes < pooledPixelBytes || (format & PixelFormatIndexed) != 0)
        return GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, result.receive());
    PooledMemory pixels(static_cast<std::size_t>(bytes), PooledMemory::Contents::zeroed);
    if (!pixels) return OutOfMemory;
    GpBitmap* made = nullptr;
    const GpStatus created = GdipCreateBitmapFromScan0(width, height, stride, format, pixels.data(), &made);
    if (created == Ok) result.adopt(made, std::move(pixels));
    return created;
}

BitmapLock::BitmapLock(GpBitmap* bitmap, const Rect& area, UINT mode, PixelFormat format) : bitmap_(bitmap)
{
    Rect lockedArea = area;
    locked_ = bitmap != nullptr && bitmapFits(area.Width, area.Height, format) &&
              GdipBitmapLockBits(bitmap, &lockedArea, mode, format, &data_) == Ok;
}

BitmapLock::~BitmapLock()
{
    if (locked_) GdipBitmapUnlockBits(bitmap_, &data_);
}

namespace {

ULONG_PTR libraryToken = 0;

}  // namespace

void startImagingLibrary()
{
    GdiplusStartupInput input;
    GdiplusStartup(&libraryToken, &input, nullptr);
}

void stopImagingLibrary() { GdiplusShutdown(libraryToken); }

}  // namespace imaging
