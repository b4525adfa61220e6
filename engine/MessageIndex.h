#pragma once
// Message boundaries and status taken from a mailbox's own index, as the stream pass
// uses them: where each indexed message lies in the input, and what the reader did.

#include <cstdint>
#include <vector>

namespace tarnwick {

/// One indexed message: [offset, offset + length) of the input, starting at its
/// separator line.
struct IndexedMessage {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool read = false;
    bool replied = false;
    bool forwarded = false;
    std::uint8_t priority = 0; // 1 highest ... 5 lowest; 0 when unknown
};

/// Indexed messages in input order, never overlapping. Input between them is not
/// indexed and is split by separator lines as usual.
using MessageIndex = std::vector<IndexedMessage>;

} // namespace tarnwick
