#include "common/text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {
// Long enough for any 1024-byte settings text and its terminator.
constexpr int wideBufferUnits = 1025;
}

const wchar_t* toWide(std::string_view text)
{
    // Each byte gives at most one UTF-16 unit, so the bytes kept always fit.
    thread_local wchar_t buffer[wideBufferUnits];
    const int bytes = static_cast<int>(std::min<std::size_t>(text.size(), wideBufferUnits - 1));
    const int units = bytes == 0 ? 0
                                 : MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, buffer,
                                                       wideBufferUnits - 1);
    buffer[units] = L'\0';
    return buffer;
}

std::size_t lastSingleByte(std::string_view text, char separator)
{
    std::size_t found = std::string_view::npos;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == separator) found = at;
        const bool leadByte = IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size();
        at += leadByte ? 2 : 1;
    }
    return found;
}

bool copyWhole(std::string_view text, char* buffer, std::size_t bufferSize)
{
    if (bufferSize == 0) return false;
    buffer[0] = '\0';
    if (text.size() >= bufferSize) return false;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}
