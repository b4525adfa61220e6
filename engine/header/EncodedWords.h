#pragma once
// RFC 2047 encoded-words for header text, and the folding of a rewritten header field
// into lines of at most 78 characters.

#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// The charset in which header text is carried: the encoding and the name written into
/// each encoded-word (the output charset's name as the user wrote it).
struct HeaderCharset {
    EncodingId encoding = kEncodingUTF8;
    std::string_view name = "utf-8";
};

/// Encodes `text` as one or more encoded-words of at most 75 characters each, separated
/// by single spaces, and appends them to `out`; the position of every separating space
/// is added to `foldPoints`. The words use only characters allowed in a phrase and a
/// comment, so they fit every place RFC 2047 allows. B encoding for stateful charsets
/// (ISO-2022-JP), otherwise Q or B, whichever is shorter. Each word decodes on its own,
/// and a character is never split between words. When `charset` cannot write a
/// character of `text`, the words are written in UTF-8 instead. Returns false, and
/// appends nothing, only when not even UTF-8 can write the text (a lone surrogate).
/// The first word is at most `firstWordLength` characters where one character fits.
bool appendEncodedWords(std::u16string_view text, const HeaderCharset& charset, std::u16string& out, std::vector<std::size_t>& foldPoints,
                        std::size_t firstWordLength = 75);

/// The text of an unstructured value with its RFC 2047 encoded-words decoded: each
/// whitespace-delimited word of the form =?charset?B|Q?text?= whose bytes read in a
/// known charset becomes its text, and the whitespace between two such words goes (as
/// a reader would show it). None when the value holds no such word; a word that does
/// not decode stays as written.
std::optional<std::u16string> decodeEncodedWords(std::u16string_view value);

/// Appends `line` to `out`, broken before some of `foldPoints` (positions of whitespace
/// in `line`, ascending) with `terminator`, so that every line is at most 78 characters
/// where the fold points allow it. Unfolding (removing each inserted terminator) gives
/// `line` back.
void appendFolded(std::u16string_view line, const std::vector<std::size_t>& foldPoints, std::u16string_view terminator,
                  std::u16string& out);

/// True when the encoding writes the ASCII characters of header text as ASCII bytes.
bool isAsciiCompatible(EncodingId encoding);

} // namespace tarnwick
