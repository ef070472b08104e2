#include "pipeline/orientation.h"

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "pipeline/jpeg.h"
#include "pipeline/webp.h"

#include <cstring>

using namespace imaging;

namespace {

// What turns orientations 1 to 8 upright: a turn, and for the mirrored 5 and 7 a horizontal
// flip after it, made as a call of its own. Windows' GDI+ turns before it flips in one
// Rotate90FlipX or Rotate270FlipX call, Wine's flips first, which mirrors the result.
struct Turn {
    RotateFlipType rotation;
    bool thenFlip;
};
constexpr Turn uprightTurns[] = {
    {RotateNoneFlipNone, false}, {RotateNoneFlipX, false}, {Rotate180FlipNone, false}, {RotateNoneFlipY, false},
    {Rotate90FlipNone, true},    {Rotate90FlipNone, false}, {Rotate270FlipNone, true}, {Rotate270FlipNone, false},
};

// Why GDI+ could not decode or turn a picture: it reports running out of memory for many a
// file it cannot read, so only a file of a kind it decodes is taken to have met that.
Outcome outcomeOf(GpStatus status, ByteSpan head)
{
    if (status == Ok) return Outcome::done;
    if (!isPictureFile(head)) return Outcome::notPicture;
    return status == OutOfMemory ? Outcome::outOfMemory : Outcome::damaged;
}

// GDI+ turns into a copy of the picture, which must fit with its sides swapped.
Outcome turned(GpBitmap* picture, RotateFlipType rotation)
{
    const ImageSize size = imageSize(picture);
    PixelFormat format = 0;
    GdipGetImagePixelFormat(picture, &format);
    const bool quarterTurn = rotation == Rotate90FlipNone || rotation == Rotate270FlipNone;
    if (quarterTurn && !bitmapFits(size.height, size.width, format)) return Outcome::tooLarge;
    const GpStatus status = GdipImageRotateFlip(picture, rotation);
    if (status == Ok) return Outcome::done;
    return status == OutOfMemory ? Outcome::outOfMemory : Outcome::damaged;
}

// A stream over a copy of `bytes`, which GDI+ may go on reading for as long as a bitmap made from
// it lives (each holds a reference); empty when the memory cannot be had.
ComReference<IStream> memoryStreamOf(ByteSpan bytes)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (memory == nullptr) return {};
    void* copy = GlobalLock(memory);
    if (copy == nullptr) {
        GlobalFree(memory);
        return {};
    }
    if (bytes.size() > 0) std::memcpy(copy, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
        GlobalFree(memory);
        return {};
    }
    return ComReference<IStream>(stream);
}

// GDI+'s decoding of the bytes already read where they hold the whole file (a PNG, or a JPEG
// libjpeg refuses), else of the file at its path.
GpStatus decodeWithGdiplus(const SourceFile& source, GdiBitmap& picture)
{
    if (!source.wholeFile()) return GdipCreateBitmapFromFile(source.path.c_str(), picture.receive());
    const ComReference<IStream> stream = memoryStreamOf(source.bytes);
    if (!stream) return OutOfMemory;
    return GdipCreateBitmapFromStream(stream.get(), picture.receive());
}

}  // namespace

UprightDecoding decodeUpright(const SourceFile& source, const ReducedView& view, const Cancellation& cancellation)
{
    UprightDecoding result;
    result.scaleDenominator = view.scaleDenominator;
    result.outcome = source.read;
    const SourceKind kind = source.facts.kind;
    // GDI+ decodes every other kind, and a JPEG whose header libjpeg refuses. One that libjpeg
    // starts and then fails, GDI+ would decode with its missing part grey, or for as long as
    // its scans go on.
    const bool jpeg = kind == SourceKind::jpeg && source.facts.header.size.width > 0;
    if (result.outcome == Outcome::done && jpeg)
        result.outcome = decodeJpeg(source.bytes, source.facts.header, result.picture, view, cancellation);
    else if (result.outcome == Outcome::done && kind == SourceKind::webp)
        result.outcome = decodeWebp(source.bytes, result.picture, cancellation);
    else if (result.outcome == Outcome::done && cancellation.cancelled())
        result.outcome = Outcome::cancelled;
    else if (result.outcome == Outcome::done) {
        result.scaleDenominator = 1;
        const GpStatus status = decodeWithGdiplus(source, result.picture);
        result.outcome = outcomeOf(status, source.bytes);
    }
    const int orientation = source.facts.orientation;
    if (result.outcome == Outcome::done && orientation >= 2) {
        const Turn& turn = uprightTurns[orientation - 1];
        result.outcome = turned(result.picture.get(), turn.rotation);
        if (result.outcome == Outcome::done && turn.thenFlip)
            result.outcome = turned(result.picture.get(), RotateNoneFlipX);
    }
    if (result.outcome != Outcome::done) return {result.outcome, {}, {}, 1};
    result.uprightSize = result.scaleDenominator == 1 ? imageSize(result.picture.get()) : source.facts.uprightSize();
    return result;
}
