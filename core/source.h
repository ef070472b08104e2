#pragma once
// What the program knows of a source file before it decodes it, read from its bytes once, and
// how much of it each use decodes: libjpeg's reduction is chosen here and nowhere else.
#include "common/bytes.h"
#include "common/pixels.h"
#include "core/colour_profile.h"
#include "core/exif.h"
#include "core/jpeg_decoder.h"
#include "core/reduced_view.h"

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

// The largest of libjpeg's reductions (8, 4 or 2; else 1) at which `region` still has at least
// `needed` pixels on each side.
int reductionFor(ImageSize region, ImageSize needed);

// The view a JPEG is decoded whole for when a use needs `needed` pixels of its upright picture;
// full size for any other kind.
ReducedView decodingView(const SourceFacts& facts, ImageSize needed);
