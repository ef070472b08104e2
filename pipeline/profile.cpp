#include "pipeline/profile.h"

#include "common/file_reading.h"
#include "common/handles.h"
#include "pipeline/codec_bitmaps.h"

bool copyPngWithColourProfile(const char* plainPath, const char* path, const ColourProfile& profile)
{
    const KernelHandle plain(CreateFileA(plainPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const ByteSink file = fileSink(path);
    return plain && file && writePngWithColourProfile(bufferedSource(plain.get()), profile, file);
}
