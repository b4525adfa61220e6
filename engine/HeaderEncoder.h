#pragma once
// Header text for readers that expect 7-bit headers: every field that holds non-ASCII
// text is rewritten with RFC 2047 encoded-words where RFC 5322 and RFC 2047 allow them
// (unstructured fields, display names, group names, comments) and folded again.

#include "engine/EncodedWords.h"

#include <cstddef>
#include <string>
#include <string_view>

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
std::size_t encodeHeaderFields(std::u16string_view header, const HeaderCharset& charset, std::u16string& out);

} // namespace tarnwick
