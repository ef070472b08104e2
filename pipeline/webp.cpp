#include "pipeline/webp.h"

#include "pipeline/codec_bitmaps.h"

#include <new>

using namespace imaging;

Outcome decodeWebp(ByteSpan file, GdiBitmap& result, const Cancellation& cancellation)
{
    return decodeIntoBitmap([&](const PixelsFor& target) { return decodeWebpPixels(file, target, cancellation); },
                            result);
}

Outcome writeWebp(GpBitmap* picture, const wchar_t* path, const CarriedMetadata& carried)
{
    const EncoderPixels pixels(picture);
    if (!pixels) return Outcome::outOfMemory;
    try {
        return encodeWebp(pixels.rows(), pixels.alpha(), carried.colourProfile, fileSink(path), carried.exif)
                   ? Outcome::done
                   : Outcome::notWritten;
    } catch (const std::bad_alloc&) {
        return Outcome::outOfMemory;
    }
}
