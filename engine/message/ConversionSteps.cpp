#include "engine/message/ConversionSteps.h"

#include "engine/header/HeaderEncoder.h"
#include "engine/header/MimeHeader.h"
#include "engine/message/TextLines.h"
#include "platform/encodings/CaseFold.h"
#include "platform/Log.h"

#include <algorithm>
#include <cstring>

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
    case ContentType::Enriched:
        return u"Content-Type: text/enriched";
    case ContentType::None:
        break;
    }
    return {};
}

} // namespace

// The Content-Type line written for a candidate: ASCII text names no charset.
void assignContentTypeHeader(std::u16string& header, ContentType contentType, const EncodingPair& candidate, std::u16string_view terminator)
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
            insertion.terminator
                = crlfTerminators || line.end == line.contentsEnd ? kCRLF : text.substr(line.contentsEnd, line.end - line.contentsEnd);
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
    return std::any_of(candidates.begin(), candidates.end(),
                       [](const EncodingPair& c) { return c.encoding == kEncodingASCII || c.encoding == kEncodingISOLatin1; });
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

// A message with a header field too long to hold is written as it is.
void leaveFieldTooLong(MailboxContext& mailbox)
{
    mailbox.lastReason = UnconvertedReason::FieldTooLong;
    logMessage("Message left unconverted: a header field is too long to convert");
}

} // namespace tarnwick
