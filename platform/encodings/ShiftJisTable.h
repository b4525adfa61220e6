#pragma once
// How ICU's Shift_JIS converter decodes each byte and byte pair on its own, generated at
// build time. Internal to the text encoding services.

#include "platform/encodings/TableMapping.h"

namespace tarnwick::encoding {

/// Every byte (key below 0x100) and lead-trail pair (lead << 8 | trail) that decodes
/// alone to one UTF-16 unit (value), in ascending order.
extern const TableMapping kShiftJisMappings[];
extern const std::size_t kShiftJisMappingCount;

} // namespace tarnwick::encoding
