#pragma once
// The pictures the two panes show, made small before the canvas is locked. A preview renders
// its target at the scale at which the target pane shows it, from a reduced copy of the
// source that it keeps from one preview of the same file to the next.
#include "common/cancellation.h"
#include "common/win32/imaging.h"
#include "pipeline/geometry.h"
#include "settings/settings.h"

#include <windows.h>

#include <optional>
#include <string>

// The size a source is reduced to once for all its previews: each side scaled by the larger
// of the two pane ratios (never above 1), so that whatever crop of it a target takes, the
// target pane shows it without enlarging the copy.
imaging::ImageSize workingSize(imaging::ImageSize source);

// A target as the target pane shows it: width x height pixels, made from the region
// regionWidth x regionHeight of the working copy, the text's em size times textScale.
struct PaneRender {
    int32_t width = 0;
    int32_t height = 0;
    double regionWidth = 0.0;
    double regionHeight = 0.0;
    double textScale = 1.0;
};
PaneRender paneRenderFor(const TargetGeometry& target, imaging::ImageSize source,
                         imaging::ImageSize working);

// Which file a preview source was read from; two are equal only when full path, size and
// last write time all are.
struct FileIdentity {
    std::wstring fullPath;
    ULONGLONG size = 0;
    ULONGLONG lastWrite = 0;
    bool operator==(const FileIdentity& other) const;
};
// Empty when the file cannot be queried.
std::optional<FileIdentity> identifyFile(const wchar_t* path);

// A source as the panes need it: its decoded size, its working copy and its source-pane
// picture. Previews keep the first source so; the full decoded picture is not kept.
struct PreviewSource {
    FileIdentity file;
    imaging::ImageSize size;
    imaging::GdiBitmap working;
    imaging::GdiBitmap sourcePicture;
};

// Shows `sourcePath` and its watermarked result in the panes, rendered at the panes' scale
// (renderIntoPanes). Reuses `cache` when it holds that very file, else decodes it into `cache`; a
// file that cannot be queried or decoded leaves `cache` empty and is shown as undecodable. A
// cancelled decoding shows nothing.
void previewFileInPanes(std::optional<PreviewSource>& cache, const wchar_t* sourcePath, const WatermarkSettings& settings,
                        const Cancellation& cancellation = neverCancelled());

// What the panes need of a decoded picture whose full size is `size` (`decoded` may be a
// reduced decoding of it, at least the working size, or a streamed file's box reduction); none
// for no picture or when no copy can be made. The working copy is the picture averaged over the
// largest boxes of whole pixels that leave it at least the working size, then resampled to that
// size: the same for a file however it was decoded. Needs no settings, so a conversion makes it
// while decoding.
std::optional<PreviewSource> reduceForPanes(imaging::GpBitmap* decoded, imaging::ImageSize size);

// Renders the target of a reduced source (null: one that could not be decoded) at the panes'
// scale with `settings`, outside canvasLock, then draws both through drawPanesUnderLock.
void renderIntoPanes(const PreviewSource* source, const WatermarkSettings& settings);
