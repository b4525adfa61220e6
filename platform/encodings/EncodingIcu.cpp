// Multibyte and stateful encodings through ICU. ICU converters are not thread-safe and
// costly to open, so each thread keeps one open converter per encoding and resets it
// before every use. Both directions stop at the first unmappable or invalid input;
// encoding also refuses what ICU would skip or change (see EncodingRoundTrip.cpp).
#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/IcuConvertAppend.h"

#include <unicode/ucnv.h>

#include <vector>

namespace tarnwick::encoding {
namespace {

struct ConverterCache {
    std::vector<UConverter*> slots;
    ~ConverterCache()
    {
        for (UConverter* converter : slots) {
            if (converter)
                ucnv_close(converter);
        }
    }
};

UConverter* cachedConverter(const Entry& entry)
{
    thread_local ConverterCache cache;
    if (cache.slots.empty())
        cache.slots.assign(entries().size(), nullptr);
    UConverter*& slot = cache.slots[indexOf(entry)];
    if (slot) {
        ucnv_reset(slot);
        return slot;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(entry.converter, &status);
    if (U_FAILURE(status) || !converter)
        return nullptr;
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    if (U_FAILURE(status)) {
        ucnv_close(converter);
        return nullptr;
    }
    slot = converter;
    return slot;
}

} // namespace

bool icuDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out)
{
    UConverter* converter = cachedConverter(entry);
    if (!converter)
        return false;
    return convertAppend(converter, bytes, bytes + length, length + 16, true, out, ucnv_toUnicode);
}

bool icuEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out)
{
    UConverter* converter = cachedConverter(entry);
    if (!converter || !icuRoundTrips(entry, text))
        return false;
    const std::size_t capacity = text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter)) + 16;
    return convertAppend(converter, text.data(), text.data() + text.size(), capacity, true, out, ucnv_fromUnicode);
}

bool icuCanEncode(const Entry& entry, std::u16string_view text)
{
    UConverter* converter = cachedConverter(entry);
    if (!converter || !icuRoundTrips(entry, text))
        return false;
    thread_local char scratch[8192];
    const char16_t* source = text.data();
    for (;;) {
        char* target = scratch;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &target, scratch + sizeof scratch, &source, text.data() + text.size(), nullptr, true, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR)
            continue;
        return U_SUCCESS(status);
    }
}

} // namespace tarnwick::encoding
