#pragma once
// Message conversion: one collected message re-encoded into the first fitting
// charset candidate, optionally cleared of Eudora tags with a matching Content-Type.

#include "engine/text/AutomaticEncoding.h"
#include "engine/text/CharsetCandidates.h"
#include "engine/ConversionOptions.h"
#include "engine/message/DecodedText.h"
#include "engine/message/MessageSource.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick {

/// Why a message was written unconverted.
enum class UnconvertedReason : std::uint8_t {
    None,
    Undecodable,      // some part of it is not valid in the encoding it was decoded in
    NoFittingCharset, // no output charset can hold all of it
    FieldTooLong,     // a header field is longer than kLongestConvertedField bytes
};

/// Messages left unconverted, by reason.
struct UnconvertedCounts {
    std::uint64_t undecodable = 0;
    std::uint64_t unfitting = 0;
    std::uint64_t fieldTooLong = 0;

    void add(UnconvertedReason reason)
    {
        ++(reason == UnconvertedReason::Undecodable ? undecodable : reason == UnconvertedReason::FieldTooLong ? fieldTooLong : unfitting);
    }
    UnconvertedCounts& operator+=(const UnconvertedCounts& other)
    {
        undecodable += other.undecodable;
        unfitting += other.unfitting;
        fieldTooLong += other.fieldTooLong;
        return *this;
    }
    std::uint64_t total() const { return undecodable + unfitting + fieldTooLong; }
};

/// What the conversion of one mailbox carries from message to message.
struct MailboxContext {
    AutomaticSource automatic;                              // the mailbox's origin, the user's language family, the detector's memory
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
bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, CharsetCandidates& candidates,
                    MailboxContext& mailbox, std::string& result);

/// convertMessage that appends the converted bytes to `out` (whose bytes so far stay);
/// on false `out` is as it was.
bool convertMessageAppend(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                          CharsetCandidates& candidates, MailboxContext& mailbox, std::string& out);

/// How the conversion of a message read through a MessageReader ended.
enum class LargeMessageOutcome {
    Converted,         // the converted message was written
    Unconverted,       // nothing written: no candidate fits or the message does not decode
    WriteFailed,       // `write` failed part-way
    NeedsWholeMessage, // nothing written: this message needs convertMessage (a block size of 0)
};

/// convertMessage over a message of `size` bytes too large to hold in memory, read
/// through `read` in blocks of `blockSize` bytes cut anywhere: the same stages, each
/// going over the text block by block as often as it needs, with the bytes (and log
/// lines) of convertMessage written through `write`. Memory stays within a few times
/// the block size and the longest header field converted. `pieceLimit` stands for
/// kKeptPieceEncodings (tests give small ones).
LargeMessageOutcome convertMessage(const MessageReader& read, std::uint64_t size, std::uint64_t headerLength,
                                   const ConversionOptions& options, CharsetCandidates& candidates, MailboxContext& mailbox,
                                   const std::function<bool(std::string_view)>& write, std::size_t blockSize = kMessageBlock,
                                   std::size_t pieceLimit = kKeptPieceEncodings);

} // namespace tarnwick
