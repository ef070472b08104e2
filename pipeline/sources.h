#pragma once
// The pictures a preview or a conversion works on: the files of the source directory
// found by extension, or the one file named. Only the worker thread scans and reads it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

constexpr int sourceListCapacity = 100;
constexpr std::size_t sourceEntrySize = 260;

// Paths in UTF-16, so that a name in any script is found and opened as it is.
struct SourceList {
    wchar_t entries[sourceListCapacity][sourceEntrySize];
    int32_t count;
};

// What a scan found: whether it searched a directory (an empty path, or one that cannot be
// queried, is searched as one), which one, how many files it listed, and how many more it
// found once the list was full.
struct ScanReport {
    bool searchedDirectory = false;
    std::wstring directory;
    int count = 0;
    int leftOut = 0;
};

// Rebuilds the list from sourcePath, telling `searching` the directory before it searches one.
// A path that does not fit an entry whole is left out, so every listed path names the file it
// was found as.
ScanReport scanSources(const std::function<void(const std::wstring& directory)>& searching);

// Whether a found name's own long name ends with a point and `extension` (lower case), ignoring
// the name's ASCII case.
// Windows also matches "*.jpg" against 8.3 short names, so that "x.jpeg" (X~1.JPG) is found by
// it too; such a name is the other extension's to list.
bool hasExtension(std::wstring_view name, std::wstring_view extension);

int sourceCount();
// The files the last scan found beyond the list's room.
int sourcesLeftOut();

// Entry `index`, 0 <= index < sourceCount(), NUL-terminated.
const wchar_t* sourceEntry(int index);
