#include "engine/text/AutomaticEncoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr EncodingId kMacRoman = 30;
constexpr EncodingId kWindows1252 = 12;
constexpr EncodingId kISO2022JP = 21;

// "お世話になっております。会議の資料を送付します。..." in Shift_JIS (Python's codec).
const std::string kShiftJIS = "\x82\xA8\x90\xA2\x98\x62\x82\xC9\x82\xC8\x82\xC1\x82\xC4\x82\xA8\x82\xE8\x82\xDC\x82\xB7\x81\x42\x89\xEF\x8B"
                              "\x63\x82\xCC\x8E\x91\x97\xBF\x82\xF0\x91\x97\x95\x74\x82\xB5\x82\xDC\x82\xB7\x81\x42\x82\xE6\x82\xEB\x82\xB5"
                              "\x82\xAD\x82\xA8\x8A\xE8\x82\xA2\x90\x5C\x82\xB5\x8F\xE3\x82\xB0\x82\xDC\x82\xB7\x81\x42\x97\x88\x8F\x54\x82"
                              "\xCC\x91\xC5\x82\xBF\x8D\x87\x82\xED\x82\xB9\x82\xC9\x82\xC2\x82\xA2\x82\xC4\x82\xB2\x98\x41\x97\x8D\x82\xA2"
                              "\x82\xBD\x82\xB5\x82\xDC\x82\xB7\x81\x42";

TEST(AutomaticEncoding, ChoosesPerMessage)
{
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        const char* declared;
        MailboxOrigin origin;
        const char* language;
        EncodingId expected;
        EncodingChoice choice;
    };
    const std::string header = "Subject: hello\r\n\r\n";
    // clang-format off
    const Case cases[] = {
        {"ascii only", {header, "plain text\r\n"}, "", MailboxOrigin::Windows, "", kEncodingUTF8, EncodingChoice::Ascii},
        {"utf-8 text", {header, "caf\xC3\xA9\r\n"}, "", MailboxOrigin::Mac, "", kEncodingUTF8, EncodingChoice::Utf8},
        {"windows legacy", {header, "caf\xE9 cr\xE8me\r\n"}, "", MailboxOrigin::Windows, "", kWindows1252, EncodingChoice::Legacy},
        {"mac legacy", {header, "caf\x8E cr\x8Fme\r"}, "", MailboxOrigin::Mac, "", kMacRoman, EncodingChoice::Legacy},
        {"byte undefined in windows-1252 reads as mac", {header, "\x81ngstr\x9Am\r\n"}, "", MailboxOrigin::Windows, "",
         kMacRoman, EncodingChoice::Legacy},
        {"declared charset that decodes", {header, "caf\xE9\r\n"}, "iso-8859-1", MailboxOrigin::Windows, "",
         kEncodingISOLatin1, EncodingChoice::Declared},
        {"declared latin-1 in a mac mailbox is stored as mac roman", {header, "caf\x8E\r"}, "iso-8859-1",
         MailboxOrigin::Mac, "", kMacRoman, EncodingChoice::Declared},
        {"declared latin-1 with C1 bytes is not clean", {header, "caf\x8E\r\n"}, "iso-8859-1", MailboxOrigin::Windows,
         "", kWindows1252, EncodingChoice::Legacy},
        {"declared utf-8 that is not", {header, "caf\xE9\r\n"}, "utf-8", MailboxOrigin::Windows, "", kWindows1252,
         EncodingChoice::Legacy},
        {"declared iso-2022-jp", {header, "\x1B$B$3$s\x1B(B\r\n"}, "ISO-2022-JP", MailboxOrigin::Windows, "", kISO2022JP,
         EncodingChoice::Declared},
        {"undeclared iso-2022-jp", {header, "\x1B$B$3$s\x1B(B\r\n"}, "", MailboxOrigin::Windows, "", kISO2022JP,
         EncodingChoice::Detected},
        {"unknown declared charset", {header, "caf\xE9\r\n"}, "x-unknown", MailboxOrigin::Windows, "", kWindows1252,
         EncodingChoice::Legacy},
        {"japanese locale", {header, kShiftJIS}, "", MailboxOrigin::Windows, "ja_jp", kEncodingShiftJIS,
         EncodingChoice::Legacy},
        {"japanese locale, mac mailbox", {header, kShiftJIS}, "", MailboxOrigin::Mac, "ja", kEncodingMacJapanese,
         EncodingChoice::Legacy},
        {"japanese with a stray no-break space", {header, "TEL\xA0" + kShiftJIS}, "Shift_JIS", MailboxOrigin::Windows,
         "ja", kEncodingMacJapanese, EncodingChoice::Legacy},
        {"japanese text in a western locale", {header, kShiftJIS}, "", MailboxOrigin::Windows, "de_de",
         kEncodingShiftJIS, EncodingChoice::Detected},
        {"western text in a japanese locale", {header, "caf\xE9 cr\xE8me br\xFBl\xE9" "e\r\n"}, "", MailboxOrigin::Windows,
         "ja", kWindows1252, EncodingChoice::LastResort},
        {"cyrillic locale", {header, "\xCF\xF0\xE8\xE2\xE5\xF2\r\n"}, "", MailboxOrigin::Windows, "ru_ru", 11,
         EncodingChoice::Legacy},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string_view> pieces(c.pieces.begin(), c.pieces.end());
        AutomaticSource source{c.origin, &familyForLanguage(c.language)};
        const SourceEncoding chosen = chooseSourceEncoding(pieces, c.declared, source);
        EXPECT_EQ(chosen.encoding, c.expected) << c.name;
        EXPECT_EQ(static_cast<int>(chosen.choice), static_cast<int>(c.choice)) << c.name;
    }
}

TEST(AutomaticEncoding, ReadsCharsetNames)
{
    struct Case {
        const char* name;
        std::string header;
        const char* expected;
    };
    const Case cases[] = {
        {"quoted", "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n", "ISO-2022-JP"},
        {"bare, any case", "content-type: text/plain; CHARSET=utf-8; format=flowed\n", "utf-8"},
        {"on a continuation line", "Content-Type: text/plain;\r\n\tcharset=windows-1252\r\nX: y\r\n", "windows-1252"},
        {"not in the next field", "Content-Type: text/plain\r\nX-Other: charset=utf-8\r\n", ""},
        {"only Content-Type counts", "X-Content-Type: text/plain; charset=utf-8\r\n", ""},
        {"none", "Subject: charset=utf-8\r\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(declaredCharset(c.header), c.expected) << c.name;

    EXPECT_EQ(namedEncoding("iso-8859-1/macintosh"), kMacRoman); // received/stored: the bytes are Mac Roman
    EXPECT_EQ(namedEncoding("UTF-8"), kEncodingUTF8);
    EXPECT_EQ(namedEncoding("bogus"), kEncodingNone);

    EXPECT_EQ(markerCharset("<!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"UTF-8\">\r<p>"), "UTF-8");
    EXPECT_EQ(markerCharset("\r\n<!x-stuff-for-pete id=\"1\" charset=\"iso-8859-1/macintosh\">"), "iso-8859-1/macintosh");
    EXPECT_EQ(markerCharset("<p><!x-stuff-for-pete charset=\"UTF-8\">"), "");
    EXPECT_EQ(markerCharset("<!x-stuff-for-pete base=\"\">"), "");
}

TEST(AutomaticEncoding, FamiliesAndOrigins)
{
    struct Case {
        const char* language;
        const char* family;
    };
    const Case cases[] = {{"", "Western"},
                          {"en_us", "Western"},
                          {"pt_br", "Western"},
                          {"ja_jp", "Japanese"},
                          {"zh_tw", "Traditional Chinese"},
                          {"zh_cn", "Simplified Chinese"},
                          {"ko", "Korean"},
                          {"pl_pl", "Central European"},
                          {"ru", "Cyrillic"},
                          {"el_gr", "Greek"}};
    for (const Case& c : cases)
        EXPECT_EQ(familyForLanguage(c.language).name, c.family) << c.language;
    EXPECT_EQ(originOfMailbox("\r"), MailboxOrigin::Mac);
    EXPECT_EQ(originOfMailbox("\r\n"), MailboxOrigin::Windows);
    EXPECT_EQ(originOfMailbox("\n"), MailboxOrigin::Windows);
    // Every family's encodings exist in the encoding table.
    for (const LegacyFamily& family : legacyFamilies()) {
        EXPECT_TRUE(encodingDisplayName(family.mac).has_value()) << family.name;
        EXPECT_TRUE(encodingDisplayName(family.windows).has_value()) << family.name;
    }
}

} // namespace
} // namespace tarnwick
