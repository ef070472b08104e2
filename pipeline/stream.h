#pragma once
// A JPEG converted with its size kept, a band of rows at a time: libjpeg decodes on a thread of
// its own while the calling thread puts each band through the colour gains and the watermark's
// layer and hands it on, to the JPEG encoder (then no whole picture is ever held) or into the
// target bitmap that GDI+ encodes for any other format. The file comes out as the whole-picture
// path (decode, renderWatermarked, saveImage) makes it.
#include "common/imaging.h"
#include "pipeline/source_file.h"
#include "settings/settings.h"

// `notStreamed`: nothing was written, and the file goes the whole-picture way, which also
// tries GDI+: the size is not kept, the picture needs a turn, holds inks (CMYK), or libjpeg
// refuses or fails to decode it.
enum class StreamOutcome { notStreamed, written, failed };

// What a streamed conversion did, the picture's size, and unless notStreamed its `paneCopy`: the
// picture averaged over square boxes of whole pixels, as large as they can be while each side
// keeps at least paneSize(picture size) pixels (24-bit; empty when it cannot be made).
struct StreamedConversion {
    StreamOutcome outcome = StreamOutcome::notStreamed;
    imaging::ImageSize size;
    imaging::GdiBitmap paneCopy;
};

// Converts the JPEG `source` into outputPath as image/<subtype>, replacing a file there only
// once the new one is whole.
StreamedConversion convertStreamed(const SourceFile& source, const char* outputPath, const char* subtype,
                                   const WatermarkSettings& settings,
                                   imaging::ImageSize (*paneSize)(imaging::ImageSize picture));
