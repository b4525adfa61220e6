#pragma once
// The charset candidates of one job: the user's charset names turned into (encoding,
// name) pairs, in the user's order, leaving out every name that cannot be used.

#include "platform/encodings/TextEncoding.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

struct EncodingPair {
    EncodingId encoding;
    std::string charsetName; // as the user wrote it
};

/// Whether the encoding writes ASCII text (TAB, CR, LF, every printable character) as
/// the same bytes. Separator lines, header names and line terminators must stay
/// ASCII, or the output is no mbox: UTF-16, UTF-32, UTF-7 ('+'), HZ ('~') and EBCDIC
/// fail this.
bool writesASCIIAsASCII(EncodingId encoding);

/// Whether bytes in the encoding read TAB, CR, LF and the printable ASCII characters
/// (but '\\' and '~', which some Asian encodings read as currency signs or escapes)
/// as themselves: what a mailbox encoding needs for its "From " lines and headers to
/// be found. UTF-16 and UTF-32 (and UTF-7, EBCDIC) fail this.
bool readsASCIIAsASCII(EncodingId encoding);

/// The encoding that a charset name stands for when it can be an output charset:
/// known (or a fallback name), available and writing ASCII as ASCII; none otherwise.
std::optional<EncodingId> usableCharset(const std::string& name);

/// Builds the pairs for `names` now, logging "'NAME' is not supported" for each name
/// that is unknown, unavailable or does not write ASCII as ASCII.
std::vector<EncodingPair> buildCharsetCandidates(const std::vector<std::string>& names);

/// The list of one job, built when the first message needs it (so that a job that
/// converts no message logs nothing) and kept for the rest of the job.
class CharsetCandidates {
public:
    explicit CharsetCandidates(std::vector<std::string> names) : names_(std::move(names)) {}

    /// The pairs, built on the first call.
    const std::vector<EncodingPair>& pairs()
    {
        if (!pairs_)
            pairs_ = buildCharsetCandidates(names_);
        return *pairs_;
    }

    /// Whether the pairs are built: from then on pairs() only reads, and threads may
    /// share the list.
    bool built() const { return pairs_.has_value(); }

    /// The names the list is built from.
    const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> names_;
    std::optional<std::vector<EncodingPair>> pairs_;
};

} // namespace tarnwick
