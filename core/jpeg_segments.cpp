#include "core/jpeg_segments.h"

#include <cstring>

namespace {

// Markers after which no application segment of the header can follow: the frame headers,
// the first scan, and the markers that carry no length.
bool endsHeader(uint8_t kind)
{
    const bool frame = kind >= 0xC0 && kind <= 0xCF && kind != 0xC4 && kind != 0xC8 && kind != 0xCC;
    return frame || kind == 0xDA || (kind >= 0xD0 && kind <= 0xD9) || kind == 0x01;
}

}  // namespace

bool isJpeg(ByteSpan file) { return file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8; }

std::vector<ByteSpan> applicationSegments(ByteSpan file, uint8_t marker, std::string_view signature,
                                          std::size_t most)
{
    std::vector<ByteSpan> found;
    if (!isJpeg(file)) return found;
    std::size_t at = 2;
    while (file.size() - at >= 4 && found.size() < most) {
        if (file[at] != 0xFF) break;
        const uint8_t kind = file[at + 1];
        if (kind == 0xFF) {
            ++at;  // a fill byte before the marker
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(file[at + 2]) << 8 | file[at + 3];
        if (endsHeader(kind) || length < 2 || file.size() - at - 2 < length) break;
        const ByteSpan contents(file.data() + at + 4, length - 2);
        if (kind == marker && contents.size() >= signature.size() &&
            std::memcmp(contents.data(), signature.data(), signature.size()) == 0)
            found.push_back(contents);
        at += 2 + length;
    }
    return found;
}

ByteSpan applicationSegment(ByteSpan file, uint8_t marker, std::string_view signature)
{
    const std::vector<ByteSpan> found = applicationSegments(file, marker, signature, 1);
    return found.empty() ? ByteSpan() : found.front();
}
