#pragma once
// Header text for readers that expect 7-bit headers: every field that holds non-ASCII
// text is rewritten with RFC 2047 encoded-words where RFC 5322 and RFC 2047 allow them
// (unstructured fields, display names, group names, comments) and folded again.

#include "engine/header/EncodedWords.h"
#include "engine/message/TextLines.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// Appends the header lines `header` (header fields with their continuation lines, each
/// line ended by its terminator; no separator line, no empty line) to `out`. A field
/// whose text is all ASCII is copied unchanged. A field with non-ASCII text is unfolded,
/// its encodable parts are written as encoded-words in `charset` (or UTF-8 where the
/// charset lacks a character), and it is folded into lines of at most 78 characters with
/// the terminator of its first line. Addresses (the local@domain part of a mailbox, angle
/// addresses, domain literals) are never changed. Returns the number of fields that
/// still hold non-ASCII characters: text inside an address, or outside the places where
/// encoded-words are allowed.
/// A NUL in a field is written as U+2400 SYMBOL FOR NULL ("\u2400"), so that the field
/// stays whole and shows where the NUL was.
std::size_t encodeHeaderFields(std::u16string_view header, const HeaderCharset& charset, std::u16string& out);

/// What a NUL in a header field is written as.
inline constexpr char16_t kNulSymbol = u'\u2400';

/// Whether encodeHeaderFields would change any field of `header`: it holds non-ASCII
/// text or a NUL.
bool headerNeedsEncoding(std::u16string_view header);

/// Whether encodeHeaderFields takes a field of this name for unstructured text.
bool isUnstructuredField(std::u16string_view name);

/// The lexical pieces of a structured field's value (RFC 5322, section 3.2), as the
/// rewriting of structured fields cuts them. A quoted string, comment, angle address or
/// domain literal left open runs to the end of the value; a stray closer is a piece of
/// its own; a backslash takes the next character into a word.
enum class StructuredTokenKind : std::uint8_t { Space, Word, Quoted, Comment, Angle, Literal, Separator };

struct StructuredToken {
    StructuredTokenKind kind;
    std::size_t start;
    std::size_t end; // exclusive
};

/// The pieces of a whole value.
void structuredTokens(std::u16string_view value, std::vector<StructuredToken>& tokens);

/// The text a quoted string or comment stands for: the delimiters dropped (the last
/// character only when it is the closer), quoted pairs undone.
std::u16string unquotedToken(std::u16string_view token);

} // namespace tarnwick
