#pragma once
// Lines of the UTF-16 working text. Only CR, LF and CR LF end a line, as in the
// mailbox itself: NEL, U+2028 and U+2029 are ordinary characters here, so a header
// line holding one of them (0x85 in ISO Latin 1) does not split.

#include <cstddef>
#include <string_view>

namespace tarnwick {

struct TextLine {
    std::size_t start = 0;
    std::size_t contentsEnd = 0; // position of the terminator, or the end of the text
    std::size_t end = 0;         // position after the terminator
};

/// The line that begins at `start` (start <= text.size()).
TextLine textLineAt(std::u16string_view text, std::size_t start);

} // namespace tarnwick
