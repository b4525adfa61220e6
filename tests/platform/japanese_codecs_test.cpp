// The table-driven Japanese codecs (ISO-2022-JP encoding, Shift_JIS decoding):
// reference bytes from Python's codecs, and every character of the repertoire, alone
// and among others, against ICU's own converters.
#include "platform/encodings/Iso2022JpTable.h"
#include "platform/encodings/TextEncoding.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <optional>
#include <random>
#include <vector>

namespace tarnwick {
namespace {

constexpr EncodingId kIso2022Jp = 21;

std::optional<std::string> encodeWithUs(std::u16string_view text)
{
    std::string out = "stale";
    if (!encodeText(text, kIso2022Jp, out))
        return std::nullopt;
    return out;
}

// ICU's converter as the encoding table configures it: stop at the first unmappable
// character, no fallbacks.
std::optional<std::string> encodeWithIcu(std::u16string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("ISO_2022,locale=ja,version=0", &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    std::string out(text.size() * 8 + 16, '\0');
    const auto length
        = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()), text.data(), static_cast<int32_t>(text.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// ICU's bytes where they decode back to the text; none where ICU dropped or changed a
// character (an ignorable, U+F86F), which we refuse.
std::optional<std::string> encodeWithIcuLossless(std::u16string_view text)
{
    std::optional<std::string> bytes = encodeWithIcu(text);
    if (!bytes)
        return bytes;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("ISO_2022,locale=ja,version=0", &status);
    std::u16string back(bytes->size() + 16, u'\0');
    const auto length = ucnv_toUChars(converter, back.data(), static_cast<int32_t>(back.size()), bytes->data(),
                                      static_cast<int32_t>(bytes->size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status) || back.substr(0, static_cast<std::size_t>(length)) != text)
        return std::nullopt;
    return bytes;
}

TEST(Iso2022JpEncoder, MatchesPythonsCodec)
{
    struct Case {
        std::u16string text;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {u"abc", "abc"},
        {u"あ", "\x1b$B$\"\x1b(B"},
        {u"aあいb\r\n漢字x", "a\x1b$B$\"$$\x1b(Bb\r\n\x1b$B4A;z\x1b(Bx"},
        {u"漢\r\n", "\x1b$B4A\x1b(B\r\n"},
        {u"§¨", "\x1b$B!x!/\x1b(B"},
        {u"¥‾", "\x1b(J\\~\x1b(B"}, // JIS X 0201 Roman: ICU writes it
        {u"ｱ", std::nullopt},       // half-width katakana has no place
        {u"日本ｱ", std::nullopt},
        {u"a\U0001F600", std::nullopt}, // outside the BMP
        {u"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encodeWithUs(c.text), c.expected) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(encodeWithIcu(c.text), c.expected) << "the reference itself";
    }
}

TEST(Iso2022JpEncoder, EveryBmpUnitAloneAndInContextAsIcuWhereItRoundTrips)
{
    for (unsigned unit = 0; unit < 0x10000; ++unit) {
        const auto c = static_cast<char16_t>(unit);
        for (const std::u16string& text : {std::u16string{c}, std::u16string{u'a', c, c, u'\n'}, std::u16string{u'漢', c, u'b'}}) {
            ASSERT_EQ(encodeWithUs(text), encodeWithIcuLossless(text)) << std::hex << "U+" << unit;
        }
    }
}

TEST(Iso2022JpEncoder, RandomMixturesAsIcuWhereItRoundTrips)
{
    // Units drawn mostly from ASCII and the JIS X 0208 repertoire, now and then from anywhere.
    std::vector<char16_t> kanji;
    for (std::size_t i = 0; i < encoding::kIso2022JpMappingCount; ++i) {
        if (encoding::kIso2022JpMappings[i].value > encoding::kIso2022JpIcu)
            kanji.push_back(static_cast<char16_t>(encoding::kIso2022JpMappings[i].key));
    }
    ASSERT_GT(kanji.size(), 6000u);
    std::mt19937 random(20261208);
    int written = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 100;
            if (pick < 45)
                text.push_back(static_cast<char16_t>(0x20 + random() % 0x5F));
            else if (pick < 92)
                text.push_back(kanji[random() % kanji.size()]);
            else if (pick < 96)
                text.push_back(u"\r\n\t\x1b\x0e\x0f¥‾ｱ\uFEFF"[random() % 11]);
            else
                text.push_back(static_cast<char16_t>(random() % 0x10000));
        }
        const auto ours = encodeWithUs(text);
        ASSERT_EQ(ours, encodeWithIcuLossless(text)) << "round " << round;
        written += ours.has_value();
    }
    EXPECT_GT(written, 1000) << "too few mixtures were encodable to compare bytes";
}

std::optional<std::u16string> decodeShiftJisWithUs(std::string_view bytes)
{
    std::u16string out = u"kept";
    if (!decodeAppend(bytes.data(), bytes.size(), kEncodingShiftJIS, out))
        return out == u"kept" ? std::nullopt : std::optional<std::u16string>(u"changed on failure");
    return out.substr(4);
}

std::optional<std::u16string> decodeShiftJisWithIcu(std::string_view bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("ibm-943_P15A-2003", &status);
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    std::u16string out(bytes.size() + 16, u'\0');
    const auto length
        = ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

TEST(ShiftJisDecoder, MatchesPythonsCodec)
{
    struct Case {
        std::string bytes;
        std::optional<std::u16string> expected;
    };
    const Case cases[] = {
        {"abc\r\n", u"abc\r\n"},
        {"\x93\xfa\x96\x7b\x8c\xea", u"日本語"},
        {"a\xb1\xdf b", u"aｱﾟ b"}, // half-width katakana
        {"\x81\x40\x82\xa0", u"\u3000あ"},
        {"\x93", std::nullopt},     // a lead byte cut off
        {"\x93\x0a", std::nullopt}, // a lead byte before a line end
        {"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeShiftJisWithUs(c.bytes), c.expected) << c.bytes;
        EXPECT_EQ(decodeShiftJisWithIcu(c.bytes), c.expected) << "the reference itself";
    }
}

TEST(ShiftJisDecoder, EveryByteAndPairAloneAndInContextAsIcu)
{
    for (unsigned lead = 0; lead < 0x100; ++lead) {
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            const char a = static_cast<char>(lead);
            const char b = static_cast<char>(trail);
            for (const std::string& bytes : {std::string{a, b}, std::string{'x', a, b, '\n'}, std::string{a}}) {
                ASSERT_EQ(decodeShiftJisWithUs(bytes), decodeShiftJisWithIcu(bytes)) << std::hex << lead << " " << trail;
            }
        }
    }
}

} // namespace
} // namespace tarnwick
