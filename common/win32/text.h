#pragma once
// Texts of the system's ANSI code page (936 on the systems this tool is made for).
#include <cstring>
#include <string>
#include <string_view>

// Converts an ANSI text to UTF-16 in one buffer per thread; the result is valid until
// that thread's next call. A text too long for the buffer is cut at its end.
const wchar_t* toWide(std::string_view text);

// An ANSI text as UTF-16, whole.
std::wstring wideText(std::string_view text);

// A UTF-16 text in the ANSI code page, each character that the code page lacks as "?".
std::string ansiText(std::wstring_view text);

// The text held by a fixed-size field: up to its first zero byte, or the whole field
// when it has none, so that nothing is ever read past the field's end.
template <std::size_t size>
std::string_view fieldText(const char (&field)[size])
{
    std::size_t length = 0;
    while (length < size && field[length] != '\0') ++length;
    return std::string_view(field, length);
}

// An ASCII capital as its small letter; every other byte or UTF-16 unit as it is.
template <typename Char>
constexpr Char asciiLower(Char unit)
{
    return unit >= 'A' && unit <= 'Z' ? static_cast<Char>(unit - 'A' + 'a') : unit;
}

// Copies `text` into `buffer` with a terminator. Refuses, writing only an empty text,
// when it does not fit whole: a cut path must never be used.
template <typename Text, typename Char>
bool copyWhole(const Text& whole, Char* buffer, std::size_t bufferSize)
{
    const std::basic_string_view<Char> text(whole);
    if (bufferSize == 0) return false;
    buffer[0] = Char{};
    if (text.size() >= bufferSize) return false;
    std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
    buffer[text.size()] = Char{};
    return true;
}
