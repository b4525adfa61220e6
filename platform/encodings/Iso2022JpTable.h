#pragma once
// How ICU's ISO-2022-JP converter writes each BMP code unit on its own, generated at
// build time. Internal to the text encoding services.

#include "platform/encodings/TableMapping.h"

namespace tarnwick::encoding {

/// Values below 3 are kinds; every larger value is a JIS X 0208 code (two 7-bit bytes).
enum Iso2022JpKind : std::uint16_t {
    kIso2022JpUnmappable = 0, // ICU refuses, skips or changes the unit (never listed)
    kIso2022JpAscii = 1,      // written as itself in the ASCII state
    kIso2022JpIcu = 2,        // depends on context (surrogates, JIS X 0201 Roman)
};

/// Every unit (key) whose value is not kIso2022JpUnmappable, in ascending order.
extern const TableMapping kIso2022JpMappings[];
extern const std::size_t kIso2022JpMappingCount;

} // namespace tarnwick::encoding
