// Message conversion with the Automatic source encoding and encoded header fields.
#include "engine/message/MessageConverter.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

struct Outcome {
    std::optional<std::string> bytes;
    UnconvertedReason reason;
};

Outcome convert(const std::string& message, const ConversionOptions& options, MailboxOrigin origin = MailboxOrigin::Windows)
{
    CharsetCandidates candidates(options.charsetNames);
    MailboxContext mailbox;
    mailbox.automatic.origin = origin;
    mailbox.automatic.family = &familyForLanguage(options.language);
    std::string result;
    const std::size_t blank = message.find("\r\n\r\n");
    const bool converted = convertMessage(message, blank + 4, options, candidates, mailbox, result);
    return {converted ? std::optional<std::string>(result) : std::nullopt, mailbox.lastReason};
}

ConversionOptions automaticOptions()
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = kEncodingAutomatic;
    options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
    options.processEudoraTags = true;
    options.crlfLineEndings = true;
    options.encodeHeaders = true;
    return options;
}

TEST(AutomaticConversion, MessagesAndBlocksInTheirOwnCharsets)
{
    const std::string from = "From ???@??? Mon Jan 01 00:00:00 2001\r\n";
    // The Mac marker's charset; bytes C2 A0 are a no-break space, not "¬†".
    const std::string marked = from
        + "Subject: x\r\n\r\n<x-html><!x-stuff-for-pete base=\"\" id=\"1\" charset=\"UTF-8\">\r\n"
          "a\xC2\xA0"
          "b</x-html>\r\n";
    const std::string latin = from + "Subject: caf\xE9\r\n\r\ncaf\xE9\r\n";
    struct Case {
        const char* name;
        std::string message;
        ConversionOptions options;
        std::string expected;
    };
    ConversionOptions fixedMac = automaticOptions();
    fixedMac.sourceEncoding = 30; // a chosen encoding keeps its meaning
    ConversionOptions raw = automaticOptions();
    raw.encodeHeaders = false;
    const Case cases[] = {
        {"marker charset", marked, automaticOptions(),
         from
             + "Subject: x\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<!x-stuff-for-pete base=\"\" id=\"1\" "
               "charset=\"UTF-8\">\r\na\xA0"
               "b\r\n"},
        {"marker ignored with a chosen encoding", marked, fixedMac,
         from
             + "Subject: x\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<!x-stuff-for-pete base=\"\" id=\"1\" "
               "charset=\"UTF-8\">\r\na\xC2\xAC\xE2\x80\xA0"
               "b\r\n"},
        {"encoded subject", latin, automaticOptions(),
         from + "Subject: =?iso-8859-1?Q?caf=E9?=\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\ncaf\xE9\r\n"},
        {"raw subject when asked", latin, raw,
         from + "Subject: caf\xE9\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\ncaf\xE9\r\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = convert(c.message, c.options);
        ASSERT_TRUE(outcome.bytes.has_value()) << c.name;
        EXPECT_EQ(*outcome.bytes, c.expected) << c.name;
        EXPECT_EQ(outcome.reason, UnconvertedReason::None) << c.name;
    }
}

TEST(AutomaticConversion, ReasonsForUnconvertedMessages)
{
    const std::string message = "From x Mon Jan 01 00:00:00 2001\r\nSubject: x\r\n\r\ncaf\xE9\r\n";
    ConversionOptions utf8 = automaticOptions();
    utf8.sourceEncoding = kEncodingUTF8;
    EXPECT_EQ(convert(message, utf8).reason, UnconvertedReason::Undecodable);
    ConversionOptions asciiOnly = automaticOptions();
    asciiOnly.charsetNames = {"us-ascii"};
    EXPECT_EQ(convert(message, asciiOnly).reason, UnconvertedReason::NoFittingCharset);
    EXPECT_EQ(convert(message, automaticOptions()).reason, UnconvertedReason::None);
}

// A charset that does not read ASCII as ASCII: the message stays as it is, its label
// with it, and is counted; ISO-2022-JP and a mere 7-bit message still convert.
TEST(AutomaticConversion, MessagesInStatefulOrWideCharsetsKeepTheirLabel)
{
    const std::string from = "From x Mon Jan 01 00:00:00 2001\r\nSubject: x\r\n";
    struct Case {
        const char* charset;
        std::string body;
        bool kept;
    };
    const Case cases[] = {
        {"ISO-2022-KR", "\x1b$)C\x0e!!\x0f abc", true},
        {"UTF-7", "Hi Mom -+Jjo--!", true},
        {"utf-7", "x", true},
        {"HZ-GB-2312", "~{<:Ky2;S{#,~}", true},
        {"utf-16", "abc", true},
        {"\"iso-2022-cn\"", "abc", true},
        {"iso-2022-jp", "\x1b$B$3$s\x1b(B", false},
        {"us-ascii", "abc", false},
        {"x-unknown", "abc", false},
    };
    for (const ConversionOptions& options : {automaticOptions(), [] {
                                                 ConversionOptions fixed = automaticOptions();
                                                 fixed.sourceEncoding = kEncodingISOLatin1;
                                                 return fixed;
                                             }()}) {
        for (const Case& c : cases) {
            std::vector<std::string> log;
            setLogSink([&log](std::string_view line) { log.emplace_back(line); });
            const Outcome outcome
                = convert(from + "Content-Type: text/plain; charset=" + c.charset + "\r\n\r\n" + c.body + "\r\n", options);
            setLogSink({});
            EXPECT_EQ(!outcome.bytes, c.kept) << c.charset;
            if (!c.kept) {
                EXPECT_TRUE(log.empty()) << c.charset;
                continue;
            }
            EXPECT_EQ(outcome.reason, UnconvertedReason::Undecodable) << c.charset;
            std::string bare = c.charset;
            std::erase(bare, '"');
            ASSERT_EQ(log.size(), 1u) << c.charset;
            EXPECT_EQ(log.front(), "Message left in its charset \"" + bare + "\": it is not converted from it");
        }
    }
}

TEST(AutomaticConversion, NoBreakSpacesFollowTheChosenEncoding)
{
    // "TEL", a stray 0xA0, then "会議の" in Shift_JIS: Mac Japanese is the one encoding that reads it.
    const std::string message = "From x Mon Jan 01 00:00:00 2001\r\nSubject: x\r\n\r\nTEL\xA0\x89\xEF\x8B\x63\x82\xCC\r\n";
    ConversionOptions options = automaticOptions();
    options.language = "ja";
    options.charsetNames = {"utf-8"};
    const Outcome kept = convert(message, options);
    ASSERT_TRUE(kept.bytes.has_value());
    EXPECT_NE(kept.bytes->find("TEL\xC2\xA0\xE4\xBC\x9A\xE8\xAD\xB0"), std::string::npos);
    options.replaceNoBreakSpaces = true;
    const Outcome replaced = convert(message, options);
    ASSERT_TRUE(replaced.bytes.has_value());
    EXPECT_NE(replaced.bytes->find("TEL \xE4\xBC\x9A\xE8\xAD\xB0"), std::string::npos);
}

} // namespace
} // namespace tarnwick
