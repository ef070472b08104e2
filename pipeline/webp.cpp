#include "pipeline/webp.h"

#include "pipeline/jpeg.h"

#include <new>

using namespace imaging;

DecodeOutcome decodeWebp(ByteSpan file, GdiBitmap& result)
{
    return decodeIntoBitmap([&](const PixelsFor& target) { return decodeWebpPixels(file, target); }, PixelFormat32bppARGB,
                            result);
}

bool writeWebp(GpBitmap* picture, const char* path, const ColourProfile& colourProfile)
{
    const ImageSize size = imageSize(picture);
    PixelFormat format = 0;
    if (size.width <= 0 || size.height <= 0 || GdipGetImagePixelFormat(picture, &format) != Ok) return false;
    const bool rgb = format == PixelFormat24bppRGB;
    const BitmapLock pixels(picture, Rect(0, 0, size.width, size.height), ImageLockModeRead,
                            rgb ? PixelFormat24bppRGB : PixelFormat32bppARGB);
    if (!pixels) return false;
    const PixelRows rows{static_cast<uint8_t*>(pixels.data().Scan0), pixels.data().Stride, size.width, size.height,
                         rgb ? 3 : 4};
    try {
        return encodeWebp(rows, (format & PixelFormatAlpha) != 0, colourProfile, fileSink(path));
    } catch (const std::bad_alloc&) {
        return false;
    }
}
