#include "pipeline/webp.h"

#include "pipeline/codec_bitmaps.h"

#include <new>

using namespace imaging;

DecodeOutcome decodeWebp(ByteSpan file, GdiBitmap& result)
{
    return decodeIntoBitmap([&](const PixelsFor& target) { return decodeWebpPixels(file, target); }, PixelFormat32bppARGB,
                            result);
}

bool writeWebp(GpBitmap* picture, const char* path, const ColourProfile& colourProfile)
{
    const EncoderPixels pixels(picture);
    if (!pixels) return false;
    try {
        return encodeWebp(pixels.rows(), pixels.alpha(), colourProfile, fileSink(path));
    } catch (const std::bad_alloc&) {
        return false;
    }
}
