#pragma once
// Reading the few header facts the attachment pass needs from raw message bytes:
// where the header ends, its fields, a parameter of a Content-Type, a delimiter line.

#include "platform/encodings/CaseFold.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// One header field with its continuation lines, terminators included.
struct HeaderField {
    std::string_view name;  // before the ':'
    std::string_view whole; // from the name to after the last line's terminator
};

/// The header fields of `header` (the bytes after the separator line up to the empty
/// line). A line without ':' that is not a continuation is kept as a field with an
/// empty name, so that nothing is lost when the fields are written again.
std::vector<HeaderField> headerFields(std::string_view header);

/// The offset of the first byte after the line that `start` begins.
std::size_t nextLineStart(std::string_view text, std::size_t start);

/// The offset of the empty line that ends the header of a message that begins with its
/// separator line; none when there is no empty line.
std::optional<std::size_t> headerEnd(std::string_view message);

/// The unfolded value of the first field called `name` (any letter case), at most
/// `limit` bytes, with surrounding blanks removed; empty when absent.
std::string headerValue(std::string_view header, std::string_view name, std::size_t limit);

/// The media type of a Content-Type field ("multipart/mixed"), lower case.
std::string mediaType(std::string_view field);

/// The value of the parameter `name` of a header field, quotes removed; none when absent.
std::optional<std::string> parameterValue(std::string_view field, std::string_view name);

/// Whether a line of `body` begins with "--" followed by `boundary`. The decoded text's
/// form goes from line start to line start.
bool hasDelimiterLine(std::u16string_view body, std::string_view boundary);

/// Whether a line of `body` begins with "--" followed by `boundary`.
template <typename Char> bool hasDelimiterLine(std::basic_string_view<Char> body, std::string_view boundary)
{
    if (boundary.empty())
        return false;
    std::basic_string<Char> delimiter;
    delimiter += Char('-');
    delimiter += Char('-');
    for (const char c : boundary)
        delimiter += Char(static_cast<unsigned char>(c));
    for (std::size_t at = body.find(delimiter); at != std::basic_string_view<Char>::npos; at = body.find(delimiter, at + 1)) {
        if (at == 0 || body[at - 1] == Char('\n') || body[at - 1] == Char('\r'))
            return true;
    }
    return false;
}

} // namespace tarnwick
