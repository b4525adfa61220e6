#pragma once
// Eudora tag scanner: one <NAME>...</NAME> or <NAME PARAM>...</NAME> block that
// begins at a '<' in raw message bytes.

#include "engine/ByteRange.h"
#include "platform/TextEncoding.h"

#include <cstdint>

namespace tarnwick {

/// Scans `length` bytes from `bytes` (which must begin with '<') for a block of the tag
/// `name` ("x-charset", "x-flowed" or "x-html"). On true, `openingRange` covers the
/// opening tag, `closingRange` the first matching closing tag, and `blockEncoding` is the
/// encoding named by the tag's parameter or kEncodingNone. Never reads outside the
/// `length` bytes.
bool scanTag(const char* bytes, std::uint64_t length, const char* name, ByteRange* openingRange,
             ByteRange* closingRange, EncodingId* blockEncoding);

} // namespace tarnwick
