#pragma once
// Eudora's Windows mailbox index (NAME.toc beside NAME.mbx): reading its records and
// deciding whether they fit the mailbox they describe. Indexes are untrusted input.

#include "engine/MessageIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// One message record as the index stores it.
struct TocEntry {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint16_t status = 0;   // 0 unread, 1 read, 2 replied, 3 forwarded, 4 redirected, ...
    std::uint16_t priority = 0; // 1 highest ... 5 lowest, 3 normal
};

/// The records of an index file, or why there are none.
struct TocReading {
    std::optional<std::vector<TocEntry>> entries;
    std::string problem; // set when entries is none
};

/// An index that fits its mailbox, or why it does not.
struct TocFit {
    std::optional<MessageIndex> messages;
    std::string problem; // set when messages is none
};

/// The largest index file read (header and 65535 records fit well below it).
inline constexpr std::uint64_t kMaximumTocSize = 16 * 1024 * 1024;

/// Reads the records of an index file's bytes. Fails (never reads past `bytes`) when
/// the file is shorter than its header or its size disagrees with its record count.
TocReading readToc(std::string_view bytes);

/// Checks the records against the mailbox's bytes: in order, not overlapping, inside
/// the mailbox, each starting at a "From " line and ending at one or at the end.
/// Input between records must itself start at a "From " line (messages the index
/// lost; they stay). Returns the messages with their status, or the first misfit.
TocFit fitToc(const std::vector<TocEntry>& entries, std::string_view mailbox);

/// The part of fitToc that reads the mailbox, kept apart so that it can run under a
/// guard against a file truncated meanwhile (it allocates nothing): the first record
/// that does not start, or end, at a "From " line. Records must have passed fitToc's
/// other checks (order, bounds), which need only the mailbox's size.
struct SeparatorMisfit {
    bool found = false;
    std::size_t entry = 0;
    bool atEnd = false; // the record's end, not its start, is misplaced
};
SeparatorMisfit findSeparatorMisfit(const std::vector<TocEntry>& entries, std::string_view mailbox);

/// fitToc without the separator checks: the first problem of order or bounds, or "".
std::string tocLayoutProblem(const std::vector<TocEntry>& entries, std::uint64_t mailboxSize);

/// The messages of records that passed both checks, with their status.
MessageIndex indexedMessages(const std::vector<TocEntry>& entries);

/// The text that fitToc gives for a separator misfit.
std::string separatorProblem(const SeparatorMisfit& misfit);

/// The index path for a mailbox path ("In.mbx" -> "In.toc", either case of the
/// extension); none when the name has no ".mbx" extension.
std::optional<std::string> tocPathFor(const std::string& mailboxPath);

} // namespace tarnwick
