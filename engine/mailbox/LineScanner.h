#pragma once
// Byte line scanner: the line around a range of undecoded bytes, with CR, LF and
// CR LF (one terminator) as line ends.

#include "engine/ByteRange.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

/// Thrown for a range that does not lie within the bytes.
class RangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

/// The line (or run of lines) around a range of bytes.
struct LineBounds {
    std::uint64_t start = 0;       // first byte of the line holding the range's first position
    std::uint64_t contentsEnd = 0; // terminator of the line holding its last position, or the end of the bytes
    std::uint64_t end = 0;         // the byte after that terminator
    friend bool operator==(const LineBounds&, const LineBounds&) = default;
};

/// The bounds of the lines that the range touches. Throws RangeError for a range that
/// does not lie within the bytes.
inline LineBounds lineAround(std::string_view bytes, ByteRange range);

namespace lineScanner {

/// Throws the RangeError for a range outside the bytes (kept out of line: it is cold).
[[noreturn]] void throwRangeError();

inline bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

/// The first CR or LF in [p, end), or end. 32 bytes per step where SSE2 exists (always
/// on x86-64); loads never reach past `end`.
inline const char* findLineBreak(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const int maskA = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(a, cr), _mm_cmpeq_epi8(a, lf)));
        const int maskB = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(b, cr), _mm_cmpeq_epi8(b, lf)));
        if ((maskA | maskB) != 0) {
            const auto both = static_cast<unsigned>(maskA) | (static_cast<unsigned>(maskB) << 16);
            return p + __builtin_ctz(both);
        }
        p += 32;
    }
    if (end - p >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(a, cr), _mm_cmpeq_epi8(a, lf)));
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && !isLineBreak(*p))
        ++p;
    return p;
}

/// One bit per byte of [p, p + 64), set where the byte is CR or LF (bit i for p[i]).
/// All 64 bytes must be readable.
inline std::uint64_t lineBreakMask64(const char* p)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        mask |= static_cast<std::uint64_t>(bits) << (16 * i);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
        mask |= static_cast<std::uint64_t>(isLineBreak(p[i])) << i;
    return mask;
#endif
}

} // namespace lineScanner

// Defined here so that the stream pass, which calls it once per line, can inline it.
inline LineBounds lineAround(std::string_view bytes, ByteRange range)
{
    using lineScanner::isLineBreak;
    const std::uint64_t n = bytes.size();
    if (range.location > n || range.length > n - range.location)
        lineScanner::throwRangeError();
    const char* const b = bytes.data();
    LineBounds line;

    std::uint64_t q = range.location;
    // A location at the LF of a CR LF pair belongs to the line that the pair ends.
    if (q >= 1 && q < n && b[q - 1] == '\r' && b[q] == '\n')
        --q;
    while (q > 0 && !isLineBreak(b[q - 1]))
        --q;
    line.start = q;

    std::uint64_t e = range.length == 0 ? range.location : range.location + range.length - 1;
    // Start at the CR of a pair, so that CR LF stays one terminator.
    if (e >= 1 && e < n && b[e] == '\n' && b[e - 1] == '\r')
        --e;
    const auto t = static_cast<std::uint64_t>(lineScanner::findLineBreak(b + e, b + n) - b);
    line.contentsEnd = t;
    line.end = n;
    if (t < n)
        line.end = (b[t] == '\r' && t + 1 < n && b[t + 1] == '\n') ? t + 2 : t + 1;
    return line;
}

} // namespace tarnwick
