#include "pipeline/orientation.h"

#include "common/text.h"
#include "pipeline/jpeg.h"
#include "pipeline/webp.h"

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

DecodeOutcome outcomeOf(GpStatus status)
{
    if (status == Ok) return DecodeOutcome::decoded;
    return status == OutOfMemory ? DecodeOutcome::outOfMemory : DecodeOutcome::failed;
}

// GDI+ turns into a copy of the picture, which must fit with its sides swapped.
DecodeOutcome turned(GpBitmap* picture, RotateFlipType rotation)
{
    const ImageSize size = imageSize(picture);
    PixelFormat format = 0;
    GdipGetImagePixelFormat(picture, &format);
    const bool quarterTurn = rotation == Rotate90FlipNone || rotation == Rotate270FlipNone;
    if (quarterTurn && !bitmapFits(size.height, size.width, format)) return DecodeOutcome::failed;
    return outcomeOf(GdipImageRotateFlip(picture, rotation));
}

}  // namespace

UprightDecoding decodeUpright(const SourceFile& source, const ReducedView& view)
{
    UprightDecoding result;
    result.scaleDenominator = view.scaleDenominator;
    if (source.facts.kind == SourceKind::jpeg)
        result.outcome = decodeJpeg(source.bytes, source.facts.header, result.picture, view);
    if (source.facts.kind == SourceKind::webp) result.outcome = decodeWebp(source.bytes, result.picture);
    if (result.outcome == DecodeOutcome::failed) {
        result.scaleDenominator = 1;
        result.outcome = outcomeOf(GdipCreateBitmapFromFile(toWide(source.path), result.picture.receive()));
    }
    const int orientation = source.facts.orientation;
    if (result.outcome == DecodeOutcome::decoded && orientation >= 2) {
        const Turn& turn = uprightTurns[orientation - 1];
        result.outcome = turned(result.picture.get(), turn.rotation);
        if (result.outcome == DecodeOutcome::decoded && turn.thenFlip)
            result.outcome = turned(result.picture.get(), RotateNoneFlipX);
    }
    if (result.outcome != DecodeOutcome::decoded) return {result.outcome, {}, {}, 1};
    result.uprightSize = result.scaleDenominator == 1 ? imageSize(result.picture.get()) : source.facts.uprightSize();
    return result;
}
