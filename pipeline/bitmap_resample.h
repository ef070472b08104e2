#pragma once
// The resampling pass between GDI+ bitmaps, each locked for it in the format the pass reads or
// writes.
#include "common/win32/imaging.h"
#include "core/resample.h"

// resampleRegion between two bitmaps of any pixel format, each locked for the pass; the
// target is written as 32-bit premultiplied or straight ARGB, or as 24-bit RGB when that is
// its format. False, with the target as it was, when there is nothing to resample or either
// bitmap cannot be locked.
bool resampleInto(imaging::GpBitmap* source, double regionWidth, double regionHeight,
                  imaging::GpBitmap* target, TargetAlpha alpha, const ColourGains& gains);

// A new 32-bit premultiplied ARGB bitmap of width x height made by resampleRegion from a
// bitmap of any pixel format; empty when there is nothing to resample or a bitmap cannot be
// locked or made.
imaging::GdiBitmap resampleBitmap(imaging::GpBitmap* source, double regionWidth, double regionHeight, int width,
                                  int height);
