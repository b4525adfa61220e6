#pragma once
// The charset field's text form: names separated by ", " (comma and one blank).

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// Splits UTF-8 text at every bare ",", trims Unicode White_Space (U+0009..U+000D,
/// U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F,
/// U+3000) from both ends of each piece, keeps pieces that trim to nothing as empty
/// names, and joins them with ", ". Text that is only white space becomes empty.
/// Bytes that are not valid UTF-8 are kept and never trimmed.
std::string normalizeCharsetText(std::string_view utf8);

/// Splits at every ", ": adjacent separators and separators at either end give empty
/// names; a text without one (the empty text included) gives one name.
std::vector<std::string> splitCharsetText(std::string_view text);

} // namespace tarnwick
