#pragma once
// Byte line scanner: the line around a range of undecoded bytes, with CR, LF and
// CR LF (one terminator) as line ends.

#include "engine/ByteRange.h"

#include <stdexcept>
#include <string_view>

namespace tarnwick {

/// Thrown for a range that does not lie within the bytes; nothing is stored then.
class RangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

/// Finds the line start of the range's first position and the contents end and line
/// end of its last position. Each out-pointer may be null.
void ZQ_getLineStart(std::string_view bytes, std::uint64_t* lineStart, std::uint64_t* lineEnd,
                     std::uint64_t* contentsEnd, ByteRange range);

} // namespace tarnwick
