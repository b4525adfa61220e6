#pragma once
// Real mailbox and folder names (from Eudora's folder maps) made into safe output
// path components.

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// The longest real name used, in bytes; a longer one falls back to the file's name.
inline constexpr std::size_t kMaximumRealNameBytes = 200;

/// `name` (UTF-8) as one path component: "/", "\\", ":", "*", "?", "\"", "<", ">",
/// "|" and control characters become "-" (they cannot be in a file name on some
/// disk, and ":" joins folder names in flat output), a leading "." becomes "-" so the
/// output is not hidden, and surrounding spaces are trimmed. None when nothing usable
/// remains, the name is longer than kMaximumRealNameBytes or is not valid UTF-8.
std::optional<std::string> safeNameComponent(std::string_view name);

/// A mailbox's real name with its file's extension, as output names keep it
/// ("Family Holidays 2003" for FAMILYHO.MBX -> "Family Holidays 2003.MBX"); the
/// name as it is when the file has no extension or the name already ends with it.
std::string withExtensionOf(std::string realName, std::string_view fileName);

} // namespace tarnwick
