#pragma once
// An RFC 2047 decoder for checking the header encoder: header fields unfolded, and the
// encoded-words of a field value decoded (whitespace between adjacent words dropped).
// Kept apart from the encoder so that it does not share its mistakes.

#include "platform/encodings/TextEncoding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::testing {

struct UnfoldedField {
    std::u16string name;
    std::u16string value; // after the colon, terminators removed
    std::u16string raw;   // the field's lines as they stand
};

inline std::vector<UnfoldedField> unfoldFields(std::u16string_view header)
{
    std::vector<UnfoldedField> fields;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = pos;
        std::u16string joined;
        do {
            const std::size_t lineEnd = header.find_first_of(u"\r\n", end);
            const std::size_t contentsEnd = lineEnd == std::u16string_view::npos ? header.size() : lineEnd;
            joined.append(header.substr(end, contentsEnd - end));
            end = contentsEnd;
            if (end < header.size() && header[end] == u'\r')
                ++end;
            if (end < header.size() && header[end] == u'\n')
                ++end;
        } while (end < header.size() && (header[end] == u' ' || header[end] == u'\t'));
        UnfoldedField field;
        field.raw.assign(header.substr(pos, end - pos));
        const std::size_t colon = joined.find(u':');
        field.name = joined.substr(0, colon == std::u16string::npos ? 0 : colon);
        field.value = colon == std::u16string::npos ? joined : joined.substr(colon + 1);
        fields.push_back(std::move(field));
        pos = end;
    }
    return fields;
}

inline std::optional<std::string> decodeBase64(std::u16string_view text)
{
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char16_t c : text) {
        int v;
        if (c >= u'A' && c <= u'Z')
            v = c - u'A';
        else if (c >= u'a' && c <= u'z')
            v = c - u'a' + 26;
        else if (c >= u'0' && c <= u'9')
            v = c - u'0' + 52;
        else if (c == u'+')
            v = 62;
        else if (c == u'/')
            v = 63;
        else if (c == u'=')
            break;
        else
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            bytes.push_back(static_cast<char>(bits >> 16));
            bytes.push_back(static_cast<char>(bits >> 8));
            bytes.push_back(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        bytes.push_back(static_cast<char>(bits >> 10));
        bytes.push_back(static_cast<char>(bits >> 2));
    } else if (count == 2) {
        bytes.push_back(static_cast<char>(bits >> 4));
    }
    return bytes;
}

inline std::optional<std::string> decodeQ(std::u16string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'_') {
            bytes.push_back(' ');
        } else if (c == u'=' && i + 2 < text.size()) {
            auto hex = [](char16_t h) { return h >= u'0' && h <= u'9' ? h - u'0' : h >= u'A' && h <= u'F' ? h - u'A' + 10 : -1; };
            const int high = hex(text[i + 1]);
            const int low = hex(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (c < 0x80 && c > 0x20 && c != u'?') {
            bytes.push_back(static_cast<char>(c));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

/// One encoded-word starting at `pos` ("=?charset?B|Q?text?="): its decoded text and end.
inline std::optional<std::pair<std::u16string, std::size_t>> decodeWordAt(std::u16string_view text, std::size_t pos)
{
    if (text.substr(pos, 2) != u"=?")
        return std::nullopt;
    const std::size_t q1 = text.find(u'?', pos + 2);
    if (q1 == std::u16string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != u'?')
        return std::nullopt;
    const std::size_t close = text.find(u"?=", q1 + 3);
    if (close == std::u16string_view::npos)
        return std::nullopt;
    std::string charset;
    for (const char16_t c : text.substr(pos + 2, q1 - pos - 2))
        charset.push_back(static_cast<char>(c));
    const char16_t kind = text[q1 + 1];
    const std::u16string_view payload = text.substr(q1 + 3, close - q1 - 3);
    const auto bytes = kind == u'B' || kind == u'b' ? decodeBase64(payload) : decodeQ(payload);
    const PlatformEncoding platform = encodingForIANAName(charset);
    std::u16string decoded;
    if (!bytes || platform == kPlatformEncodingInvalid || !decodeAppend(bytes->data(), bytes->size(), carryEncoding(platform), decoded))
        return std::nullopt;
    return std::make_pair(decoded, close + 2);
}

/// The text an unstructured value (or a phrase) stands for: encoded-words decoded, the
/// whitespace between two adjacent encoded-words dropped, everything else kept.
inline std::u16string decodeText(std::u16string_view value)
{
    std::u16string out;
    std::size_t pendingSpaceStart = std::u16string::npos; // whitespace after an encoded-word
    bool lastWasWord = false;
    for (std::size_t pos = 0; pos < value.size();) {
        const bool atWordStart
            = pos == 0 || value[pos - 1] == u' ' || value[pos - 1] == u'\t' || value[pos - 1] == u'(' || value[pos - 1] == u':';
        if (atWordStart) {
            if (auto word = decodeWordAt(value, pos)) {
                const std::size_t end = word->second;
                const bool endsWord
                    = end == value.size() || value[end] == u' ' || value[end] == u'\t' || value[end] == u')' || value[end] == u'<';
                if (endsWord) {
                    if (pendingSpaceStart != std::u16string::npos && !lastWasWord)
                        out.append(value.substr(pendingSpaceStart, pos - pendingSpaceStart));
                    out.append(word->first);
                    pos = end;
                    lastWasWord = true;
                    pendingSpaceStart = std::u16string::npos;
                    continue;
                }
            }
        }
        if (value[pos] == u' ' || value[pos] == u'\t') {
            if (pendingSpaceStart == std::u16string::npos)
                pendingSpaceStart = pos;
            ++pos;
            continue;
        }
        if (pendingSpaceStart != std::u16string::npos)
            out.append(value.substr(pendingSpaceStart, pos - pendingSpaceStart));
        pendingSpaceStart = std::u16string::npos;
        lastWasWord = false;
        out.push_back(value[pos++]);
    }
    if (pendingSpaceStart != std::u16string::npos)
        out.append(value.substr(pendingSpaceStart));
    return out;
}

/// The angle addresses of an address field value, in order (quoted strings and
/// comments skipped), for checking that they come through unaltered.
inline std::vector<std::u16string> angleAddresses(std::u16string_view value)
{
    std::vector<std::u16string> addresses;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char16_t c = value[i];
        if (c == u'\\') {
            ++i;
        } else if (quoted) {
            quoted = c != u'"';
        } else if (c == u'"' && depth == 0) {
            quoted = true;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')' && depth > 0) {
            --depth;
        } else if (c == u'[' && depth == 0) {
            // A domain literal: a '<' inside it is text.
            while (i + 1 < value.size() && value[i + 1] != u']')
                i += value[i + 1] == u'\\' ? 2 : 1;
            ++i;
        } else if (c == u'<' && depth == 0) {
            // A quoted local part may hold '>': <"a>b"@example.com>.
            std::size_t close = i + 1;
            bool inQuotes = false;
            for (; close < value.size(); ++close) {
                if (value[close] == u'\\' && inQuotes)
                    ++close; // a quoted pair
                else if (value[close] == u'"')
                    inQuotes = !inQuotes;
                else if (value[close] == u'>' && !inQuotes)
                    break;
            }
            if (close >= value.size()) {
                addresses.emplace_back(value.substr(i));
                break;
            }
            addresses.emplace_back(value.substr(i, close + 1 - i));
            i = close;
        }
    }
    return addresses;
}

} // namespace tarnwick::testing
