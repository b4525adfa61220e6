#pragma once
// Eudora's styled text: an <x-rich> block holds text/enriched (RFC 1896) as Eudora
// received or wrote it (<bold>, <italic>, <fontfamily><param>Arial</param>...). A body
// that holds such blocks is written as text/enriched, which Thunderbird, Apple Mail and
// mutt show formatted: the blocks' text as it is, the text around them escaped so that
// it reads as it stood.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

/// A cheap test on a body's bytes: false when they cannot hold a rich-text block (no
/// "<x-rich>" in them). In an encoding whose ASCII bytes are its ASCII characters it is
/// true whenever richTextBody would find a block in the decoded text.
bool mayHoldRichText(std::string_view body);

/// Rewrites the body of `text` (from `bodyStart`) as text/enriched when it holds an
/// <x-rich> block: "<x-rich>" at the body's start or a line's, closed by the first
/// "</x-rich>" after it. The blocks lose their tags and keep their text, except that a
/// '<' that starts no command becomes "<<", a closing command that closes nothing open
/// goes, and the commands a block leaves open are closed at its end (at most
/// kDeepestRichText stay open; deeper ones go with their closing), so that no block
/// formats the text after it. Outside the blocks each '<' becomes "<<" and each run of
/// line breaks gains one (an enriched reader takes one line break for a space), except
/// a run that ends the body. False, `text` untouched, when the body holds no block.
bool richTextBody(std::u16string& text, std::size_t bodyStart);

/// The most commands a block keeps open at once.
inline constexpr std::size_t kDeepestRichText = 64;

} // namespace tarnwick
