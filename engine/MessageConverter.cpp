#include "engine/MessageConverter.h"

#include "engine/CaseFold.h"
#include "engine/MimeHeader.h"
#include "engine/MessagePieces.h"
#include "engine/HeaderEncoder.h"
#include "engine/MessageDecoder.h"
#include "engine/TextLines.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/TextEncoding.h"
#include "platform/TextStream.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
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
/// The boundary of the multipart type that the Content-Type header replaced by `change`
/// declares; none for an insertion or another type.
std::optional<std::string> multipartBoundary(std::u16string_view text, const HeaderChange& change)
{
    if (change.replacedLength == 0)
        return std::nullopt;
    std::string header;
    for (const char16_t c : text.substr(change.location, change.replacedLength))
        header += c < 0x80 ? static_cast<char>(c) : '?';
    if (!mediaType(header).starts_with("multipart/"))
        return std::nullopt;
    return parameterValue(header, "boundary");
}

bool isIntactMultipart(std::u16string_view text, const HeaderChange& change)
{
    const std::optional<std::string> boundary = multipartBoundary(text, change);
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
    case UnitRange::Ascii: return 0x7F;
    case UnitRange::Latin1: return 0xFF;
    case UnitRange::Wide: break;
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

/// convertMessage for a planned message: only the header is decoded; the body goes from
/// its bytes to each candidate's bytes directly. Every step is convertMessage's, with the
/// text cut into the header and the body: every candidate here is stateless and encodes
/// character by character, so a text encodes exactly when both parts do, into their
/// bytes one after the other. None when the header alone does not settle the header
/// decisions or a candidate is not byte-transcodable: then the text is decoded whole.
std::optional<bool> convertPlanned(std::string_view message, const MessagePlan& plan, const ConversionOptions& options,
                                   const std::vector<EncodingPair>& candidates, MailboxContext& mailbox,
                                   WorkingBuffers& buffers, std::size_t base, std::string& result)
{
    if (!std::all_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) { return isByteTranscodable(c.encoding); }))
        return std::nullopt;
    std::u16string& header = buffers.text;
    header.clear();
    if (!decodeAppend(message.data(), plan.header.length, plan.header.encoding, header) || !settlesHeader(header))
        return std::nullopt;

    const bool wantsMaxUnit = std::any_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) {
        return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1;
    });
    char16_t unitRange = 0xFFFF;
    if (wantsMaxUnit) {
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

    auto encodeBody = [&](EncodingId encoding, std::string& out) {
        for (const TextSpan& span : plan.body) {
            if (!transcodeAppend(message.data() + span.offset, span.length, span.encoding, encoding, out))
                return false;
        }
        return true;
    };
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

    if (!change) {
        for (const EncodingPair& candidate : candidates) {
            if (mayEncode(candidate.encoding, unitRange) && encodeAll(candidate))
                return finish();
        }
        return false;
    }

    // As convertMessage: pieces P R S become P H S, with P, R and H in the header text.
    const HeaderChange& at = *change;
    std::u16string& replaced = buffers.replaced;
    replaced.assign(header, at.location, at.replacedLength);
    std::u16string& newHeader = buffers.header;
    std::size_t appliedLength = at.replacedLength;
    for (const EncodingPair& candidate : candidates) {
        if (!mayEncode(candidate.encoding, unitRange))
            continue;
        if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
            continue;
        assignContentTypeHeader(newHeader, plan.contentType, candidate, at.terminator);
        header.replace(at.location, appliedLength, newHeader);
        appliedLength = newHeader.size();
        if (encodeAll(candidate))
            return finish();
        if (canEncode(newHeader, candidate.encoding))
            continue;
        const std::u16string_view changed = header;
        buffers.bytes.clear();
        if (canEncode(changed.substr(0, at.location), candidate.encoding)
            && canEncode(changed.substr(at.location + appliedLength), candidate.encoding)
            && encodeBody(candidate.encoding, buffers.bytes))
            return false;
    }
    return false;
}

// convertMessageAppend's work: the converted bytes are written after the first `base`
// bytes of `result`, which stay; on false what follows them is undefined.
bool convertAfter(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                  CharsetCandidates& charsetCandidates, MailboxContext& mailbox, std::size_t base, std::string& result)
{
    WorkingBuffers& buffers = t_buffers;
    const BufferTrim trim{buffers};
    mailbox.lastReason = UnconvertedReason::Undecodable;

    std::u16string& text = buffers.text;
    ContentType contentType = ContentType::None;
    MessagePlan& plan = buffers.plan;
    switch (planMessage(message, headerLength, options, mailbox.automatic, plan)) {
    case PlanOutcome::Undecodable:
        return false;
    case PlanOutcome::Planned:
        if (const std::optional<bool> converted =
                convertPlanned(message, plan, options, charsetCandidates.pairs(), mailbox, buffers, base, result))
            return *converted;
        break;
    case PlanOutcome::NeedsText:
        break;
    }
    mailbox.lastReason = UnconvertedReason::Undecodable;
    if (!decodeMessageIn(message, headerLength, options, plan.source, mailbox.automatic, text, contentType))
        return false;
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    auto encodeAt = [&](std::u16string_view encodedText, EncodingId encoding) {
        result.resize(base);
        return encodeAppend(encodedText, encoding, result);
    };
    // The candidate is chosen on the text as decoded; encoded-words (ASCII) fit it too.
    auto finish = [&](const EncodingPair& candidate) {
        if (options.encodeHeaders && encodeHeaders(text, candidate, buffers.encoded)
            && !encodeAt(buffers.encoded, candidate.encoding))
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
            if (mayEncode(candidate.encoding, unitRange) && encodeAt(text, candidate.encoding))
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
        if (encodeAt(text, candidate.encoding))
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

} // namespace

bool convertMessageAppend(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                          CharsetCandidates& candidates, MailboxContext& mailbox, std::string& out)
{
    const std::size_t base = out.size();
    if (convertAfter(message, headerLength, options, candidates, mailbox, base, out))
        return true;
    out.resize(base);
    return false;
}

bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                    CharsetCandidates& candidates, MailboxContext& mailbox, std::string& result)
{
    result.clear();
    return convertMessageAppend(message, headerLength, options, candidates, mailbox, result);
}

} // namespace tarnwick

namespace tarnwick {
namespace {

// The header of a large message is decoded whole; one larger than this is not streamed.
constexpr std::size_t kLargeHeaderLimit = std::size_t{4} << 20;

bool isShiftJISLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

/// Whether a line of a text given block by block begins with "--" and the boundary
/// (hasDelimiterLine over the whole text).
class DelimiterSearch {
public:
    explicit DelimiterSearch(std::string_view boundary)
    {
        if (boundary.empty())
            return;
        delimiter_ = u"--";
        for (const char c : boundary)
            delimiter_ += static_cast<char16_t>(static_cast<unsigned char>(c));
    }

    void add(std::u16string_view text)
    {
        if (found_ || delimiter_.empty() || text.empty())
            return;
        // The end of the text before, long enough for a delimiter and the unit before it.
        window_.append(text);
        const std::u16string_view window = window_;
        for (std::size_t at = window.find(delimiter_); at != std::u16string_view::npos; at = window.find(delimiter_, at + 1)) {
            if ((at == 0 && atStart_) || (at > 0 && (window[at - 1] == u'\n' || window[at - 1] == u'\r'))) {
                found_ = true;
                return;
            }
        }
        const std::size_t keep = delimiter_.size();
        if (window_.size() > keep) {
            window_.erase(0, window_.size() - keep);
            atStart_ = false;
        }
    }

    bool found() const { return found_; }

private:
    std::u16string delimiter_;
    std::u16string window_;
    bool atStart_ = true;
    bool found_ = false;
};

/// A piece of a large message's body (by its place in the cut) that decodes in an
/// encoding other than the message's.
struct OtherEncoding {
    std::uint64_t piece = 0;
    EncodingId encoding = kEncodingNone;
};

/// Message bytes read through a reader, for the tag scanner and the body cutter (see
/// MemoryBytes): the block last looked at is kept, searches go block by block.
class ReaderBytes {
public:
    using Read = std::function<std::string_view(std::uint64_t offset, std::uint64_t end)>;
    ReaderBytes(Read read, std::uint64_t size, std::size_t blockSize)
        : read_(std::move(read)), size_(static_cast<std::size_t>(size)), blockSize_(blockSize)
    {
    }

    std::size_t size() const { return size_; }
    char at(std::size_t offset)
    {
        load(offset);
        return block_[offset - blockStart_];
    }
    std::size_t find(char c, std::size_t from, std::size_t end = std::string_view::npos)
    {
        end = std::min(end, size_);
        for (std::size_t at = from; at < end;) {
            load(at);
            const std::size_t stop = std::min(end, blockStart_ + block_.size());
            if (const void* found = std::memchr(block_.data() + (at - blockStart_), c, stop - at))
                return blockStart_ + static_cast<std::size_t>(static_cast<const char*>(found) - block_.data());
            at = stop;
        }
        return std::string_view::npos;
    }
    std::size_t find(std::string_view needle, std::size_t from, std::size_t end = std::string_view::npos)
    {
        end = std::min(end, size_);
        for (std::size_t at = from; at < end && end - at >= needle.size();) {
            load(at);
            const std::size_t stop = std::min(end, blockStart_ + block_.size());
            const std::string_view held = std::string_view(block_).substr(at - blockStart_, stop - at);
            if (const std::size_t found = held.find(needle); found != std::string_view::npos)
                return at + found;
            // A match that runs past the block held.
            for (std::size_t p = stop - std::min(stop - at, needle.size() - 1); p < stop; ++p) {
                if (end - p >= needle.size() && matches(p, needle))
                    return p;
            }
            at = stop;
        }
        return std::string_view::npos;
    }
    bool matches(std::size_t offset, std::string_view text)
    {
        if (offset > size_ || size_ - offset < text.size())
            return false;
        if (text.empty())
            return true;
        load(offset);
        if (offset + text.size() <= blockStart_ + block_.size())
            return std::string_view(block_).substr(offset - blockStart_, text.size()) == text;
        for (std::size_t done = 0; done < text.size();) {
            const std::size_t next = std::min(text.size(), done + blockSize_);
            if (read_(offset + done, offset + next) != text.substr(done, next - done))
                return false;
            done = next;
        }
        return true;
    }
    void copy(std::size_t offset, std::size_t length, std::string& out)
    {
        out.clear();
        for (std::size_t done = 0; done < length;) {
            const std::size_t next = std::min(length, done + blockSize_);
            out.append(read_(offset + done, offset + next));
            done = next;
        }
    }

private:
    void load(std::size_t offset)
    {
        if (offset >= blockStart_ && offset < blockStart_ + block_.size())
            return;
        blockStart_ = offset;
        block_.assign(read_(offset, std::min(size_, offset + blockSize_)));
    }

    Read read_;
    std::size_t size_;
    std::size_t blockSize_;
    std::size_t blockStart_ = 0;
    std::string block_;
};

// Longer names are no charset names (the lookup knows none so long).
constexpr std::size_t kLongestCharsetName = 256;

/// namedEncoding of bytes [from, to): the name after the last '/'.
EncodingId namedEncodingIn(ReaderBytes& bytes, std::size_t from, std::size_t to)
{
    std::size_t start = from;
    for (std::size_t slash = bytes.find('/', from, to); slash != std::string_view::npos; slash = bytes.find('/', slash + 1, to))
        start = slash + 1;
    if (to - start > kLongestCharsetName)
        return kEncodingNone;
    std::string name;
    bytes.copy(start, to - start, name);
    return namedEncoding(name);
}

/// automaticBlockEncoding of MessageDecoder over a block piece of a large message: its
/// tag's parameter, else the charset of a Mac marker at its start (HTML blocks).
EncodingId largeBlockEncoding(ReaderBytes& bytes, const MessagePiece& piece, ByteRange parameter)
{
    if (piece.blockEncoding != kEncodingNone)
        return piece.blockEncoding;
    const auto parameterAt = static_cast<std::size_t>(parameter.location);
    if (parameter.length > 0)
        if (const EncodingId named = namedEncodingIn(bytes, parameterAt, parameterAt + static_cast<std::size_t>(parameter.length));
            named != kEncodingNone)
            return named;
    if (piece.kind != PieceKind::HtmlBlock)
        return kEncodingNone;
    // markerCharset: "<!x-stuff-for-pete" after the leading line breaks, up to its '>'.
    static constexpr std::string_view kMarker = "<!x-stuff-for-pete";
    static constexpr std::string_view kCharset = " charset=\"";
    const std::size_t end = piece.offset + piece.length;
    std::size_t start = piece.offset;
    while (start < end && (bytes.at(start) == '\r' || bytes.at(start) == '\n'))
        ++start;
    if (end - start < kMarker.size() || !bytes.matches(start, kMarker))
        return kEncodingNone;
    const std::size_t markerEnd = std::min(end, bytes.find('>', start, end));
    const std::size_t at = bytes.find(kCharset, start, markerEnd);
    if (at == std::string_view::npos)
        return kEncodingNone;
    const std::size_t valueStart = at + kCharset.size();
    const std::size_t valueEnd = std::min(markerEnd, bytes.find('"', valueStart, markerEnd));
    if (valueEnd == valueStart)
        return kEncodingNone;
    return namedEncodingIn(bytes, valueStart, valueEnd);
}

/// A large message read block by block: a header decoded whole and a body decoded in
/// blocks, as the in-memory decoding splits them (with Eudora tags on, the header and
/// the body are decoded apart; with them off, as one text).
class LargeMessage {
public:
    LargeMessage(const MessageReader& read, std::uint64_t size, std::size_t bodyStart, std::size_t blockSize,
                 const ConversionOptions& options)
        : read_(read), size_(size), bodyStart_(bodyStart), blockSize_(blockSize),
          apart_(options.processEudoraTags), replaceNoBreakSpaces_(options.replaceNoBreakSpaces)
    {
    }

    /// The encodings the header and the body are decoded in.
    void setEncodings(EncodingId header, EncodingId body)
    {
        headerEncoding_ = header;
        bodyEncoding_ = body;
        replaceSpaces_ = (header == kEncodingMacJapanese || header == kEncodingShiftJIS) && replaceNoBreakSpaces_;
    }

    /// Bytes [from, to) after the no-break-space step, to <= from + blockSize.
    std::string_view bytes(std::uint64_t from, std::uint64_t to)
    {
        // 0xA0 is no lead byte, replaced or not: the byte before a block is read as it stands.
        const unsigned char before = replaceSpaces_ && from > 0 ? static_cast<unsigned char>(cached(from - 1, 1)[0]) : 0;
        const std::string_view raw = cached(from, static_cast<std::size_t>(to - from));
        return replaceSpaces_ ? replaceSpaces(raw, before) : raw;
    }

    /// How many no-break spaces the message has that are replaced (none when off).
    std::uint64_t countReplacedSpaces()
    {
        std::uint64_t count = 0;
        for (std::uint64_t at = 0; replaceSpaces_ && at < size_; at += blockSize_) {
            const unsigned char before = at > 0 ? static_cast<unsigned char>(read_(at - 1, 1)[0]) : 0;
            const std::string_view raw = read_(at, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, size_ - at)));
            for (const char* p = raw.data(); (p = static_cast<const char*>(std::memchr(p, 0xA0, raw.data() + raw.size() - p)));
                 ++p) {
                const unsigned char previous = p > raw.data() ? static_cast<unsigned char>(p[-1]) : before;
                count += !isShiftJISLeadByte(previous);
            }
        }
        return count;
    }

    enum class Header { Decoded, Invalid, Unfinished };

    /// The header decoded; Unfinished when (decoded with the body as one text) a
    /// character runs across its end.
    Header decodeHeader(std::u16string& text)
    {
        text.clear();
        DecodeStream stream(headerEncoding_);
        for (std::uint64_t at = 0; at < bodyStart_; at += blockSize_) {
            const std::uint64_t end = std::min<std::uint64_t>(bodyStart_, at + blockSize_);
            if (!stream.decode(bytes(at, end), end == bodyStart_ && apart_, text))
                return Header::Invalid;
        }
        if (bodyStart_ == 0 && apart_ && !stream.decode({}, true, text))
            return Header::Invalid;
        return apart_ || !stream.pending() ? Header::Decoded : Header::Unfinished;
    }

    /// Decodes bytes [from, to) in `encoding` as one text, calling `each(text)` block
    /// by block; false when they do not decode or `each` returned false.
    template <typename Each>
    bool decodeRange(std::uint64_t from, std::uint64_t to, EncodingId encoding, Each each)
    {
        // One stream for every range in the same encoding: a body may hold millions of pieces.
        if (!range_ || rangeEncoding_ != encoding) {
            range_ = std::make_unique<DecodeStream>(encoding);
            rangeEncoding_ = encoding;
        } else {
            range_->restart();
        }
        DecodeStream& stream = *range_;
        std::uint64_t at = from;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(to, at + blockSize_);
            text_.clear();
            if (!stream.decode(at < end ? bytes(at, end) : std::string_view(), end == to, text_)
                || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < to);
        return true;
    }

    /// The raw message bytes, for the tag walk.
    ReaderBytes rawBytes() const
    {
        return ReaderBytes([this](std::uint64_t from, std::uint64_t to) { return read_(from, static_cast<std::size_t>(to - from)); },
                           size_, blockSize_);
    }

    /// With Eudora tags on, the pieces of the body (in cut order) that decode in an
    /// encoding other than the message's; every other piece decodes in the message's.
    std::vector<OtherEncoding>& otherEncodings() { return others_; }

    /// Calls `each(text)` with the body decoded block by block, until it returns
    /// false; false when it did or the body does not decode.
    template <typename Each>
    bool forEachBody(Each each)
    {
        if (apart_) {
            // The tag walk again: the pieces are not kept, however many there are.
            BodyCutter<ReaderBytes> cutter(rawBytes(), static_cast<std::size_t>(bodyStart_));
            MessagePiece piece;
            ByteRange parameter;
            std::size_t other = 0;
            for (std::uint64_t index = 0; cutter.next(piece, parameter); ++index) {
                EncodingId encoding = bodyEncoding_;
                if (other < others_.size() && others_[other].piece == index)
                    encoding = others_[other++].encoding;
                if (!decodeRange(piece.offset, piece.offset + piece.length, encoding, each))
                    return false;
            }
            return true;
        }
        if (!body_)
            body_ = std::make_unique<DecodeStream>(bodyEncoding_);
        else
            body_->restart();
        // The body goes on from the header's state (ISO-2022-JP's shift, say).
        for (std::uint64_t at = 0; at < bodyStart_; at += blockSize_) {
            text_.clear();
            if (!body_->decode(bytes(at, std::min<std::uint64_t>(bodyStart_, at + blockSize_)), false, text_))
                return false;
        }
        for (std::uint64_t at = bodyStart_; at < size_; at += blockSize_) {
            const std::uint64_t end = std::min<std::uint64_t>(size_, at + blockSize_);
            text_.clear();
            if (!body_->decode(bytes(at, end), end == size_, text_) || !each(std::u16string_view(text_)))
                return false;
        }
        return true;
    }

private:
    // Bytes [from, from + length) through a block kept from the last read: the pieces
    // of a body may be a few bytes each, and each read may be a system call.
    std::string_view cached(std::uint64_t from, std::size_t length)
    {
        if (from < cacheStart_ || from + length > cacheStart_ + cache_.size()) {
            cacheStart_ = from;
            cache_.assign(read_(from, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, size_ - from))));
        }
        return std::string_view(cache_).substr(static_cast<std::size_t>(from - cacheStart_), length);
    }

    std::string_view replaceSpaces(std::string_view bytes, unsigned char before)
    {
        if (std::memchr(bytes.data(), 0xA0, bytes.size()) == nullptr)
            return bytes;
        copy_.assign(bytes);
        for (std::size_t i = 0; i < copy_.size(); ++i) {
            if (static_cast<unsigned char>(copy_[i]) != 0xA0)
                continue;
            const unsigned char previous = i > 0 ? static_cast<unsigned char>(bytes[i - 1]) : before;
            if (!isShiftJISLeadByte(previous))
                copy_[i] = ' ';
        }
        return copy_;
    }

    const MessageReader& read_;
    std::uint64_t size_;
    std::uint64_t bodyStart_;
    std::size_t blockSize_;
    bool apart_;
    bool replaceNoBreakSpaces_;
    bool replaceSpaces_ = false;
    EncodingId headerEncoding_ = kEncodingUTF8;
    EncodingId bodyEncoding_ = kEncodingUTF8;
    std::string copy_;
    std::string cache_;
    std::uint64_t cacheStart_ = 0;
    std::u16string text_;
    std::unique_ptr<DecodeStream> body_;
    std::unique_ptr<DecodeStream> range_;
    EncodingId rangeEncoding_ = kEncodingNone;
    std::vector<OtherEncoding> others_;
};

/// Whether an empty line after the first line ends in `text` where it would end in any
/// longer text (a CR at its very end may still be followed by an LF).
bool holdsEmptyLine(std::u16string_view text)
{
    for (std::size_t pos = textLineAt(text, 0).end; pos < text.size();) {
        const TextLine line = textLineAt(text, pos);
        if (line.contentsEnd == line.start)
            return line.end < text.size() || text.back() == u'\n';
        pos = line.end;
    }
    return false;
}

/// Parts of a large message as Automatic's pieces: the bytes of each range as read.
class LargePieces final : public PieceReader {
public:
    LargePieces(LargeMessage& message, std::size_t blockSize) : message_(message), blockSize_(blockSize) {}
    void add(std::uint64_t from, std::uint64_t to) { ranges_.push_back({from, to}); }
    std::size_t count() const override { return ranges_.size(); }
    std::uint64_t size(std::size_t piece) const override { return ranges_[piece].second - ranges_[piece].first; }
    std::size_t blockSize() const override { return blockSize_; }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = ranges_[piece].first + offset;
        return message_.bytes(from, from + length);
    }

private:
    LargeMessage& message_;
    std::size_t blockSize_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

/// With Eudora tags on, the message's own text as Automatic's pieces: the header, then
/// the runs, the trailer and the blocks that name no charset. The pieces are found by
/// the tag walk as they are asked for in order (the choice goes through them in order,
/// pass after pass); asking for an earlier one starts the walk again.
class OwnPieces final : public PieceReader {
public:
    OwnPieces(LargeMessage& message, std::uint64_t bodyStart, std::size_t blockSize)
        : message_(message), bodyStart_(bodyStart), blockSize_(blockSize), named_(message.rawBytes())
    {
        count_ = 1;
        restart();
        while (advance())
            ++count_;
        cutter_.reset();
    }
    std::size_t count() const override { return count_; }
    std::uint64_t size(std::size_t piece) const override
    {
        const auto range = rangeOf(piece);
        return range.second - range.first;
    }
    std::size_t blockSize() const override { return blockSize_; }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = rangeOf(piece).first + offset;
        return message_.bytes(from, from + length);
    }

private:
    std::pair<std::uint64_t, std::uint64_t> rangeOf(std::size_t piece) const
    {
        if (piece == 0)
            return {0, bodyStart_};
        if (!cutter_ || piece < at_)
            restart();
        while (at_ < piece && advance()) {
        }
        return current_;
    }

    void restart() const
    {
        cutter_.emplace(message_.rawBytes(), static_cast<std::size_t>(bodyStart_));
        at_ = 0;
    }

    // Moves to the next piece of the message's own text; false at the end.
    bool advance() const
    {
        MessagePiece piece;
        ByteRange parameter;
        while (cutter_->next(piece, parameter)) {
            if (isBlock(piece.kind) && largeBlockEncoding(named_, piece, parameter) != kEncodingNone)
                continue;
            current_ = {piece.offset, piece.offset + piece.length};
            ++at_;
            return true;
        }
        return false;
    }

    LargeMessage& message_;
    std::uint64_t bodyStart_;
    std::size_t blockSize_;
    std::size_t count_ = 0;
    mutable ReaderBytes named_;
    mutable std::optional<BodyCutter<ReaderBytes>> cutter_;
    mutable std::size_t at_ = 0; // the index of current_ (0 before the first body piece)
    mutable std::pair<std::uint64_t, std::uint64_t> current_;
};

} // namespace

LargeMessageOutcome convertLargeMessage(std::uint64_t size, const MessageReader& read, std::uint64_t headerLength,
                                        const ConversionOptions& options, CharsetCandidates& charsetCandidates,
                                        MailboxContext& mailbox, const std::function<bool(std::string_view)>& write,
                                        std::size_t blockSize, std::size_t pieceLimit)
{
    if (headerLength > size || headerLength > kLargeHeaderLimit || blockSize == 0)
        return LargeMessageOutcome::NeedsWholeMessage;
    const bool tagged = options.processEudoraTags;
    const auto bodyStart = static_cast<std::size_t>(headerLength);
    LargeMessage blocks(read, size, bodyStart, blockSize, options);
    const bool automatic = options.sourceEncoding == kEncodingAutomatic;

    EncodingId source = options.sourceEncoding;
    // What the choice learns is kept only once the message is taken.
    AutomaticSource automaticSource = mailbox.automatic;
    if (automatic) {
        // The message's own text, as decodeMessage gives it to the choice: the header,
        // the runs, the trailer and the blocks that name no charset with tags on, else
        // the whole message.
        std::string header;
        for (std::uint64_t at = 0; at < bodyStart; at += blockSize)
            header.append(read(at, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, bodyStart - at))));
        if (tagged) {
            const OwnPieces own(blocks, bodyStart, blockSize);
            source = chooseSourceEncoding(own, declaredCharset(header), automaticSource).encoding;
        } else {
            LargePieces own(blocks, blockSize);
            own.add(0, size);
            source = chooseSourceEncoding(own, declaredCharset(header), automaticSource).encoding;
        }
    }
    blocks.setEncodings(source, source);
    std::u16string headerText;
    const LargeMessage::Header headerState = blocks.decodeHeader(headerText);
    // The header change and the encoded-words look at the lines up to the first empty
    // line after the first: the header text must hold it whole, as the message's text does.
    if (headerState == LargeMessage::Header::Unfinished
        || (headerState == LargeMessage::Header::Decoded && (tagged || options.encodeHeaders) && !holdsEmptyLine(headerText)))
        return LargeMessageOutcome::NeedsWholeMessage;
    // Logged as for any message: over the whole message, before it is decoded (nothing
    // the decoding does logs; it may still find the message needs convertMessage).
    const std::uint64_t spaces = blocks.countReplacedSpaces();
    auto taken = [&](LargeMessageOutcome outcome) {
        mailbox.automatic = automaticSource;
        mailbox.lastReason = UnconvertedReason::Undecodable;
        if (spaces > 0)
            logMessage(formatMessage("%1 NBSP (U+00A0) replaced with space (U+0020)", {std::to_string(spaces)}));
        return outcome;
    };
    if (headerState == LargeMessage::Header::Invalid)
        return taken(LargeMessageOutcome::Unconverted);

    // First the decoding, once: whether it succeeds, the encoding of each piece, the
    // content type, and the range of the code units.
    std::uint64_t bits = 0;
    for (const char16_t c : headerText)
        bits |= c;
    auto addBits = [&bits](std::u16string_view text) {
        bits |= unitBits(text);
        return true;
    };
    ContentType contentType = ContentType::None;
    if (!tagged) {
        if (!blocks.forEachBody(addBits))
            return taken(LargeMessageOutcome::Unconverted);
    } else {
        // As decodeMessage: a block in the charset it names, else (and every other
        // piece) in the message's encoding, else with Automatic in the one the piece
        // itself calls for.
        ReaderBytes replaced([&blocks](std::uint64_t from, std::uint64_t to) { return blocks.bytes(from, to); }, size,
                             blockSize);
        std::vector<OtherEncoding>& others = blocks.otherEncodings();
        BodyCutter<ReaderBytes> cutter(blocks.rawBytes(), bodyStart);
        MessagePiece piece;
        ByteRange parameter;
        for (std::uint64_t i = 0; cutter.next(piece, parameter); ++i) {
            EncodingId pieceEncoding = kEncodingNone;
            const std::uint64_t from = piece.offset;
            const std::uint64_t to = piece.offset + piece.length;
            std::uint64_t pieceBits = 0;
            auto decodes = [&](EncodingId encoding) {
                pieceBits = 0;
                if (!blocks.decodeRange(from, to, encoding, [&pieceBits](std::u16string_view text) {
                        pieceBits |= unitBits(text);
                        return true;
                    }))
                    return false;
                pieceEncoding = encoding;
                return true;
            };
            bool decoded = false;
            if (isBlock(piece.kind)) {
                const EncodingId named = automatic
                    ? largeBlockEncoding(replaced,
                                         MessagePiece{static_cast<std::size_t>(from), static_cast<std::size_t>(piece.length),
                                                      piece.kind, true, piece.blockEncoding, {}},
                                         parameter)
                    : piece.blockEncoding;
                decoded = named != kEncodingNone && decodes(named);
            }
            if (!decoded)
                decoded = decodes(source);
            if (!decoded && automatic) {
                // A piece in an encoding of its own: decided by itself.
                LargePieces alone(blocks, blockSize);
                alone.add(from, to);
                AutomaticSource byItself{automaticSource.origin, automaticSource.family, automaticSource.confirmed};
                const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
                decoded = chosen.choice != EncodingChoice::Undecodable && decodes(chosen.encoding);
            }
            if (!decoded)
                return taken(LargeMessageOutcome::Unconverted);
            if (pieceEncoding != source) {
                // Kept for the passes that follow; past the limit the message needs convertMessage.
                if (others.size() >= pieceLimit)
                    return LargeMessageOutcome::NeedsWholeMessage;
                others.push_back({i, pieceEncoding});
            }
            bits |= pieceBits;
            if (contentType == ContentType::None && piece.setsContentType)
                contentType = contentTypeOf(piece.kind);
        }
    }
    taken(LargeMessageOutcome::Converted);
    std::optional<HeaderChange> change;
    if (contentType != ContentType::None)
        change = findHeaderChange(headerText, options.crlfLineEndings);
    // Whether an intact multipart body follows: a delimiter line after the header.
    if (change && options.putBackAttachments && change->replacedLength > 0) {
        std::string field;
        for (const char16_t c : std::u16string_view(headerText).substr(change->location, change->replacedLength))
            field += c < 0x80 ? static_cast<char>(c) : '?';
        if (mediaType(field).starts_with("multipart/")) {
            DelimiterSearch delimiters(parameterValue(field, "boundary").value_or(std::string()));
            delimiters.add(std::u16string_view(headerText).substr(change->location + change->replacedLength));
            blocks.forEachBody([&delimiters](std::u16string_view text) {
                delimiters.add(text);
                return !delimiters.found();
            });
            if (delimiters.found())
                change.reset(); // Eudora kept that body undecoded, and its header still describes it
        }
    }
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    const std::vector<EncodingPair>& candidates = charsetCandidates.pairs();
    const bool wantsMaxUnit = std::any_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) {
        return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1;
    });
    const char16_t unitRange = wantsMaxUnit ? static_cast<char16_t>(bits) : char16_t{0xFFFF};

    std::string out;
    std::string pending; // written a block at a time: the pieces may be a few bytes each
    // Encodes `prefix` and then every body block as one text; writes the bytes when `writing`.
    auto encodeAll = [&](std::u16string_view prefix, EncodingId encoding, bool writing) {
        EncodeStream stream(encoding);
        auto put = [&](std::u16string_view text, bool last) {
            out.clear();
            if (!stream.encode(text, last, out))
                return false;
            if (!writing)
                return true;
            pending.append(out);
            if (pending.size() < blockSize && !last)
                return true;
            const bool written = pending.empty() || write(pending);
            pending.clear();
            return written;
        };
        return put(prefix, false) && blocks.forEachBody([&](std::u16string_view text) { return put(text, false); })
            && put({}, true);
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
        std::optional<EncodeStream> rest;
        rest.emplace(candidate.encoding);
        std::string scratch;
        auto fits = [&](std::u16string_view text, bool last) {
            scratch.clear();
            return rest->encode(text, last, scratch);
        };
        if (canEncode(changed.substr(0, at.location), candidate.encoding)
            && fits(changed.substr(at.location + appliedLength), false)
            && blocks.forEachBody([&](std::u16string_view text) { return fits(text, false); }) && fits({}, true))
            return LargeMessageOutcome::Unconverted;
    }
    return LargeMessageOutcome::Unconverted;
}

} // namespace tarnwick
