#include "common/imaging.h"

namespace imaging {

GpStatus WINGDIPAPI disposeBitmap(GpBitmap* bitmap)
{
    return GdipDisposeImage(bitmap);
}

ImageSize imageSize(GpImage* image)
{
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(image, &width) != Ok) width = 0;
    if (GdipGetImageHeight(image, &height) != Ok) height = 0;
    return {static_cast<int>(width), static_cast<int>(height)};
}

BitmapLock::BitmapLock(GpBitmap* bitmap, const Rect& area, UINT mode, PixelFormat format) : bitmap_(bitmap)
{
    Rect lockedArea = area;
    locked_ = bitmap != nullptr && GdipBitmapLockBits(bitmap, &lockedArea, mode, format, &data_) == Ok;
}

BitmapLock::~BitmapLock()
{
    if (locked_) GdipBitmapUnlockBits(bitmap_, &data_);
}

}  // namespace imaging
