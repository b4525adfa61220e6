// The charset field's text form and the encoding menu's order, shared by the window
// and tarnwick-cli.
#include "settings/CharsetNamesText.h"
#include "settings/EncodingMenuOrder.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwick {
namespace {

TEST(CharsetNamesText, NormalisesToCommaBlankForm)
{
    struct Case {
        const char* label;
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"already normal", "utf-8, tis-620, shift_jis", "utf-8, tis-620, shift_jis"},
        {"bare commas", "utf-8,tis-620,shift_jis", "utf-8, tis-620, shift_jis"},
        {"tabs and line breaks", "\tutf-8 ,\r\n tis-620\n,  shift_jis \x0b", "utf-8, tis-620, shift_jis"},
        {"blank inside a name stays", " x mac , y", "x mac, y"},
        {"empty name between commas", "a, ,b", "a, , b"},
        {"trailing comma", "a,", "a, "},
        {"leading comma", ",a", ", a"},
        {"empty text", "", ""},
        {"only white space", " \t\r\n ", ""},
        {"NBSP and ideographic space", "\xc2\xa0utf-8\xe3\x80\x80,\xe2\x80\x8a" "euc-jp\xe2\x80\xa9", "utf-8, euc-jp"},
        {"NEL and narrow NBSP", "\xc2\x85" "a\xe2\x80\xaf", "a"},
        {"zero-width space is not white space", "\xe2\x80\x8b" "a", "\xe2\x80\x8b" "a"},
        {"invalid bytes are kept", "\xff a \xa0", "\xff a \xa0"},
        {"overlong blank is not trimmed", "\xc0\xa0" "a", "\xc0\xa0" "a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalizeCharsetText(c.input), c.expected) << c.label;
}

TEST(CharsetNamesText, SplitsAtCommaBlankOnly)
{
    struct Case {
        std::string input;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"utf-8, tis-620", {"utf-8", "tis-620"}},
        {"utf-8,tis-620", {"utf-8,tis-620"}},
        {"", {""}},
        {"a, , b", {"a", "", "b"}},
        {", a, ", {"", "a", ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitCharsetText(c.input), c.expected) << "input: '" << c.input << "'";
}

TEST(EncodingMenuOrder, PlainCodeUnitOrderWithCanonicalEquivalence)
{
    EXPECT_LT(compareEncodingNames("Western", "arabic"), 0) << "uppercase before lowercase";
    EXPECT_LT(compareEncodingNames("Thai", "Thai (Windows)"), 0) << "prefix first";
    EXPECT_EQ(compareEncodingNames("Caf\xc3\xa9", "Cafe\xcc\x81"), 0) << "composed equals decomposed";
    // U+FF21 (one UTF-16 unit) sorts before U+1F600 (a surrogate pair, 0xD83D...)
    // in code-unit order, though its code point is smaller either way; U+E000 sorts
    // after the surrogates in code-unit order but before them by code point.
    EXPECT_GT(compareEncodingNames("\xee\x80\x80", "\xf0\x9f\x98\x80"), 0) << "UTF-16 code units, not code points";

    std::vector<EncodingMenuEntry> entries = {
        {"Western (Mac OS Roman)", 30}, {"Japanese (Shift JIS)", 8}, {"Unicode (UTF-8)", 4},
        {"arabic lowercase", 99}, {"Japanese (Shift JIS)", 0x80000A01}, {"Cyrillic", 0x80000A02},
    };
    sortEncodingMenuEntries(entries);
    std::vector<std::pair<std::string, EncodingId>> got;
    for (const auto& e : entries)
        got.emplace_back(e.name, e.encoding);
    const std::vector<std::pair<std::string, EncodingId>> expected = {
        {"Cyrillic", 0x80000A02}, {"Japanese (Shift JIS)", 8}, {"Japanese (Shift JIS)", 0x80000A01},
        {"Unicode (UTF-8)", 4}, {"Western (Mac OS Roman)", 30}, {"arabic lowercase", 99},
    };
    EXPECT_EQ(got, expected) << "sorted by name, equal names keep their order";
}

} // namespace
} // namespace tarnwick
