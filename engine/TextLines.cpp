#include "engine/TextLines.h"

namespace tarnwick {

TextLine textLineAt(std::u16string_view text, std::size_t start)
{
    TextLine line;
    line.start = start;
    std::size_t i = start;
    const std::size_t size = text.size();
    while (i < size && text[i] != u'\n' && text[i] != u'\r')
        ++i;
    line.contentsEnd = i;
    if (i < size) {
        // CR LF is one terminator; a lone CR or LF ends a line by itself.
        i += (text[i] == u'\r' && i + 1 < size && text[i + 1] == u'\n') ? 2 : 1;
    }
    line.end = i;
    return line;
}

} // namespace tarnwick
