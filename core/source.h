#pragma once
// What the program knows of a source file before it decodes it, read from its bytes once, and
// how much of it each use decodes: libjpeg's reduction is chosen here and nowhere else.
#include "common/bytes.h"
#include "common/pixels.h"
#include "core/colour_profile.h"
#include "core/exif.h"
#include "core/jpeg_decoder.h"

enum class SourceKind { jpeg, png, webp, other };

// A JPEG's header (a WebP's canvas size), the orientation of a JPEG or WebP (1 to 8, or 0 for
// none), the colour profile a JPEG, PNG or WebP holds as forRgbOutputs keeps it, and the TIFF block
// of its Exif (a JPEG's APP1 segment, a PNG's eXIf chunk, a WebP's EXIF chunk).
struct SourceFacts {
    SourceKind kind = SourceKind::other;
    JpegHeader header;
    int orientation = 0;
    ColourProfile colourProfile;
    ExifBlock exif;

    // A JPEG's or WebP's size as viewers show it, turned by its orientation; 0 x 0 for any other
    // file.
    ImageSize uprightSize() const;
    bool turned() const { return orientation >= 2; }
};

// A profile or an Exif block that cannot be held is left out, as is a block larger than
// largestExifBlock.
SourceFacts sourceFacts(ByteSpan file) noexcept;

// What an output carries of its source beside the pixels: the colour profile, and the source's
// Exif block as carriedExif writes it for an output of that size (none where the source has none).
struct CarriedMetadata {
    ColourProfile colourProfile;
    ExifBlock exif;
};
CarriedMetadata carriedMetadata(const ColourProfile& colourProfile, ByteSpan sourceExif, ImageSize outputSize);

// Whether a file's first bytes are the signature of a kind of picture that the program or GDI+
// decodes: JPEG, PNG, GIF, BMP, TIFF or WebP.
bool isPictureFile(ByteSpan head);

// How much of a picture a decoding makes: libjpeg's reduction (1, 2, 4 or 8), and the region of
// the stored picture from its top left beyond which nothing may show (a side 0: all of it).
struct ReducedView {
    int scaleDenominator = 1;
    ImageSize kept;
};

// The largest of libjpeg's reductions (8, 4 or 2; else 1) at which `region` still has at least
// `needed` pixels on each side.
int reductionFor(ImageSize region, ImageSize needed);

// The view a JPEG is decoded for when a use needs `needed` pixels of the region `kept` of the
// upright picture from its top left (a side 0: all of it). A region is kept only where the
// decoding can keep it: a picture stored turned has it elsewhere, an ink picture has no cut
// blocks, so those are decoded whole at full size; a region as large as the picture is none.
ReducedView decodingView(const SourceFacts& facts, ImageSize needed, ImageSize kept = {});
