#pragma once
// Eudora's Windows folder map (descmap.pce): the real names of the mailboxes and
// sub-folders whose files carry short names ("Family Holidays 2003" is FAMILYHO.MBX).
// The map is untrusted input: lines that do not read cleanly are left out.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick {

/// One line of a folder map: "DISPLAY NAME,FILE NAME,TYPE,FLAG".
struct DescMapEntry {
    std::string displayName; // as stored: bytes in the writer's code page
    std::string fileName;    // a plain name, never a path
    char type = 0;           // 'S' system mailbox, 'M' user mailbox, 'F' folder
};

/// The largest folder map read; a larger file is not a folder map.
inline constexpr std::size_t kMaximumDescMapSize = 1024 * 1024;

/// The file name Eudora gives its folder maps.
inline constexpr std::string_view kDescMapFileName = "descmap.pce";

class DescMap {
public:
    /// Reads the lines of a folder map (CR LF, LF or CR terminated). A line is kept
    /// when its file name is a plain name (no "/", "\\", zero byte, "." or ".."),
    /// its type is S, M or F and its flag Y or N; the display name is everything
    /// before the last three commas. A file name listed twice keeps its first line.
    static DescMap parse(std::string_view bytes);

    /// The entry for a file name, compared without regard to ASCII case (the map was
    /// written on a file system that ignores case); none when not listed.
    const DescMapEntry* find(std::string_view fileName) const;

    const std::vector<DescMapEntry>& entries() const { return entries_; }

private:
    std::vector<DescMapEntry> entries_;
    std::unordered_map<std::string, std::size_t> byFoldedName_; // lower-case file name -> entry
};

} // namespace tarnwick
