#pragma once
// Colour profiles put into PNG outputs once GDI+ has saved them.
#include "core/colour_profile.h"

// Rewrites the PNG at `path` with an iCCP chunk of `profile` right after its header chunk, and
// without the iCCP and sRGB chunks it held; false when it is no well-formed PNG, compression
// fails or the file cannot be written.
bool addColourProfileToPng(const char* path, const ColourProfile& profile);
