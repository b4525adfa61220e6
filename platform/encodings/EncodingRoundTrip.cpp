// ICU's converters skip a default-ignorable character (SOFT HYPHEN, ZERO WIDTH SPACE,
// variation selectors, ...) that the charset cannot map, even with the stop callback,
// and some extension tables write a character as bytes that decode to another one
// (Big5-HKSCS private-use characters). Such a character is not encodable: the check
// here keeps, per encoding, the code points outside ICU's round-trip set and refuses
// text holding one, so that no character is dropped or changed without a word.
#include "platform/encodings/EncodingCodecs.h"

#include <unicode/ucnv.h>
#include <unicode/uset.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tarnwick::encoding {
namespace {

struct LossySet {
    std::array<std::uint64_t, 1024> bmp{}; // one bit per BMP code point outside the round-trip set
    USet* roundTrip = nullptr;             // frozen; answers for supplementary code points
    bool holdsBmp(char16_t c) const { return (bmp[c >> 6] >> (c & 63)) & 1; }
};

std::unique_ptr<LossySet> buildLossySet(const Entry& entry)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(entry.converter, &status);
    if (U_FAILURE(status) || !converter)
        return nullptr;
    auto set = std::make_unique<LossySet>();
    set->roundTrip = uset_openEmpty();
    ucnv_getUnicodeSet(converter, set->roundTrip, UCNV_ROUNDTRIP_SET, &status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        uset_close(set->roundTrip);
        return nullptr;
    }
    uset_freeze(set->roundTrip);
    for (UChar32 c = 0x80; c < 0x10000; ++c) {
        if (!uset_contains(set->roundTrip, c))
            set->bmp[c >> 6] |= std::uint64_t{1} << (c & 63);
    }
    return set;
}

const LossySet* lossySetFor(const Entry& entry)
{
    struct Slot {
        std::once_flag once;
        std::unique_ptr<LossySet> set;
    };
    // Never freed: a detached worker may still convert while the process exits.
    static Slot* const slots = new Slot[entries().size()];
    Slot& slot = slots[indexOf(entry)];
    std::call_once(slot.once, [&] { slot.set = buildLossySet(entry); });
    return slot.set.get();
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

} // namespace

bool icuRoundTrips(const Entry& entry, std::u16string_view text)
{
    const LossySet* set = nullptr;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x80) [[likely]]
            continue;
        if (!set && !(set = lossySetFor(entry)))
            return false;
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            const UChar32 cp = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            if (!uset_contains(set->roundTrip, cp))
                return false;
            ++i;
        } else if (!isLowSurrogate(c) && !isHighSurrogate(c) && set->holdsBmp(c)) {
            return false; // a lone surrogate is left for ICU to refuse
        }
    }
    return true;
}

} // namespace tarnwick::encoding
