#pragma once
// "Automatic" source encoding: the encoding of one message's text, decided from the
// message itself and the mailbox it comes from.

#include "engine/text/LegacyEncodings.h"
#include "platform/encodings/TextEncoding.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace tarnwick {

/// What a mailbox tells about its messages' encodings.
struct AutomaticSource {
    MailboxOrigin origin = MailboxOrigin::Windows;
    const LegacyFamily* family = &westernFamily(); // the user's language family
    const LegacyFamily* confirmed = nullptr;       // the family ICU's detector last confirmed here

    bool operator==(const AutomaticSource&) const = default;
};

/// How the encoding was found, in the order the steps are tried.
enum class EncodingChoice : std::uint8_t {
    Declared,   // the charset the message's Content-Type names, which decodes the text cleanly
    Ascii,      // no 8-bit byte at all
    Utf8,       // valid UTF-8 with non-ASCII bytes
    Legacy,     // the legacy encoding of the mailbox's platform in the user's language family
    Detected,   // another family: the text decodes cleanly in it and ICU's detector agrees
    LastResort, // the Western legacy encodings, when the user's family cannot decode the text
    Undecodable,
};

struct SourceEncoding {
    EncodingId encoding = kEncodingUTF8;
    EncodingChoice choice = EncodingChoice::Undecodable;
};

/// Chooses the encoding of `pieces`: the parts of one message in its own encoding (the
/// header, text runs and tag blocks that name no charset), in message order.
/// `declaredCharset` is the charset parameter of the message's Content-Type (may be
/// empty). Text decodes cleanly when it decodes without error and holds no C1 control
/// character. Never returns an encoding that fails on the pieces, except with
/// EncodingChoice::Undecodable. Updates `source.confirmed`.
SourceEncoding chooseSourceEncoding(std::span<const std::string_view> pieces, std::string_view declaredCharset, AutomaticSource& source);

/// The pieces of a message kept outside memory, read block by block.
class PieceReader {
public:
    virtual ~PieceReader() = default;
    virtual std::size_t count() const = 0;
    virtual std::uint64_t size(std::size_t piece) const = 0;
    /// The most bytes read at once.
    virtual std::size_t blockSize() const = 0;
    /// Bytes [offset, offset + length) of a piece, length at most blockSize(); the
    /// view is valid until the next call.
    virtual std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const = 0;
};

/// chooseSourceEncoding over pieces read block by block: the same choice, with memory
/// bounded by the block size (a character split between blocks is decoded whole).
SourceEncoding chooseSourceEncoding(const PieceReader& pieces, std::string_view declaredCharset, AutomaticSource& source);

/// The charset parameter of the first Content-Type field in raw header bytes, quotes
/// removed; empty when there is none.
std::string_view declaredCharset(std::string_view header);

/// The encoding a charset name of a tag or marker stands for. Mac Eudora writes
/// "received/stored" names ("iso-8859-1/macintosh"): the stored bytes follow the second.
/// kEncodingNone for an unknown or unavailable name.
EncodingId namedEncoding(std::string_view name);

/// The charset named by the `<!x-stuff-for-pete ... charset="...">` marker with which a
/// Mac HTML block's text begins; empty when the text begins otherwise.
std::string_view markerCharset(std::string_view blockText);

/// The mailbox's origin from its first line: CR alone ends Mac Eudora's lines.
MailboxOrigin originOfMailbox(std::string_view firstLineTerminator);

} // namespace tarnwick
