#pragma once
// Mac Eudora saved an attachment whose name was too long for its disk under a shortened
// name: the start of the name, "#", a few hexadecimal digits, and the extension
// ("A very long name for a report#1A2B.pdf"). The attachment line keeps the long name.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

/// Whether `shortened` is `longName` shortened so: the start of its name before the
/// extension (at least one byte), "#", one to eight hexadecimal digits, then the same
/// extension (from the last "." on, when the long name has one after its first byte).
bool isShortenedName(std::string_view shortened, std::string_view longName);

/// The one name of `names` that is `longName` shortened; none when no name or more
/// than one is.
std::optional<std::string> findShortenedName(std::string_view longName, std::span<const std::string> names);

} // namespace tarnwick
