#pragma once
// Where a converted picture goes and in which format it is encoded.
#include "common/win32/imaging.h"
#include "common/outcome.h"
#include "core/source.h"
#include "settings/settings.h"

#include <cstdint>
#include <functional>
#include <vector>
#include <string>
#include <string_view>

constexpr std::size_t outputPathSize = 260;
constexpr std::size_t subtypeSize = 128;

struct OutputTarget {
    wchar_t outputPath[outputPathSize];  // <source directory>\converted\<file name>
    char subtype[subtypeSize];        // lower-case MIME subtype: the type is "image/<subtype>"
};

// The text before the last backslash; empty when there is none.
std::wstring parentDirectory(std::wstring_view path);

// The text after the last backslash; all of it when there is none.
std::wstring fileName(std::wstring_view path);

// The text after the last point of the final component; empty when it has no point.
std::wstring fileExtension(std::wstring_view path);

// Replaces the text after the last point of the final component; no point, no change.
std::wstring replaceExtension(std::wstring_view newExtension, std::wstring_view path);

// "<directory of the source's full path>\converted"; empty when there is no full path.
std::wstring outputDirectory(const wchar_t* sourcePath);

// The name a second source gets when its output name is taken already (a.png and a.bmp
// both as jpg): the source's own file name with the output's extension after it, in the
// output's directory (a.bmp.jpg; a.png.png when the format is kept).
std::wstring alternativeOutputPath(std::wstring_view outputPath, std::wstring_view sourcePath);

// Fills `target` for one source file. Returns false, leaving both fields empty, when the
// result does not fit them whole or the full path cannot be had: such a file is refused.
// The format's name is an ANSI text; the subtype is the ANSI spelling of what it names.
bool makeOutputTarget(const wchar_t* sourcePath, std::string_view outputFormat, OutputTarget& target);

// Position of the encoder for a MIME type (compared case-sensitively) in the imaging
// library's list, with its class identifier; -1 when there is none.
int findEncoder(const wchar_t* mimeType, CLSID* encoder);

// The encoder parameters of every save: the quality 100.
imaging::EncoderParameters saveParameters();

// Has encode(temporaryPath) write a new file beside outputPath and puts it in outputPath's
// place only when that gave `done`; else removes it. `done` once outputPath is written, else
// why not: what encode gave (notWritten for a write that failed, diskFull when that left the disk
// all but full), or notWritten when no file can be made beside outputPath or put in its place.
Outcome saveThroughTemporary(const wchar_t* outputPath,
                             const std::function<Outcome(const wchar_t* temporaryPath)>& encode);

// Encodes `target` with the encoder for image/<subtype> into outputPath, replacing a file
// of that name only once the new one is complete; a JPEG, PNG or WebP carries what `carried`
// holds. `done` once a file is written, else why not (noEncoder when there is
// no such encoder, as saveThroughTemporary says otherwise), and then nothing is left behind.
Outcome saveImage(imaging::GpBitmap* target, const wchar_t* outputPath, const char* subtype,
                  const CarriedMetadata& carried = {});
