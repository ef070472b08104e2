#pragma once
// Colour profiles put into PNG outputs once GDI+ has saved them.
#include "core/colour_profile.h"

// Writes the PNG at `plainPath` to `path` with an iCCP chunk of `profile` right after its header
// chunk, and without the iCCP and sRGB chunks it held, a piece at a time; false when it is no
// well-formed PNG, compression fails or `path` cannot be written.
bool copyPngWithColourProfile(const wchar_t* plainPath, const wchar_t* path, const ColourProfile& profile);
