#pragma once
// Colour profiles and Exif put into PNG outputs once GDI+ has saved them.
#include "core/source.h"

// Writes the PNG at `plainPath` to `path` with what `carried` holds, as writePngWithMetadata puts
// it in, a piece at a time; false when it is no well-formed PNG, compression fails or `path`
// cannot be written.
bool copyPngWithMetadata(const wchar_t* plainPath, const wchar_t* path, const CarriedMetadata& carried);
