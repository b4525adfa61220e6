#include "engine/message/TextLines.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

TextLine textLineAt(std::u16string_view text, std::size_t start)
{
    TextLine line;
    line.start = start;
    std::size_t i = start;
    const std::size_t size = text.size();
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    for (; i + 8 <= size; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(units, lf), _mm_cmpeq_epi16(units, cr)));
        if (mask != 0) {
            i += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
            break;
        }
    }
#endif
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
