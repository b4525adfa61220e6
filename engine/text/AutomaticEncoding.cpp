#include "engine/text/AutomaticEncoding.h"

#include "engine/header/EncodedWords.h"
#include "engine/text/Ascii.h"
#include "platform/encodings/TextStream.h"

#include "platform/encodings/CharsetDetector.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace tarnwick {
namespace {

constexpr EncodingId kEncodingISO2022JP = 21;
// ICU's detector is slow next to a decoder: it looks at a sample around the first
// 8-bit byte, and only when a multibyte family decodes the whole text cleanly.
constexpr std::size_t kDetectorLead = 256;
constexpr std::size_t kDetectorSample = 1024;
constexpr int kDetectorConfidence = 50;
constexpr int kDetectorSingleByteConfidence = 80;

/// The pieces of a message in memory, each read in one block.
class PiecesInMemory final : public PieceReader {
public:
    explicit PiecesInMemory(std::span<const std::string_view> pieces) : pieces_(pieces) {}
    std::size_t count() const override { return pieces_.size(); }
    std::uint64_t size(std::size_t piece) const override { return pieces_[piece].size(); }
    std::size_t blockSize() const override { return std::numeric_limits<std::size_t>::max(); }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        return pieces_[piece].substr(static_cast<std::size_t>(offset), length);
    }

private:
    std::span<const std::string_view> pieces_;
};

/// Calls `each(block)` with the bytes of a piece in order; false when it returned false.
template <typename Each> bool forEachBlock(const PieceReader& pieces, std::size_t piece, Each each)
{
    const std::uint64_t size = pieces.size(piece);
    for (std::uint64_t at = 0; at < size;) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(pieces.blockSize(), size - at));
        if (!each(pieces.read(piece, at, length)))
            return false;
        at += length;
    }
    return true;
}

/// Decodes a piece and calls `each(text)` with its text, in one part when the piece
/// is read in one block, else block by block; false when it does not decode or `each`
/// returned false.
template <typename Each> bool decodePiece(const PieceReader& pieces, std::size_t piece, EncodingId encoding, Each each)
{
    thread_local std::u16string scratch;
    struct Trim {
        ~Trim()
        {
            if (scratch.capacity() > (std::size_t{1} << 20))
                std::u16string().swap(scratch);
        }
    } trim;
    const std::uint64_t size = pieces.size(piece);
    if (size <= pieces.blockSize()) {
        const std::string_view bytes = pieces.read(piece, 0, static_cast<std::size_t>(size));
        scratch.clear();
        return decodeAppend(bytes.data(), bytes.size(), encoding, scratch) && each(std::u16string_view(scratch));
    }
    DecodeStream stream(encoding);
    std::uint64_t at = 0;
    return forEachBlock(pieces, piece, [&](std::string_view block) {
        at += block.size();
        scratch.clear();
        return stream.decode(block, at == size, scratch) && each(std::u16string_view(scratch));
    });
}

/// The offset of the first byte above 0x7F at or after `from`; the size when none.
std::size_t nextByteAbove7F(std::string_view bytes, std::size_t from)
{
    std::size_t i = from;
#if defined(__SSE2__)
    for (; i + 16 <= bytes.size(); i += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i)));
        if (mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    return i;
}

bool hasByteAbove7F(std::string_view bytes) { return nextByteAbove7F(bytes, 0) < bytes.size(); }

/// The offset of the first CR or LF at or after `from`; the size when none. (The
/// library's find_first_of asks the character set once for every byte.)
std::size_t lineEnd(std::string_view text, std::size_t from)
{
    std::size_t i = std::min(from, text.size());
    while (i < text.size() && text[i] != '\r' && text[i] != '\n')
        ++i;
    return i;
}

bool anyByteAbove7F(const PieceReader& pieces)
{
    for (std::size_t i = 0; i < pieces.count(); ++i) {
        if (!forEachBlock(pieces, i, [](std::string_view block) { return !hasByteAbove7F(block); }))
            return true;
    }
    return false;
}

/// Whether a piece holds ESC '$' (the start of a JIS X 0208 shift), also across blocks.
bool anyShift(const PieceReader& pieces)
{
    for (std::size_t i = 0; i < pieces.count(); ++i) {
        bool afterEscape = false;
        const bool none = forEachBlock(pieces, i, [&afterEscape](std::string_view block) {
            if ((afterEscape && block.front() == '$') || block.find("\x1B$") != std::string_view::npos)
                return false;
            afterEscape = block.back() == '\x1B';
            return true;
        });
        if (!none)
            return true;
    }
    return false;
}

bool hasC1Control(std::u16string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x80 && c <= 0x9F; });
}

bool decodesCleanly(const PieceReader& pieces, EncodingId encoding)
{
    // Single-byte and UTF-8 text is checked on its bytes, without decoding, when a piece
    // is read in one block (a UTF-8 character may be cut between blocks).
    const bool scannable = isByteTranscodable(encoding);
    for (std::size_t i = 0; i < pieces.count(); ++i) {
        if (scannable && pieces.size(i) <= pieces.blockSize()) {
            const std::string_view bytes = pieces.read(i, 0, static_cast<std::size_t>(pieces.size(i)));
            if (!scanBytes(bytes.data(), bytes.size(), encoding).clean)
                return false;
            continue;
        }
        if (!decodePiece(pieces, i, encoding, [](std::u16string_view text) { return !hasC1Control(text); }))
            return false;
    }
    return true;
}

bool decodesCleanlyIn(const PieceReader& pieces, const LegacyFamily& family, MailboxOrigin origin, EncodingId& encoding)
{
    for (const EncodingId candidate : {family.primary(origin), family.secondary(origin)}) {
        if (decodesCleanly(pieces, candidate)) {
            encoding = candidate;
            return true;
        }
    }
    return false;
}

/// The family ICU's detector names with confidence for a sample of the pieces (up to
/// 1 KB, from a little before the first 8-bit byte of each piece); none otherwise. A
/// single-byte family needs more confidence: the detector mixes those up easily.
const LegacyFamily* detectedFamily(const PieceReader& pieces)
{
    thread_local std::string sample;
    sample.clear();
    for (std::size_t i = 0; i < pieces.count() && sample.size() < kDetectorSample; ++i) {
        std::uint64_t first = 0;
        const bool none = forEachBlock(pieces, i, [&first](std::string_view block) {
            const auto high = std::find_if(block.begin(), block.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
            first += static_cast<std::uint64_t>(high - block.begin());
            return high == block.end();
        });
        if (none)
            continue;
        std::uint64_t at = first > kDetectorLead ? first - kDetectorLead : 0;
        const std::uint64_t end = std::min<std::uint64_t>(pieces.size(i), at + (kDetectorSample - sample.size()));
        while (at < end) {
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(pieces.blockSize(), end - at));
            sample.append(pieces.read(i, at, length));
            at += length;
        }
    }
    if (sample.empty())
        return nullptr;
    const std::optional<DetectedCharset> match = detectCharset(sample);
    if (!match)
        return nullptr;
    const LegacyFamily* family = familyForCharset(match->name);
    if (!family || match->confidence < (family->multibyte ? kDetectorConfidence : kDetectorSingleByteConfidence))
        return nullptr;
    return family;
}

bool inRange(char16_t c, char16_t low, char16_t high) { return c >= low && c <= high; }

/// Whether text decoded in a multibyte family looks like that family's script: most of
/// its non-ASCII characters are kana (Japanese), Hangul (Korean) or ideographs and CJK
/// punctuation (Chinese). Single-byte text read as a multibyte encoding gives scattered
/// ideographs and hardly any kana or Hangul.
bool looksLikeScriptOf(const PieceReader& pieces, const LegacyFamily& family, EncodingId encoding)
{
    std::uint64_t nonAscii = 0;
    std::uint64_t typical = 0;
    auto count = [&](std::u16string_view text) {
        for (const char16_t c : text) {
            if (c < 0x80)
                continue;
            ++nonAscii;
            // Half-width katakana (U+FF61-FF9F) is left out: single bytes 0xA1-0xDF give it.
            const bool punctuation = inRange(c, 0x3000, 0x303F) || inRange(c, 0xFF01, 0xFF5E);
            if (family.name == "Japanese")
                typical += punctuation || inRange(c, 0x3040, 0x30FF);
            else if (family.name == "Korean")
                typical += punctuation || inRange(c, 0xAC00, 0xD7A3) || inRange(c, 0x3130, 0x318F);
            else
                typical += punctuation || inRange(c, 0x4E00, 0x9FFF);
        }
        return true;
    };
    for (std::size_t i = 0; i < pieces.count(); ++i) {
        if (!decodePiece(pieces, i, encoding, count))
            return false;
    }
    const std::uint64_t percent = family.name == "Japanese" ? 20 : family.name == "Korean" ? 50 : 80;
    return nonAscii > 0 && typical * 100 >= nonAscii * percent;
}

/// Whether the pieces have the shape of double-byte text: a good share of their 8-bit
/// bytes come in pairs (a lead and an 8-bit trail byte). Western text rarely puts two
/// 8-bit bytes side by side, so it skips the multibyte decoders altogether.
bool hasDoubleByteShape(const PieceReader& pieces)
{
    std::uint64_t high = 0;
    std::uint64_t pairs = 0;
    for (std::size_t i = 0; i < pieces.count(); ++i) {
        bool lead = false; // the byte before was an 8-bit byte that no pair holds yet
        forEachBlock(pieces, i, [&](std::string_view block) {
            for (std::size_t at = 0; at < block.size();) {
                if (lead) {
                    const bool eightBit = static_cast<unsigned char>(block[at++]) >= 0x80;
                    lead = false;
                    high += eightBit;
                    pairs += eightBit;
                    continue;
                }
                // ASCII bytes between pairs count for nothing: skipped a word at a time.
                at = nextByteAbove7F(block, at);
                if (at == block.size())
                    break;
                ++high;
                lead = true;
                ++at;
            }
            return true;
        });
    }
    return pairs >= 2 && pairs * 2 * 4 >= high;
}

/// The legacy encodings, with the detector choosing between families. The detector is
/// asked only when another multibyte family reads the text as its script, and a family
/// it has confirmed once is trusted for the rest of the mailbox.
SourceEncoding chooseLegacy(const PieceReader& pieces, AutomaticSource& source)
{
    const LegacyFamily& own = *source.family;
    EncodingId ownEncoding = kEncodingNone;
    const bool ownClean = decodesCleanlyIn(pieces, own, source.origin, ownEncoding);
    if (ownClean && own.multibyte && looksLikeScriptOf(pieces, own, ownEncoding))
        return {ownEncoding, EncodingChoice::Legacy};
    // A single-byte family decodes nearly anything, so this comes before it.
    EncodingId other = kEncodingNone;
    const bool doubleByteShape = hasDoubleByteShape(pieces);
    for (const LegacyFamily& family : legacyFamilies()) {
        if (!doubleByteShape)
            break;
        if (&family == &own || !family.multibyte || !decodesCleanlyIn(pieces, family, source.origin, other)
            || !looksLikeScriptOf(pieces, family, other))
            continue;
        if (source.confirmed == &family || detectedFamily(pieces) == &family) {
            source.confirmed = &family;
            return {other, EncodingChoice::Detected};
        }
    }
    if (ownClean && !own.multibyte)
        return {ownEncoding, EncodingChoice::Legacy};
    if (&own != &westernFamily() && decodesCleanlyIn(pieces, westernFamily(), source.origin, other))
        return {other, EncodingChoice::LastResort};
    if (ownClean)
        return {ownEncoding, EncodingChoice::Legacy};
    return {own.primary(source.origin), EncodingChoice::Undecodable};
}

/// The declared charset as the mailbox stores it: Mac Eudora translated single-byte
/// mail into its Mac encoding ("iso-8859-1/macintosh").
EncodingId storedDeclaredEncoding(std::string_view declared, MailboxOrigin origin)
{
    const EncodingId named = namedEncoding(declared);
    if (named == kEncodingNone || named == kEncodingISO2022JP)
        return named;
    if (!isAsciiCompatible(named))
        return kEncodingNone; // UTF-16 and the like: Eudora never stored text so
    if (origin == MailboxOrigin::Mac && declared.find('/') == std::string_view::npos) {
        if (const LegacyFamily* family = familyForCharset(declared); family && !family->multibyte)
            return family->mac;
    }
    return named;
}

} // namespace

SourceEncoding chooseSourceEncoding(std::span<const std::string_view> pieces, std::string_view declared, AutomaticSource& source)
{
    return chooseSourceEncoding(PiecesInMemory(pieces), declared, source);
}

SourceEncoding chooseSourceEncoding(const PieceReader& pieces, std::string_view declared, AutomaticSource& source)
{
    if (!declared.empty()) {
        const EncodingId encoding = storedDeclaredEncoding(declared, source.origin);
        if (encoding != kEncodingNone && decodesCleanly(pieces, encoding))
            return {encoding, EncodingChoice::Declared};
    }
    const bool eightBit = anyByteAbove7F(pieces);
    const bool shifted = anyShift(pieces);
    if (!eightBit && !shifted)
        return {kEncodingUTF8, EncodingChoice::Ascii};
    if (shifted && !eightBit && decodesCleanly(pieces, kEncodingISO2022JP))
        return {kEncodingISO2022JP, EncodingChoice::Detected};
    if (decodesCleanly(pieces, kEncodingUTF8))
        return {kEncodingUTF8, eightBit ? EncodingChoice::Utf8 : EncodingChoice::Ascii};
    return chooseLegacy(pieces, source);
}

std::string_view declaredCharset(std::string_view header)
{
    std::size_t pos = 0;
    while (pos < header.size()) {
        const std::size_t end = lineEnd(header, pos);
        if (startsWithAsciiFolded(header.substr(pos, end - pos), "content-type:")) {
            // The field with its continuation lines.
            std::size_t fieldEnd = end;
            while (fieldEnd < header.size()) {
                std::size_t next = fieldEnd;
                while (next < header.size() && (header[next] == '\r' || header[next] == '\n'))
                    ++next;
                if (next - fieldEnd > 2 || next >= header.size() || (header[next] != ' ' && header[next] != '\t'))
                    break;
                fieldEnd = lineEnd(header, next);
            }
            const std::string_view field = header.substr(pos, fieldEnd - pos);
            for (std::size_t at = 0; at + 8 <= field.size(); ++at) {
                if (!startsWithAsciiFolded(field.substr(at), "charset="))
                    continue;
                std::string_view value = field.substr(at + 8);
                if (!value.empty() && value.front() == '"') {
                    value.remove_prefix(1);
                    return value.substr(0, value.find('"'));
                }
                return value.substr(0, value.find_first_of("; \t\r\n()"));
            }
            return {};
        }
        pos = end;
        while (pos < header.size() && (header[pos] == '\r' || header[pos] == '\n'))
            ++pos;
    }
    return {};
}

EncodingId namedEncoding(std::string_view name)
{
    if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const PlatformEncoding platform = encodingForIANAName(name);
    if (platform == kPlatformEncodingInvalid || !isEncodingAvailable(platform))
        return kEncodingNone;
    return carryEncoding(platform);
}

std::string_view markerCharset(std::string_view blockText)
{
    static constexpr std::string_view kMarker = "<!x-stuff-for-pete";
    std::size_t start = 0;
    while (start < blockText.size() && (blockText[start] == '\r' || blockText[start] == '\n'))
        ++start;
    if (blockText.substr(start, kMarker.size()) != kMarker)
        return {};
    const std::string_view marker = blockText.substr(start, blockText.find('>', start) - start);
    const std::size_t at = marker.find(" charset=\"");
    if (at == std::string_view::npos)
        return {};
    const std::string_view value = marker.substr(at + 10);
    return value.substr(0, value.find('"'));
}

MailboxOrigin originOfMailbox(std::string_view firstLineTerminator)
{
    return firstLineTerminator == "\r" ? MailboxOrigin::Mac : MailboxOrigin::Windows;
}

} // namespace tarnwick
