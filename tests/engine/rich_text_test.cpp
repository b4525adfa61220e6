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
        {"a '<' right before the closing tag", "<x-rich>a<</x-rich>b <<c</x-rich>", "a<<b <<<<c<</x-rich>"},
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

// Inside an HTML body the blocks become HTML elements, their text escaped; the text
// around them stays as it is.
TEST(RichTextBody, BlocksInHtmlBecomeHtml)
{
    const std::string head = "Subject: x\r\n\r\n";
    const struct Case {
        const char* label;
        std::string body;
        std::string expected;
    } cases[] = {
        {"text escaped, outside untouched", "<p>a & b</p>\r\n<x-rich><bold>Hi</bold> & <<x> y</x-rich>\r\n<b>",
         "<p>a & b</p>\r\n<b>Hi</b> &amp; &lt;x&gt; y\r\n<b>"},
        {"a font family", "<x-rich><fontfamily><param>Arial</param>A</fontfamily></x-rich>", "<font face=\"Arial\">A</font>"},
        {"a font name escaped for its attribute", "<x-rich><fontfamily><param> A\"b<c&\r\nd </param>t</fontfamily></x-rich>",
         "<font face=\"A&quot;b&lt;c&amp;  d\">t</font>"},
        {"a colour", "<x-rich><color><param>ffff,0000,8080</param>r</color><color><param>Red</param>s</color></x-rich>",
         "<font color=\"#ff0080\">r</font><font color=\"Red\">s</font>"},
        {"a colour that is neither", "<x-rich><color><param>#f00\" onload=x</param>r</color></x-rich>", "<font>r</font>"},
        {"no parameter", "<x-rich><fontfamily>x</fontfamily></x-rich>", "<font>x</font>"},
        {"a parameter and no text", "<x-rich><fontfamily><param>Arial</param></fontfamily>x</x-rich>", "<font face=\"Arial\"></font>x"},
        {"closed with its parameter open", "<x-rich><color><param>blue</color>x</x-rich>", "<font color=\"blue\"></font>x"},
        {"a parameter of nothing: its text is no text", "<x-rich><param>hidden</param>shown</x-rich>", "shown"},
        {"indents", "<x-rich><paraindent><param>left,right</param>q</paraindent><paraindent><param>right</param>r</paraindent></x-rich>",
         "<div style=\"margin-left:2em;margin-right:2em\">q</div><div style=\"margin-right:2em\">r</div>"},
        {"alignment, excerpt, sizes", "<x-rich><center>c</center><excerpt>e</excerpt><x-tad-bigger>b</x-tad-bigger></x-rich>",
         "<div style=\"text-align:center\">c</div><blockquote type=\"cite\">e</blockquote><big>b</big>"},
        {"unknown commands go, their text stays", "<x-rich><blink>t</blink><nofill>u</x-rich>", "tu"},
        {"left open, closed inside out", "<x-rich><bold><italic>a</bold>b<underline>c</x-rich>", "<b><i>a</i></b>b<u>c</u>"},
        {"line breaks: the first of a run is a space", "<x-rich>a\r\nb\r\n\r\nc\n\n\nd\r\re</x-rich>",
         "a\r\nb\r\n<br>\r\nc\n<br>\n<br>\nd\r<br>\re"},
        {"depth kept to 64", "<x-rich>" + nested("<bold>", "</bold>", 70) + "!</x-rich>", nested("<b>", "</b>", 64) + "!"},
        {"a long parameter is cut", "<x-rich><fontfamily><param>" + std::string(300, 'f') + "</param>t</fontfamily></x-rich>",
         "<font face=\"" + std::string(kLongestRichParameter, 'f') + "\">t</font>"},
    };
    for (const Case& c : cases) {
        std::u16string text = wide(head + c.body);
        EXPECT_TRUE(richTextBody(text, head.size(), RichTextForm::Html)) << c.label;
        EXPECT_EQ(narrow(text), head + c.expected) << c.label;
    }
}

// The rewrite given a body block by block (cut anywhere: inside tags, commands,
// parameters, CR LF pairs) gives what it gives on the body whole, in both forms.
TEST(RichTextRewriter, EveryBlockSizeGivesTheWholeRewrite)
{
    const std::string bodies[] = {
        "Dear Ann,\r\n<x-rich><bold>Hi</bold> <<there\r\n\r\n<fontfamily><param>Times New Roman</param>x</fontfamily></x-rich>\r\n"
        "a<b\r\n<x-rich>1 < 2 <a b> <-> <></x-rich>\r\n\r\n",
        "<x-rich>a</x-rich><x-rich>b<</x-rich>\n<x-rich><bold>c<<</x-rich>tail\r",
        "<x-rich>a\r\n<x-rich>b</x-rich>c</x-rich>\n\n\n",
        "<x-rich><" + std::string(61, 'n') + ">t<" + std::string(60, 'n') + ">u</x-rich>\r\n<x-rich>never closed\r\n",
        "<x-rich>" + nested("<i>", "</i>", 70) + "<color><param>ffff,0000,0000</param>r</color></x-rich>",
        "no block <x-rich>mid-line</x-rich>\r\n\r\n",
        "\r\n\r\n<x-rich><param>p</param><paraindent><param>left</param>q\r\n\r\n</x-rich>\r\n",
    };
    for (const std::string& body : bodies) {
        for (const RichTextForm form : {RichTextForm::Enriched, RichTextForm::Html}) {
            const std::u16string text = wide(body);
            std::u16string whole = text;
            const bool rewritten = richTextBody(whole, 0, form);
            for (std::size_t block = 1; block <= text.size(); block += block < 17 ? 1 : block < 64 ? 14 : 193) {
                RichTextLayout layout;
                for (std::size_t at = 0; at < text.size(); at += block)
                    layout.feed(std::u16string_view(text).substr(at, block));
                const std::string where = body.substr(0, 20) + ", blocks of " + std::to_string(block);
                ASSERT_EQ(layout.holdsBlock(), rewritten) << where;
                if (!rewritten)
                    continue;
                RichTextRewriter rewriter(layout, form);
                std::u16string out;
                for (std::size_t at = 0; at < text.size(); at += block)
                    rewriter.feed(std::u16string_view(text).substr(at, block), out);
                rewriter.finish(out);
                EXPECT_EQ(narrow(out), narrow(whole)) << where;
            }
        }
    }
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
        {"an HTML message: the block as HTML", html, true, false, "From x\nSubject: s\nContent-Type: text/html\n\n<b>x</b>\n<b>y</b>\n"},
        {"an HTML message, off", html, false, false,
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
