// Shift_JIS decoding on tables generated from ICU's converter: every byte and byte pair
// that ICU decodes on its own to one unit is looked up here, so text made of them gives
// ICU's units without a converter call. Anything else (an invalid or truncated
// sequence) is handed to ICU whole, which gives the verdict.
#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/ShiftJisTable.h"

#include <array>
#include <cstring>
#include <memory>

namespace tarnwick::encoding {
namespace {

constexpr char16_t kNotSingle = 0xFFFF; // no byte decodes to this noncharacter

struct Tables {
    std::array<char16_t, 256> single;
    std::array<char16_t, 128 * 256> pair{}; // (lead - 0x80) << 8 | trail; 0 for none
    bool asciiAsItself = true;              // bytes 0x00-0x7F decode to the same units
};

const Tables& tables()
{
    static const std::unique_ptr<const Tables> built = [] {
        auto t = std::make_unique<Tables>();
        t->single.fill(kNotSingle);
        for (std::size_t i = 0; i < kShiftJisMappingCount; ++i) {
            const TableMapping m = kShiftJisMappings[i];
            if (m.key < 0x100)
                t->single[m.key] = static_cast<char16_t>(m.value);
            else if (m.key >= 0x8000)
                t->pair[m.key - 0x8000u] = static_cast<char16_t>(m.value);
        }
        for (unsigned b = 0; b < 0x80; ++b)
            t->asciiAsItself &= t->single[b] == b;
        return t;
    }();
    return *built;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

} // namespace

bool shiftJisDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out)
{
    const Tables& t = tables();
    const std::size_t old = out.size();
    out.resize(old + length); // never more units than bytes
    char16_t* const dst = out.data() + old;
    const auto* src = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < length) {
        if (t.asciiAsItself) {
            for (; i + 8 <= length; i += 8, o += 8) {
                std::uint64_t word;
                std::memcpy(&word, src + i, 8);
                if (word & kHighBits)
                    break;
                for (std::size_t k = 0; k < 8; ++k)
                    dst[o + k] = src[i + k];
            }
            if (i >= length)
                break;
        }
        const unsigned char b = src[i];
        if (const char16_t unit = t.single[b]; unit != kNotSingle) {
            dst[o++] = unit;
            ++i;
            continue;
        }
        if (b >= 0x80 && i + 1 < length) {
            if (const char16_t unit = t.pair[(b - 0x80u) << 8 | src[i + 1]]; unit != 0) {
                dst[o++] = unit;
                i += 2;
                continue;
            }
        }
        out.resize(old);
        return icuDecodeAppend(entry, bytes, length, out);
    }
    out.resize(old + o);
    return true;
}

} // namespace tarnwick::encoding
