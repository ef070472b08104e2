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

// The reduction as a new bitmap: 24-bit RGB, or 32-bit premultiplied ARGB for 4 bytes a pixel
// (empty when it cannot be made).
imaging::GdiBitmap bitmapOf(const BoxReduction& reduction);

// The picture (of any pixel format) reduced by BoxReduction to at least `atLeast`: 24-bit when
// it is, else premultiplied; empty when it needs no reduction, or cannot be locked or made.
imaging::GdiBitmap boxReducedCopy(imaging::GpBitmap* picture, imaging::ImageSize atLeast);
