#pragma once
// Message boundaries and what the reader did, taken from a mailbox's own index: where
// each indexed message lies in the input, in the order the index lists them, and the
// facts it records about each. Every output (mbox status headers, other formats)
// takes a message's flags from its MessageFacts.

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

/// What a mailbox's index records about one message.
struct MessageFacts {
    bool read = false; // seen, or written by the user (any status but unread)
    bool replied = false;
    bool forwarded = false;
    bool redirected = false;
    bool sent = false;         // an outgoing message that went out
    bool draft = false;        // an outgoing message not yet sent: queued, or not ready to send
    std::uint8_t priority = 0; // 1 highest ... 5 lowest; 0 when unknown
    std::uint8_t label = 0;    // 1 ... 7, Eudora's label; 0 when none or unknown
    std::int64_t received = 0; // when the mailbox took it in (its separator line's time), seconds since 1970 UTC; 0 when unknown
    bool marksKnown = true;    // false: the index bounds the message but where it keeps the marks is not known
};

/// One indexed message: [offset, offset + length) of the input, starting at its
/// separator line.
struct IndexedMessage {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    MessageFacts facts;
};

/// Indexed messages in the order the index lists them (the order the user saw), never
/// overlapping; not necessarily in input order.
using MessageIndex = std::vector<IndexedMessage>;

/// A stretch [begin, end) of the input.
struct InputRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool operator==(const InputRange&) const = default;
};

/// What becomes of the input that no indexed message covers (with an index): the
/// messages a user deleted or moved away, whose bytes stay until the mailbox is compacted.
enum class UnindexedInput {
    Inside, // converted in place among the indexed messages, by its separator lines
    Apart,  // left out of this output (converted into another with Only)
    Only,   // the output holds the uncovered input alone, by its separator lines
};

/// The input that no message of `index` covers, in input order, for an input of `size`
/// bytes. Messages that reach past `size` are taken to end there.
std::vector<InputRange> unindexedRanges(const MessageIndex& index, std::uint64_t size);

/// Whether a stretch of input holds nothing but line ends, spaces and tabs: no message,
/// whether it lies inside an index's coverage or not.
bool isBlankInput(std::string_view stretch);

/// How many messages the input that `index` leaves uncovered gives when converted alone
/// (UnindexedInput::Only): one for each line that begins with "From ", and one for each
/// stretch that begins with none; a blank stretch gives none.
std::uint64_t unindexedMessageCount(std::string_view input, const MessageIndex& index);

/// The index's messages in input order.
MessageIndex inInputOrder(const MessageIndex& index);

} // namespace tarnwick
