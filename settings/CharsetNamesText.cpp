#include "settings/CharsetNamesText.h"

#include <cstdint>

namespace tarnwick {
namespace {

bool isWhiteSpace(std::uint32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028
        || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    return 0; // White space never needs four bytes; anything else is not trimmed.
}

// The code point of the well-formed sequence of `length` bytes at `p`, or none.
bool decode(const unsigned char* p, std::size_t length, std::uint32_t& c)
{
    if (length == 1) {
        c = p[0];
        return true;
    }
    for (std::size_t i = 1; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return false;
    c = length == 2 ? ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu) : ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
    return c >= (length == 2 ? 0x80u : 0x800u); // overlong forms are not characters
}

// Length of the white-space character that starts at the front of `s`, or 0.
std::size_t leadingWhiteSpace(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t length = sequenceLength(p[0]);
    std::uint32_t c = 0;
    if (length == 0 || length > s.size() || !decode(p, length, c))
        return 0;
    return isWhiteSpace(c) ? length : 0;
}

// Length of the white-space character that ends `s`, or 0.
std::size_t trailingWhiteSpace(std::string_view s)
{
    for (std::size_t length = 1; length <= 3 && length <= s.size(); ++length) {
        const auto* p = reinterpret_cast<const unsigned char*>(s.data() + s.size() - length);
        if (sequenceLength(p[0]) != length)
            continue;
        std::uint32_t c = 0;
        return decode(p, length, c) && isWhiteSpace(c) ? length : 0;
    }
    return 0;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty()) {
        const std::size_t n = leadingWhiteSpace(s);
        if (n == 0)
            break;
        s.remove_prefix(n);
    }
    while (!s.empty()) {
        const std::size_t n = trailingWhiteSpace(s);
        if (n == 0)
            break;
        s.remove_suffix(n);
    }
    return s;
}

} // namespace

std::string normalizeCharsetText(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    bool first = true;
    while (true) {
        const std::size_t comma = utf8.find(',');
        if (!first)
            out += ", ";
        first = false;
        out.append(trim(utf8.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        utf8.remove_prefix(comma + 1);
    }
    return out;
}

std::vector<std::string> splitCharsetText(std::string_view text)
{
    std::vector<std::string> names;
    while (true) {
        const std::size_t separator = text.find(", ");
        names.emplace_back(text.substr(0, separator));
        if (separator == std::string_view::npos)
            break;
        text.remove_prefix(separator + 2);
    }
    return names;
}

} // namespace tarnwick
