#include "engine/header/EncodedWords.h"

#include "engine/text/Ascii.h"
#include "engine/text/Base64.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace tarnwick {
namespace {

constexpr std::size_t kMaxWordLength = 75; // RFC 2047, section 2
constexpr std::size_t kMaxLineLength = 78; // RFC 5322, section 2.1.1
constexpr std::u16string_view kAsciiProbe = u"=?!*+-/_09AZaz ()<>@,;:\"\\.[]\r\n\t";

constexpr EncodingId kEncodingISO2022JP = 21;
constexpr EncodingId kEncodingISO2022KR = 0x80000840;
constexpr EncodingId kEncodingHZ = 0x80000A05;

// Shift sequences make a Q word unreadable; RFC 1468 asks for B with ISO-2022-JP.
bool needsBase64(EncodingId encoding)
{
    return encoding == kEncodingISO2022JP || encoding == kEncodingISO2022KR || encoding == kEncodingHZ;
}

// The characters that RFC 2047 (5.3) allows unencoded in a Q word inside a phrase: the
// strictest of its three places, so the words fit in comments and unstructured text too.
bool isQSafe(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' || c == '+' || c == '-'
        || c == '/';
}

std::size_t qLength(std::string_view bytes)
{
    std::size_t length = 0;
    for (const char c : bytes)
        length += isQSafe(static_cast<unsigned char>(c)) || c == ' ' ? 1 : 3;
    return length;
}

std::size_t bLength(std::size_t byteCount) { return 4 * ((byteCount + 2) / 3); }

void appendQ(std::string_view bytes, std::u16string& out)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isQSafe(byte)) {
            out.push_back(static_cast<char16_t>(byte));
        } else if (byte == ' ') {
            out.push_back(u'_');
        } else {
            out.push_back(u'=');
            out.push_back(static_cast<char16_t>(kHex[byte >> 4]));
            out.push_back(static_cast<char16_t>(kHex[byte & 0x0F]));
        }
    }
}

void appendB(std::string_view bytes, std::u16string& out)
{
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        char quantum[4];
        base64Quantum(in + i, std::min<std::size_t>(3, bytes.size() - i), quantum);
        out.append(quantum, quantum + 4);
    }
}

// The encoder must give the text back: some converters drop default-ignorable code
// points they cannot map (U+00AD in Shift_JIS) instead of failing.
bool roundTrips(std::u16string_view text, EncodingId encoding)
{
    std::string bytes;
    std::u16string back;
    return encodeText(text, encoding, bytes) && decodeAppend(bytes.data(), bytes.size(), encoding, back) && back == text;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

class WordWriter {
public:
    WordWriter(const HeaderCharset& charset, bool base64) : charset_(charset), base64_(base64) {}

    std::size_t overhead() const { return charset_.name.size() + 7; } // =?NAME?X?...?=

    // The length of the word holding `text`, or none when it cannot be encoded.
    std::optional<std::size_t> lengthOf(std::u16string_view text)
    {
        if (!encodeText(text, charset_.encoding, bytes_))
            return std::nullopt;
        return overhead() + (base64_ ? bLength(bytes_.size()) : qLength(bytes_));
    }

    // Appends the word for `text`, which lengthOf() has accepted.
    void append(std::u16string_view text, std::u16string& out)
    {
        encodeText(text, charset_.encoding, bytes_);
        out.append(u"=?");
        for (const char c : charset_.name)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
        out.append(base64_ ? u"?B?" : u"?Q?");
        if (base64_)
            appendB(bytes_, out);
        else
            appendQ(bytes_, out);
        out.append(u"?=");
    }

private:
    const HeaderCharset& charset_;
    const bool base64_;
    std::string bytes_;
};

// The end of the longest piece of `text` from `start` whose word fits in `maxLength`
// characters; at least one character, even when that one word is longer.
std::size_t pieceEnd(std::u16string_view text, std::size_t start, WordWriter& writer, std::size_t maxLength)
{
    const std::u16string_view rest = text.substr(start);
    auto clampToCharacter = [&](std::size_t end) {
        if (end < rest.size() && end > 1 && isHighSurrogate(rest[end - 1]))
            return end - 1;
        if (end < rest.size() && end == 1 && isHighSurrogate(rest[0]))
            return end + 1;
        return end;
    };
    auto fits = [&](std::size_t end) {
        const auto length = writer.lengthOf(rest.substr(0, end));
        return length && *length <= maxLength;
    };
    std::size_t low = clampToCharacter(1); // always taken
    std::size_t high = std::min(rest.size(), maxLength);
    while (low < high) {
        const std::size_t middle = clampToCharacter(low + (high - low + 1) / 2);
        if (middle <= low)
            break;
        if (fits(middle))
            low = middle;
        else
            high = middle - 1;
    }
    return start + low;
}

bool chooseBase64(std::u16string_view text, const HeaderCharset& charset)
{
    if (needsBase64(charset.encoding))
        return true;
    std::string bytes;
    encodeText(text, charset.encoding, bytes);
    return bLength(bytes.size()) < qLength(bytes);
}

} // namespace

bool appendEncodedWords(std::u16string_view text, const HeaderCharset& charset, std::u16string& out, std::vector<std::size_t>& foldPoints,
                        std::size_t firstWordLength)
{
    static constexpr HeaderCharset kUTF8{kEncodingUTF8, "utf-8"};
    // A charset that lacks a character, or whose name leaves no room for one, gives way to UTF-8.
    const HeaderCharset& used
        = charset.name.size() + 7 + 12 <= kMaxWordLength && canEncode(text, charset.encoding) && roundTrips(text, charset.encoding)
        ? charset
        : kUTF8;
    if (!canEncode(text, used.encoding))
        return false;
    WordWriter writer(used, chooseBase64(text, used));
    std::size_t start = 0;
    while (start < text.size()) {
        if (start > 0) {
            foldPoints.push_back(out.size());
            out.push_back(u' ');
        }
        const std::size_t end = pieceEnd(text, start, writer, start == 0 ? std::min(firstWordLength, kMaxWordLength) : kMaxWordLength);
        writer.append(text.substr(start, end - start), out);
        start = end;
    }
    return true;
}

void appendFolded(std::u16string_view line, const std::vector<std::size_t>& foldPoints, std::u16string_view terminator, std::u16string& out)
{
    std::size_t lineStart = 0;
    std::size_t candidate = 0; // the last fold point that keeps the current line short enough
    auto breakAt = [&](std::size_t at) {
        out.append(line.substr(lineStart, at - lineStart));
        out.append(terminator);
        lineStart = at;
    };
    for (const std::size_t point : foldPoints) {
        if (point <= lineStart || point >= line.size())
            continue;
        while (point - lineStart > kMaxLineLength) {
            if (candidate > lineStart) {
                breakAt(candidate);
            } else {
                breakAt(point); // a piece longer than a line: it ends its own line
                break;
            }
        }
        if (point > lineStart)
            candidate = point;
    }
    if (line.size() - lineStart > kMaxLineLength && candidate > lineStart)
        breakAt(candidate);
    out.append(line.substr(lineStart));
}

bool isAsciiCompatible(EncodingId encoding)
{
    std::string bytes;
    if (!encodeText(kAsciiProbe, encoding, bytes) || bytes.size() != kAsciiProbe.size())
        return false;
    return std::equal(bytes.begin(), bytes.end(), kAsciiProbe.begin(),
                      [](char b, char16_t c) { return static_cast<char16_t>(static_cast<unsigned char>(b)) == c; });
}

namespace {

int base64Digit(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return c - u'A';
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 26;
    if (c >= u'0' && c <= u'9')
        return c - u'0' + 52;
    return c == u'+' ? 62 : c == u'/' ? 63 : -1;
}

// The text of one encoded-word; none when it is not one or does not decode.
std::optional<std::u16string> decodeWord(std::u16string_view word)
{
    if (word.size() < 8 || !word.starts_with(u"=?") || !word.ends_with(u"?="))
        return std::nullopt;
    const std::u16string_view inner = word.substr(2, word.size() - 4);
    const std::size_t first = inner.find(u'?');
    if (first == std::u16string_view::npos || first == 0 || first + 2 >= inner.size() || inner[first + 2] != u'?')
        return std::nullopt;
    std::string charset;
    for (const char16_t c : inner.substr(0, first)) {
        if (c <= u' ' || c >= 0x7F)
            return std::nullopt;
        charset += static_cast<char>(c);
    }
    charset = charset.substr(0, charset.find('*')); // an RFC 2231 language suffix
    const char16_t method = inner[first + 1];
    const std::u16string_view text = inner.substr(first + 3);
    if (text.find(u'?') != std::u16string_view::npos)
        return std::nullopt;
    std::string bytes;
    if (method == u'Q' || method == u'q') {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t c = text[i];
            if (c == u'=' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 && hexDigitValue(text[i + 2]) >= 0) {
                bytes += static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2]));
                i += 2;
            } else if (c == u'_') {
                bytes += ' ';
            } else if (c > u' ' && c < 0x7F && c != u'=') {
                bytes += static_cast<char>(c);
            } else {
                return std::nullopt;
            }
        }
    } else if (method == u'B' || method == u'b') {
        unsigned bits = 0;
        int count = 0;
        std::size_t padding = 0;
        for (const char16_t c : text) {
            if (c == u'=') {
                ++padding;
                continue;
            }
            const int digit = base64Digit(c);
            if (digit < 0 || padding > 0)
                return std::nullopt;
            bits = (bits << 6) | static_cast<unsigned>(digit);
            if ((count += 6) >= 8) {
                count -= 8;
                bytes += static_cast<char>((bits >> count) & 0xFF);
            }
        }
        if ((text.size() % 4) != 0 || padding > 2)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    const PlatformEncoding platform = encodingForIANAName(charset);
    if (platform == kPlatformEncodingInvalid || !isEncodingAvailable(platform))
        return std::nullopt;
    std::u16string decoded;
    if (!decodeAppend(bytes.data(), bytes.size(), carryEncoding(platform), decoded))
        return std::nullopt;
    // Line breaks and other controls would break the field: such a word stays as written.
    for (const char16_t c : decoded) {
        if (c < u' ' && c != u'\t')
            return std::nullopt;
    }
    return decoded;
}

} // namespace

std::optional<std::u16string> decodeEncodedWords(std::u16string_view value)
{
    if (value.find(u"=?") == std::u16string_view::npos)
        return std::nullopt;
    std::u16string out;
    bool decodedAny = false;
    bool lastWasEncoded = false;
    for (std::size_t pos = 0; pos < value.size();) {
        std::size_t end = pos;
        while (end < value.size() && isBlank(value[end]))
            ++end;
        const std::u16string_view space = value.substr(pos, end - pos);
        if (end == value.size()) {
            out.append(space);
            break;
        }
        pos = end;
        while (end < value.size() && !isBlank(value[end]))
            ++end;
        const std::u16string_view word = value.substr(pos, end - pos);
        const std::optional<std::u16string> decoded = decodeWord(word);
        if (!(decoded && lastWasEncoded))
            out.append(space); // the whitespace between two encoded-words is not shown
        out.append(decoded ? std::u16string_view(*decoded) : word);
        decodedAny |= decoded.has_value();
        lastWasEncoded = decoded.has_value();
        pos = end;
    }
    if (!decodedAny)
        return std::nullopt;
    return out;
}

} // namespace tarnwick
