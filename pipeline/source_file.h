#pragma once
// A source file opened once for everything done with it: its bytes read into memory and what
// they tell before any decoding.
#include "common/win32/file_reading.h"
#include "core/source.h"

#include <string>

struct SourceFile {
    std::wstring path;
    Outcome read = Outcome::done;  // how reading its bytes went
    // The whole file for the kinds the program decodes or parses itself (JPEG, PNG and WebP); the
    // first bytes of any other, which GDI+ reads by its path.
    PooledMemory bytes;
    SourceFacts facts;

    // Whether `bytes` hold the whole file.
    bool wholeFile() const { return facts.kind != SourceKind::other; }
};

SourceFile openSource(const wchar_t* path, const Cancellation& cancellation = neverCancelled());
