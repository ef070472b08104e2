#pragma once
// A source decoded and turned upright as its orientation says, so that everything after sees it
// as viewers do.
#include "common/win32/imaging.h"
#include "pipeline/jpeg.h"
#include "pipeline/source_file.h"

// A decoded picture: the outcome, the picture (empty unless the outcome is `done`), the
// upright picture's full size, and the reduction it came at.
struct UprightDecoding {
    Outcome outcome = Outcome::damaged;
    imaging::GdiBitmap picture;
    imaging::ImageSize uprightSize;
    int scaleDenominator = 1;
};

// Decodes `source` (a JPEG through libjpeg-turbo at `view`, as its plan has it; a WebP through
// libwebp; anything else, and a JPEG whose header libjpeg refuses, whole through GDI+, from the
// bytes already read where they hold the whole file) and turns or mirrors it as its orientation
// says; a turn that fails fails the decoding. A file that could not be read fails as its reading
// did.
UprightDecoding decodeUpright(const SourceFile& source, const ReducedView& view = {},
                              const Cancellation& cancellation = neverCancelled());
