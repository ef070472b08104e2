#include "pipeline/profile.h"

#include "common/file_view.h"
#include "pipeline/codec_bitmaps.h"

#include <vector>

bool addColourProfileToPng(const char* path, const ColourProfile& profile)
{
    std::vector<uint8_t> withProfile;
    {
        const FileView png(path);
        withProfile = pngWithColourProfile(png, profile);
    }
    if (withProfile.empty()) return false;
    const ByteSink file = fileSink(path);
    return file && file(withProfile.data(), withProfile.size());
}
