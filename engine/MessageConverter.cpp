#include "engine/MessageConverter.h"

#include "engine/ByteRange.h"
#include "engine/CaseFold.h"
#include "engine/MimeHeader.h"
#include "engine/TagScanner.h"
#include "engine/TextLines.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarnwick {
namespace {

enum class ContentType { None, Plain, Flowed, Html };

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
    std::string bytes;       // the copy made by the no-break-space step
    std::u16string text;     // the decoded message
    std::u16string header;   // the new Content-Type line
    std::u16string replaced; // the Content-Type header it replaces
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
        if (buffers.bytes.capacity() > 2 * kKeptUnits)
            std::string().swap(buffers.bytes);
    }
};

bool isShiftJISLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

/// Replaces every 0xA0 that does not follow a Shift_JIS lead byte with a space, in a
/// copy. Returns the copy when anything was replaced, else the bytes as passed.
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

/// Decodes the body from `headerLength` on, dropping Eudora tags and decoding each
/// tag block in its own charset. Returns false when a piece cannot be decoded.
///
/// A '<' that opens no block stays in the text run around it: the run is decoded in
/// one piece, so a stateful source encoding (ISO-2022-JP, whose double-byte
/// characters may contain the byte '<') is never cut inside a shift sequence. For
/// the stateless encodings the result is the same as decoding the pieces apart,
/// since '<' is never part of a multibyte character there.
bool decodeTaggedBody(std::string_view bytes, std::size_t headerLength, EncodingId source,
                      std::u16string& text, ContentType& contentType)
{
    static constexpr std::string_view kTagNames[] = {"x-charset", "x-flowed", "x-html"};
    static constexpr ContentType kTagTypes[] = {ContentType::Plain, ContentType::Flowed, ContentType::Html};
    // Windows Eudora writes the first spelling, Mac Eudora the second.
    static constexpr std::string_view kTrailerMarkers[] = {"<!x-stuff-for-vrak", "<!x-stuff-for-pete"};
    constexpr std::size_t kTrailerLength = 18;

    const char* data = bytes.data();
    const std::size_t size = bytes.size();
    auto setIfAbsent = [&contentType](ContentType type) {
        if (contentType == ContentType::None)
            contentType = type;
    };

    // The pending text run: [runStart, end), holding `loneBrackets` lone '<' bytes.
    // Lone '<'s set no content type; any other byte of the run sets text/plain.
    std::size_t runStart = headerLength;
    std::size_t loneBrackets = 0;
    auto flushRun = [&](std::size_t end) {
        if (end > runStart) {
            if (!decodeAppend(data + runStart, end - runStart, source, text))
                return false;
            if (end - runStart > loneBrackets)
                setIfAbsent(ContentType::Plain);
        }
        runStart = end;
        loneBrackets = 0;
        return true;
    };

    std::size_t pos = headerLength;
    while (pos < size) {
        const void* found = std::memchr(data + pos, '<', size - pos);
        if (found == nullptr)
            return flushRun(size);
        const std::size_t t = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        // A tag counts only at the scan position or at the start of a line.
        const bool possibleTag = t == pos || data[t - 1] == '\r' || data[t - 1] == '\n';
        if (possibleTag) {
            const std::size_t remaining = size - t;
            bool isBlock = false;
            for (std::size_t i = 0; i < std::size(kTagNames) && !isBlock; ++i) {
                const std::optional<TagBlock> block = scanTag(std::string_view(data + t, remaining), kTagNames[i]);
                if (!block)
                    continue;
                const auto& [opening, closing, blockEncoding] = *block;
                isBlock = true;
                if (!flushRun(t))
                    return false;
                const char* blockText = data + t + opening.length;
                const std::size_t blockLength = closing.location - opening.length;
                // Text invalid in the tag's charset falls back to the source encoding.
                if (blockEncoding == kEncodingNone || !decodeAppend(blockText, blockLength, blockEncoding, text)) {
                    if (!decodeAppend(blockText, blockLength, source, text))
                        return false;
                }
                setIfAbsent(kTagTypes[i]);
                pos = t + closing.location + closing.length;
                runStart = pos;
            }
            if (isBlock)
                continue;
            if (remaining > kTrailerLength) {
                const std::string_view start(data + t, kTrailerLength);
                if (start == kTrailerMarkers[0] || start == kTrailerMarkers[1]) {
                    if (!flushRun(t))
                        return false;
                    // The trailer goes in whole, marker included; nothing inside is examined.
                    if (!decodeAppend(data + t, remaining, source, text))
                        return false;
                    setIfAbsent(ContentType::Html);
                    return true;
                }
            }
        }
        ++loneBrackets;
        pos = t + 1;
    }
    return flushRun(size);
}

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

} // namespace

bool convertMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                    CharsetCandidates& charsetCandidates, std::string& result)
{
    const EncodingId source = options.sourceEncoding;
    WorkingBuffers& buffers = t_buffers;
    const BufferTrim trim{buffers};

    std::string_view bytes = message;
    if ((source == kEncodingMacJapanese || source == kEncodingShiftJIS)
        && options.replaceNoBreakSpaces) {
        bytes = replaceNoBreakSpaces(message, buffers.bytes);
    }

    std::u16string& text = buffers.text;
    text.clear();
    ContentType contentType = ContentType::None;
    if (!options.processEudoraTags || bytes.size() < headerLength) {
        if (!decodeAppend(bytes.data(), bytes.size(), source, text))
            return false;
    } else {
        const auto headerSize = static_cast<std::size_t>(headerLength);
        if (!decodeAppend(bytes.data(), headerSize, source, text))
            return false;
        if (!decodeTaggedBody(bytes, headerSize, source, text, contentType))
            return false;
    }

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
                return true;
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
            return true;
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
