// The charset field's text form and the encoding menu's order.
#include "settings/CharsetNamesText.h"
#include "settings/EncodingMenuOrder.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(CharsetNamesText, NormalisesAndSplits)
{
    const struct {
        const char* label;
        std::string input, expected;
    } cases[] = {
        {"ASCII blanks and bare commas", "\tutf-8,\r\n x mac\n,  sjis \x0b", "utf-8, x mac, sjis"},
        {"empty names kept", ",a, ,b,", ", a, , b, "},
        {"only white space", " \t\r\n ", ""},
        {"Unicode blanks",
         "\xc2\xa0u\xe3\x80\x80,\xe2\x80\x8a\xc2\x85"
         "e\xe2\x80\xa9\xe2\x80\xaf",
         "u, e"},
        {"zero-width space is not white space",
         "\xe2\x80\x8b"
         "a",
         "\xe2\x80\x8b"
         "a"},
        {"invalid bytes are kept", "\xff a \xa0", "\xff a \xa0"},
        {"overlong blank is not trimmed",
         "\xc0\xa0"
         "a",
         "\xc0\xa0"
         "a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalizeCharsetText(c.input), c.expected) << c.label;
    EXPECT_EQ(splitCharsetText(", a, , b,c"), (std::vector<std::string>{"", "a", "", "b,c"})) << "split at comma blank only";
    EXPECT_EQ(splitCharsetText(""), std::vector<std::string>{""}) << "empty text is one name";
}

TEST(EncodingMenuOrder, PlainCodeUnitOrderWithCanonicalEquivalence)
{
    EXPECT_LT(compareEncodingNames("Western", "arabic"), 0) << "uppercase before lowercase";
    EXPECT_LT(compareEncodingNames("Thai", "Thai (Windows)"), 0) << "prefix first";
    EXPECT_EQ(compareEncodingNames("Caf\xc3\xa9", "Cafe\xcc\x81"), 0) << "composed equals decomposed";
    // U+E000 is one UTF-16 unit above the surrogates that encode U+1F600.
    EXPECT_GT(compareEncodingNames("\xee\x80\x80", "\xf0\x9f\x98\x80"), 0) << "UTF-16 code units, not code points";

    std::vector<EncodingMenuEntry> entries = {{"Western", 30}, {"Japanese", 9}, {"arabic", 99}, {"Japanese", 8}, {"Cyrillic", 7}};
    sortEncodingMenuEntries(entries);
    std::vector<EncodingId> order;
    for (const auto& e : entries)
        order.push_back(e.encoding);
    EXPECT_EQ(order, (std::vector<EncodingId>{7, 9, 8, 30, 99})) << "sorted by name, equal names keep their order";
}

} // namespace
} // namespace tarnwick
