#pragma once
// A source file opened once for everything done with it: its bytes mapped into memory and what
// they tell before any decoding.
#include "common/file_view.h"
#include "core/source.h"

#include <string>

struct SourceFile {
    std::string path;
    FileView bytes;  // empty when the file cannot be read
    SourceFacts facts;
};

SourceFile openSource(const char* path);
