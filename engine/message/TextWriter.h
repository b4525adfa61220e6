#pragma once
// The stages after the decoding: where the Content-Type header changes, and the text
// encoded into a charset candidate, with the new header in place and the header fields
// as encoded-words when asked. A message held in memory is worked on whole, in place;
// a spooled one goes through the text stages block by block, pass after pass.

#include "engine/message/ConversionSteps.h"
#include "engine/message/DecodedText.h"

#include <functional>
#include <optional>
#include <string>

namespace tarnwick {

/// findHeaderChange over the decoded text, none when an intact multipart body follows
/// (a delimiter line after the header, with attachments put back): Eudora kept that
/// body undecoded, and its header still describes it. `replaced` receives the field
/// the change replaces.
std::optional<HeaderChange> headerChangeOf(DecodedText& text, const ConversionOptions& options, std::u16string& replaced);

/// Where the converted bytes go: appended to `memory` after its first `base` bytes
/// (which stay), or handed to `write` in blocks.
struct MessageSink {
    std::string* memory = nullptr;
    std::size_t base = 0;
    const std::function<bool(std::string_view)>* write = nullptr;
    std::size_t blockSize = 0;
};

enum class WriteOutcome { Converted, Unconverted, WriteFailed };

/// The charset choice's passes over the text: a candidate tried, the rest of the text
/// checked, the chosen one written.
class CandidateWriter {
public:
    CandidateWriter(DecodedText& text, const std::optional<HeaderChange>& change, const MessageSink& sink);

    /// Whether the text, with `header` in place of the change, encodes in the candidate
    /// (written to a memory sink as it goes).
    bool tries(const std::u16string& header, const EncodingPair& candidate);
    /// With pieces P R S of the text becoming P H S: whether P and S each encode.
    bool restFits(const EncodingPair& candidate);
    /// Writes the chosen candidate, with encoded-words when `encodeHeaders`.
    WriteOutcome finish(const std::u16string& header, const EncodingPair& candidate, bool encodeHeaders);

private:
    struct Encoder;
    void run(const std::u16string& header, const EncodingPair* fields, bool whole, Encoder& encoder);

    DecodedText& text_;
    const std::optional<HeaderChange>& change_;
    MessageSink sink_;
    std::u16string* held_;
    std::size_t applied_ = 0; // the length of the text in place of the change in held_
    std::u16string encoded_;
};

} // namespace tarnwick
