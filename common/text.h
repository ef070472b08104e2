#pragma once
// Texts of the system's ANSI code page (936 on the systems this tool is made for).
#include <string_view>

// Converts an ANSI text to UTF-16 in one buffer per thread; the result is valid until
// that thread's next call. A text too long for the buffer is cut at its end.
const wchar_t* toWide(std::string_view text);

// The text held by a fixed-size field: up to its first zero byte, or the whole field
// when it has none, so that nothing is ever read past the field's end.
template <std::size_t size>
std::string_view fieldText(const char (&field)[size])
{
    std::size_t length = 0;
    while (length < size && field[length] != '\0') ++length;
    return std::string_view(field, length);
}

// An ASCII capital as its small letter; every other byte as it is.
constexpr char asciiLower(char byte) { return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte; }

// Position of the last byte equal to `separator` that stands as a character of its
// own: the second byte of a double-byte character (0x5C in 誠) never counts.
// std::string_view::npos when there is none.
std::size_t lastSingleByte(std::string_view text, char separator);

// Copies `text` into `buffer` with a terminator. Refuses, writing only an empty text,
// when it does not fit whole: a cut path must never be used.
bool copyWhole(std::string_view text, char* buffer, std::size_t bufferSize);
