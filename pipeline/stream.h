#pragma once
// A JPEG converted with its size kept, a band of rows at a time: libjpeg decodes on a line of
// its own, where each band is also reduced for the panes and, for a JPEG target, put through the
// colour gains and the watermark's layer, while the writing thread hands each band on to the JPEG
// encoder (then no whole picture is ever held) or, through the gains and the layer, into the target
// bitmap that GDI+ encodes for any other format. The file comes out as the whole-picture path
// (decode, renderWatermarked, saveImage) makes it.
#include "common/win32/imaging.h"
#include "common/task_line.h"
#include "core/band_stream.h"
#include "core/conversion_plan.h"
#include "pipeline/source_file.h"
#include "settings/settings.h"

#include <functional>
#include <optional>
#include <string>

// How a streamed conversion ended (`done`: written), the picture's size, and once every band was
// decoded, its `paneReduction`: the picture averaged over square boxes of whole pixels, as large as
// they can be while each side keeps at least paneSize(picture size) pixels.
struct StreamedConversion {
    Outcome outcome = Outcome::damaged;
    imaging::ImageSize size;
    std::optional<BoxReduction> paneReduction;
};

// A source whose plan streams it, on its way to image/<subtype> with `settings`: its decoding is
// posted on the line as soon as it is made, and waits there for the files before it; it ends early
// when `givenUpWhen` says so.
class StreamedFile {
public:
    // May throw std::bad_alloc.
    StreamedFile(SourceFile source, const WatermarkSettings& settings, const ConversionPlan& plan, const char* subtype,
                 TaskLine& line, imaging::ImageSize (*paneSize)(imaging::ImageSize picture),
                 std::function<bool()> givenUpWhen = {});
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;

    // Whether these settings and subtype make the conversion it was begun for.
    bool beganFor(const WatermarkSettings& settings, const char* subtype) const;
    // Writes the file into outputPath, replacing a file there only once the new one is whole. Once.
    StreamedConversion writeTo(const wchar_t* outputPath);
    // The source back, for another way; its decoding has ended.
    SourceFile takeSource();

private:
    SourceFile source_;
    WatermarkSettings settings_;
    OutputFormat format_;
    std::string subtype_;
    std::optional<BandEffects> bitmapEffects_;  // for any target but a JPEG, which the band stream applies
    // Last: ended before the file it decodes goes.
    BandStream bands_;
};
