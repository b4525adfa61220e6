#pragma once
// Mac Eudora's mailbox index: kept in the mailbox's resource fork as `TOCF` resources,
// which reach other disks in the AppleDouble file `._NAME` beside the mailbox. Untrusted
// input: nothing is read outside the bytes given.

#include "batch/TocIndex.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// One `TOCF` resource's records: each message's offset and length. Where Mac Eudora
/// keeps a message's status is not known, so records carry none (see kUnknownStatus).
struct MacToc {
    std::int16_t id = 0;
    std::vector<TocEntry> entries;
};

/// A status value that says nothing about a message (factsOf gives no marks).
inline constexpr std::uint16_t kUnknownStatus = 0xFFFF;

/// The `TOCF` resources of an AppleDouble file's resource fork, in the order the
/// resource map lists them; none when the bytes are no AppleDouble file with a resource
/// fork, or hold no resource of that type whose layout reads cleanly.
std::vector<MacToc> readMacTocs(std::string_view appleDouble);

/// The AppleDouble file that carries the resource fork of the file at `path`: "._NAME"
/// beside it.
std::string appleDoublePathFor(const std::string& path);

} // namespace tarnwick
