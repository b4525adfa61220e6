#pragma once
// Message conversion: one collected message re-encoded into the first fitting
// charset candidate, optionally cleared of Eudora tags with a matching Content-Type.

#include "engine/CharsetCandidates.h"
#include "engine/ConversionOptions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

/// `message` is one whole message as collected by convertMbox; `headerLength` the
/// offset of its first body byte or kHeaderLengthNone. Decodes it from the options'
/// source encoding (NBSP and Eudora tag handling as the options say) and encodes it
/// into the first fitting candidate. On success the converted bytes replace the
/// contents of `result` (whose capacity the caller reuses) and true is returned; on
/// false the caller writes `message` unconverted. `message` is never modified.
bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                    CharsetCandidates& candidates, std::string& result);

} // namespace tarnwick
