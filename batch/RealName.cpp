#include "batch/RealName.h"

#include <cstdint>

namespace tarnwick {
namespace {

bool isUnsafe(unsigned char c)
{
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return c < 0x20 || c == 0x7F;
    }
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t minimum = 0;
        std::uint32_t value = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, value = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, value = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            value = value << 6 | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::optional<std::string> safeNameComponent(std::string_view name)
{
    if (name.size() > kMaximumRealNameBytes || !isValidUtf8(name))
        return std::nullopt;
    const std::size_t first = name.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    name = name.substr(first, name.find_last_not_of(' ') - first + 1);

    std::string safe(name);
    for (char& c : safe) {
        if (isUnsafe(static_cast<unsigned char>(c)))
            c = '-';
    }
    if (safe[0] == '.')
        safe[0] = '-';
    return safe;
}

std::string withExtensionOf(std::string realName, std::string_view fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size())
        return realName;
    const std::string_view extension = fileName.substr(dot);
    if (realName.size() >= extension.size() && realName.compare(realName.size() - extension.size(), extension.size(), extension) == 0)
        return realName;
    realName += extension;
    return realName;
}

} // namespace tarnwick
