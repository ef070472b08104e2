#include "common/win32/text.h"

#include <windows.h>

#include <algorithm>

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

std::wstring wideText(std::string_view text)
{
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string ansiText(std::wstring_view text)
{
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    std::string ansi(WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, "?", nullptr), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, ansi.data(), static_cast<int>(ansi.size()), "?", nullptr);
    return ansi;
}
