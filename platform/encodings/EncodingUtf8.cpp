// UTF-8: ASCII runs are copied directly; everything else goes through ICU's strict
// UTF-8 routines, which reject ill-formed, overlong, surrogate and truncated sequences.
#include "platform/encodings/EncodingCodecs.h"

#include <unicode/ustring.h>

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick::encoding {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
// ICU's string functions take int32_t lengths.
constexpr std::size_t kChunk = std::size_t{1} << 30;

std::size_t copyAsciiPrefix(const char* bytes, std::size_t length, char16_t* dst)
{
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word & kHighBits)
            break;
        for (std::size_t k = 0; k < 8; ++k)
            dst[i + k] = static_cast<char16_t>(bytes[i + k]);
    }
    for (; i < length && static_cast<unsigned char>(bytes[i]) < 0x80; ++i)
        dst[i] = static_cast<char16_t>(bytes[i]);
    return i;
}

// Narrows ASCII units from `src` into `dst` 8 at a time while every unit is ASCII;
// returns how many units were done.
std::size_t narrowAscii(const char16_t* src, std::size_t length, unsigned char* dst)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 8 <= length; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, nonAscii), _mm_setzero_si128())) != 0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(units, units));
    }
#else
    (void)src, (void)length, (void)dst;
#endif
    return i;
}

} // namespace

bool utf8DecodeAppend(const char* bytes, std::size_t length, std::u16string& out)
{
    const std::size_t old = out.size();
    out.resize(old + length); // never more UTF-16 units than bytes
    char16_t* dst = out.data() + old;
    std::size_t done = copyAsciiPrefix(bytes, length, dst);
    std::size_t written = done;
    while (done < length) {
        std::size_t chunk = std::min(length - done, kChunk);
        // Do not split a sequence between chunks (a longer run of trail bytes is invalid anyway).
        for (int back = 0; back < 3 && done + chunk < length && (static_cast<unsigned char>(bytes[done + chunk]) & 0xC0) == 0x80; ++back)
            --chunk;
        UErrorCode status = U_ZERO_ERROR;
        std::int32_t produced = 0;
        u_strFromUTF8(dst + written, static_cast<std::int32_t>(length - written > kChunk ? kChunk : length - written), &produced,
                      bytes + done, static_cast<std::int32_t>(chunk), &status);
        if (U_FAILURE(status)) {
            out.resize(old);
            return false;
        }
        written += static_cast<std::size_t>(produced);
        done += chunk;
    }
    out.resize(old + written);
    return true;
}

bool utf8EncodeAppend(std::u16string_view text, std::string& out)
{
    const std::size_t old = out.size();
    out.resize(old + text.size() * 3);
    auto* dst = reinterpret_cast<unsigned char*>(out.data() + old);
    std::size_t o = 0;
    const char16_t* const src = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char32_t c = src[i];
        if (c < 0x80) {
            // A run of ASCII goes 8 units at a time; the wide path is tried only here,
            // so text without ASCII (CJK) pays nothing for it.
            if (const std::size_t run = narrowAscii(src + i, n - i, dst + o); run > 0) {
                i += run;
                o += run;
            } else {
                dst[o++] = static_cast<unsigned char>(c);
                ++i;
            }
        } else if (c < 0x800) {
            dst[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            dst[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            ++i;
        } else if (c < 0xD800 || c > 0xDFFF) {
            dst[o++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            dst[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            dst[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            ++i;
        } else if (c <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
            dst[o++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            dst[o++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            dst[o++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            dst[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            i += 2;
        } else {
            out.resize(old); // a lone surrogate has no UTF-8 form
            return false;
        }
    }
    out.resize(old + o);
    return true;
}

bool hasLoneSurrogate(std::u16string_view text)
{
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if ((c & 0xF800) != 0xD800)
            continue;
        if (c <= 0xDBFF && i + 1 < n && (text[i + 1] & 0xFC00) == 0xDC00)
            ++i;
        else
            return true;
    }
    return false;
}

} // namespace tarnwick::encoding
