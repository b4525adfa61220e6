#include "engine/header/MimeHeader.h"

#include "engine/message/TextLines.h"
#include "engine/text/Ascii.h"

#include <algorithm>

namespace tarnwick {
namespace {

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (isBlank(text.front()) || isLineBreak(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || isLineBreak(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::size_t nextLineStart(std::string_view text, std::size_t start)
{
    std::size_t at = start;
    while (at < text.size() && !isLineBreak(text[at]))
        ++at;
    if (at < text.size())
        at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    return at;
}

std::optional<std::size_t> headerEnd(std::string_view message)
{
    std::size_t at = nextLineStart(message, 0);
    while (at < message.size()) {
        if (isLineBreak(message[at]))
            return at;
        at = nextLineStart(message, at);
    }
    return std::nullopt;
}

std::vector<HeaderField> headerFields(std::string_view header)
{
    std::vector<HeaderField> fields;
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t start = at;
        at = nextLineStart(header, at);
        while (at < header.size() && isBlank(header[at]))
            at = nextLineStart(header, at);
        const std::string_view whole = header.substr(start, at - start);
        const std::size_t colon = whole.find(':');
        const std::size_t lineEnd = whole.find_first_of("\r\n");
        const bool named = colon != std::string_view::npos && colon < lineEnd;
        fields.push_back({named ? trimmed(whole.substr(0, colon)) : std::string_view(), whole});
    }
    return fields;
}

std::string headerValue(std::string_view header, std::string_view name, std::size_t limit)
{
    for (const HeaderField& field : headerFields(header)) {
        if (!equalsAsciiFolded(field.name, name))
            continue;
        std::string value;
        const std::string_view raw = field.whole.substr(field.whole.find(':') + 1);
        for (const char c : trimmed(raw)) {
            if (isLineBreak(c))
                continue;
            if (value.size() >= limit)
                break;
            value += c;
        }
        return value;
    }
    return {};
}

std::string mediaType(std::string_view field)
{
    std::string_view value = field.substr(field.find(':') == std::string_view::npos ? 0 : field.find(':') + 1);
    value = trimmed(value.substr(0, value.find(';')));
    std::string type;
    for (const char c : value) {
        if (!isBlank(c) && !isLineBreak(c))
            type += asciiLower(c);
    }
    return type;
}

std::optional<std::string> parameterValue(std::string_view field, std::string_view name)
{
    std::size_t at = field.find(';');
    while (at != std::string_view::npos) {
        std::size_t start = at + 1;
        while (start < field.size() && (isBlank(field[start]) || isLineBreak(field[start])))
            ++start;
        const std::size_t equals = field.find('=', start);
        if (equals == std::string_view::npos)
            return std::nullopt;
        const std::string_view attribute = trimmed(field.substr(start, equals - start));
        std::size_t valueStart = equals + 1;
        while (valueStart < field.size() && isBlank(field[valueStart]))
            ++valueStart;
        std::string value;
        std::size_t end = valueStart;
        if (valueStart < field.size() && field[valueStart] == '"') {
            for (end = valueStart + 1; end < field.size() && field[end] != '"'; ++end) {
                if (field[end] == '\\' && end + 1 < field.size())
                    ++end;
                if (!isLineBreak(field[end]))
                    value += field[end];
            }
        } else {
            while (end < field.size() && field[end] != ';' && !isBlank(field[end]) && !isLineBreak(field[end]))
                value += field[end++];
        }
        if (equalsAsciiFolded(attribute, name))
            return value;
        at = field.find(';', end);
    }
    return std::nullopt;
}

bool hasDelimiterLine(std::u16string_view body, std::string_view boundary)
{
    if (boundary.empty())
        return false;
    std::u16string delimiter = u"--";
    for (const char c : boundary)
        delimiter += static_cast<char16_t>(static_cast<unsigned char>(c));
    // Every place after a CR or LF is a line start; the one between the CR and the LF of
    // a CR LF holds the LF, which no delimiter begins with, so lines as textLineAt cuts
    // them are all that need trying.
    for (std::size_t at = 0; at < body.size(); at = textLineAt(body, at).end) {
        if (body.substr(at, delimiter.size()) == delimiter)
            return true;
    }
    return false;
}

} // namespace tarnwick
