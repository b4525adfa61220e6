#pragma once
// Eudora tag scanner: one <NAME>...</NAME> or <NAME PARAM>...</NAME> block that
// begins at a '<' in raw message bytes.

#include "engine/ByteRange.h"
#include "platform/TextEncoding.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnwick {

/// One tag block, as offsets from its opening '<'.
struct TagBlock {
    ByteRange opening;      // the opening tag
    ByteRange closing;      // the first matching closing tag
    EncodingId encoding;    // named by the tag's parameter, or kEncodingNone
};

/// Scans `bytes` (which must begin with '<') for a block of the tag `name` ("x-charset",
/// "x-flowed" or "x-html"); none when they do not hold one. Never reads outside `bytes`.
std::optional<TagBlock> scanTag(std::string_view bytes, std::string_view name);

} // namespace tarnwick
