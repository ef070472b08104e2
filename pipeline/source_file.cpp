#include "pipeline/source_file.h"

#include "core/colour_profile.h"
#include "core/jpeg_decoder.h"
#include "core/webp.h"

SourceFile openSource(const wchar_t* path, const Cancellation& cancellation)
{
    // Other kinds GDI+ reads itself: of them only the kind is wanted.
    FileBytes file =
        readFileBytes(path, cancellation, [](ByteSpan head) { return isJpeg(head) || isPng(head) || isWebp(head); });
    SourceFile source{path, file.outcome, std::move(file.bytes), {}};
    source.facts = sourceFacts(source.bytes);
    return source;
}
