#include "pipeline/profile.h"

#include "common/win32/file_reading.h"
#include "pipeline/codec_bitmaps.h"

bool copyPngWithMetadata(const wchar_t* plainPath, const wchar_t* path, const CarriedMetadata& carried)
{
    const KernelHandle plain = openForReading(plainPath);
    const ByteSink file = fileSink(path);
    return plain && file && writePngWithMetadata(bufferedSource(plain.get()), carried.colourProfile, carried.exif, file);
}
