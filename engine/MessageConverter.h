#pragma once
// Message conversion: one collected message re-encoded into the first fitting
// charset candidate, optionally cleared of Eudora tags with a matching Content-Type.

#include "engine/AutomaticEncoding.h"
#include "engine/CharsetCandidates.h"
#include "engine/ConversionOptions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

/// Why a message was written unconverted.
enum class UnconvertedReason : std::uint8_t {
    None,
    Undecodable,      // some part of it is not valid in the encoding it was decoded in
    NoFittingCharset, // no output charset can hold all of it
};

/// What the conversion of one mailbox carries from message to message.
struct MailboxContext {
    AutomaticSource automatic; // the mailbox's origin, the user's language family, the detector's memory
    UnconvertedReason lastReason = UnconvertedReason::None; // set by every convertMessage call
};

/// `message` is one whole message as collected by convertMbox; `headerLength` the
/// offset of its first body byte or kHeaderLengthNone. Decodes it from the options'
/// source encoding (NBSP and Eudora tag handling as the options say) and encodes it
/// into the first fitting candidate, with the non-ASCII text of its header fields as
/// RFC 2047 encoded-words when options.encodeHeaders is on. On success the converted bytes replace the
/// contents of `result` (whose capacity the caller reuses) and true is returned; on
/// false the caller writes `message` unconverted, and mailbox.lastReason says why.
/// `message` is never modified.
bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                    CharsetCandidates& candidates, MailboxContext& mailbox, std::string& result);

} // namespace tarnwick
