#include "engine/message/MessageDecoder.h"

#include "engine/ByteRange.h"
#include "engine/message/MessagePieces.h"
#include "engine/message/RichText.h"
#include "engine/text/Ascii.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace tarnwick {
namespace {

// Per-thread storage reused from message to message.
struct DecoderBuffers {
    std::vector<MessagePiece> pieces;
    std::vector<std::string_view> ownPieces;
};
thread_local DecoderBuffers t_decoder;

/// The charset a block names with "Automatic": its tag's parameter (a "received/stored"
/// name counts by its stored half), else the charset of a Mac marker at its start.
EncodingId automaticBlockEncoding(const MessagePiece& piece, std::string_view bytes)
{
    if (piece.blockEncoding != kEncodingNone)
        return piece.blockEncoding;
    if (!piece.charsetName.empty())
        if (const EncodingId named = namedEncoding(piece.charsetName); named != kEncodingNone)
            return named;
    if (piece.kind == PieceKind::HtmlBlock)
        if (const std::string_view marker = markerCharset(bytes.substr(piece.offset, piece.length)); !marker.empty())
            return namedEncoding(marker);
    return kEncodingNone;
}

/// The encoding of the message's own text with "Automatic" (the header, the runs, the
/// trailer and the blocks that name no charset); `pieces` as cutBody gave them.
EncodingId chooseMessageEncoding(std::string_view message, std::size_t headerSize, std::uint64_t headerLength,
                                 const std::vector<MessagePiece>& pieces, std::vector<std::string_view>& own, AutomaticSource& mailbox)
{
    own.assign(1, message.substr(0, headerSize));
    for (const MessagePiece& piece : pieces) {
        if (!isBlock(piece.kind) || automaticBlockEncoding(piece, message) == kEncodingNone)
            own.push_back(message.substr(piece.offset, piece.length));
    }
    const std::size_t declaredEnd = std::min<std::uint64_t>(headerLength, message.size());
    return chooseSourceEncoding(own, declaredCharset(message.substr(0, declaredEnd)), mailbox).encoding;
}

} // namespace

EncodingId messageEncoding(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource mailbox)
{
    if (options.sourceEncoding != kEncodingAutomatic)
        return options.sourceEncoding;
    const bool tagPath = options.processEudoraTags && message.size() >= headerLength;
    const std::size_t headerSize = tagPath ? static_cast<std::size_t>(headerLength) : message.size();
    // Pieces of its own: the decoder's buffers may be in use by the caller.
    std::vector<MessagePiece> pieces;
    if (tagPath)
        cutBody(message, headerSize, pieces);
    std::vector<std::string_view> own;
    return chooseMessageEncoding(message, headerSize, headerLength, pieces, own, mailbox);
}

PlanOutcome planMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource& mailbox,
                        MessagePlan& plan)
{
    std::vector<MessagePiece>& pieces = t_decoder.pieces;
    const bool automatic = options.sourceEncoding == kEncodingAutomatic;
    const bool tagPath = options.processEudoraTags && message.size() >= headerLength;
    const std::size_t headerSize = tagPath ? static_cast<std::size_t>(headerLength) : message.size();
    pieces.clear();
    if (tagPath)
        cutBody(message, headerSize, pieces);
    plan.source = automatic ? chooseMessageEncoding(message, headerSize, headerLength, pieces, t_decoder.ownPieces, mailbox)
                            : options.sourceEncoding;
    // Styled text is rewritten on the decoded text.
    if (tagPath && options.convertRichText && mayHoldRichText(message.substr(headerSize)))
        return PlanOutcome::NeedsText;
    plan.body.clear();
    plan.contentType = ContentType::None;
    // The Japanese encodings (and their no-break-space step) are not byte-transcodable.
    if (!isByteTranscodable(plan.source))
        return PlanOutcome::NeedsText;

    // Without the tag path the message is one piece; it is cut after the header all the
    // same. An ASCII byte ends a character in every byte-transcodable encoding, so both
    // parts are valid exactly when the whole is.
    std::size_t headerEnd = headerSize;
    if (!tagPath && headerLength < message.size() && headerLength > 0 && static_cast<unsigned char>(message[headerLength - 1]) < 0x80)
        headerEnd = static_cast<std::size_t>(headerLength);
    auto span = [&](std::size_t offset, std::size_t length, EncodingId encoding) -> std::optional<TextSpan> {
        const ByteScan scan = scanBytes(message.data() + offset, length, encoding);
        if (!scan.valid)
            return std::nullopt;
        return TextSpan{offset, length, encoding, scan.range};
    };
    const std::optional<TextSpan> header = span(0, headerEnd, plan.source);
    if (!header)
        return PlanOutcome::Undecodable;
    plan.header = *header;
    if (!tagPath) {
        if (headerEnd < message.size()) {
            const std::optional<TextSpan> rest = span(headerEnd, message.size() - headerEnd, plan.source);
            if (!rest)
                return PlanOutcome::Undecodable;
            plan.body.push_back(*rest);
        }
        return PlanOutcome::Planned;
    }
    for (const MessagePiece& piece : pieces) {
        std::optional<TextSpan> decoded;
        if (isBlock(piece.kind)) {
            // As decodeMessage: the block's charset first, then the message's encoding.
            const EncodingId named = automatic ? automaticBlockEncoding(piece, message) : piece.blockEncoding;
            if (named != kEncodingNone && !isByteTranscodable(named))
                return PlanOutcome::NeedsText;
            if (named != kEncodingNone)
                decoded = span(piece.offset, piece.length, named);
        }
        if (!decoded)
            decoded = span(piece.offset, piece.length, plan.source);
        if (!decoded && automatic) {
            const std::string_view alone[] = {message.substr(piece.offset, piece.length)};
            AutomaticSource byItself{mailbox.origin, mailbox.family, mailbox.confirmed};
            const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
            if (chosen.choice != EncodingChoice::Undecodable && !isByteTranscodable(chosen.encoding))
                return PlanOutcome::NeedsText;
            if (chosen.choice != EncodingChoice::Undecodable)
                decoded = span(piece.offset, piece.length, chosen.encoding);
        }
        if (!decoded)
            return PlanOutcome::Undecodable;
        plan.body.push_back(*decoded);
        if (plan.contentType == ContentType::None && piece.setsContentType)
            plan.contentType = contentTypeOf(piece.kind);
    }
    return PlanOutcome::Planned;
}

} // namespace tarnwick
