// Eudora's styled text: the body rewrite into text/enriched, and the message conversion
// that labels it (on by option; off, the bytes are as before).
#include "engine/message/MessageConverter.h"
#include "engine/message/RichText.h"
#include "engine/text/CharsetCandidates.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarnwick {
namespace {

std::u16string wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string narrow(std::u16string_view text)
{
    std::string out;
    for (const char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string nested(const char* open, const char* close, int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    text += "x";
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST(RichTextBody, RewritesBodiesWithBlocks)
{
    const std::string head = "Subject: <a>\r\n\r\n"; // the header is never touched
    const struct Case {
        const char* label;
        std::string body;
        std::optional<std::string> expected; // none: no block, text untouched
    } cases[] = {
        {"no block", "a < b\r\n", std::nullopt},
        {"opening tag inside a line", "see <x-rich>a</x-rich>\r\n", std::nullopt},
        {"never closed", "<x-rich>a\r\n", std::nullopt},
        {"the whole body", "<x-rich><bold>Hi</bold> there\r\n\r\nnext</x-rich>\r\n", "<bold>Hi</bold> there\r\n\r\nnext\r\n"},
        {"text around a block", "Dear Ann,\r\n<x-rich>x <<y</x-rich>\r\nAttachment Converted: a<b\r\n",
         "Dear Ann,\r\n\r\nx <<y\r\n\r\nAttachment Converted: a<<b\r\n"},
        {"runs of LF, CR and mixed breaks", "a\n\nb\r\rc\n\r\nd\n<x-rich>e</x-rich>", "a\n\n\nb\r\r\rc\n\n\r\nd\n\ne"},
        {"a '<' that starts no command", "<x-rich>1 < 2 <3 <a b> <-> <></x-rich>", "1 << 2 <<3 <<a b> <-> <<></->"},
        {"a name past 60 characters", "<x-rich><" + std::string(61, 'n') + ">t</x-rich>", "<<" + std::string(61, 'n') + ">t"},
        {"a name of 60", "<x-rich><" + std::string(60, 'n') + ">t</x-rich>",
         "<" + std::string(60, 'n') + ">t</" + std::string(60, 'n') + ">"},
        {"closed inside out", "<x-rich><bold><italic>a</bold>b</x-rich>", "<bold><italic>a</italic></bold>b"},
        {"a closing that closes nothing, a command left open", "<x-rich>a</underline>b<param>Arial</x-rich>\r\nplain",
         "ab<param>Arial</param>\r\n\r\nplain"},
        {"closing in another case", "<x-rich><Bold>a</BOLD></x-rich>", "<Bold>a</BOLD>"},
        {"blocks back to back and on later lines", "<x-rich>a</x-rich><x-rich>b</x-rich>\r\n<x-rich><bold>c</x-rich>",
         "ab\r\n\r\n<bold>c</bold>"},
        {"no nesting: the first closing tag ends the block", "<x-rich>a\r\n<x-rich>b</x-rich>c</x-rich>",
         "a\r\n<x-rich>b</x-rich>c<</x-rich>"},
        {"depth kept to 64", "<x-rich>" + nested("<i>", "</i>", 70) + "after</x-rich>", nested("<i>", "</i>", 64) + "after"},
        {"depth kept when closings are missing", "<x-rich>" + nested("<i>", "", 70) + "</x-rich>z", nested("<i>", "</i>", 64) + "z"},
    };
    for (const Case& c : cases) {
        std::u16string text = wide(head + c.body);
        const bool rewritten = richTextBody(text, head.size());
        EXPECT_EQ(rewritten, c.expected.has_value()) << c.label;
        EXPECT_EQ(narrow(text), head + c.expected.value_or(c.body)) << c.label;
    }
    std::u16string beyond = u"<x-rich>a</x-rich>";
    EXPECT_FALSE(richTextBody(beyond, beyond.size() + 1)) << "a body start past the text";
}

// Through the message conversion: on, the body is text/enriched in the charset chosen
// (Latin 1 text goes the decoded-text way); off, or in an HTML message, as before.
TEST(RichTextConversion, LabelsTheBodyAsEnriched)
{
    const std::string rich = "From x\nSubject: s\n\n<x-rich><bold>Gr\xFC\xDF</bold> a<b\n\nend</x-rich>\n";
    const std::string html = "From x\nSubject: s\n\n<x-html><b>x</b></x-html>\n<x-rich><bold>y</bold></x-rich>\n";
    const struct Case {
        const char* label;
        std::string message;
        bool richText, automatic;
        std::string expected;
    } cases[] = {
        {"on", rich, true, false,
         "From x\nSubject: s\nContent-Type: text/enriched; charset=iso-8859-1\n\n<bold>Gr\xFC\xDF</bold> a<<b\n\nend\n"},
        {"on, Automatic", rich, true, true,
         "From x\nSubject: s\nContent-Type: text/enriched; charset=iso-8859-1\n\n<bold>Gr\xFC\xDF</bold> a<<b\n\nend\n"},
        {"off", rich, false, false,
         "From x\nSubject: s\nContent-Type: text/plain; charset=iso-8859-1\n\n<x-rich><bold>Gr\xFC\xDF</bold> a<b\n\nend</x-rich>\n"},
        {"an HTML message", html, true, false,
         "From x\nSubject: s\nContent-Type: text/html\n\n<b>x</b>\n<x-rich><bold>y</bold></x-rich>\n"},
    };
    for (const Case& c : cases) {
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = c.automatic ? kEncodingAutomatic : kEncodingISOLatin1;
        options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
        options.processEudoraTags = true;
        options.convertRichText = c.richText;
        CharsetCandidates candidates(options.charsetNames);
        MailboxContext mailbox;
        std::string result;
        ASSERT_TRUE(convertMessage(c.message, c.message.find("\n\n") + 2, options, candidates, mailbox, result)) << c.label;
        EXPECT_EQ(result, c.expected) << c.label;
    }
}

} // namespace
} // namespace tarnwick
