// Characters that ICU's converters would skip or change (default-ignorables that a charset
// lacks, extension mappings that decode to another character) make text not encodable:
// every offered encoding either writes them as bytes that decode back, or refuses them.
#include "platform/encodings/TextEncoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

std::u16string utf16(char32_t cp)
{
    if (cp < 0x10000)
        return std::u16string(1, static_cast<char16_t>(cp));
    return {static_cast<char16_t>(0xD7C0 + (cp >> 10)), static_cast<char16_t>(0xDC00 | (cp & 0x3FF))};
}

TEST(EncodingRoundTrip, EveryEncodingWritesAnIgnorableBackOrRefusesIt)
{
    // Default-ignorables (BMP and supplementary), the Hangul fillers, a private-use
    // character that Big5-HKSCS writes as a standard one, and Shift_JIS's U+F86F.
    const char32_t points[]
        = {0x00AD, 0x034F, 0x061C, 0x115F, 0x1160, 0x17B4, 0x180B,  0x180E,  0x200B,  0x200C,  0x200D,  0x200E,  0x202E,  0x2060, 0x2064,
           0x206F, 0x3164, 0xFE00, 0xFE0F, 0xFEFF, 0xFFA0, 0x1D173, 0x1BCA0, 0xE0001, 0xE0020, 0xE0100, 0xE01EF, 0xE0FFF, 0xE000, 0xF86F};
    const std::u16string contexts[][2] = {{u"", u""}, {u"a", u"b"}, {u"\u3042", u"\u6F22"}, {u"\u00E9", u"x"}};
    int refused = 0;
    for (const EncodingId id : availableEncodings()) {
        const std::string name = encodingDisplayName(id).value_or("?");
        for (const char32_t cp : points) {
            for (const auto& context : contexts) {
                const std::u16string text = context[0] + utf16(cp) + context[1];
                const bool can = canEncode(text, id);
                std::string bytes = "stale";
                const bool encoded = encodeText(text, id, bytes);
                EXPECT_EQ(can, encoded) << name << " U+" << std::hex << unsigned(cp);
                if (!encoded) {
                    ++refused;
                    continue;
                }
                std::u16string back;
                EXPECT_TRUE(decodeAppend(bytes.data(), bytes.size(), id, back)) << name << " U+" << std::hex << unsigned(cp);
                EXPECT_EQ(back, text) << name << " U+" << std::hex << unsigned(cp) << " is lost or changed";
            }
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(EncodingRoundTrip, SoftHyphenLeavesShiftJisForAnEncodingThatHasIt)
{
    const std::u16string text = u"\u65E5\u672C\u00ADgo";
    const struct Case {
        EncodingId id;
        bool encodable;
    } cases[] = {{kEncodingShiftJIS, false}, {kEncodingMacJapanese, false}, {21, false}, {3, false}, {kEncodingUTF8, true}, {10, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(canEncode(text, c.id), c.encodable) << c.id;
        std::string bytes;
        EXPECT_EQ(encodeText(text, c.id, bytes), c.encodable) << c.id;
        EXPECT_EQ(bytes.empty(), !c.encodable) << c.id;
    }
    // Text without such a character is untouched: ASCII and kanji as before.
    std::string bytes;
    ASSERT_TRUE(encodeText(u"\u65E5\u672Cgo", kEncodingShiftJIS, bytes));
    EXPECT_EQ(bytes, "\x93\xfa\x96\x7bgo");
}

} // namespace
} // namespace tarnwick
