#include "engine/header/EncodedWords.h"
#include "engine/header/HeaderEncoder.h"

#include "platform/encodings/CaseFold.h"
#include "engine/EncodedWordDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

std::u16string utf16(std::string_view utf8)
{
    std::u16string text;
    appendUTF8AsUTF16(utf8, text);
    return text;
}

std::string utf8(std::u16string_view text)
{
    std::string bytes;
    encodeText(text, kEncodingUTF8, bytes);
    return bytes;
}

constexpr HeaderCharset kUTF8{kEncodingUTF8, "utf-8"};
constexpr HeaderCharset kLatin1{kEncodingISOLatin1, "iso-8859-1"};
constexpr HeaderCharset kISO2022JP{21, "iso-2022-jp"};

std::string encode(std::string_view header, const HeaderCharset& charset, std::size_t* leftRaw = nullptr)
{
    std::u16string out;
    const std::size_t left = encodeHeaderFields(utf16(header), charset, out);
    if (leftRaw)
        *leftRaw = left;
    return utf8(out);
}

// Exact bytes for the common shapes; checked by hand against RFC 2047 and read back
// by Python's email package in the command-line read-back test.

TEST(HeaderEncoder, WritesEncodedWordsWhereAllowed)
{
    struct Case {
        const char* name;
        const char* header;
        HeaderCharset charset;
        const char* expected;
    };
    const Case cases[] = {
        {"ascii field unchanged", "Subject: plain\r\n\tfolded\r\n", kLatin1, "Subject: plain\r\n\tfolded\r\n"},
        {"subject keeps ascii words", "Subject: Re: café au lait\r\n", kLatin1, "Subject: Re: =?iso-8859-1?Q?caf=E9?= au lait\r\n"},
        {"japanese subject in B", "Subject: 会議\n", kISO2022JP, "Subject: =?iso-2022-jp?B?GyRCMnE1RBsoQg==?=\n"},
        {"display name", "From: Jürgen Müller <mueller@example.com>\r\n", kLatin1,
         "From: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <mueller@example.com>\r\n"},
        {"quoted display name gets a space before <", "To: \"Müller, J.\"<m@x.org>, Ann <a@x.org>\r\n", kLatin1,
         "To: =?iso-8859-1?Q?M=FCller=2C_J=2E?= <m@x.org>, Ann <a@x.org>\r\n"},
        {"comment after bare address", "Cc: j@example.com (Jürgen)\r\n", kLatin1, "Cc: j@example.com (=?iso-8859-1?Q?J=FCrgen?=)\r\n"},
        {"group name", "To: Grüppe: a@b, c@d;\r\n", kLatin1, "To: =?iso-8859-1?Q?Gr=FCppe?=: a@b, c@d;\r\n"},
        {"comment in a structured field", "Received: from x (höst)\r\n", kLatin1, "Received: from x (=?iso-8859-1?Q?h=F6st?=)\r\n"},
        {"charset without the character falls back to utf-8", "Subject: 会\r\n", kLatin1, "Subject: =?utf-8?B?5Lya?=\r\n"},
        {"ascii text that looks encoded is encoded too", "Subject: =?x?Q?y?= é\r\n", kUTF8, "Subject: =?utf-8?B?PT94P1E/eT89IMOp?=\r\n"},
        {"cr terminator kept", "Subject: é\r", kLatin1, "Subject: =?iso-8859-1?Q?=E9?=\r"},
        {"an encoded-word beside raw text is decoded, not encoded again", "Subject: =?utf-8?q?caf=C3=A9?= and raw café\r\n", kLatin1,
         "Subject: =?iso-8859-1?Q?caf=E9_and_raw_caf=E9?=\r\n"},
        {"adjacent encoded-words join, as a reader shows them", "Subject: =?utf-8?B?w6k=?= =?iso-8859-1?Q?=E8?= é\n", kUTF8,
         "Subject: =?utf-8?B?w6nDqCDDqQ==?=\n"},
        {"a word that does not decode stays as text", "Subject: =?nosuch?Q?x?= é\n", kUTF8,
         "Subject: =?utf-8?B?PT9ub3N1Y2g/UT94Pz0gw6k=?=\n"},
        {"a character the charset would drop goes to utf-8", "Subject: a\u00ADb\r\n", HeaderCharset{kEncodingShiftJIS, "shift_jis"},
         "Subject: =?utf-8?Q?a=C2=ADb?=\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encode(c.header, c.charset), c.expected) << c.name;
}

TEST(HeaderEncoder, LeavesAddressesAndUnencodableFieldsAlone)
{
    struct Case {
        const char* name;
        const char* header;
        std::size_t leftRaw;
    };
    const Case cases[] = {
        {"non-ascii local part", "To: jürgen@example.com\r\n", 1},
        {"non-ascii inside angle address", "From: Ann <ann@exämple.com>\r\n", 1},
        {"non-ascii in a message id", "Message-ID: <é@x>\r\n", 1},
        {"field without a colon", "Garbage é\r\n", 1},
    };
    for (const Case& c : cases) {
        std::size_t left = 0;
        EXPECT_EQ(encode(c.header, kUTF8, &left), c.header) << c.name;
        EXPECT_EQ(left, c.leftRaw) << c.name;
    }
}

// Properties on longer inputs: lines of at most 78 characters, the text decodes back,
// the addresses are the same.
TEST(HeaderEncoder, FoldsAndDecodesBack)
{
    struct Case {
        const char* name;
        std::string header;
        HeaderCharset charset;
    };
    std::string longSubject = "Subject: Re:";
    for (int i = 0; i < 30; ++i)
        longSubject += " café crème";
    std::string longJapanese = "Subject: ";
    for (int i = 0; i < 20; ++i)
        longJapanese += "会議の資料 をお送り します";
    std::string manyNames = "To: ";
    for (int i = 0; i < 8; ++i)
        manyNames += std::string(i ? ", " : "") + "Jürgen Müller" + std::to_string(i) + " <j" + std::to_string(i) + "@example.com>";
    const Case cases[] = {
        {"long latin subject", longSubject + "\r\n", kLatin1},
        {"long latin subject in utf-8", longSubject + "\n", kUTF8},
        {"long japanese subject", longJapanese + "\r\n", kISO2022JP},
        {"many display names", manyNames + "\r\n", kLatin1},
        {"folded input", "Subject: first line é\r\n second line ü\r\n", kUTF8},
        {"encoded-words and raw text", "Subject: =?utf-8?q?caf=C3=A9?= and =?ISO-8859-1?B?cmF3?= café\r\n", kLatin1},
    };
    for (const Case& c : cases) {
        const std::u16string in = utf16(c.header);
        std::u16string out;
        EXPECT_EQ(encodeHeaderFields(in, c.charset, out), 0u) << c.name;
        for (std::size_t start = 0; start < out.size();) {
            const std::size_t end = out.find_first_of(u"\r\n", start);
            EXPECT_LE(end - start, 78u) << c.name << ": " << utf8(out.substr(start, end - start));
            EXPECT_TRUE(std::all_of(out.begin() + start, out.begin() + end, [](char16_t ch) { return ch < 0x80; })) << c.name;
            start = out.find_first_not_of(u"\r\n", end);
            if (start == std::u16string::npos)
                break;
        }
        const auto before = testing::unfoldFields(in);
        const auto after = testing::unfoldFields(out);
        ASSERT_EQ(after.size(), before.size()) << c.name;
        if (before[0].name == u"Subject") // what a reader shows: encoded-words already there are not encoded again
            EXPECT_EQ(utf8(testing::decodeText(after[0].value)), utf8(testing::decodeText(before[0].value))) << c.name;
        else
            EXPECT_EQ(testing::angleAddresses(after[0].value), testing::angleAddresses(before[0].value)) << c.name;
    }
}

// A fold right after the field's name leaves its blank at the start of the value
// (Python's email shows " Überraschung"): the first line holds the first word, which
// fits on it when it can.
TEST(HeaderEncoder, FirstWordStaysOnTheNameLine)
{
    struct Case {
        const char* name;
        std::string header;
        HeaderCharset charset;
    };
    const std::string surprise = "Überraschung für die Mädchen und Jungen der Grünschule am Südufer des Sees";
    const Case cases[] = {
        {"long encoded subject in latin-1", "Subject: " + surprise + "\r\n", kLatin1},
        {"long encoded subject in utf-8", "Subject: " + surprise + "\n", kUTF8},
        {"subject after blanks", "Subject:    " + surprise + "\n", kUTF8},
        {"japanese subject", "Subject: 会議の資料をお送りします会議の資料をお送りします会議の資料をお送りします\r\n", kISO2022JP},
        {"long display name", "From: " + surprise + " <s@example.com>\r\n", kLatin1},
    };
    for (const Case& c : cases) {
        const std::u16string in = utf16(c.header);
        std::u16string out;
        encodeHeaderFields(in, c.charset, out);
        const std::size_t firstEnd = out.find_first_of(u"\r\n");
        const std::u16string_view first = std::u16string_view(out).substr(0, firstEnd);
        const std::size_t colon = first.find(u':');
        EXPECT_NE(first.find_first_not_of(u" \t", colon + 1), std::u16string_view::npos) << c.name << ": " << utf8(out);
        EXPECT_LE(first.size(), 78u) << c.name << ": " << utf8(out);
        const auto after = testing::unfoldFields(out);
        ASSERT_EQ(after.size(), 1u) << c.name;
        if (after[0].name == u"Subject") { // the value a reader shows, from its first character
            EXPECT_EQ(utf8(testing::decodeText(after[0].value)), utf8(testing::decodeText(testing::unfoldFields(in)[0].value))) << c.name;
        }
    }
}

TEST(EncodedWords, AsciiCompatibility)
{
    EXPECT_TRUE(isAsciiCompatible(kEncodingUTF8));
    EXPECT_TRUE(isAsciiCompatible(kEncodingShiftJIS));
    EXPECT_TRUE(isAsciiCompatible(21));  // ISO-2022-JP starts and ends in ASCII
    EXPECT_FALSE(isAsciiCompatible(10)); // UTF-16
}

} // namespace
} // namespace tarnwick
