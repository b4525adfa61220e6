#pragma once
// The decisions about a message in memory before its text is decoded: the content type
// its body implies, the source encoding (the options' or, with "Automatic", the one the
// message itself calls for), and the plan of the byte-to-byte stage.

#include "engine/text/AutomaticEncoding.h"
#include "engine/ConversionOptions.h"
#include "engine/message/MessagePieces.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// The content type that the body's first element implies (tags processed only).
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

/// One stretch of a message's text: `length` bytes at `offset` of the message, in `encoding`.
struct TextSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    EncodingId encoding = kEncodingNone;
    UnitRange range = UnitRange::Ascii; // of the decoded text
};

/// The decoding stage's decisions for a message whose every piece is in a byte-transcodable
/// encoding (platform/encodings/TextEncoding.h): the text is the header span followed by the body
/// spans, each decoded in its encoding, exactly as the decoding stage (DecodedText) decodes it.
struct MessagePlan {
    TextSpan header;            // bytes [0, header length) in the source encoding
    std::vector<TextSpan> body; // the rest, in message order, tags left out
    ContentType contentType = ContentType::None;
    EncodingId source = kEncodingNone; // the message's encoding (chosen, with "Automatic")
};

enum class PlanOutcome {
    Planned,     // `plan` holds the spans
    Undecodable, // the decoding stage would fail
    NeedsText,   // some piece needs decoding in another way: the decoding stage, in plan.source
};

/// Plans the decoding of `message` as the decoding stage would decode it (choosing the
/// source encoding with "Automatic", updating `mailbox` as it would). The header span
/// ends at `headerLength` (or the message's end) also when tags are not processed.
PlanOutcome planMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource& mailbox,
                        MessagePlan& plan);

/// The encoding the decoding stage would decode the header of `message` in: the options'
/// source encoding, or with "Automatic" the one chosen from the message (`mailbox` is
/// a copy: what the choice learns is not kept).
EncodingId messageEncoding(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource mailbox);

} // namespace tarnwick
