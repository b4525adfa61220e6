#pragma once
// Eudora for Windows keeps its settings in Eudora.ini: "[Section]" lines, then
// "Key=value" lines. The file is untrusted input: lines that read as neither are skipped.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick {

/// The largest settings file read; a larger file is not Eudora's.
inline constexpr std::size_t kMaximumEudoraIniSize = 1024 * 1024;

class EudoraIni {
public:
    /// Reads the lines (CR LF, LF or CR terminated). Blanks around section names, keys
    /// and values are dropped; a key before any section belongs to the section "".
    /// The first value of a key in a section counts.
    static EudoraIni parse(std::string_view bytes);

    /// The value of `key` in `section`, both compared without regard to ASCII case (as
    /// Windows reads the file); none when not set.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

private:
    std::unordered_map<std::string, std::string> values_; // "section\nkey" in lower case -> value
};

/// A Windows path read from a setting. An absolute one starts with a drive ("C:") or a
/// "\" ("\\server\share" included); anything else is relative to the Eudora folder.
/// "." components are dropped and ".." ones undo the component before them; `ups`
/// counts those left over at the start of a relative path.
struct WindowsPath {
    bool absolute = false;
    std::size_t ups = 0;
    std::vector<std::string> components; // "\" or "/" separated, none empty
};

/// None for an empty path or one with a component that cannot name a folder entry
/// (a zero byte, or a character Windows forbids in names).
std::optional<WindowsPath> parseWindowsPath(std::string_view text);

} // namespace tarnwick
