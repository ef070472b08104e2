#include "pipeline/source_file.h"

SourceFile openSource(const char* path)
{
    SourceFile source{path, FileView(path), {}};
    source.facts = sourceFacts(source.bytes);
    return source;
}
