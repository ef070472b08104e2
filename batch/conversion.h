#pragma once
// The conversion of the list of files, each next file read, decoded or streamed ahead while the
// current one is written, and of one picture alone.
#include "batch/conversion_panes.h"
#include "common/outcome.h"
#include "common/task_line.h"
#include "settings/settings.h"

#include <string>
#include <vector>

// A file that failed, and why.
struct FailedFile {
    std::wstring name;
    Outcome reason;
};

// How a conversion went: the files written, those that failed, and those a stop left.
struct ConversionCounts {
    int written = 0;
    std::vector<FailedFile> failed;
    int left = 0;  // not reached before a stop
};

// Converts the list in order until a stop covers `ticket` or the dialog closes; every decoding has
// ended when it returns.
ConversionCounts convertEach(int ticket, TaskLine& decodingLine, ConversionPanes& panes);

// One picture: decodes it, shows it and its result in the preview panes (when the canvas
// lock can be had, and only while drawing there), renders it at full size with `settings`
// and, unless previewOnly, saves it. `done` once an output file is written (or for a preview,
// the picture rendered), else why not; an undecodable source never writes one.
Outcome processFile(const wchar_t* sourcePath, const wchar_t* outputPath, const char* subtype,
                    bool previewOnly, const WatermarkSettings& settings);
