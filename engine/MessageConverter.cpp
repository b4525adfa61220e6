#include "engine/MessageConverter.h"

#include "engine/CaseFold.h"
#include "engine/MimeHeader.h"
#include "engine/HeaderEncoder.h"
#include "engine/MessageDecoder.h"
#include "engine/TextLines.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <optional>

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

char16_t maxCodeUnit(std::u16string_view text)
{
    char16_t max = 0;
    for (char16_t c : text)
        max = std::max(max, c);
    return max;
}

/// A cheap necessary test: ASCII and ISO Latin 1 cannot hold a code unit above their
/// range. Every other verdict comes from the encoder itself.
bool mayEncode(EncodingId encoding, char16_t maxUnit)
{
    if (encoding == kEncodingASCII)
        return maxUnit <= 0x7F;
    if (encoding == kEncodingISOLatin1)
        return maxUnit <= 0xFF;
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
    const char16_t maxUnit = wantsMaxUnit ? maxCodeUnit(text) : char16_t{0xFFFF};

    std::optional<HeaderChange> change;
    if (contentType != ContentType::None)
        change = findHeaderChange(text, options.crlfLineEndings);
    if (change && options.putBackAttachments && isIntactMultipart(text, *change))
        change.reset();

    if (!change) {
        for (const EncodingPair& candidate : candidates) {
            if (mayEncode(candidate.encoding, maxUnit) && encodeText(text, candidate.encoding, result))
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
        if (!mayEncode(candidate.encoding, maxUnit))
            continue;
        if (!replaced.empty() && !canEncode(replaced, candidate.encoding))
            continue;
        header.assign(contentTypeText(contentType));
        if (candidate.encoding != kEncodingASCII) {
            header.append(u"; charset=");
            appendUTF8AsUTF16(candidate.charsetName, header);
        }
        header.append(at.terminator);
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
