// Fuzzes convertMessage under every combination of ProcessEudoraTags, ConvertRichText,
// ConvertLineEndings and ReplaceNBSPWithSpaceInMacJapanese, five source encodings and
// four candidate lists. The first input bytes choose the options and the header length.
// Every path must stay in bounds; the plain path (no tag processing) must give exactly
// the bytes of the first candidate that can hold the decoded message. The conversion of
// a large message, in blocks of 1 to 8 bytes, must take every message and give the bytes
// of the conversion in one piece. With the Western candidate list, the path that
// converts the body from its bytes is checked against the one that decodes the whole
// text (forced by a last candidate it does not write). The header fields measured in
// blocks must give what the whole message gives, for any limit.

#include "FuzzSupport.h"

#include "engine/ByteRange.h"
#include "engine/message/MessageConverter.h"
#include "engine/header/FieldLength.h"

namespace {

using namespace tarnwick;
using tarnwick::fuzz::ExactBytes;
using tarnwick::fuzz::Picker;

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

std::string replacedNoBreakSpaces(std::string_view message)
{
    std::string copy(message);
    for (std::size_t i = 0; i < copy.size(); ++i) {
        if (static_cast<unsigned char>(copy[i]) == 0xA0 && (i == 0 || !isLeadByte(static_cast<unsigned char>(copy[i - 1]))))
            copy[i] = ' ';
    }
    return copy;
}

// The offset after the first empty line, as convertMbox would hand it over.
std::uint64_t realHeaderLength(std::string_view b)
{
    std::size_t pos = 0;
    bool first = true;
    while (pos < b.size()) {
        std::size_t end = pos;
        while (end < b.size() && b[end] != '\r' && b[end] != '\n')
            ++end;
        const std::size_t contentsEnd = end;
        if (end < b.size())
            end += (b[end] == '\r' && end + 1 < b.size() && b[end + 1] == '\n') ? 2 : 1;
        if (!first && contentsEnd == pos)
            return end < b.size() ? end : kHeaderLengthNone;
        first = false;
        pos = end;
    }
    return kHeaderLengthNone;
}

// convertMessage over the message read in blocks of `blockSize` (and at most
// `pieceLimit` pieces in a charset of their own), checked against what convertMessage
// gave (`converted`, `result` and the reason in `mailbox`).
void checkLargePath(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options, CharsetCandidates& candidates,
                    MailboxContext mailbox, std::size_t blockSize, std::size_t pieceLimit, bool converted, const std::string& result,
                    UnconvertedReason reason)
{
    std::string block;
    const MessageReader read = [&](std::uint64_t offset, std::size_t length) {
        FUZZ_CHECK(offset + length <= message.size() && length <= blockSize);
        block.assign(message.substr(static_cast<std::size_t>(offset), length));
        return std::string_view(block);
    };
    std::string written;
    const LargeMessageOutcome outcome = convertMessage(
        read, message.size(), headerLength, options, candidates, mailbox,
        [&written](std::string_view bytes) {
            written += bytes;
            return true;
        },
        blockSize, pieceLimit);
    // Nothing is declined.
    FUZZ_CHECK(outcome != LargeMessageOutcome::NeedsWholeMessage);
    FUZZ_CHECK(outcome != LargeMessageOutcome::WriteFailed);
    FUZZ_CHECK((outcome == LargeMessageOutcome::Converted) == converted);
    FUZZ_CHECK(mailbox.lastReason == reason);
    if (converted)
        FUZZ_CHECK(written == result);
    else
        FUZZ_CHECK(written.empty());
}

// The header fields measured in blocks of `blockSize`, with a limit of `limit` bytes:
// the answer for the whole message.
void checkFieldMeter(std::string_view message, std::size_t blockSize, std::uint64_t limit)
{
    HeaderFieldMeter meter(limit);
    for (std::size_t at = 0; at < message.size() && meter.feed(message.substr(at, blockSize)); at += blockSize) {}
    FUZZ_CHECK(meter.tooLong() == hasOverlongHeaderField(message, limit));
    // A limit as long as the message is never passed.
    FUZZ_CHECK(!hasOverlongHeaderField(message, message.size()));
}

/// The Western list with ISO-2022-JP at its end: a candidate that the byte-level path
/// does not write, so every message takes the path that decodes the whole text.
CharsetCandidates& wholeTextCandidates()
{
    static CharsetCandidates candidates({"us-ascii", "iso-8859-1", "utf-8", "iso-2022-jp"});
    return candidates;
}

/// Converts `message` again on the whole-text path: where the Western list gives bytes,
/// or finds the message undecodable, the same must come out.
void checkWholeTextPath(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                        const AutomaticSource& start, bool converted, const MailboxContext& mailbox, const std::string& result)
{
    MailboxContext again;
    again.automatic = start;
    std::string expected;
    const bool done = convertMessage(message, headerLength, options, wholeTextCandidates(), again, expected);
    if (converted) {
        FUZZ_CHECK(done && expected == result);
    } else if (mailbox.lastReason == UnconvertedReason::Undecodable) {
        FUZZ_CHECK(!done && again.lastReason == UnconvertedReason::Undecodable);
    } else if (!done) {
        FUZZ_CHECK(again.lastReason == mailbox.lastReason);
    }
}

// The header length handed over: none, the real one, one inside the message or any.
std::uint64_t pickHeaderLength(std::uint8_t headerMode, std::uint64_t raw, std::string_view message)
{
    switch (headerMode & 3) {
    case 0:
        return kHeaderLengthNone;
    case 1:
        return realHeaderLength(message);
    case 2:
        return raw % (message.size() + 1);
    default:
        return raw;
    }
}

// The same message with the Automatic source encoding and encoded header fields: no
// oracle but the sanitizers and the reason, which tells a success from a failure.
void checkAutomatic(std::string_view message, std::uint64_t headerLength, const ConversionOptions& conversion, std::uint8_t options,
                    unsigned list, std::size_t blockSize, std::size_t pieceLimit)
{
    CharsetCandidates& candidates = fuzz::candidateList(list);
    ConversionOptions automatic = conversion;
    automatic.sourceEncoding = kEncodingAutomatic;
    automatic.encodeHeaders = true;
    automatic.language = (options & 0x40) ? "ja" : "";
    MailboxContext automaticMailbox;
    automaticMailbox.automatic.origin = (options & 0x80) ? MailboxOrigin::Mac : MailboxOrigin::Windows;
    automaticMailbox.automatic.family = &familyForLanguage(automatic.language);
    const MailboxContext before = automaticMailbox;
    std::string automaticResult;
    const bool done = convertMessage(message, headerLength, automatic, candidates, automaticMailbox, automaticResult);
    FUZZ_CHECK(done == (automaticMailbox.lastReason == UnconvertedReason::None));
    checkLargePath(message, headerLength, automatic, candidates, before, blockSize, pieceLimit, done, automaticResult,
                   automaticMailbox.lastReason);
    if (list == 0)
        checkWholeTextPath(message, headerLength, automatic, before.automatic, done, automaticMailbox, automaticResult);
}

// Without tag processing nor encoded header fields: the bytes of the first candidate
// that can hold the decoded message, or no conversion when none can.
void checkPlainPath(std::string_view message, const ConversionOptions& conversion, CharsetCandidates& candidates, bool converted,
                    const std::string& result)
{
    const EncodingId source = conversion.sourceEncoding;
    const bool japanese = source == kEncodingShiftJIS || source == kEncodingMacJapanese;
    const std::string bytes = (japanese && conversion.replaceNoBreakSpaces) ? replacedNoBreakSpaces(message) : std::string(message);
    std::u16string text;
    if (!decodeAppend(bytes.data(), bytes.size(), source, text)) {
        FUZZ_CHECK(!converted);
        return;
    }
    for (const EncodingPair& candidate : candidates.pairs()) {
        std::string expected;
        if (canEncode(text, candidate.encoding) && encodeText(text, candidate.encoding, expected)) {
            FUZZ_CHECK(converted);
            FUZZ_CHECK(result == expected);
            return;
        }
    }
    FUZZ_CHECK(!converted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    Picker pick(data, size);
    const std::uint8_t options = pick.byte();
    const EncodingId source = fuzz::sourceEncoding(pick.byte() % fuzz::kSourceEncodingCount);
    const unsigned list = pick.byte() % fuzz::kCandidateListCount;
    const std::uint8_t headerMode = pick.byte();
    const std::uint64_t raw = pick.u64();
    const ExactBytes message(pick.data(), pick.size());

    ConversionOptions conversion;
    conversion.convertEncodings = true;
    conversion.sourceEncoding = source;
    conversion.processEudoraTags = options & 1;
    conversion.convertRichText = options & 8;
    conversion.crlfLineEndings = options & 2;
    conversion.replaceNoBreakSpaces = options & 4;
    conversion.charsetNames = fuzz::candidateNames(list);
    conversion.putBackAttachments = options & 0x20;
    conversion.encodeHeaders = options & 0x10;
    CharsetCandidates& candidates = fuzz::candidateList(list);
    const std::uint64_t headerLength = pickHeaderLength(headerMode, raw, message.view());

    const std::size_t blockSize = 1 + ((headerMode >> 2) & 7);
    const std::size_t pieceLimit = (headerMode & 0x20) ? 1 : kKeptPieceEncodings;
    checkFieldMeter(message.view(), blockSize, raw >> 58);
    std::string result = "stale bytes from an earlier message";
    MailboxContext mailbox;
    const bool converted = convertMessage(message.view(), headerLength, conversion, candidates, mailbox, result);
    if (list == 0)
        checkWholeTextPath(message.view(), headerLength, conversion, MailboxContext().automatic, converted, mailbox, result);
    // The same stages over the message read in blocks: a small size the input picks, a
    // size that cuts characters and lines anywhere, and the spool file's.
    for (const std::size_t size : {blockSize, std::size_t{13}, kMessageBlock})
        checkLargePath(message.view(), headerLength, conversion, candidates, MailboxContext{}, size, pieceLimit, converted, result,
                       mailbox.lastReason);
    checkAutomatic(message.view(), headerLength, conversion, options, list, blockSize, pieceLimit);

    const bool plainPath = (!conversion.processEudoraTags || message.size() < headerLength) && !conversion.encodeHeaders;
    if (plainPath)
        checkPlainPath(message.view(), conversion, candidates, converted, result);
    return 0;
}
