#pragma once
// ASCII helpers for header, tag and charset-name text: case folding of A to Z only,
// blanks, and the Shift_JIS lead bytes that the no-break-space step must respect.

#include <algorithm>
#include <string_view>

namespace tarnwick {

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
inline char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

/// Whether `a` and `b` are equal with A to Z folded to a to z.
inline bool equalsAsciiFolded(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

/// Whether the text `a` equals the ASCII `lower` (in lower case) with A to Z folded.
inline bool equalsAsciiFolded(std::u16string_view a, std::string_view lower)
{
    return a.size() == lower.size()
        && std::equal(a.begin(), a.end(), lower.begin(), [](char16_t x, char y) { return asciiLower(x) == static_cast<unsigned char>(y); });
}

/// Whether `text` begins with `lowerPrefix` (in lower case) with A to Z folded.
inline bool startsWithAsciiFolded(std::string_view text, std::string_view lowerPrefix)
{
    return text.size() >= lowerPrefix.size()
        && std::equal(lowerPrefix.begin(), lowerPrefix.end(), text.begin(), [](char p, char c) { return p == asciiLower(c); });
}

/// The value of a hexadecimal digit in either case, -1 for any other character.
inline int hexDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A' + 10);
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a' + 10);
    return -1;
}

/// A first byte of a Shift_JIS double-byte character.
inline bool isShiftJISLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

} // namespace tarnwick
