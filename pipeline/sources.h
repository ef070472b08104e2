#pragma once
// The pictures a preview or a conversion works on: the files of the source directory
// found by extension, or the one file named. Only the worker thread scans and reads it.
#include <cstddef>
#include <cstdint>

constexpr int sourceListCapacity = 100;
constexpr std::size_t sourceEntrySize = 260;

struct SourceList {
    char entries[sourceListCapacity][sourceEntrySize];
    int32_t count;
};

// Rebuilds the list from sourcePath, reporting on the status line. A path that does not
// fit an entry whole is left out, so every listed path names the file it was found as.
void scanSources();

int sourceCount();

// Entry `index`, 0 <= index < sourceCount(), NUL-terminated.
const char* sourceEntry(int index);
