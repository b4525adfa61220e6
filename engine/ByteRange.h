#pragma once
// Sizes and positions in the engine are 64-bit, so mailboxes over 4 GiB work.

#include <cstdint>
#include <limits>

namespace tarnwick {

/// A (location, length) pair of byte counts.
struct ByteRange {
    std::uint64_t location = 0;
    std::uint64_t length = 0;
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

/// Header length of a message with no body line after the empty line that ends its
/// header block. No real offset can take this value.
inline constexpr std::uint64_t kHeaderLengthNone = std::numeric_limits<std::uint64_t>::max();

} // namespace tarnwick
