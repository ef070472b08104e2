#pragma once
// Files read through ReadFile into memory of the program's own, never mapped: whatever then
// happens to a file or its device (cut short, a drive pulled, a share gone) touches nothing the
// program holds, and a read that fails fails only that file.
#include "common/bytes.h"
#include "common/cancellation.h"
#include "common/outcome.h"
#include "common/pooled_memory.h"
#include "common/win32/handles.h"

#include <windows.h>

// What reading a file gave: `done` with its bytes (none for an empty file), or why not:
// unreadable (it cannot be opened, or it shrank or failed while read), tooLarge, outOfMemory
// or cancelled.
struct FileBytes {
    Outcome outcome = Outcome::done;
    PooledMemory bytes;
};

// Bytes enough to tell a file's kind by its signature.
constexpr std::size_t fileHeadSize = 16;

// Reads the file at `path`: whole when `wholeFor`, given its first fileHeadSize bytes (fewer in a
// smaller file), says so, else only those first bytes. The file is read a large piece at a time,
// `cancellation` asked between pieces; no one may write it meanwhile.
FileBytes readFileBytes(const wchar_t* path, const Cancellation& cancellation, bool (*wholeFor)(ByteSpan head));

// The file at `path` opened to be read from its start to its end, others allowed to read it too;
// empty when it cannot be.
KernelHandle openForReading(const wchar_t* path);

// The bytes of an open file from where it stands, read a block at a time; the file must outlive it.
ByteSource bufferedSource(HANDLE file);
