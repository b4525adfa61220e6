#include "platform/encodings/CaseFold.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace tarnwick {
namespace {

/// Folds one code point; lone surrogates fold to themselves.
UChar32 fold(UChar32 c) { return u_foldCase(c, U_FOLD_CASE_DEFAULT); }

UChar32 asciiFold(UChar32 c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

/// Matches `needle` at `pos`; returns false when `text` ends first.
bool matchesAt(std::u16string_view text, std::size_t pos, std::u16string_view needle)
{
    std::size_t i = pos;
    std::size_t j = 0;
    const std::size_t textLength = text.size();
    const std::size_t needleLength = needle.size();
    while (j < needleLength) {
        if (i >= textLength)
            return false;
        UChar32 a;
        UChar32 b;
        U16_NEXT(text.data(), i, textLength, a);
        U16_NEXT(needle.data(), j, needleLength, b);
        if (a == b)
            continue;
        // ASCII folds to ASCII lower case without a table; a non-ASCII character may still
        // fold to an ASCII one (KELVIN SIGN to 'k'), so any other pair asks ICU.
        if (a < 0x80 && b < 0x80) {
            if (asciiFold(a) != asciiFold(b))
                return false;
        } else if (fold(a) != fold(b)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool startsWithFolded(std::u16string_view text, std::u16string_view prefix) { return matchesAt(text, 0, prefix); }

bool containsFolded(std::u16string_view text, std::u16string_view needle)
{
    if (needle.empty())
        return true;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        // Never start a match on the trail half of a surrogate pair.
        if (pos > 0 && U16_IS_TRAIL(text[pos]) && U16_IS_LEAD(text[pos - 1]))
            continue;
        if (matchesAt(text, pos, needle))
            return true;
    }
    return false;
}

bool equalsFoldedUTF8(std::string_view a, std::string_view b)
{
    const auto* s = reinterpret_cast<const uint8_t*>(a.data());
    const auto* t = reinterpret_cast<const uint8_t*>(b.data());
    const int32_t sLength = static_cast<int32_t>(a.size());
    const int32_t tLength = static_cast<int32_t>(b.size());
    int32_t i = 0;
    int32_t j = 0;
    while (i < sLength && j < tLength) {
        const int32_t iStart = i;
        const int32_t jStart = j;
        UChar32 c;
        UChar32 d;
        U8_NEXT(s, i, sLength, c);
        U8_NEXT(t, j, tLength, d);
        if (c < 0 || d < 0) {
            // Invalid sequences compare as raw bytes.
            if (c != d || a.substr(iStart, i - iStart) != b.substr(jStart, j - jStart))
                return false;
            continue;
        }
        if (c != d && fold(c) != fold(d))
            return false;
    }
    return i == sLength && j == tLength;
}

void appendUTF8AsUTF16(std::string_view utf8, std::u16string& out)
{
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const int32_t length = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0)
            c = 0xFFFD;
        if (U_IS_BMP(c)) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            out.push_back(static_cast<char16_t>(U16_LEAD(c)));
            out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        }
    }
}

} // namespace tarnwick
