#include "engine/attachments/ShortenedName.h"

#include <algorithm>

namespace tarnwick {
namespace {

constexpr std::size_t kMostDigits = 8;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The extension of a name: from its last "." on, when that is not its first byte.
std::string_view extensionOf(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot);
}

} // namespace

bool isShortenedName(std::string_view shortened, std::string_view longName)
{
    const std::string_view extension = extensionOf(longName);
    if (!shortened.ends_with(extension) || shortened == longName)
        return false;
    const std::string_view rest = shortened.substr(0, shortened.size() - extension.size());
    const std::size_t hash = rest.rfind('#');
    if (hash == std::string_view::npos || hash == 0)
        return false;
    const std::string_view digits = rest.substr(hash + 1);
    if (digits.empty() || digits.size() > kMostDigits || !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return false;
    return longName.substr(0, longName.size() - extension.size()).starts_with(rest.substr(0, hash));
}

std::optional<std::string> findShortenedName(std::string_view longName, std::span<const std::string> names)
{
    std::optional<std::string> found;
    for (const std::string& name : names) {
        if (name.find('#') == std::string::npos || !isShortenedName(name, longName))
            continue;
        if (found)
            return std::nullopt;
        found = name;
    }
    return found;
}

} // namespace tarnwick
