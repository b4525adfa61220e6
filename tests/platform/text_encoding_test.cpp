// Identifiers, carrying, name lookup, availability and names of the encoding table.
#include "platform/EncodingTable.h"
#include "platform/Localization.h"
#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <set>

namespace tarnwick {
namespace {

TEST(TextEncodingIdentifiers, CarryKeepsFoundationNumbersAndMarksTheRest)
{
    struct Case {
        PlatformEncoding platform;
        EncodingId expected;
        const char* what;
    } cases[] = {
        {1, 0x80000001, "MacJapanese"},
        {523, 0x8000020B, "ISO Latin Thai"},
        {2352, 0x80000930, "EUC-CN"},
        {0x0600, 1, "ASCII"},
        {0x08000100, 4, "UTF-8"},
        {0x0201, 5, "ISO Latin 1"},
        {0x0202, 9, "ISO Latin 2"},
        {0x0420, 8, "DOSJapanese"},
        {0x0A01, 8, "ShiftJIS"},
        {0x0920, 3, "EUC-JP"},
        {0x0820, 21, "ISO-2022-JP"},
        {0x0100, 10, "UTF-16"},
        {0x0000, 30, "MacRoman"},
        {0x0500, 12, "Windows Latin 1"},
        {0x0501, 15, "Windows Latin 2"},
        {0x0502, 11, "Windows Cyrillic"},
        {0x0503, 13, "Windows Greek"},
        {0x0504, 14, "Windows Latin 5"},
        {0x0A02, 0x80000A02, "KOI8-R"},
        {0x10000100, 0x90000100, "UTF-16BE"},
        {0x0BAD, 0x80000BAD, "a number the table does not hold"},
        {kPlatformEncodingInvalid, kPlatformEncodingInvalid, "invalid"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(carryEncoding(c.platform), c.expected) << c.what;
}

TEST(TextEncodingIdentifiers, TableIsConsistent)
{
    std::set<EncodingId> ids;
    std::set<PlatformEncoding> platforms;
    for (const encoding::Entry& entry : encoding::entries()) {
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(ids.insert(entry.id).second) << "duplicate identifier";
        EXPECT_TRUE(platforms.insert(entry.platform).second) << "duplicate platform number";
        EXPECT_NE(entry.id, 0u);
        EXPECT_NE(entry.id, kEncodingNone);
        EXPECT_EQ(carryEncoding(entry.platform), entry.id);
        // Every alias of our own leads back to its entry.
        std::string_view rest(entry.aliases);
        while (!rest.empty()) {
            const std::size_t bar = rest.find('|');
            const std::string alias(rest.substr(0, bar));
            EXPECT_EQ(encodingForIANAName(alias), entry.platform) << alias;
            rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
        }
    }
}

TEST(TextEncodingIdentifiers, EveryOfferedEncodingIsAvailableAndNamed)
{
    const std::vector<EncodingId> offered = availableEncodings();
    EXPECT_EQ(offered.size(), encoding::entries().size()) << "an encoding of the table does not open";
    EXPECT_EQ(std::set<EncodingId>(offered.begin(), offered.end()).size(), offered.size());
    for (const EncodingId id : offered) {
        const auto name = localizedEncodingName(id);
        ASSERT_TRUE(name.has_value()) << id;
        EXPECT_FALSE(name->empty()) << id;
        std::u16string text;
        EXPECT_TRUE(decodeAppend("abc", 0, id, text)) << *name;
    }
    EXPECT_FALSE(localizedEncodingName(0).has_value());
    EXPECT_FALSE(localizedEncodingName(kEncodingNone).has_value());
    EXPECT_EQ(localizedEncodingName(kEncodingShiftJIS), "Japanese (Shift JIS)");
}

TEST(TextEncodingIdentifiers, NamesGoThroughTheLocalisationTable)
{
    setTranslator([](std::string_view key) { return "T:" + std::string(key); });
    const auto name = localizedEncodingName(kEncodingUTF8);
    setTranslator({});
    EXPECT_EQ(name, "T:Unicode (UTF-8)");
}

TEST(TextEncodingLookup, RequiredCharsetsAreKnownAndAvailable)
{
    const char* names[] = {
        "US-ASCII", "UTF-8", "UTF-16", "ISO-8859-1", "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5",
        "ISO-8859-6", "ISO-8859-7", "ISO-8859-8", "ISO-8859-9", "ISO-8859-10", "ISO-8859-11", "ISO-8859-13",
        "ISO-8859-14", "ISO-8859-15", "ISO-8859-16", "windows-1250", "windows-1251", "windows-1252",
        "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258",
        "macintosh", "x-mac-centraleurroman", "x-mac-cyrillic", "x-mac-greek", "x-mac-turkish", "x-mac-japanese",
        "Shift_JIS", "EUC-JP", "ISO-2022-JP", "EUC-KR", "Big5", "EUC-CN", "GB2312", "GBK", "GB18030", "KOI8-R",
        "KOI8-U", "TIS-620",
    };
    for (const char* name : names) {
        const PlatformEncoding platform = encodingForIANAName(name);
        ASSERT_NE(platform, kPlatformEncodingInvalid) << name;
        EXPECT_TRUE(isEncodingAvailable(platform)) << name;
    }
}

TEST(TextEncodingLookup, NamesAndAliasesInAnyCase)
{
    struct Case {
        const char* name;
        PlatformEncoding expected;
    } cases[] = {
        {"shift_jis", 0x0420}, {"SHIFT_JIS", 0x0420}, {"Windows-31J", 0x0420}, {"csShiftJIS", 0x0420},
        {"x-mac-japanese", kPlatformMacJapanese}, {"X-Mac-Japanese", kPlatformMacJapanese},
        {"iso-8859-1", 0x0201}, {"LATIN1", 0x0201}, {"ISO_8859-1:1987", 0x0201}, {"macintosh", 0x0000},
        {"us-ascii", 0x0600}, {"ANSI_X3.4-1968", 0x0600}, {"utf-8", 0x08000100}, {"Utf-8", 0x08000100},
        {"iso-2022-jp", 0x0820}, {"euc-jp", 0x0920}, {"windows-1252", 0x0500}, {"gb2312", kPlatformEUCCN},
        {"csGB2312", kPlatformEUCCN}, {"tis-620", kPlatformISOLatinThai}, {"ISO-8859-8-I", 0x0208},
        {"ks_c_5601-1987", 0x0422}, {"koi8-r", 0x0A02}, {"big5-hkscs", 0x0A06}, {"utf-16le", 0x14000100},
        // unknown: ICU's loose matching must not make these known
        {"tis620", kPlatformEncodingInvalid}, {" utf-8", kPlatformEncodingInvalid}, {"utf-8 ", kPlatformEncodingInvalid},
        {"iso88591", kPlatformEncodingInvalid}, {"", kPlatformEncodingInvalid}, {"x-unknown", kPlatformEncodingInvalid},
        {"UTF-7", kPlatformEncodingInvalid}, {"gb_2312-80", kPlatformEncodingInvalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encodingForIANAName(c.name), c.expected) << '"' << c.name << '"';
    EXPECT_EQ(encodingForIANAName(std::string_view("utf-8\0x", 7)), kPlatformEncodingInvalid);
}

TEST(TextEncodingLookup, AvailabilityOfPlatformNumbers)
{
    EXPECT_TRUE(isEncodingAvailable(kPlatformMacJapanese));
    EXPECT_TRUE(isEncodingAvailable(kPlatformISOLatinThai));
    EXPECT_TRUE(isEncodingAvailable(kPlatformEUCCN));
    EXPECT_TRUE(isEncodingAvailable(0x0A01));
    EXPECT_FALSE(isEncodingAvailable(kPlatformEncodingInvalid));
    EXPECT_FALSE(isEncodingAvailable(0x0BAD));
}

TEST(TextEncodingSystem, FollowsTheLocaleCodesetWithoutChangingTheProcessLocale)
{
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    struct Case {
        const char* lcAll;
        PlatformEncoding expected;
    } cases[] = {
        {"C", 0x08000100},                 // no locale chosen: UTF-8
        {"xx_XX.ISO-8859-15", 0x020F},     // not installed: codeset taken from the name
        {"xx_XX.KOI8-R@latin", 0x0A02},
        {"xx_XX", 0x08000100},
        {"xx_XX.no-such-codeset", 0x08000100},
    };
    const char* saved = std::getenv("LC_ALL");
    const std::string savedValue = saved ? saved : "";
    for (const Case& c : cases) {
        setenv("LC_ALL", c.lcAll, 1);
        EXPECT_EQ(systemEncoding(), c.expected) << c.lcAll;
    }
    if (saved)
        setenv("LC_ALL", savedValue.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(before, std::setlocale(LC_CTYPE, nullptr));
}

} // namespace
} // namespace tarnwick
