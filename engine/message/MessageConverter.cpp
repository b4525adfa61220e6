#include "engine/message/MessageConverter.h"

#include "engine/message/ConversionSteps.h"
#include "engine/message/DecodedText.h"
#include "engine/message/MessageSource.h"
#include "engine/message/TextWriter.h"
#include "platform/encodings/CaseFold.h"
#include "engine/header/MimeHeader.h"
#include "engine/message/MessagePieces.h"
#include "engine/header/FieldLength.h"
#include "engine/header/HeaderEncoder.h"
#include "engine/message/MessageDecoder.h"
#include "engine/text/AutomaticEncoding.h"
#include "engine/message/TextLines.h"
#include "engine/text/Ascii.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"
#include "platform/encodings/TextStream.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace tarnwick {
namespace {

// Per-thread working storage, reused from message to message so that a run of
// messages allocates only while the largest message so far grows.
struct WorkingBuffers {
    std::u16string text;     // the decoded message (or the header of one converted from its bytes)
    std::u16string header;   // the new Content-Type line
    std::u16string replaced; // the Content-Type header it replaces
    std::u16string encoded;  // the text with its header fields encoded
    MessagePlan plan;        // the spans of a message converted from its bytes
    std::string bytes;       // a scratch encoding of such a message's body
    std::string projection;  // its text after a Content-Type header, ASCII kept, for the boundary search
};
thread_local WorkingBuffers t_buffers;

// Storage above this is given back after the call, so one huge message does not pin
// its memory for the rest of the job.
constexpr std::size_t kKeptUnits = std::size_t{16} << 20;

struct BufferTrim {
    WorkingBuffers& buffers;
    ~BufferTrim()
    {
        if (buffers.text.capacity() > kKeptUnits)
            std::u16string().swap(buffers.text);
        if (buffers.encoded.capacity() > kKeptUnits)
            std::u16string().swap(buffers.encoded);
        if (buffers.bytes.capacity() > kKeptUnits)
            std::string().swap(buffers.bytes);
        if (buffers.projection.capacity() > kKeptUnits)
            std::string().swap(buffers.projection);
    }
};

/// Whether what findHeaderChange and encodeHeaders decide on `header` alone is what they
/// decide on any text that begins with it: its first line holds text, and an empty line
/// follows inside it whose terminator cannot go on after it (no lone CR at its end).
bool settlesHeader(std::u16string_view header)
{
    const TextLine first = textLineAt(header, 0);
    if (first.contentsEnd == first.start)
        return false;
    for (std::size_t pos = first.end; pos < header.size();) {
        const TextLine line = textLineAt(header, pos);
        if (line.contentsEnd == line.start)
            return !(line.end == header.size() && line.end - line.contentsEnd == 1 && header[line.contentsEnd] == u'\r');
        pos = line.end;
    }
    return false;
}

char16_t unitBitsOf(UnitRange range)
{
    switch (range) {
    case UnitRange::Ascii:
        return 0x7F;
    case UnitRange::Latin1:
        return 0xFF;
    case UnitRange::Wide:
        break;
    }
    return 0xFFFF;
}

/// isIntactMultipart for a planned message whose header text is `header`: the text after
/// the replaced header is the rest of the header and the body spans. Its ASCII characters
/// stand where they are in a byte copy (other units as 0x80, the spans' bytes as they are,
/// which needs encodings whose ASCII bytes are exactly their ASCII characters), so a
/// delimiter line is found in the copy exactly when it is in the text. None when a span
/// is in another encoding.
std::optional<bool> isIntactMultipart(std::u16string_view header, const HeaderChange& change, std::string_view message,
                                      const MessagePlan& plan, std::string& projection)
{
    const std::optional<std::string> boundary = multipartBoundary(header, change);
    if (!boundary)
        return false;
    projection.clear();
    for (const char16_t c : header.substr(change.location + change.replacedLength))
        projection += c < 0x80 ? static_cast<char>(c) : '\x80';
    for (const TextSpan& span : plan.body) {
        if (!isAsciiTransparent(span.encoding))
            return std::nullopt;
        projection.append(message.substr(span.offset, span.length));
    }
    return hasDelimiterLine(std::string_view(projection), *boundary);
}

/// The body spans of a planned message, from their bytes into `encoding`, appended to `out`.
bool transcodeSpans(std::string_view message, const MessagePlan& plan, EncodingId encoding, std::string& out)
{
    for (const TextSpan& span : plan.body) {
        if (!transcodeAppend(message.data() + span.offset, span.length, span.encoding, encoding, out))
            return false;
    }
    return true;
}

/// convertMessage for a planned message: only the header is decoded; the body goes from
/// its bytes to each candidate's bytes directly. Every step is convertMessage's, with the
/// text cut into the header and the body: every candidate here is stateless and encodes
/// character by character, so a text encodes exactly when both parts do, into their
/// bytes one after the other. None when the header alone does not settle the header
/// decisions or a candidate is not byte-transcodable: then the text is decoded whole.
std::optional<bool> convertPlanned(std::string_view message, const MessagePlan& plan, const ConversionOptions& options,
                                   const std::vector<EncodingPair>& candidates, MailboxContext& mailbox, WorkingBuffers& buffers,
                                   std::size_t base, std::string& result)
{
    if (!std::all_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) { return isByteTranscodable(c.encoding); }))
        return std::nullopt;
    std::u16string& header = buffers.text;
    header.clear();
    if (!decodeAppend(message.data(), plan.header.length, plan.header.encoding, header) || !settlesHeader(header))
        return std::nullopt;

    char16_t unitRange = 0xFFFF;
    if (wantsUnitRange(candidates)) {
        unitRange = unitBits(header);
        for (const TextSpan& span : plan.body)
            unitRange = static_cast<char16_t>(unitRange | unitBitsOf(span.range));
    }

    std::optional<HeaderChange> change;
    if (plan.contentType != ContentType::None)
        change = findHeaderChange(header, options.crlfLineEndings);
    if (change && options.putBackAttachments) {
        const std::optional<bool> intact = isIntactMultipart(header, *change, message, plan, buffers.projection);
        if (!intact)
            return std::nullopt;
        if (*intact)
            change.reset();
    }
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;

    auto encodeBody = [&](EncodingId encoding, std::string& out) { return transcodeSpans(message, plan, encoding, out); };
    // The bytes are written as the choice is made: the header as it is finally written
    // (with encoded-words when asked), then the body. The choice rests on the header text
    // before the encoded-words; `headerWritten` tells whether the final one could be written.
    bool headerWritten = true;
    auto encodeAll = [&](const EncodingPair& candidate) {
        result.resize(base);
        if (!encodeAppend(header, candidate.encoding, result))
            return false;
        headerWritten = true;
        if (options.encodeHeaders && encodeHeaders(header, candidate, buffers.encoded)) {
            result.resize(base);
            headerWritten = encodeAppend(buffers.encoded, candidate.encoding, result);
        }
        return encodeBody(candidate.encoding, result);
    };
    auto finish = [&] {
        if (!headerWritten)
            return false;
        mailbox.lastReason = UnconvertedReason::None;
        return true;
    };

    // As convertMessage: pieces P R S become P H S, with P, R and H in the header text.
    std::u16string& replaced = buffers.replaced;
    std::u16string& newHeader = buffers.header;
    replaced.clear();
    std::size_t appliedLength = 0;
    if (change) {
        replaced.assign(header, change->location, change->replacedLength);
        appliedLength = change->replacedLength;
    }
    auto tries = [&](const EncodingPair& candidate) {
        if (change) {
            header.replace(change->location, appliedLength, newHeader);
            appliedLength = newHeader.size();
        }
        return encodeAll(candidate);
    };
    auto restFits = [&](const EncodingPair& candidate) {
        const std::u16string_view changed = header;
        buffers.bytes.clear();
        return canEncode(changed.substr(0, change->location), candidate.encoding)
            && canEncode(changed.substr(change->location + appliedLength), candidate.encoding)
            && encodeBody(candidate.encoding, buffers.bytes);
    };
    return chooseCandidate(candidates, unitRange, change, replaced, plan.contentType, newHeader, tries, restFits) && finish();
}

// A message labelled with a charset that does not read ASCII as ASCII (UTF-7, HZ,
// ISO-2022-KR, UTF-16; ISO-2022-JP aside) cannot be decoded whole like the others: it
// is left as it is, its label kept, logged and counted as not converted.
bool keptInItsCharset(std::string_view declared)
{
    if (declared.empty())
        return false;
    // Named here too, for a platform that lacks them.
    static constexpr std::string_view kStateful[]
        = {"utf-7", "unicode-1-1-utf-7", "hz-gb-2312", "iso-2022-kr", "iso-2022-cn", "iso-2022-cn-ext"};
    const std::string_view bare = declared.substr(declared.rfind('/') == std::string_view::npos ? 0 : declared.rfind('/') + 1);
    const bool stateful = std::any_of(std::begin(kStateful), std::end(kStateful), [bare](std::string_view name) {
        return bare.size() == name.size() && std::equal(bare.begin(), bare.end(), name.begin(), [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
               });
    });
    const EncodingId named = namedEncoding(declared);
    constexpr EncodingId kISO2022JP = 21; // read by its own codec, ASCII included
    if (!stateful && (named == kEncodingNone || named == kISO2022JP || isAsciiCompatible(named)))
        return false;
    logMessage(formatMessage("Message left in its charset \"%1\": it is not converted from it", {std::string(declared)}));
    return true;
}

/// Whether every header field of the message is within kLongestConvertedField bytes.
bool fieldsFit(const MessageSource& source)
{
    HeaderFieldMeter meter;
    for (std::uint64_t at = 0; at < source.size(); at += source.blockSize()) {
        if (!meter.feed(source.read(at, static_cast<std::size_t>(std::min<std::uint64_t>(source.blockSize(), source.size() - at)))))
            break;
    }
    return !meter.tooLong();
}

/// The byte-to-byte stage, for a message in memory whose every piece is in a
/// byte-transcodable encoding: converted (or not) from its bytes. None when the text
/// must be decoded; then `source` is the encoding chosen.
std::optional<WriteOutcome> convertFromBytes(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                                             CharsetCandidates& candidates, MailboxContext& mailbox, const MessageSink& sink,
                                             EncodingId& source)
{
    WorkingBuffers& buffers = t_buffers;
    MessagePlan& plan = buffers.plan;
    const PlanOutcome planned = planMessage(message, headerLength, options, mailbox.automatic, plan);
    source = plan.source;
    if (planned == PlanOutcome::Undecodable)
        return WriteOutcome::Unconverted;
    if (planned == PlanOutcome::Planned)
        if (const std::optional<bool> converted
            = convertPlanned(message, plan, options, candidates.pairs(), mailbox, buffers, sink.base, *sink.memory))
            return *converted ? WriteOutcome::Converted : WriteOutcome::Unconverted;
    return std::nullopt;
}

/// The conversion of one message, whatever holds it: the header fields measured, the
/// source encoding chosen (from the bytes where every piece allows), the text decoded,
/// the Content-Type change found, a charset candidate chosen and the text written.
WriteOutcome convertSource(const MessageSource& source, std::uint64_t headerLength, const ConversionOptions& options,
                           CharsetCandidates& candidates, MailboxContext& mailbox, const MessageSink& sink,
                           std::size_t pieceLimit = kKeptPieceEncodings)
{
    WorkingBuffers& buffers = t_buffers;
    const BufferTrim trim{buffers};
    if (!fieldsFit(source)) {
        leaveFieldTooLong(mailbox);
        return WriteOutcome::Unconverted;
    }
    mailbox.lastReason = UnconvertedReason::Undecodable;
    if (keptInItsCharset(declaredCharsetIn(source, static_cast<std::size_t>(std::min(headerLength, source.size())))))
        return WriteOutcome::Unconverted;

    EncodingId encoding = kEncodingNone;
    if (source.inMemory())
        if (const std::optional<WriteOutcome> done
            = convertFromBytes(source.bytes(), headerLength, options, candidates, mailbox, sink, encoding))
            return *done;
    DecodedText text(source, headerLength, options, buffers.text);
    if (!source.inMemory())
        encoding = text.chooseSource(mailbox.automatic);
    if (const std::uint64_t spaces = text.setSource(encoding); spaces > 0)
        logMessage(formatMessage("%1 NBSP (U+00A0) replaced with space (U+0020)", {std::to_string(spaces)}));
    mailbox.lastReason = UnconvertedReason::Undecodable;
    if (!text.decode(mailbox.automatic, pieceLimit))
        return WriteOutcome::Unconverted;

    const std::optional<HeaderChange> change = headerChangeOf(text, options, buffers.replaced);
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    const std::vector<EncodingPair>& pairs = candidates.pairs();
    const char16_t unitRange = wantsUnitRange(pairs) ? static_cast<char16_t>(text.codeUnitBits()) : char16_t{0xFFFF};
    CandidateWriter writer(text, change, sink);
    std::u16string& header = buffers.header;
    const EncodingPair* chosen = chooseCandidate(
        pairs, unitRange, change, buffers.replaced, text.contentType(), header,
        [&](const EncodingPair& c) { return writer.tries(header, c); }, [&](const EncodingPair& c) { return writer.restFits(c); });
    if (!chosen)
        return WriteOutcome::Unconverted;
    const WriteOutcome outcome = writer.finish(header, *chosen, options.encodeHeaders);
    if (outcome == WriteOutcome::Converted)
        mailbox.lastReason = UnconvertedReason::None;
    return outcome;
}

} // namespace

bool convertMessageAppend(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                          CharsetCandidates& candidates, MailboxContext& mailbox, std::string& out)
{
    const std::size_t base = out.size();
    const MessageSource source(message);
    if (convertSource(source, headerLength, options, candidates, mailbox, MessageSink{&out, base, nullptr, 0}) == WriteOutcome::Converted)
        return true;
    out.resize(base);
    return false;
}

bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, CharsetCandidates& candidates,
                    MailboxContext& mailbox, std::string& result)
{
    result.clear();
    return convertMessageAppend(message, headerLength, options, candidates, mailbox, result);
}

LargeMessageOutcome convertMessage(const MessageReader& read, std::uint64_t size, std::uint64_t headerLength,
                                   const ConversionOptions& options, CharsetCandidates& candidates, MailboxContext& mailbox,
                                   const std::function<bool(std::string_view)>& write, std::size_t blockSize, std::size_t pieceLimit)
{
    if (blockSize == 0)
        return LargeMessageOutcome::NeedsWholeMessage;
    const MessageSource source(read, size, blockSize);
    switch (convertSource(source, headerLength, options, candidates, mailbox, MessageSink{nullptr, 0, &write, blockSize}, pieceLimit)) {
    case WriteOutcome::Converted:
        return LargeMessageOutcome::Converted;
    case WriteOutcome::WriteFailed:
        return LargeMessageOutcome::WriteFailed;
    case WriteOutcome::Unconverted:
        break;
    }
    return LargeMessageOutcome::Unconverted;
}

} // namespace tarnwick
