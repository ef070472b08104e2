#include "pipeline/jpeg.h"

#include "pipeline/codec_bitmaps.h"

using namespace imaging;

Outcome decodeJpeg(ByteSpan file, const JpegHeader& header, GdiBitmap& result, const ReducedView& view,
                   const Cancellation& cancellation)
{
    return decodeIntoBitmap(
        [&](const PixelsFor& target) {
            return decodeJpegPixels(file, header, view, target, cancellation);
        },
        result);
}

Outcome writeJpeg(GpBitmap* picture, const wchar_t* path, const CarriedMetadata& carried)
{
    const EncoderPixels pixels(picture);
    if (!pixels) return Outcome::outOfMemory;
    const PixelRows rows = pixels.rows();
    JpegRowWriter writer(fileSink(path), rows.width, rows.height, rows.bytesPerPixel, carried.colourProfile,
                         carried.exif);
    return writer.write(rows.pixels, rows.stride, rows.height) && writer.finish() ? Outcome::done : Outcome::notWritten;
}
