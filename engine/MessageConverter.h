#pragma once
// Message conversion: one collected message re-encoded into the first fitting
// charset candidate, optionally cleared of Eudora tags with a matching Content-Type.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

/// `message` is one whole message as collected by convertMbox; `headerLength` the
/// offset of its first body byte or kHeaderLengthNone. On success the converted bytes
/// replace the contents of `result` (whose capacity the caller reuses) and true is
/// returned; on false the caller writes `message` unconverted. `message` is never modified.
bool convertMessage(std::string_view message, std::uint64_t headerLength, std::string& result);

} // namespace tarnwick
