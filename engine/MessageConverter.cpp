#include "engine/MessageConverter.h"

#include "engine/CaseFold.h"
#include "engine/MimeHeader.h"
#include "engine/HeaderEncoder.h"
#include "engine/MessageDecoder.h"
#include "engine/TextLines.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace tarnwick {
namespace {

std::u16string_view contentTypeText(ContentType type)
{
    switch (type) {
    case ContentType::Plain:
        return u"Content-Type: text/plain";
    case ContentType::Flowed:
        return u"Content-Type: text/plain; format=flowed";
    case ContentType::Html:
        return u"Content-Type: text/html";
    case ContentType::None:
        break;
    }
    return {};
}

// Per-thread working storage, reused from message to message so that a run of
// messages allocates only while the largest message so far grows.
struct WorkingBuffers {
    std::u16string text;     // the decoded message
    std::u16string header;   // the new Content-Type line
    std::u16string replaced; // the Content-Type header it replaces
    std::u16string encoded;  // the text with its header fields encoded
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
    }
};

/// Where the Content-Type header goes: a range to replace, or an insertion point.
struct HeaderChange {
    std::size_t location = 0;
    std::size_t replacedLength = 0; // 0 for an insertion
    std::u16string terminator; // appended to the new header text (insertions only); a copy, as the text changes
};

// The Content-Type line written for a candidate: ASCII text names no charset.
void assignContentTypeHeader(std::u16string& header, ContentType contentType, const EncodingPair& candidate,
                             std::u16string_view terminator)
{
    header.assign(contentTypeText(contentType));
    if (candidate.encoding != kEncodingASCII) {
        header.append(u"; charset=");
        appendUTF8AsUTF16(candidate.charsetName, header);
    }
    header.append(terminator);
}

/// Scans the header lines of `text` for the first Content-Type header and decides
/// the change; none when an existing header names neither a text nor a multipart
/// type, or when no empty line ends the header (no sound place to insert).
std::optional<HeaderChange> findHeaderChange(std::u16string_view text, bool crlfTerminators)
{
    static constexpr std::u16string_view kCRLF = u"\r\n";
    bool found = false;
    std::size_t headerStart = 0;
    std::size_t headerEnd = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const TextLine line = textLineAt(text, pos);
        if (line.contentsEnd == line.start) {
            if (found)
                break;
            HeaderChange insertion;
            insertion.location = line.start;
            insertion.terminator = crlfTerminators || line.end == line.contentsEnd
                                       ? kCRLF
                                       : text.substr(line.contentsEnd, line.end - line.contentsEnd);
            return insertion;
        }
        if (!found) {
            if (startsWithFolded(text.substr(line.start, line.contentsEnd - line.start), u"Content-Type:")) {
                found = true;
                headerStart = line.start;
                headerEnd = line.contentsEnd;
            }
        } else if (text[line.start] == u' ' || text[line.start] == u'\t') {
            headerEnd = line.contentsEnd; // continuation line
        } else {
            break;
        }
        pos = line.end;
    }
    if (!found)
        return std::nullopt;
    const std::u16string_view header = text.substr(headerStart, headerEnd - headerStart);
    if (!containsFolded(header, u"multipart") && !containsFolded(header, u"text"))
        return std::nullopt;
    return HeaderChange{headerStart, headerEnd - headerStart, {}};
}

/// Whether the Content-Type header that `change` replaces declares a multipart type
/// whose boundary still begins a line after it: Eudora kept that body undecoded, and
/// its header still describes it.
bool isIntactMultipart(std::u16string_view text, const HeaderChange& change)
{
    if (change.replacedLength == 0)
        return false;
    std::string header;
    for (const char16_t c : text.substr(change.location, change.replacedLength))
        header += c < 0x80 ? static_cast<char>(c) : '?';
    if (!mediaType(header).starts_with("multipart/"))
        return false;
    const std::optional<std::string> boundary = parameterValue(header, "boundary");
    return boundary && hasDelimiterLine(text.substr(change.location + change.replacedLength), *boundary);
}

/// The bitwise OR of every code unit, four at a time: it is at most 0x7F exactly when
/// every unit is, and at most 0xFF exactly when every unit is.
char16_t unitBits(std::u16string_view text)
{
    const char16_t* const data = text.data();
    const std::size_t n = text.size();
    std::uint64_t a = 0, b = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, data + i, 8);
        std::memcpy(&y, data + i + 4, 8);
        a |= x;
        b |= y;
    }
    a |= b;
    a |= a >> 32;
    a |= a >> 16;
    auto bits = static_cast<char16_t>(a);
    for (; i < n; ++i)
        bits = static_cast<char16_t>(bits | data[i]);
    return bits;
}

/// A cheap necessary test: ASCII and ISO Latin 1 cannot hold a code unit above their
/// range (`bits` as unitBits gives them). Every other verdict comes from the encoder itself.
bool mayEncode(EncodingId encoding, char16_t bits)
{
    if (encoding == kEncodingASCII)
        return bits <= 0x7F;
    if (encoding == kEncodingISOLatin1)
        return bits <= 0xFF;
    return true;
}

/// Writes `text` into `out` with the non-ASCII text of its header fields (the lines
/// between the separator line and the empty line) as encoded-words in the candidate's
/// charset. False when there is nothing to encode (then `text` stands as it is).
bool encodeHeaders(std::u16string_view text, const EncodingPair& candidate, std::u16string& out)
{
    const std::size_t fieldsStart = textLineAt(text, 0).end;
    std::size_t fieldsEnd = fieldsStart;
    while (fieldsEnd < text.size()) {
        const TextLine line = textLineAt(text, fieldsEnd);
        if (line.contentsEnd == line.start)
            break;
        fieldsEnd = line.end;
    }
    const std::u16string_view fields = text.substr(fieldsStart, fieldsEnd - fieldsStart);
    if (std::all_of(fields.begin(), fields.end(), [](char16_t c) { return c < 0x80; }))
        return false;
    out.assign(text.substr(0, fieldsStart));
    encodeHeaderFields(fields, HeaderCharset{candidate.encoding, candidate.charsetName}, out);
    out.append(text.substr(fieldsEnd));
    return true;
}

} // namespace

bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                    CharsetCandidates& charsetCandidates, MailboxContext& mailbox, std::string& result)
{
    WorkingBuffers& buffers = t_buffers;
    const BufferTrim trim{buffers};
    mailbox.lastReason = UnconvertedReason::Undecodable;

    std::u16string& text = buffers.text;
    ContentType contentType = ContentType::None;
    if (!decodeMessage(message, headerLength, options, mailbox.automatic, text, contentType))
        return false;
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    // The candidate is chosen on the text as decoded; encoded-words (ASCII) fit it too.
    auto finish = [&](const EncodingPair& candidate) {
        if (options.encodeHeaders && encodeHeaders(text, candidate, buffers.encoded)
            && !encodeText(buffers.encoded, candidate.encoding, result))
            return false;
        mailbox.lastReason = UnconvertedReason::None;
        return true;
    };

    const std::vector<EncodingPair>& candidates = charsetCandidates.pairs();
    // The range test only pays off when an ASCII or ISO Latin 1 candidate may be tried.
    const bool wantsMaxUnit = std::any_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) {
        return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1;
    });
    const char16_t unitRange = wantsMaxUnit ? unitBits(text) : char16_t{0xFFFF};

    std::optional<HeaderChange> change;
    if (contentType != ContentType::None)
        change = findHeaderChange(text, options.crlfLineEndings);
    if (change && options.putBackAttachments && isIntactMultipart(text, *change))
        change.reset();

    if (!change) {
        for (const EncodingPair& candidate : candidates) {
            if (mayEncode(candidate.encoding, unitRange) && encodeText(text, candidate.encoding, result))
                return finish(candidate);
        }
        return false;
    }

    // The choice is made on the text before the header change, which is pieces P R S;
    // the output is P H S with the candidate's header H. Every encoding here tests
    // characters one by one, so encoding P H S in one go decides the choice too: R is
    // tested alone, and a failure is blamed on P or S unless H itself cannot be encoded.
    const HeaderChange& at = *change;
    std::u16string& replaced = buffers.replaced;
    replaced.assign(text, at.location, at.replacedLength);
    std::u16string& header = buffers.header;
    std::size_t appliedLength = at.replacedLength;
    for (const EncodingPair& candidate : candidates) {
        if (!mayEncode(candidate.encoding, unitRange))
            continue;
        if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
            continue;
        assignContentTypeHeader(header, contentType, candidate, at.terminator);
        text.replace(at.location, appliedLength, header);
        appliedLength = header.size();
        if (encodeText(text, candidate.encoding, result))
            return finish(candidate);
        if (canEncode(header, candidate.encoding))
            continue;
        // The header holds a character this encoding lacks: the candidate is still the
        // choice if the rest of the message fits, and then the final encoding fails.
        const std::u16string_view changed = text;
        if (canEncode(changed.substr(0, at.location), candidate.encoding)
            && canEncode(changed.substr(at.location + appliedLength), candidate.encoding))
            return false;
    }
    return false;
}

} // namespace tarnwick

namespace tarnwick {
namespace {

// A large message is read in blocks of at most this many bytes, each cut after an
// ASCII byte below 0x40: no stateless ASCII-compatible encoding uses such a byte inside
// a multibyte character, and ISO-2022-JP output is back in ASCII after it, so decoding
// and encoding block by block gives the bytes of the whole in one piece.
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
// The header of a large message is decoded whole; one larger than this is not streamed.
constexpr std::size_t kLargeHeaderLimit = std::size_t{4} << 20;

bool isShiftJISLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Encodings whose text cannot be decoded or encoded block by block: UTF-16 and those
// that write a preamble once (ISO-2022-KR) or keep a shift state that a block cut
// after an ASCII byte may not end (HZ; ISO-2022-JP when decoding; its encoder is back
// in ASCII after an ASCII character).
bool isBlockUnsafe(EncodingId encoding, bool decoding)
{
    switch (encoding) {
    case 21: return decoding;
    case 0x80000840: // ISO-2022-KR
    case 0x80000A05: // HZ
    case 10:         // UTF-16
    case 0x90000100:
    case 0x94000100:
        return true;
    default:
        return false;
    }
}

/// The ends of the blocks that [from, size) is read in; none when a stretch of
/// kLargeBlock bytes has no place to cut.
std::optional<std::vector<std::size_t>> blockEnds(std::uint64_t size, std::size_t from, const MessageReader& read)
{
    std::vector<std::size_t> ends;
    std::size_t start = from;
    while (start < size) {
        std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(size, start + kLargeBlock));
        if (end < size) {
            const std::string_view block = read(start, end - start);
            while (end > start && static_cast<unsigned char>(block[end - start - 1]) >= 0x40)
                --end;
            if (end == start)
                return std::nullopt;
        }
        ends.push_back(end);
        start = end;
    }
    return ends;
}

class LargeMessage {
public:
    LargeMessage(const MessageReader& read, std::size_t bodyStart, std::vector<std::size_t> ends,
                 const ConversionOptions& options)
        : read_(read), bodyStart_(bodyStart), ends_(std::move(ends)), options_(options),
          replaceSpaces_((options.sourceEncoding == kEncodingMacJapanese || options.sourceEncoding == kEncodingShiftJIS)
                         && options.replaceNoBreakSpaces)
    {
    }

    /// Bytes [from, to) decoded after the no-break-space step; false when invalid.
    bool decode(std::size_t from, std::size_t to, std::u16string& text)
    {
        // 0xA0 is no lead byte, replaced or not: the byte before a block is read as it stands.
        const unsigned char before = replaceSpaces_ && from > 0 ? static_cast<unsigned char>(read_(from - 1, 1)[0]) : 0;
        std::string_view bytes = read_(from, to - from);
        if (replaceSpaces_)
            bytes = replaceSpaces(bytes, before);
        text.clear();
        return decodeAppend(bytes.data(), bytes.size(), options_.sourceEncoding, text);
    }

    /// Calls `each(text, decoded)` with every body block, decoded when it can be, in
    /// order, until it returns false; false when it refused one.
    template <typename Each>
    bool forEachBody(Each each)
    {
        std::size_t start = bodyStart_;
        for (const std::size_t end : ends_) {
            const bool decoded = decode(start, end, text_);
            const bool more = each(std::u16string_view(text_), decoded);
            if (!more)
                return false;
            start = end;
        }
        return true;
    }

    /// forEachBody for the passes after the first, which need every block decoded.
    template <typename Each>
    bool forEachDecoded(Each each)
    {
        return forEachBody([&each](std::u16string_view text, bool decoded) { return decoded && each(text); });
    }

    /// The count of the first pass; later passes replace the same spaces again.
    std::size_t replacedSpaces() const { return spaces_; }
    void stopCounting() { counting_ = false; }

private:
    std::string_view replaceSpaces(std::string_view bytes, unsigned char before)
    {
        if (std::memchr(bytes.data(), 0xA0, bytes.size()) == nullptr)
            return bytes;
        copy_.assign(bytes);
        for (std::size_t i = 0; i < copy_.size(); ++i) {
            if (static_cast<unsigned char>(copy_[i]) != 0xA0)
                continue;
            const unsigned char previous = i > 0 ? static_cast<unsigned char>(bytes[i - 1]) : before;
            if (!isShiftJISLeadByte(previous)) {
                copy_[i] = ' ';
                spaces_ += counting_;
            }
        }
        return copy_;
    }

    const MessageReader& read_;
    std::size_t bodyStart_;
    std::vector<std::size_t> ends_;
    const ConversionOptions& options_;
    bool replaceSpaces_;
    std::size_t spaces_ = 0;
    bool counting_ = true;
    std::string copy_;
    std::u16string text_;
};

} // namespace

LargeMessageOutcome convertLargeMessage(std::uint64_t size, const MessageReader& read, std::uint64_t headerLength,
                                        const ConversionOptions& options, CharsetCandidates& charsetCandidates,
                                        MailboxContext& mailbox, const std::function<bool(std::string_view)>& write)
{
    const std::vector<EncodingPair>& candidates = charsetCandidates.pairs();
    // The automatic choice of the source encoding looks at the whole message.
    if (options.sourceEncoding == kEncodingAutomatic || headerLength > size || headerLength > kLargeHeaderLimit
        || isBlockUnsafe(options.sourceEncoding, true)
        || std::any_of(candidates.begin(), candidates.end(), [](const auto& c) { return isBlockUnsafe(c.encoding, false); }))
        return LargeMessageOutcome::NeedsWholeMessage;
    // The header is decoded whole, the body block by block. With Eudora tags on, a body
    // without any '<' has no tag: it is one text run, so the content type is text/plain
    // when the body has text.
    const bool tagged = options.processEudoraTags;
    const auto bodyStart = static_cast<std::size_t>(headerLength);
    for (std::size_t at = bodyStart; tagged && at < size; at += kLargeBlock) {
        const std::string_view block = read(at, static_cast<std::size_t>(std::min<std::uint64_t>(kLargeBlock, size - at)));
        if (std::memchr(block.data(), '<', block.size()) != nullptr)
            return LargeMessageOutcome::NeedsWholeMessage;
    }
    std::optional<std::vector<std::size_t>> ends = blockEnds(size, bodyStart, read);
    if (!ends)
        return LargeMessageOutcome::NeedsWholeMessage;
    LargeMessage blocks(read, bodyStart, std::move(*ends), options);

    mailbox.lastReason = UnconvertedReason::Undecodable;
    std::u16string headerText;
    bool decodable = blocks.decode(0, bodyStart, headerText);
    const ContentType contentType = tagged && size > bodyStart ? ContentType::Plain : ContentType::None;
    std::optional<HeaderChange> change;
    if (decodable && contentType != ContentType::None)
        change = findHeaderChange(headerText, options.crlfLineEndings);
    // Whether an intact multipart body follows needs the whole text.
    if (change && options.putBackAttachments
        && containsFolded(std::u16string_view(headerText).substr(change->location, change->replacedLength), u"multipart"))
        return LargeMessageOutcome::NeedsWholeMessage;

    // First the decoding, once: whether it succeeds, how many no-break spaces it
    // replaces (logged as for any message, over the whole message), and the range of
    // the code units.
    std::uint64_t bits = 0;
    for (const char16_t c : headerText)
        bits |= c;
    blocks.forEachBody([&](std::u16string_view text, bool decoded) {
        decodable = decodable && decoded;
        if (decodable)
            bits |= unitBits(text);
        return true;
    });
    blocks.stopCounting();
    if (blocks.replacedSpaces() > 0)
        logMessage(formatMessage("%1 NBSP (U+00A0) replaced with space (U+0020)", {std::to_string(blocks.replacedSpaces())}));
    if (!decodable)
        return LargeMessageOutcome::Unconverted;
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    const bool wantsMaxUnit = std::any_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) {
        return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1;
    });
    const char16_t unitRange = wantsMaxUnit ? static_cast<char16_t>(bits) : char16_t{0xFFFF};

    std::string out;
    // Encodes `prefix` and then every body block; writes the bytes when `writing`.
    auto encodeAll = [&](std::u16string_view prefix, EncodingId encoding, bool writing) {
        if (!encodeText(prefix, encoding, out) || (writing && !out.empty() && !write(out)))
            return false;
        return blocks.forEachDecoded([&](std::u16string_view text) {
            return encodeText(text, encoding, out) && (!writing || out.empty() || write(out));
        });
    };
    // As convertMessage's: header fields with non-ASCII text as encoded-words (they lie
    // in the header text), the body as chosen.
    std::u16string encoded;
    auto finish = [&](std::u16string_view prefix, const EncodingPair& candidate) {
        if (options.encodeHeaders && encodeHeaders(prefix, candidate, encoded)) {
            if (!encodeText(encoded, candidate.encoding, out))
                return LargeMessageOutcome::Unconverted;
            prefix = encoded;
        }
        if (!encodeAll(prefix, candidate.encoding, true))
            return LargeMessageOutcome::WriteFailed;
        mailbox.lastReason = UnconvertedReason::None;
        return LargeMessageOutcome::Converted;
    };

    if (!change) {
        for (const EncodingPair& candidate : candidates) {
            if (mayEncode(candidate.encoding, unitRange) && encodeAll(headerText, candidate.encoding, false))
                return finish(headerText, candidate);
        }
        return LargeMessageOutcome::Unconverted;
    }

    // As convertMessage: pieces P R S become P H S; P and H lie in the header text.
    const HeaderChange& at = *change;
    const std::u16string replaced = headerText.substr(at.location, at.replacedLength);
    std::u16string header;
    std::size_t appliedLength = at.replacedLength;
    for (const EncodingPair& candidate : candidates) {
        if (!mayEncode(candidate.encoding, unitRange))
            continue;
        if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
            continue;
        assignContentTypeHeader(header, contentType, candidate, at.terminator);
        headerText.replace(at.location, appliedLength, header);
        appliedLength = header.size();
        if (encodeAll(headerText, candidate.encoding, false))
            return finish(headerText, candidate);
        if (canEncode(header, candidate.encoding))
            continue;
        const std::u16string_view changed = headerText;
        if (canEncode(changed.substr(0, at.location), candidate.encoding)
            && canEncode(changed.substr(at.location + appliedLength), candidate.encoding)
            && blocks.forEachDecoded([&](std::u16string_view text) { return canEncode(text, candidate.encoding); }))
            return LargeMessageOutcome::Unconverted;
    }
    return LargeMessageOutcome::Unconverted;
}

} // namespace tarnwick
