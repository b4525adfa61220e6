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
    std::string bytes; // the copy made by the no-break-space step
    std::vector<MessagePiece> pieces;
    std::vector<std::string_view> ownPieces;
};
thread_local DecoderBuffers t_decoder;

constexpr std::size_t kKeptBytes = std::size_t{32} << 20;

/// Replaces every 0xA0 that does not follow a Shift_JIS lead byte with a space, in a
/// copy. Returns the copy when anything was replaced, else the bytes as passed. The
/// copy has the bytes' length, so offsets into the message stay valid.
std::string_view replaceNoBreakSpaces(std::string_view message, std::string& copy)
{
    const void* first = std::memchr(message.data(), 0xA0, message.size());
    if (first == nullptr)
        return message;
    copy.assign(message);
    std::size_t count = 0;
    std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(first) - message.data());
    for (;;) {
        if (pos == 0 || !isShiftJISLeadByte(static_cast<unsigned char>(copy[pos - 1]))) {
            copy[pos] = ' ';
            ++count;
        }
        const void* next = std::memchr(copy.data() + pos + 1, 0xA0, copy.size() - pos - 1);
        if (next == nullptr)
            break;
        pos = static_cast<std::size_t>(static_cast<const char*>(next) - copy.data());
    }
    if (count == 0)
        return message;
    logMessage(formatMessage("%1 NBSP (U+00A0) replaced with space (U+0020)", {std::to_string(count)}));
    return copy;
}

bool isJapaneseLegacy(EncodingId encoding) { return encoding == kEncodingMacJapanese || encoding == kEncodingShiftJIS; }

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
                                 const std::vector<MessagePiece>& pieces, AutomaticSource& mailbox)
{
    std::vector<std::string_view>& own = t_decoder.ownPieces;
    own.assign(1, message.substr(0, headerSize));
    for (const MessagePiece& piece : pieces) {
        if (!isBlock(piece.kind) || automaticBlockEncoding(piece, message) == kEncodingNone)
            own.push_back(message.substr(piece.offset, piece.length));
    }
    const std::size_t declaredEnd = std::min<std::uint64_t>(headerLength, message.size());
    return chooseSourceEncoding(own, declaredCharset(message.substr(0, declaredEnd)), mailbox).encoding;
}

bool decodeWith(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, const EncodingId* decided,
                AutomaticSource& mailbox, std::u16string& text, ContentType& contentType)
{
    DecoderBuffers& buffers = t_decoder;
    struct Trim {
        DecoderBuffers& buffers;
        ~Trim()
        {
            if (buffers.bytes.capacity() > kKeptBytes)
                std::string().swap(buffers.bytes);
        }
    } trim{buffers};

    const bool automatic = options.sourceEncoding == kEncodingAutomatic;
    const bool tagPath = options.processEudoraTags && message.size() >= headerLength;
    const std::size_t headerSize = tagPath ? static_cast<std::size_t>(headerLength) : message.size();
    text.clear();
    contentType = ContentType::None;

    std::vector<MessagePiece>& pieces = buffers.pieces;
    pieces.clear();
    if (tagPath)
        cutBody(message, headerSize, pieces);

    EncodingId source = options.sourceEncoding;
    if (decided)
        source = *decided;
    else if (automatic)
        source = chooseMessageEncoding(message, headerSize, headerLength, pieces, mailbox);

    std::string_view bytes = message;
    if (isJapaneseLegacy(source) && options.replaceNoBreakSpaces)
        bytes = replaceNoBreakSpaces(message, buffers.bytes);

    if (!decodeAppend(bytes.data(), headerSize, source, text))
        return false;
    const std::size_t bodyStart = text.size();
    for (const MessagePiece& piece : pieces) {
        const char* data = bytes.data() + piece.offset;
        bool decoded = false;
        if (isBlock(piece.kind)) {
            // Text invalid in the block's charset falls back to the message's encoding.
            const EncodingId named = automatic ? automaticBlockEncoding(piece, bytes) : piece.blockEncoding;
            decoded = named != kEncodingNone && decodeAppend(data, piece.length, named, text);
        }
        if (!decoded)
            decoded = decodeAppend(data, piece.length, source, text);
        if (!decoded && automatic) {
            // A piece in an encoding of its own: decided by itself.
            const std::string_view alone[] = {std::string_view(data, piece.length)};
            AutomaticSource byItself{mailbox.origin, mailbox.family, mailbox.confirmed};
            const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
            decoded = chosen.choice != EncodingChoice::Undecodable && decodeAppend(data, piece.length, chosen.encoding, text);
        }
        if (!decoded)
            return false;
        if (contentType == ContentType::None && piece.setsContentType)
            contentType = contentTypeOf(piece.kind);
    }
    if (tagPath && options.convertRichText && contentType != ContentType::Html && richTextBody(text, bodyStart))
        contentType = ContentType::Enriched;
    return true;
}

} // namespace

bool decodeMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, AutomaticSource& mailbox,
                   std::u16string& text, ContentType& contentType)
{
    return decodeWith(message, headerLength, options, nullptr, mailbox, text, contentType);
}

bool decodeMessageIn(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, EncodingId source,
                     AutomaticSource& mailbox, std::u16string& text, ContentType& contentType)
{
    return decodeWith(message, headerLength, options, &source, mailbox, text, contentType);
}

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
    std::vector<std::string_view> own(1, message.substr(0, headerSize));
    for (const MessagePiece& piece : pieces) {
        if (!isBlock(piece.kind) || automaticBlockEncoding(piece, message) == kEncodingNone)
            own.push_back(message.substr(piece.offset, piece.length));
    }
    const std::size_t declaredEnd = std::min<std::uint64_t>(headerLength, message.size());
    return chooseSourceEncoding(own, declaredCharset(message.substr(0, declaredEnd)), mailbox).encoding;
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
    plan.source = automatic ? chooseMessageEncoding(message, headerSize, headerLength, pieces, mailbox) : options.sourceEncoding;
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
