#pragma once
// Case-insensitive literal comparison: Unicode simple case folding, one code point
// against one code point, with no normalisation (composed and decomposed forms differ).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// True when `text` begins with `prefix` under simple case folding.
bool startsWithFolded(std::u16string_view text, std::u16string_view prefix);

/// True when `needle` occurs anywhere in `text` under simple case folding.
bool containsFolded(std::u16string_view text, std::u16string_view needle);

/// True when the two UTF-8 texts are equal under simple case folding. Invalid UTF-8
/// bytes only ever equal the same invalid bytes.
bool equalsFoldedUTF8(std::string_view a, std::string_view b);

/// UTF-8 to UTF-16, appended to `out`; invalid sequences become U+FFFD.
void appendUTF8AsUTF16(std::string_view utf8, std::u16string& out);

} // namespace tarnwick
