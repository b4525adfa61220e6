// ISO-2022-JP encoding without ICU's per-character state machine. Text made only of
// ASCII and JIS X 0208 characters is written here, switching with ESC ( B and ESC $ B
// exactly where ICU switches; text holding anything else (a surrogate pair, the two JIS
// X 0201 Roman characters) is handed to ICU whole. A unit that ICU refuses, drops
// or writes as another character on its own fails at once.
#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/Iso2022JpTable.h"

#include <array>
#include <memory>

namespace tarnwick::encoding {
namespace {

using UnitTable = std::array<std::uint16_t, 0x10000>;

const UnitTable& unitTable()
{
    static const std::unique_ptr<const UnitTable> table = [] {
        auto built = std::make_unique<UnitTable>();
        built->fill(kIso2022JpUnmappable);
        for (std::size_t i = 0; i < kIso2022JpMappingCount; ++i)
            (*built)[kIso2022JpMappings[i].key] = kIso2022JpMappings[i].value;
        return built;
    }();
    return *table;
}

enum class Outcome { Written, Unmappable, NeedsIcu };

// Appends the encoding of `text` to `out`, which is left longer on any outcome.
Outcome encodeAppendFast(std::u16string_view text, std::string& out)
{
    const UnitTable& table = unitTable();
    // At most 5 bytes per unit (an escape and two bytes) plus the closing escape.
    std::size_t at = out.size();
    out.resize(at + text.size() * 2 + 16);
    bool kanji = false;
    for (const char16_t unit : text) {
        if (out.size() - at < 8)
            out.resize(out.size() * 2);
        char* p = out.data() + at;
        const std::uint16_t value = table[unit];
        if (value == kIso2022JpAscii) {
            if (kanji) {
                p[0] = '\x1b', p[1] = '(', p[2] = 'B';
                p += 3;
                kanji = false;
            }
            *p++ = static_cast<char>(unit);
        } else if (value > kIso2022JpIcu) {
            if (!kanji) {
                p[0] = '\x1b', p[1] = '$', p[2] = 'B';
                p += 3;
                kanji = true;
            }
            p[0] = static_cast<char>(value >> 8);
            p[1] = static_cast<char>(value & 0xFF);
            p += 2;
        } else {
            return value == kIso2022JpUnmappable ? Outcome::Unmappable : Outcome::NeedsIcu;
        }
        at = static_cast<std::size_t>(p - out.data());
    }
    out.resize(at);
    if (kanji)
        out.append("\x1b(B");
    return Outcome::Written;
}

} // namespace

bool iso2022JpEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out)
{
    const std::size_t old = out.size();
    switch (encodeAppendFast(text, out)) {
    case Outcome::Written:
        return true;
    case Outcome::Unmappable:
        out.resize(old);
        return false;
    case Outcome::NeedsIcu:
        break;
    }
    out.resize(old);
    return icuEncodeAppend(entry, text, out);
}

} // namespace tarnwick::encoding
