// Mac Japanese: Shift_JIS plus Apple's single-byte characters. Bytes 0xA0, 0xFD, 0xFE,
// 0xFF are NO-BREAK SPACE, COPYRIGHT SIGN, TRADE MARK SIGN and HORIZONTAL ELLIPSIS; 0x80
// is REVERSE SOLIDUS. These runs are cut out at character boundaries and the rest is
// handed to ICU's Shift_JIS. Encoding writes U+00A0, U+00A9 and U+2122 as their single
// bytes; U+2026 and U+005C keep their Shift_JIS forms (0x81 0x63 and 0x5C), so 0x80 and
// 0xFF are decoded only.
#include "platform/encodings/EncodingCodecs.h"

#include <array>

namespace tarnwick::encoding {
namespace {

enum ByteClass : unsigned char { kPlain, kLead, kSpecial };

constexpr auto kByteClasses = [] {
    std::array<unsigned char, 256> classes{};
    for (int b = 0x81; b <= 0x9F; ++b)
        classes[b] = kLead;
    for (int b = 0xE0; b <= 0xFC; ++b)
        classes[b] = kLead;
    for (int b : {0x80, 0xA0, 0xFD, 0xFE, 0xFF})
        classes[b] = kSpecial;
    return classes;
}();

char16_t decodeSpecial(unsigned char b)
{
    switch (b) {
    case 0x80:
        return u'\\';
    case 0xA0:
        return 0x00A0;
    case 0xFD:
        return 0x00A9;
    case 0xFE:
        return 0x2122;
    case 0xFF:
        return 0x2026;
    default:
        return 0;
    }
}

int encodeSpecial(char16_t c)
{
    switch (c) {
    case 0x00A0:
        return 0xA0;
    case 0x00A9:
        return 0xFD;
    case 0x2122:
        return 0xFE;
    default:
        return -1;
    }
}

} // namespace

bool macJapaneseDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out)
{
    const std::size_t old = out.size();
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < length) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const unsigned char byteClass = kByteClasses[b];
        if (byteClass != kSpecial) [[likely]] {
            // A lead byte's trail, whatever it is, belongs to its character; ICU judges it.
            // (Branch-free step: mixed one- and two-byte text defeats branch prediction.)
            i += 1u + byteClass;
            continue;
        }
        const char16_t special = decodeSpecial(b);
        if (i > runStart && !icuDecodeAppend(entry, bytes + runStart, i - runStart, out)) {
            out.resize(old);
            return false;
        }
        out.push_back(special);
        runStart = ++i;
    }
    if (runStart < length && !icuDecodeAppend(entry, bytes + runStart, length - runStart, out)) {
        out.resize(old);
        return false;
    }
    return true;
}

bool macJapaneseEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out)
{
    const std::size_t old = out.size();
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int special = encodeSpecial(text[i]);
        if (special < 0)
            continue;
        if (i > runStart && !icuEncodeAppend(entry, text.substr(runStart, i - runStart), out)) {
            out.resize(old);
            return false;
        }
        out.push_back(static_cast<char>(special));
        runStart = i + 1;
    }
    if (runStart < text.size() && !icuEncodeAppend(entry, text.substr(runStart), out)) {
        out.resize(old);
        return false;
    }
    return true;
}

bool macJapaneseCanEncode(const Entry& entry, std::u16string_view text)
{
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (encodeSpecial(text[i]) < 0)
            continue;
        if (i > runStart && !icuCanEncode(entry, text.substr(runStart, i - runStart)))
            return false;
        runStart = i + 1;
    }
    return runStart >= text.size() || icuCanEncode(entry, text.substr(runStart));
}

} // namespace tarnwick::encoding
