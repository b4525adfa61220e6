#pragma once
// The decoding stage: a message's bytes (a MessageSource) into its UTF-16 text, with
// Eudora's tags dropped and each tag block in its charset. The text is handed on block
// by block and can be read again: a message in memory is decoded once and its text
// held whole (one block); a spooled one is decoded again on each pass.

#include "engine/ByteRange.h"
#include "engine/ConversionOptions.h"
#include "engine/message/MessageDecoder.h"
#include "engine/message/MessagePieces.h"
#include "engine/message/MessageSource.h"
#include "engine/message/RichText.h"
#include "engine/text/AutomaticEncoding.h"
#include "platform/encodings/TextStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

/// With Eudora tags on, a spooled message's decoding keeps the encoding of each piece
/// of the body that decodes in an encoding other than the message's (a block in a
/// charset of its own); past this many of them each piece's encoding is decided again
/// on every pass.
inline constexpr std::size_t kKeptPieceEncodings = std::size_t{1} << 16;

/// The encoding a block piece names with "Automatic": its tag's parameter, else the
/// charset of a Mac marker at its start (HTML blocks).
EncodingId blockEncodingIn(SourceBytes& bytes, const MessagePiece& piece, ByteRange parameter);

/// The charset parameter of the first Content-Type field in bytes [0, end) of `source`.
std::string declaredCharsetIn(const MessageSource& source, std::size_t end);

class DecodedText {
public:
    /// `held` keeps the text of a message in memory (its capacity is reused).
    DecodedText(const MessageSource& source, std::uint64_t headerLength, const ConversionOptions& options, std::u16string& held);
    DecodedText(const DecodedText&) = delete;
    DecodedText& operator=(const DecodedText&) = delete;

    /// The options' source encoding, or with "Automatic" the one chosen over the
    /// message's own text (the header, the runs, the trailer and the blocks that name
    /// no charset with tags on, else all of it); `automatic` learns from the choice.
    EncodingId chooseSource(AutomaticSource& automatic);
    /// Decodes in `source` from now on; returns how many no-break spaces the Japanese
    /// encodings' step replaces (none when the options leave them).
    std::uint64_t setSource(EncodingId source);

    /// Decodes the text once: false when a piece does not decode. Finds the content
    /// type and the range of the code units; `automatic` decides a piece in an encoding
    /// of its own and must outlive the passes. With options.convertRichText a body with
    /// <x-rich> blocks is rewritten (RichText.h): as text/enriched, or inside an HTML
    /// body as HTML; a text held whole at once, a spooled one on each pass.
    bool decode(const AutomaticSource& automatic, std::size_t pieceLimit = kKeptPieceEncodings);
    ContentType contentType() const { return contentType_; }
    std::uint64_t codeUnitBits() const { return bits_; }

    /// The text held whole (a message in memory, once decoded), else null.
    std::u16string* held() { return heldValid_ ? &held_ : nullptr; }

    /// Calls `each(text)` with the text block by block until it returns false; false when
    /// it did (or a piece did not decode).
    bool forEachText(const std::function<bool(std::u16string_view)>& each);

private:
    using Each = std::function<bool(std::u16string_view)>;
    std::string_view bytes(std::uint64_t from, std::uint64_t to);
    std::string_view cached(std::uint64_t from, std::size_t length);
    static std::string_view replaceSpaces(std::string_view raw, unsigned char before, std::string& copy, std::uint64_t& count);
    bool decodeSpan(DecodeStream& stream, std::uint64_t from, std::uint64_t to, const Each& each);
    bool decodeRange(std::uint64_t from, std::uint64_t to, EncodingId encoding, const Each& each);
    EncodingId decidePiece(const MessagePiece& piece, ByteRange parameter, const Each& each, const std::function<void()>& retry);
    bool decodeBody(std::size_t pieceLimit);
    bool forEachPiece(const Each& each);
    bool forEachRewritten(const Each& each);

    const MessageSource& source_;
    std::uint64_t bodyStart_;
    bool tagged_;
    bool replaceNoBreakSpaces_;
    bool automatic_;
    bool convertRichText_;
    EncodingId fixedSource_;
    bool replaceSpaces_ = false;
    EncodingId encoding_ = kEncodingUTF8;
    const AutomaticSource* decideWith_ = nullptr;
    std::u16string& held_;
    bool holding_ = false;
    bool heldValid_ = false;
    std::string copy_;                            // a message in memory with its no-break spaces replaced
    bool copied_ = false;                         // copy_ holds it
    MessageReader replacedRead_;                  // a spooled message's bytes, no-break spaces replaced
    std::optional<MessageSource> replacedSource_; // the bytes the pieces are decoded from
    std::optional<SourceBytes> replacedBytes_;
    std::string blockCopy_;
    std::string cache_;
    std::uint64_t cacheStart_ = 0;
    std::u16string text_;
    std::unique_ptr<DecodeStream> whole_;
    std::unique_ptr<DecodeStream> range_;
    EncodingId rangeEncoding_ = kEncodingNone;
    struct OtherEncoding {
        std::uint64_t piece = 0;
        EncodingId encoding = kEncodingNone;
    };
    std::vector<OtherEncoding> others_;
    bool decideEachPass_ = false;
    ContentType contentType_ = ContentType::None;
    std::uint64_t bits_ = 0;
    RichTextLayout richLayout_; // a spooled body's, learnt as it is decoded
    bool richSpooled_ = false;  // a spooled body is rewritten on each pass
    std::u16string rewritten_;
};

} // namespace tarnwick
