#pragma once
// The decoding half of message conversion: one message's bytes into UTF-16 text, in
// the source encoding the options name or, with "Automatic", in the one the message
// itself calls for, with Eudora's tags dropped and each tag block decoded in its charset.

#include "engine/text/AutomaticEncoding.h"
#include "engine/ConversionOptions.h"
#include "engine/message/MessagePieces.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// The content type that the body's first element implies (tag path only).
enum class ContentType { None, Plain, Flowed, Html, Enriched };

/// The content type a piece of the body implies when it comes first.
inline ContentType contentTypeOf(PieceKind kind)
{
    switch (kind) {
    case PieceKind::Text:
    case PieceKind::CharsetBlock:
        return ContentType::Plain;
    case PieceKind::FlowedBlock:
        return ContentType::Flowed;
    case PieceKind::HtmlBlock:
    case PieceKind::Trailer:
        return ContentType::Html;
    }
    return ContentType::None;
}

/// Decodes `message` (whose body starts at `headerLength`, or kHeaderLengthNone) into
/// `text` (replaced). On the tag path (options.processEudoraTags and a body) the tags
/// are dropped and `contentType` set from the body's first element; otherwise it stays
/// None. With a fixed source encoding every piece is decoded in it (tag blocks first in
/// their own charset); with kEncodingAutomatic the encoding is chosen from the message
/// (chooseSourceEncoding, using and updating `mailbox`), and a tag block also follows a
/// charset named by its Mac marker or by a "received/stored" name. False when some
/// piece cannot be decoded.
///
/// With options.convertRichText on the tag path, a body that is not HTML and holds
/// <x-rich> blocks becomes text/enriched (richTextBody) and `contentType` Enriched.
bool decodeMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource& mailbox,
                   std::u16string& text, ContentType& contentType);

/// One stretch of a message's text: `length` bytes at `offset` of the message, in `encoding`.
struct TextSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    EncodingId encoding = kEncodingNone;
    UnitRange range = UnitRange::Ascii; // of the decoded text
};

/// decodeMessage's decisions for a message whose every piece is in a byte-transcodable
/// encoding (platform/encodings/TextEncoding.h): the text is the header span followed by the body
/// spans, each decoded in its encoding, exactly as decodeMessage would decode it.
struct MessagePlan {
    TextSpan header;            // bytes [0, header length) in the source encoding
    std::vector<TextSpan> body; // the rest, in message order, tags left out
    ContentType contentType = ContentType::None;
    EncodingId source = kEncodingNone; // the message's encoding (chosen, with "Automatic")
};

enum class PlanOutcome {
    Planned,     // `plan` holds the spans
    Undecodable, // decodeMessage would return false
    NeedsText,   // some piece needs decoding in another way: call decodeMessage with plan.source
};

/// Plans the decoding of `message` as decodeMessage would decode it (choosing the
/// source encoding with "Automatic", updating `mailbox` as it would). The header span
/// ends at `headerLength` (or the message's end) also when tags are not processed.
PlanOutcome planMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource& mailbox,
                        MessagePlan& plan);

/// The encoding decodeMessage would decode the header of `message` in: the options'
/// source encoding, or with "Automatic" the one chosen from the message (`mailbox` is
/// a copy: what the choice learns is not kept).
EncodingId messageEncoding(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource mailbox);

/// decodeMessage with the source encoding already chosen (`source`, as planMessage gave it).
bool decodeMessageIn(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, EncodingId source,
                     AutomaticSource& mailbox, std::u16string& text, ContentType& contentType);

} // namespace tarnwick
