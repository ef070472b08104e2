#pragma once
// What the worker asks and tells the user in message boxes: whether to reuse the output directory,
// and how a conversion ended, with the files that failed and why.
#include "batch/conversion.h"

#include <windows.h>

#include <string>

// `closing`: the dialog closed before the first file, so the conversion does not start.
enum class DirectoryOutcome { ready, declined, failed, closing };

// Makes the output directory, or asks before reusing one that exists.
DirectoryOutcome prepareDirectory(const std::wstring& directory);

// The completion box, which offers to open `directory`; `leftOut`: files the list had no room for.
void reportCompletion(const std::wstring& directory, const ConversionCounts& counts, int leftOut);

// Answers No (or OK) for the user a message box that thread `threadId` put up before it saw the
// close.
void dismissMessageBoxesOf(DWORD threadId);
