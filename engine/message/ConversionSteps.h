#pragma once
// The steps every conversion of a message takes, whatever holds its text: where the
// Content-Type header changes, whether a multipart body is still intact, which charset
// candidate is chosen, and the header fields as encoded-words.

#include "engine/message/MessageDecoder.h"
#include "engine/message/MessagePieces.h"
#include "engine/text/CharsetCandidates.h"
#include "engine/message/MessageConverter.h"
#include "platform/encodings/TextEncoding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// Where the Content-Type header goes: a range to replace, or an insertion point.
struct HeaderChange {
    std::size_t location = 0;
    std::size_t replacedLength = 0; // 0 for an insertion
    std::u16string terminator;      // appended to the new header text (insertions only); a copy, as the text changes
};

/// The Content-Type line written for a candidate (ASCII text names no charset), into `header`.
void assignContentTypeHeader(std::u16string& header, ContentType contentType, const EncodingPair& candidate,
                             std::u16string_view terminator);

/// Scans the header lines of `text` for the first Content-Type header and decides
/// the change; none when an existing header names neither a text nor a multipart
/// type, or when no empty line ends the header (no sound place to insert).
std::optional<HeaderChange> findHeaderChange(std::u16string_view text, bool crlfTerminators);

/// The boundary of the multipart type that the Content-Type header replaced by `change`
/// declares; none for an insertion or another type.
std::optional<std::string> multipartBoundary(std::u16string_view text, const HeaderChange& change);

/// The bitwise OR of every code unit: it is at most 0x7F exactly when every unit is,
/// and at most 0xFF exactly when every unit is.
char16_t unitBits(std::u16string_view text);

/// A cheap necessary test: ASCII and ISO Latin 1 cannot hold a code unit above their
/// range (`bits` as unitBits gives them). Every other verdict comes from the encoder itself.
bool mayEncode(EncodingId encoding, char16_t bits);

/// Whether mayEncode can rule out a candidate of the list: the range of the text's code
/// units only pays off for an ASCII or ISO Latin 1 candidate.
bool wantsUnitRange(const std::vector<EncodingPair>& candidates);

/// The charset choice, the same on every path: the first candidate that holds the text.
/// With a header change the text is pieces P R S and the output P H S, H the candidate's
/// Content-Type line (written into `header`). Every encoding here tests characters one
/// by one, so encoding P H S in one go decides the choice too: R is tested alone, and a
/// failure is blamed on P or S unless H itself cannot be encoded; then the candidate is
/// still the choice when P and S fit (`restFits`), and the message stays unconverted.
/// `tries(candidate)` encodes the text (with H in place) and says whether it fit. None
/// when no candidate is chosen or the one chosen cannot be written.
template <typename Tries, typename RestFits>
const EncodingPair* chooseCandidate(const std::vector<EncodingPair>& candidates, char16_t unitRange,
                                    const std::optional<HeaderChange>& change, std::u16string_view replaced, ContentType contentType,
                                    std::u16string& header, Tries tries, RestFits restFits)
{
    for (const EncodingPair& candidate : candidates) {
        if (!mayEncode(candidate.encoding, unitRange))
            continue;
        if (change) {
            if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
                continue;
            assignContentTypeHeader(header, contentType, candidate, change->terminator);
        }
        if (tries(candidate))
            return &candidate;
        if (change && !canEncode(header, candidate.encoding) && restFits(candidate))
            return nullptr;
    }
    return nullptr;
}

/// Writes `text` into `out` with the non-ASCII text of its header fields (the lines
/// between the separator line and the empty line) as encoded-words in the candidate's
/// charset. False when there is nothing to encode (then `text` stands as it is).
bool encodeHeaders(std::u16string_view text, const EncodingPair& candidate, std::u16string& out);

/// Notes (and logs) a message left unconverted for a header field too long to hold.
void leaveFieldTooLong(MailboxContext& mailbox);

} // namespace tarnwick
