#include "engine/message/MessageConverter.h"

#include "engine/text/CaseFold.h"
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

/// Whether mayEncode can rule out a candidate of the list: the range of the text's code
/// units only pays off for an ASCII or ISO Latin 1 candidate.
bool wantsUnitRange(const std::vector<EncodingPair>& candidates)
{
    return std::any_of(candidates.begin(), candidates.end(), [](const EncodingPair& c) {
        return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1;
    });
}

/// The charset choice, the same on every path: the first candidate that holds the text.
/// With a header change the text is pieces P R S and the output P H S, H the candidate's
/// Content-Type line (written into `header`). Every encoding here tests characters one
/// by one, so encoding P H S in one go decides the choice too: R is tested alone, and a
/// failure is blamed on P or S unless H itself cannot be encoded; then the candidate is
/// still the choice when P and S fit (`restFits`), and the message stays unconverted.
/// `tries(candidate)` encodes the text (with H in place) and says whether it fit. None
/// when no candidate is chosen or the one chosen cannot be written.
template <typename Tries, typename RestFits>
const EncodingPair* chooseCandidate(const std::vector<EncodingPair>& candidates, char16_t unitRange,
                                    const std::optional<HeaderChange>& change, std::u16string_view replaced,
                                    ContentType contentType, std::u16string& header, Tries tries, RestFits restFits)
{
    for (const EncodingPair& candidate : candidates) {
        if (!mayEncode(candidate.encoding, unitRange))
            continue;
        if (change) {
            if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
                continue;
            assignContentTypeHeader(header, contentType, candidate, change->terminator);
        }
        if (tries(candidate))
            return &candidate;
        if (change && !canEncode(header, candidate.encoding) && restFits(candidate))
            return nullptr;
    }
    return nullptr;
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
    if (!headerNeedsEncoding(fields))
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
    return chooseCandidate(candidates, unitRange, change, replaced, plan.contentType, newHeader, tries, restFits)
        && finish();
}

// A message with a header field too long to hold is written as it is.
void leaveFieldTooLong(MailboxContext& mailbox)
{
    mailbox.lastReason = UnconvertedReason::FieldTooLong;
    logMessage("Message left unconverted: a header field is too long to convert");
}

// A message labelled with a charset that does not read ASCII as ASCII (UTF-7, HZ,
// ISO-2022-KR, UTF-16; ISO-2022-JP aside) cannot be decoded whole like the others: it
// is left as it is, its label kept, logged and counted as not converted.
bool keptInItsCharset(std::string_view message, std::uint64_t headerLength)
{
    const std::string_view declared = declaredCharset(message.substr(0, std::min<std::uint64_t>(headerLength, message.size())));
    if (declared.empty())
        return false;
    // Named here too, for a platform that lacks them.
    static constexpr std::string_view kStateful[] = {"utf-7", "unicode-1-1-utf-7", "hz-gb-2312", "iso-2022-kr",
                                                     "iso-2022-cn", "iso-2022-cn-ext"};
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

// convertMessageAppend's work: the converted bytes are written after the first `base`
// bytes of `result`, which stay; on false what follows them is undefined.
bool convertAfter(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                  CharsetCandidates& charsetCandidates, MailboxContext& mailbox, std::size_t base, std::string& result)
{
    WorkingBuffers& buffers = t_buffers;
    const BufferTrim trim{buffers};
    if (hasOverlongHeaderField(message)) {
        leaveFieldTooLong(mailbox);
        return false;
    }
    mailbox.lastReason = UnconvertedReason::Undecodable;
    if (keptInItsCharset(message, headerLength))
        return false;

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
    const char16_t unitRange = wantsUnitRange(candidates) ? unitBits(text) : char16_t{0xFFFF};

    std::optional<HeaderChange> change;
    if (contentType != ContentType::None)
        change = findHeaderChange(text, options.crlfLineEndings);
    if (change && options.putBackAttachments && isIntactMultipart(text, *change))
        change.reset();

    std::u16string& replaced = buffers.replaced;
    std::u16string& header = buffers.header;
    replaced.clear();
    std::size_t appliedLength = 0;
    if (change) {
        replaced.assign(text, change->location, change->replacedLength);
        appliedLength = change->replacedLength;
    }
    auto tries = [&](const EncodingPair& candidate) {
        if (change) {
            text.replace(change->location, appliedLength, header);
            appliedLength = header.size();
        }
        return encodeAt(text, candidate.encoding);
    };
    auto restFits = [&](const EncodingPair& candidate) {
        const std::u16string_view changed = text;
        return canEncode(changed.substr(0, change->location), candidate.encoding)
            && canEncode(changed.substr(change->location + appliedLength), candidate.encoding);
    };
    const EncodingPair* chosen = chooseCandidate(candidates, unitRange, change, replaced, contentType, header, tries, restFits);
    return chosen && finish(*chosen);
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
    LargeMessage(const MessageReader& read, std::uint64_t size, std::uint64_t bodyStart, std::size_t blockSize, bool apart,
                 const ConversionOptions& options)
        : read_(read), size_(size), bodyStart_(bodyStart), blockSize_(blockSize), apart_(apart),
          replaceNoBreakSpaces_(options.replaceNoBreakSpaces)
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

    /// Calls `each(text)` with the header decoded apart (Eudora tags on) block by block;
    /// false when it does not decode or `each` returned false.
    template <typename Each>
    bool forEachHeader(Each each)
    {
        DecodeStream stream(headerEncoding_);
        std::uint64_t at = 0;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(bodyStart_, at + blockSize_);
            text_.clear();
            if (!stream.decode(at < end ? bytes(at, end) : std::string_view(), end == bodyStart_, text_)
                || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < bodyStart_);
        return true;
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

    /// From the first pass on, each piece's encoding is decided again by `decide` on
    /// every pass instead of being looked up: more pieces are in another encoding than
    /// are worth keeping.
    void decideEachPass(std::function<EncodingId(const MessagePiece&, ByteRange)> decide)
    {
        others_.clear();
        others_.shrink_to_fit();
        decide_ = std::move(decide);
    }

    /// Calls `each(text)` with the whole text (header and body, as the in-memory decoding
    /// gives it) decoded block by block, until it returns false; false when it did or the
    /// text does not decode.
    template <typename Each>
    bool forEachText(Each each)
    {
        if (apart_) {
            if (!forEachHeader(each))
                return false;
            // The tag walk again: the pieces are not kept, however many there are.
            BodyCutter<ReaderBytes> cutter(rawBytes(), static_cast<std::size_t>(bodyStart_));
            MessagePiece piece;
            ByteRange parameter;
            std::size_t other = 0;
            for (std::uint64_t index = 0; cutter.next(piece, parameter); ++index) {
                EncodingId encoding = bodyEncoding_;
                if (decide_)
                    encoding = decide_(piece, parameter);
                else if (other < others_.size() && others_[other].piece == index)
                    encoding = others_[other++].encoding;
                if (encoding == kEncodingNone || !decodeRange(piece.offset, piece.offset + piece.length, encoding, each))
                    return false;
            }
            return true;
        }
        if (!body_)
            body_ = std::make_unique<DecodeStream>(bodyEncoding_);
        else
            body_->restart();
        std::uint64_t at = 0;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(size_, at + blockSize_);
            text_.clear();
            if (!body_->decode(at < end ? bytes(at, end) : std::string_view(), end == size_, text_)
                || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < size_);
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
    std::function<EncodingId(const MessagePiece&, ByteRange)> decide_;
};

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

/// declaredCharset over the bytes [0, end) of a large message: its first Content-Type
/// line is found block by block, and declaredCharset reads the field from there. The
/// field is read up to twice kLongestConvertedField: every field up to the first empty
/// line is within that (HeaderFieldMeter), and the header ends there.
std::string declaredCharsetIn(ReaderBytes& bytes, std::size_t end)
{
    static constexpr std::string_view kName = "content-type:";
    auto isBreak = [&bytes](std::size_t at) { return bytes.at(at) == '\r' || bytes.at(at) == '\n'; };
    std::size_t pos = 0;
    while (pos < end) {
        std::size_t lineEnd = pos;
        while (lineEnd < end && !isBreak(lineEnd))
            ++lineEnd;
        bool named = lineEnd - pos >= kName.size();
        for (std::size_t i = 0; named && i < kName.size(); ++i)
            named = asciiLower(bytes.at(pos + i)) == kName[i];
        if (named) {
            std::string field;
            bytes.copy(pos, std::min<std::size_t>(end - pos, 2 * kLongestConvertedField), field);
            return std::string(declaredCharset(field));
        }
        pos = lineEnd;
        while (pos < end && isBreak(pos))
            ++pos;
    }
    return {};
}

/// findHeaderChange over a large message's text given block by block: the Content-Type
/// field that may be replaced is held as it goes by (a field is never longer than
/// kLongestConvertedField bytes, and so never more units).
class HeaderScan {
public:
    explicit HeaderScan(bool crlfTerminators) : crlfTerminators_(crlfTerminators) {}

    void begin(std::uint64_t offset)
    {
        lineStart_ = offset;
        lineLength_ = 0;
        head_.clear();
        lineRead_ = false;
        typeLine_ = false;
    }

    void contents(std::u16string_view text)
    {
        const std::uint64_t before = lineLength_;
        if (head_.size() < kHead)
            head_.append(text.substr(0, kHead - head_.size()));
        lineLength_ += text.size();
        if (done_)
            return;
        if (lineRead_) {
            held_.append(text);
        } else if (found_) {
            // A continuation line of the field: its terminator before it.
            if (before == 0 && isBlank(text[0])) {
                lineRead_ = true;
                held_.append(lastTerminator_);
                held_.append(text);
            }
        } else if (!typeLine_ && head_.size() >= kTypeName.size()) {
            // Simple case folding maps one code point to one: the first units decide.
            typeLine_ = startsWithFolded(head_, kTypeName);
            if (typeLine_) {
                lineRead_ = true;
                // head_ holds all of the line before `text` (fewer units than the name).
                held_.append(head_);
                held_.append(text.substr(head_.size() - before));
            }
        }
    }

    void end(std::u16string_view terminator)
    {
        if (done_)
            return;
        const bool empty = lineLength_ == 0;
        if (empty) {
            done_ = true;
            if (!found_) {
                change_.emplace();
                change_->location = lineStart_;
                change_->terminator = crlfTerminators_ || terminator.empty() ? u"\r\n" : terminator;
            }
        } else if (!found_) {
            if (typeLine_) {
                found_ = true;
                change_.emplace();
                change_->location = lineStart_;
                change_->replacedLength = lineLength_;
            }
        } else if (isBlank(head_[0])) {
            change_->replacedLength += lastTerminator_.size() + lineLength_;
        } else {
            done_ = true;
        }
        lastTerminator_ = terminator;
    }

    void finish() { done_ = true; }

    /// Whether the rest of the text can change nothing here.
    bool done() const { return done_; }
    /// findHeaderChange's result.
    std::optional<HeaderChange> change() const
    {
        if (found_ && !containsFolded(held_, u"multipart") && !containsFolded(held_, u"text"))
            return std::nullopt;
        return change_;
    }
    /// The Content-Type field that the change replaces.
    const std::u16string& held() const { return held_; }

private:
    static constexpr std::u16string_view kTypeName = u"Content-Type:";
    static constexpr std::size_t kHead = 64;

    bool crlfTerminators_;
    std::uint64_t lineStart_ = 0;
    std::uint64_t lineLength_ = 0;
    std::u16string head_; // the line's first kHead units
    bool lineRead_ = false; // the line is part of the Content-Type field of the change
    bool typeLine_ = false; // the line begins with "Content-Type:"
    bool done_ = false;
    bool found_ = false;
    std::optional<HeaderChange> change_;
    std::u16string held_;
    std::u16string lastTerminator_;
};

/// hasDelimiterLine over the text after offset `fieldEnd` of a text given block by
/// block by `forEachText`: whether a line there begins with "--" and `boundary`.
template <typename ForEachText>
bool hasBoundaryLine(ForEachText forEachText, std::uint64_t fieldEnd, std::string_view boundary)
{
    if (boundary.empty())
        return false;
    const std::string delimiter = "--" + std::string(boundary);
    auto isBreak = [](char16_t c) { return c == u'\r' || c == u'\n'; };
    bool found = false;
    std::uint64_t offset = 0;
    std::size_t matched = 0; // units of the line that match the delimiter so far
    bool alive = true;
    forEachText([&](std::u16string_view text) {
        const std::uint64_t start = offset;
        offset += text.size();
        if (offset <= fieldEnd)
            return true;
        std::size_t i = start < fieldEnd ? static_cast<std::size_t>(fieldEnd - start) : 0;
        while (i < text.size()) {
            if (!alive) {
                const auto next = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), isBreak);
                if (next == text.end())
                    break;
                i = static_cast<std::size_t>(next - text.begin());
            }
            if (isBreak(text[i])) {
                ++i;
                alive = true;
                matched = 0;
                continue;
            }
            if (text[i] != static_cast<unsigned char>(delimiter[matched])) {
                alive = false;
                continue;
            }
            ++i;
            if (++matched == delimiter.size()) {
                found = true;
                return false;
            }
        }
        return true;
    });
    return found;
}
/// The text given block by block with [location, location + length) replaced by
/// `replacement`, handed on to `sink`.
template <typename Sink>
class Substitution {
public:
    Substitution(std::uint64_t location, std::uint64_t length, std::u16string_view replacement, Sink& sink)
        : location_(location), length_(length), replacement_(replacement), sink_(sink)
    {
    }

    void feed(std::u16string_view text)
    {
        const std::uint64_t start = offset_;
        offset_ += text.size();
        if (start < location_)
            sink_.feed(text.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), location_ - start))));
        if (!placed_ && offset_ >= location_ && (offset_ > location_ || length_ == 0)) {
            sink_.feed(replacement_);
            placed_ = true;
        }
        const std::uint64_t after = location_ + length_;
        if (offset_ > after)
            sink_.feed(text.substr(static_cast<std::size_t>(std::max(start, after) - start)));
    }

    void finish()
    {
        if (!placed_)
            sink_.feed(replacement_);
        placed_ = true;
        sink_.finish();
    }

private:
    std::uint64_t location_;
    std::uint64_t length_;
    std::u16string_view replacement_;
    Sink& sink_;
    std::uint64_t offset_ = 0;
    bool placed_ = false;
};

/// encodeHeaders over a text given block by block: the first line as it is, then each
/// header field up to the first empty line through encodeHeaderFields, one at a time
/// (none is longer than kLongestConvertedField bytes), then the rest as it is, handed
/// on to `sink`.
template <typename Sink>
class FieldEncoder {
public:
    FieldEncoder(const EncodingPair& candidate, Sink& sink)
        : charset_{candidate.encoding, candidate.charsetName}, sink_(sink), walker_(*this)
    {
    }

    void feed(std::u16string_view text)
    {
        if (phase_ != Phase::Rest) {
            walker_.feed(text);
            return;
        }
        // Past the fields the text goes on in blocks, not line by line (a CR held for
        // the LF that may follow is copied as it is either way).
        if (!direct_) {
            walker_.finish();
            direct_ = true;
        }
        sink_.feed(text);
    }

    void finish()
    {
        if (!direct_)
            walker_.finish();
        closeField();
        sink_.finish();
    }

    /// Whether the header fields are behind: the rest is copied.
    bool pastFields() const { return phase_ == Phase::Rest; }

    void begin(std::uint64_t) { lineStarted_ = false; }

    void contents(std::u16string_view text)
    {
        if (phase_ != Phase::Fields) {
            sink_.feed(text);
            return;
        }
        if (!lineStarted_) {
            lineStarted_ = true;
            if (!(fieldOpen_ && isBlank(text[0]))) {
                closeField();
                fieldOpen_ = true;
            }
        }
        field_.append(text);
    }

    void end(std::u16string_view terminator)
    {
        switch (phase_) {
        case Phase::FirstLine:
            phase_ = Phase::Fields;
            sink_.feed(terminator);
            break;
        case Phase::Fields:
            if (lineStarted_) {
                field_.append(terminator);
                break;
            }
            closeField();
            phase_ = Phase::Rest;
            sink_.feed(terminator);
            break;
        case Phase::Rest:
            sink_.feed(terminator);
            break;
        }
    }

private:
    void closeField()
    {
        if (!fieldOpen_)
            return;
        if (!headerNeedsEncoding(field_)) {
            sink_.feed(field_);
        } else {
            encoded_.clear();
            encodeHeaderFields(field_, charset_, encoded_);
            sink_.feed(encoded_);
        }
        field_.clear();
        fieldOpen_ = false;
    }

    enum class Phase { FirstLine, Fields, Rest };
    HeaderCharset charset_;
    Sink& sink_;
    TextLineWalker<FieldEncoder> walker_;
    Phase phase_ = Phase::FirstLine;
    bool direct_ = false;
    bool lineStarted_ = false;
    bool fieldOpen_ = false;
    std::u16string field_;
    std::u16string encoded_;
};

} // namespace

LargeMessageOutcome convertLargeMessage(std::uint64_t size, const MessageReader& read, std::uint64_t headerLength,
                                        const ConversionOptions& options, CharsetCandidates& charsetCandidates,
                                        MailboxContext& mailbox, const std::function<bool(std::string_view)>& write,
                                        std::size_t blockSize, std::size_t pieceLimit)
{
    if (blockSize == 0)
        return LargeMessageOutcome::NeedsWholeMessage;
    HeaderFieldMeter meter;
    for (std::uint64_t at = 0; at < size; at += blockSize) {
        if (!meter.feed(read(at, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - at)))))
            break;
    }
    if (meter.tooLong()) {
        leaveFieldTooLong(mailbox);
        return LargeMessageOutcome::Unconverted;
    }
    // As the in-memory decoding: with Eudora tags on and a body, the header and the body
    // are decoded apart; else the message is one text (and all of it is "header").
    const bool tagged = options.processEudoraTags && headerLength <= size;
    const std::uint64_t bodyStart = std::min(headerLength, size);
    LargeMessage blocks(read, size, bodyStart, blockSize, tagged, options);
    const bool automatic = options.sourceEncoding == kEncodingAutomatic;

    EncodingId source = options.sourceEncoding;
    // What the choice learns is kept only once the message is taken.
    AutomaticSource automaticSource = mailbox.automatic;
    if (automatic) {
        // The message's own text, as decodeMessage gives it to the choice: the header,
        // the runs, the trailer and the blocks that name no charset with tags on, else
        // the whole message.
        ReaderBytes raw = blocks.rawBytes();
        const std::string declared = declaredCharsetIn(raw, static_cast<std::size_t>(bodyStart));
        if (tagged) {
            const OwnPieces own(blocks, bodyStart, blockSize);
            source = chooseSourceEncoding(own, declared, automaticSource).encoding;
        } else {
            LargePieces own(blocks, blockSize);
            own.add(0, size);
            source = chooseSourceEncoding(own, declared, automaticSource).encoding;
        }
    }
    blocks.setEncodings(source, source);
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

    // First the decoding, once: whether it succeeds, the encoding of each piece, the
    // content type, and the range of the code units.
    std::uint64_t bits = 0;
    auto addBits = [&bits](std::u16string_view text) {
        bits |= unitBits(text);
        return true;
    };
    ContentType contentType = ContentType::None;
    if (!tagged) {
        if (!blocks.forEachText(addBits))
            return taken(LargeMessageOutcome::Unconverted);
    } else {
        if (!blocks.forEachHeader(addBits))
            return taken(LargeMessageOutcome::Unconverted);
        // As decodeMessage: a block in the charset it names, else (and every other
        // piece) in the message's encoding, else with Automatic in the one the piece
        // itself calls for. `each` sees the text of every try, `retry()` is called before
        // each try after the first.
        auto replaced = std::make_shared<ReaderBytes>(
            [&blocks](std::uint64_t from, std::uint64_t to) { return blocks.bytes(from, to); }, size, blockSize);
        auto decide = [&blocks, replaced, automatic, source, blockSize, &automaticSource](
                          const MessagePiece& piece, ByteRange parameter, auto&& each, auto&& retry) {
            const std::uint64_t from = piece.offset;
            const std::uint64_t to = piece.offset + piece.length;
            if (isBlock(piece.kind)) {
                const EncodingId named = automatic ? largeBlockEncoding(*replaced, piece, parameter) : piece.blockEncoding;
                if (named != kEncodingNone) {
                    if (blocks.decodeRange(from, to, named, each))
                        return named;
                    retry();
                }
            }
            if (blocks.decodeRange(from, to, source, each))
                return source;
            retry();
            if (automatic) {
                // A piece in an encoding of its own: decided by itself.
                LargePieces alone(blocks, blockSize);
                alone.add(from, to);
                AutomaticSource byItself{automaticSource.origin, automaticSource.family, automaticSource.confirmed};
                const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
                if (chosen.choice != EncodingChoice::Undecodable && blocks.decodeRange(from, to, chosen.encoding, each))
                    return chosen.encoding;
            }
            return kEncodingNone;
        };
        std::vector<OtherEncoding>& others = blocks.otherEncodings();
        bool deciding = false;
        BodyCutter<ReaderBytes> cutter(blocks.rawBytes(), static_cast<std::size_t>(bodyStart));
        MessagePiece piece;
        ByteRange parameter;
        for (std::uint64_t i = 0; cutter.next(piece, parameter); ++i) {
            std::uint64_t pieceBits = 0;
            const EncodingId pieceEncoding = decide(
                piece, parameter,
                [&pieceBits](std::u16string_view text) {
                    pieceBits |= unitBits(text);
                    return true;
                },
                [&pieceBits] { pieceBits = 0; });
            if (pieceEncoding == kEncodingNone)
                return taken(LargeMessageOutcome::Unconverted);
            if (pieceEncoding != source && !deciding) {
                // Kept for the passes that follow; past the limit decided again on each.
                if (others.size() < pieceLimit) {
                    others.push_back({i, pieceEncoding});
                } else {
                    deciding = true;
                    blocks.decideEachPass([decide](const MessagePiece& p, ByteRange r) {
                        return decide(p, r, [](std::u16string_view) { return true; }, [] {});
                    });
                }
            }
            bits |= pieceBits;
            if (contentType == ContentType::None && piece.setsContentType)
                contentType = contentTypeOf(piece.kind);
        }
    }

    // The header change, found on the text as it goes by.
    HeaderScan scan(options.crlfLineEndings);
    if (contentType != ContentType::None) {
        TextLineWalker<HeaderScan> lines(scan);
        blocks.forEachText([&](std::u16string_view text) {
            lines.feed(text);
            return !scan.done();
        });
        if (!scan.done()) {
            lines.finish();
            scan.finish();
        }
    }
    taken(LargeMessageOutcome::Converted);
    std::optional<HeaderChange> change;
    if (contentType != ContentType::None)
        change = scan.change();
    // Whether an intact multipart body follows: a delimiter line after the header.
    if (change && options.putBackAttachments) {
        const std::optional<std::string> boundary =
            multipartBoundary(scan.held(), HeaderChange{0, change->replacedLength, {}});
        const auto forEachText = [&blocks](auto each) { return blocks.forEachText(each); };
        if (boundary && hasBoundaryLine(forEachText, change->location + change->replacedLength, *boundary))
            change.reset(); // Eudora kept that body undecoded, and its header still describes it
    }
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    const std::vector<EncodingPair>& candidates = charsetCandidates.pairs();
    const char16_t unitRange = wantsUnitRange(candidates) ? static_cast<char16_t>(bits) : char16_t{0xFFFF};

    // The end of every pipeline: the text encoded, the bytes written a block at a time
    // when `writing` (the pieces may be a few bytes each).
    struct Encoder {
        Encoder(EncodingId encoding, bool writes, std::size_t size, const std::function<bool(std::string_view)>& writer)
            : stream(encoding), writing(writes), blockSize(size), write(writer)
        {
        }
        EncodeStream stream;
        bool writing;
        std::size_t blockSize;
        const std::function<bool(std::string_view)>& write;
        std::string out;
        std::string pending;
        bool encoded = true;
        bool written = true;
        void put(std::u16string_view text, bool last)
        {
            if (!encoded || !written)
                return;
            out.clear();
            encoded = stream.encode(text, last, out);
            if (!encoded || !writing)
                return;
            pending.append(out);
            if (pending.size() < blockSize && !last)
                return;
            written = pending.empty() || write(pending);
            pending.clear();
        }
        void feed(std::u16string_view text) { put(text, false); }
        void finish() { put({}, true); }
        bool ok() const { return encoded && written; }
    };
    // The text with `header` in place of the change (when there is one), its fields
    // encoded when `fields` (stopping after them unless `whole`), into `encoder`.
    auto run = [&](const std::u16string& header, const EncodingPair* fields, bool whole, Encoder& encoder) {
        bool stop = false;
        auto through = [&](auto& sink) {
            auto more = [&] { return encoder.ok() && !stop; };
            if (!change) {
                blocks.forEachText([&](std::u16string_view text) {
                    sink.feed(text);
                    return more();
                });
                sink.finish();
                return;
            }
            Substitution<std::remove_reference_t<decltype(sink)>> substituted(change->location, change->replacedLength,
                                                                               header, sink);
            blocks.forEachText([&](std::u16string_view text) {
                substituted.feed(text);
                return more();
            });
            substituted.finish();
        };
        if (!fields) {
            through(encoder);
            return;
        }
        FieldEncoder<Encoder> encoding(*fields, encoder);
        if (whole) {
            through(encoding);
            return;
        }
        // Only the header fields can fail here: the rest is the text as chosen.
        struct Until {
            FieldEncoder<Encoder>& next;
            bool& stop;
            void feed(std::u16string_view text)
            {
                if (stop)
                    return;
                next.feed(text);
                stop = next.pastFields();
            }
            void finish()
            {
                if (!stop)
                    next.finish();
            }
        };
        Until until{encoding, stop};
        through(until);
    };
    auto tries = [&](const std::u16string& header, const EncodingPair& candidate) {
        Encoder encoder(candidate.encoding, false, blockSize, write);
        run(header, nullptr, true, encoder);
        return encoder.ok();
    };
    // As convertMessage's: header fields with non-ASCII text as encoded-words, the body as chosen.
    auto finish = [&](const std::u16string& header, const EncodingPair& candidate) {
        if (options.encodeHeaders) {
            Encoder check(candidate.encoding, false, blockSize, write);
            run(header, &candidate, false, check);
            if (!check.ok())
                return LargeMessageOutcome::Unconverted;
        }
        Encoder encoder(candidate.encoding, true, blockSize, write);
        run(header, options.encodeHeaders ? &candidate : nullptr, true, encoder);
        if (!encoder.ok())
            return encoder.written ? LargeMessageOutcome::Unconverted : LargeMessageOutcome::WriteFailed;
        mailbox.lastReason = UnconvertedReason::None;
        return LargeMessageOutcome::Converted;
    };

    // As convertMessage: pieces P R S become P H S; P and S each encoded on its own.
    auto restFits = [&](const EncodingPair& candidate) {
        const HeaderChange& at = *change;
        EncodeStream before(candidate.encoding);
        EncodeStream after(candidate.encoding);
        std::string scratch;
        bool fits = true;
        std::uint64_t offset = 0;
        const std::uint64_t rest = at.location + at.replacedLength;
        blocks.forEachText([&](std::u16string_view text) {
            const std::uint64_t start = offset;
            offset += text.size();
            if (start < at.location) {
                scratch.clear();
                fits = before.encode(text.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), at.location - start))),
                                     offset >= at.location, scratch);
            }
            if (fits && offset > rest) {
                scratch.clear();
                fits = after.encode(text.substr(static_cast<std::size_t>(std::max(start, rest) - start)), false, scratch);
            }
            return fits;
        });
        scratch.clear();
        if (fits && at.location == 0)
            fits = before.encode({}, true, scratch);
        return fits && after.encode({}, true, scratch);
    };
    std::u16string header;
    const std::u16string_view replaced = change ? std::u16string_view(scan.held()) : std::u16string_view();
    if (const EncodingPair* chosen = chooseCandidate(candidates, unitRange, change, replaced, contentType, header,
                                                     [&](const EncodingPair& c) { return tries(header, c); }, restFits))
        return finish(header, *chosen);
    return LargeMessageOutcome::Unconverted;
}

} // namespace tarnwick
