#pragma once
// Eudora for Windows keeps its settings in Eudora.ini: "[Section]" lines, then
// "Key=value" lines. The file is untrusted input: lines that read as neither are skipped.

#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <cstdint>
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

/// Windows text in a setting (a label's name, a folder's path) as UTF-8: bytes that
/// already are UTF-8 are kept (an edited file), others are read in `windowsEncoding`, the
/// code page Eudora for Windows wrote them in. None when they read in neither.
std::optional<std::string> windowsText(std::string_view bytes, EncodingId windowsEncoding);

/// The labels Eudora numbers 1 ... 7.
inline constexpr int kEudoraLabels = 7;

/// One line of Eudora.ini's [Labels], "LabelN=255,128,0,Label 1": red, green, blue, then
/// the name (which may hold commas), blanks around each dropped.
struct EudoraLabel {
    std::optional<std::uint32_t> colour; // 0xRRGGBB; none when a part is no number 0 ... 255
    std::string name;                    // the bytes as written
};

/// None for a value without three commas before the name, or over 255 bytes: not one
/// Eudora wrote.
std::optional<EudoraLabel> parseEudoraLabel(std::string_view value);

/// The names of labels 1 ... 7 as UTF-8 (windowsText). Where [Labels] or its line is
/// missing or unreadable, Eudora's own name "Label N". A name that is empty, or does not
/// read in `windowsEncoding`, is empty: the label has no name to carry. Control
/// characters in a name become spaces.
std::vector<std::string> eudoraLabelNames(const EudoraIni& ini, EncodingId windowsEncoding);

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
