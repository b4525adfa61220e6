// Single-byte encodings run on two lookup tables built once per encoding: a byte to
// its UTF-16 unit, and every BMP code unit to its byte. Both directions are then one
// table read per character, far quicker than a converter call.
#include "platform/encodings/EncodingCodecs.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <mutex>

namespace tarnwick::encoding {
namespace {

constexpr char16_t kUndefined = kUndefinedUnit;

bool isPrivateUse(char16_t c) { return c >= 0xE000 && c <= 0xF8FF; }

std::unique_ptr<SingleByteTable> buildFromIcu(const Entry& entry)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(entry.converter, &status);
    if (U_FAILURE(status) || !converter)
        return nullptr;
    auto table = std::make_unique<SingleByteTable>();
    for (int b = 0; b < 256; ++b) {
        ucnv_reset(converter);
        status = U_ZERO_ERROR;
        ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        const char byte = static_cast<char>(b);
        const char* source = &byte;
        char16_t unit[4];
        char16_t* target = unit;
        ucnv_toUnicode(converter, &target, unit + 4, &source, &byte + 1, nullptr, true, &status);
        const bool single = U_SUCCESS(status) && target - unit == 1 && unit[0] != kUndefined;
        table->toUnicode[b] = single && !(entry.rejectPrivateUse && isPrivateUse(unit[0])) ? unit[0] : kUndefined;
    }
    // Encode only through the converter's round-trip mappings: ask it for each
    // character that some byte decodes to.
    for (int b = 0; b < 256; ++b) {
        const char16_t c = table->toUnicode[b];
        if (c == kUndefined)
            continue;
        ucnv_reset(converter);
        status = U_ZERO_ERROR;
        ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        const char16_t* source = &c;
        char out[8];
        char* target = out;
        ucnv_fromUnicode(converter, &target, out + 8, &source, &c + 1, nullptr, true, &status);
        if (U_SUCCESS(status) && target - out == 1 && table->fromUnicode[c] == 0)
            table->fromUnicode[c] = static_cast<std::uint8_t>(out[0]);
    }
    ucnv_close(converter);
    return table;
}

std::unique_ptr<SingleByteTable> buildFromHighHalf(const Entry& entry)
{
    auto table = std::make_unique<SingleByteTable>();
    for (int b = 0; b < 256; ++b) {
        const char16_t c = b < 0xA0 ? static_cast<char16_t>(b) : entry.highHalf[b - 0xA0];
        table->toUnicode[b] = c;
        table->fromUnicode[c] = static_cast<std::uint8_t>(b);
    }
    return table;
}

// Fills in what the tables tell about each byte and about ASCII.
void noteProperties(SingleByteTable& table)
{
    table.asciiAsItself = true;
    table.asciiTransparent = true;
    for (unsigned b = 0; b < 0x100; ++b) {
        const char16_t c = table.toUnicode[b];
        if (b < 0x80)
            table.asciiAsItself &= c == b;
        else
            table.asciiTransparent &= c >= 0x80;
        table.flags[b]
            = static_cast<std::uint8_t>((c == kUndefined ? kByteInvalid : 0) | (c >= 0x80 && c <= 0x9F ? kByteC1 : 0)
                                        | (c >= 0x80 ? kByteAboveAscii : 0) | (c > 0xFF && c != kUndefined ? kByteAboveLatin1 : 0));
    }
    table.asciiTransparent &= table.asciiAsItself;
    table.encodesAsciiAsItself = true;
    for (unsigned c = 1; c < 0x80; ++c)
        table.encodesAsciiAsItself &= table.fromUnicode[c] == c;
}

// Widens ASCII from `src` into `dst` 16 bytes at a time while every byte is ASCII;
// returns how many bytes were done (a multiple of 16, stopping before any block
// that holds a byte above 0x7F).
std::size_t widenAscii(const unsigned char* src, std::size_t length, char16_t* dst)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (_mm_movemask_epi8(bytes) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
#else
    (void)src, (void)length, (void)dst;
#endif
    return i;
}

} // namespace

const SingleByteTable* singleByteTable(const Entry& entry)
{
    struct Slot {
        std::once_flag once;
        std::unique_ptr<SingleByteTable> table;
    };
    // Never freed: a detached worker may still convert while the process exits.
    static Slot* const slots = new Slot[entries().size()];
    Slot& slot = slots[indexOf(entry)];
    std::call_once(slot.once, [&] {
        slot.table = entry.codec == Codec::SingleByteHigh ? buildFromHighHalf(entry) : buildFromIcu(entry);
        if (slot.table)
            noteProperties(*slot.table);
    });
    return slot.table.get();
}

bool singleByteDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out)
{
    const SingleByteTable* table = singleByteTable(entry);
    if (!table)
        return false;
    const std::size_t old = out.size();
    out.resize(old + length);
    const char16_t* map = table->toUnicode.data();
    const auto* src = reinterpret_cast<const unsigned char*>(bytes);
    char16_t* dst = out.data() + old;
    bool invalid = false;
    std::size_t i = 0;
    while (i < length) {
        if (table->asciiAsItself)
            i += widenAscii(src + i, length - i, dst + i);
        // At least one block of 16 through the table, then back to the ASCII path.
        const std::size_t end = std::min(length, i + 16);
        for (; i < end; ++i) {
            const char16_t c = map[src[i]];
            dst[i] = c;
            invalid |= c == kUndefined;
        }
    }
    if (invalid) {
        out.resize(old);
        return false;
    }
    return true;
}

bool singleByteEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out)
{
    const SingleByteTable* table = singleByteTable(entry);
    if (!table)
        return false;
    const std::size_t old = out.size();
    out.resize(old + text.size());
    const std::uint8_t* map = table->fromUnicode.data();
    char* dst = out.data() + old;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const std::uint8_t b = map[c];
        if (b == 0 && c != 0) {
            out.resize(old);
            return false;
        }
        dst[i] = static_cast<char>(b);
    }
    return true;
}

bool singleByteCanEncode(const Entry& entry, std::u16string_view text)
{
    const SingleByteTable* table = singleByteTable(entry);
    if (!table)
        return false;
    const std::uint8_t* map = table->fromUnicode.data();
    for (const char16_t c : text) {
        if (map[c] == 0 && c != 0)
            return false;
    }
    return true;
}

} // namespace tarnwick::encoding
