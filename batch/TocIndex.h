#pragma once
// Eudora's Windows mailbox index (NAME.toc beside NAME.mbx): reading its records and
// deciding whether they fit the mailbox they describe. Indexes are untrusted input.

#include "engine/mailbox/MessageIndex.h"

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
    std::uint16_t status = 0;   // see factsOf
    std::uint16_t priority = 0; // 1 highest ... 5 lowest, 3 normal
    std::uint32_t received = 0; // when it was stored, seconds since 1970 UTC (its separator line's time)
    std::uint16_t label = 0;    // Eudora's label 1 ... 7 (Eudora.ini's [Labels]), 0 none
};

/// The records of an index file, or why there are none.
struct TocReading {
    std::optional<std::vector<TocEntry>> entries;
    std::string problem; // set when entries is none
};

/// An index that fits its mailbox, or why it does not.
struct TocFit {
    std::optional<MessageIndex> messages; // in the order the index lists them
    std::string problem;                  // set when messages is none
};

/// The largest index file read: 1,231,000 records, a mailbox of 2 GiB of messages of
/// 1.7 KiB on average.
inline constexpr std::uint64_t kMaximumTocSize = 256u << 20;

/// Reads the records of an index file's bytes. The record count is 16 bits: a file
/// for more than 65,535 messages keeps it modulo 65,536, so the file's size settles
/// it (104 + 218 per record). Fails (never reads past `bytes`) when the file is
/// shorter than its header, or its size is no count that agrees with the one stored.
TocReading readToc(std::string_view bytes);

/// Checks the records against the mailbox's bytes as Eudora reads them: in any order,
/// none empty or overlapping another, each inside the mailbox, starting at a "From "
/// line and ending at a line's end or the mailbox's, and none holding a line of the form
/// Eudora starts a message with ("From ???@??? " and a separator date) after its first.
/// Input no record covers (messages deleted or moved away in Eudora) may lie between
/// records. Returns the messages in the index's order with their facts, or the first misfit.
TocFit fitToc(const std::vector<TocEntry>& entries, std::string_view mailbox);

/// The part of fitToc that reads the mailbox, kept apart so that it can run under a
/// guard against a file truncated meanwhile (it allocates nothing): the first record
/// that does not start at a "From " line, does not end at a line's end, or holds a
/// separator line of Eudora's form. Records must have passed tocLayoutProblem.
struct SeparatorMisfit {
    enum class Kind { Start, End, Inside };
    bool found = false;
    std::size_t entry = 0;
    Kind kind = Kind::Start;
};
SeparatorMisfit findSeparatorMisfit(const std::vector<TocEntry>& entries, std::string_view mailbox);

/// fitToc without reading the mailbox: the first record that is empty, reaches past the
/// mailbox or overlaps another, or "".
std::string tocLayoutProblem(const std::vector<TocEntry>& entries, std::uint64_t mailboxSize);

/// What a record's status, priority and time stored say about its message. Status: 0 unread,
/// 1 read, 2 replied, 3 forwarded, 4 redirected, 5 read, 6 not ready to be sent (a
/// draft), 7 queued (a draft), 8 sent, 9 read (status does not apply); any other value
/// says nothing. Priority 1 ... 5 and label 1 ... 7; any other value is unknown.
MessageFacts factsOf(const TocEntry& entry);

/// The messages of records that passed both checks, in the index's order.
MessageIndex indexedMessages(const std::vector<TocEntry>& entries);

/// The text that fitToc gives for a separator misfit.
std::string separatorProblem(const SeparatorMisfit& misfit);

/// The index path for a mailbox path ("In.mbx" -> "In.toc", either case of the
/// extension); none when the name has no ".mbx" extension.
std::optional<std::string> tocPathFor(const std::string& mailboxPath);

} // namespace tarnwick
