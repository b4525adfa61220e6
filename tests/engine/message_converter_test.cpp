#include "engine/message/MessageConverter.h"

#include "engine/ByteRange.h"
#include "platform/encodings/CaseFold.h"
#include "engine/text/CharsetCandidates.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"

#include <gtest/gtest.h>

#include <cctype>

#include <fstream>
#include <ostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using Result = std::optional<std::string>;
using Names = std::vector<std::string>;

/// The encoding a name stands for: the lookup's, or the fallback when the lookup fails.
EncodingId idFor(std::string_view name, PlatformEncoding fallback = kPlatformEncodingInvalid)
{
    const PlatformEncoding looked = encodingForIANAName(name);
    return carryEncoding(looked == kPlatformEncodingInvalid ? fallback : looked);
}

std::string readFixture(const std::string& name)
{
    std::ifstream in(std::string(TARNWICK_TEST_DATA_DIR) + "/message/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The header length as the mailbox pass computes it: up to and including the first
/// empty line, or none when nothing follows it. Lines end with `eol` throughout.
std::uint64_t headerLengthOf(std::string_view m, std::string_view eol)
{
    const std::size_t end = m.find(std::string(eol) + std::string(eol));
    return end == std::string_view::npos || end + 2 * eol.size() >= m.size() ? kHeaderLengthNone : end + 2 * eol.size();
}

struct Options {
    EncodingId source = kEncodingISOLatin1;
    bool tags = true, crlf = false, nbsp = false;
    Names charsets = {"iso-8859-1"};
};

class MessageConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLogSink([this](std::string_view line) { logs.emplace_back(line); });
    }
    void TearDown() override { setLogSink({}); }
    // Options for the next conversions, with a fresh candidate list.
    void use(const Options& o)
    {
        options = ConversionOptions{};
        options.convertEncodings = true;
        options.sourceEncoding = o.source;
        options.charsetNames = o.charsets;
        options.processEudoraTags = o.tags;
        options.crlfLineEndings = o.crlf;
        options.replaceNoBreakSpaces = o.nbsp;
        candidates.emplace(o.charsets);
        logs.clear();
    }
    Result convert(const std::string& message, std::uint64_t headerLength)
    {
        std::string result = "stale contents";
        MailboxContext mailbox;
        return convertMessage(message, headerLength, options, *candidates, mailbox, result) ? Result(result) : std::nullopt;
    }
    Result convert(const std::string& m, std::string_view eol = "\n") { return convert(m, headerLengthOf(m, eol)); }

    std::vector<std::string> logs;
    ConversionOptions options;
    std::optional<CharsetCandidates> candidates;
};

const std::string kPlain = "Content-Type: text/plain; charset=iso-8859-1\n";
const std::string kHtml = "Content-Type: text/html; charset=iso-8859-1\n";

TEST_F(MessageConverterTest, BodyWalkAndContentType)
{
    const std::string b = "\n<x-html>b</x-html>", flowed = "Content-Type: text/plain; format=flowed; charset=";
    const struct {
        const char* label;
        Options options;
        std::string message; // after a "From x" line
        Result expected;     // after the "From x" line; none: no result
    } cases[] = {
        {"tags off: all stays",
         {.tags = false},
         "Content-Type: text/x\n\n<x-html>a</x-html>\n",
         "Content-Type: text/x\n\n<x-html>a</x-html>\n"},
        {"no body: plain path even with tags on", {}, "\n", "\n"},
        {"body starting with an empty line", {}, "\n\n<x-html>b</x-html>\n", kPlain + "\n\nb\n"},
        {"tag in mid-line is a lone '<'", {}, "\na <x-html>b</x-html>", kPlain + "\na <x-html>b</x-html>"},
        {"'<<x-html>': lone '<' then a block", {}, "\n<<x-html>b</x-html>\n", kHtml + "\n<b\n"},
        {"blocks back to back", {}, "\n<x-flowed>a</x-flowed><x-html>b</x-html>", flowed + "iso-8859-1\n\nab"},
        {"tag after a line break in a run", {}, "\nhi\n<x-html>b</x-html>", kPlain + "\nhi\nb"},
        {"trailer marker with 18 bytes left", {}, "\n<!x-stuff-for-vrak", kPlain + "\n<!x-stuff-for-vrak"},
        {"Mac trailer spelling, tags inside kept",
         {},
         "\n<!x-stuff-for-pete><x-html>q</x-html>",
         kHtml + "\n<!x-stuff-for-pete><x-html>q</x-html>"},
        {"unknown tag charset", {}, "\n<x-charset bogus>\xE9t\xE9</x-charset>", kPlain + "\n\xE9t\xE9"},
        {"invalid in the tag's charset", {}, "\n<x-charset utf-8>\xE9</x-charset>", kPlain + "\n\xE9"},
        {"invalid in both", {.source = kEncodingASCII}, "\n<x-charset utf-8>\xE9</x-charset>", std::nullopt},
        {"decoded in the tag's charset",
         {.charsets = {"iso-8859-1", "utf-8"}},
         "\n<x-charset iso-8859-7>\xE1</x-charset>",
         "Content-Type: text/plain; charset=utf-8\n\n\xCE\xB1"},
        {"lone '<' at the end", {}, "\na\n<", kPlain + "\na\n<"},
        {"body of lone '<' only: no header", {}, "\n<", "\n<"},
        {"header not decodable", {.source = kEncodingASCII}, "S: \xE9\n\nbody", std::nullopt},
        {"plain path not decodable", {.source = kEncodingASCII, .tags = false}, "\n\xE9", std::nullopt},
        {"text run not decodable", {.source = kEncodingASCII}, "\n<x-html>a</x-html>\xE9", std::nullopt},
        {"any case, replaced", {}, "content-type: TEXT/PLAIN; charset=x\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"X-Content-Type is no match", {}, "X-Content-Type: text\n" + b, "X-Content-Type: text\n" + kHtml + "\nb"},
        {"tab continuation", {}, "Content-Type: multipart/x;\n\tboundary=\"x\"\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"space continuation", {}, "Content-Type: image/png;\n name=\"text\"\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"other type left alone", {}, "Content-Type: image/png\n" + b, "Content-Type: image/png\n\nb"},
        {"'text' anywhere counts", {}, "Content-Type: application/x-texture\n" + b, kHtml + "\nb"},
        {"only the first Content-Type line counts",
         {},
         "Content-Type: image/png\nContent-Type: text/plain\n" + b,
         "Content-Type: image/png\nContent-Type: text/plain\n\nb"},
        {"ASCII: no charset parameter", {.charsets = {"us-ascii", "iso-8859-1"}}, b, "Content-Type: text/html\n\nb"},
        {"charset as written", {.charsets = {"ISO-8859-1"}}, b, "Content-Type: text/html; charset=ISO-8859-1\n\nb"},
        {"ASCII-incompatible candidate out", {.charsets = {"UTF-16", "iso-8859-1"}}, b, kHtml + "\nb"},
        // The old header's euro sign rules ISO Latin 1 out although the new header needs none.
        {"chosen before the header change",
         {.source = idFor("windows-1252"), .charsets = {"iso-8859-1", "utf-8"}},
         "Content-Type: text/plain; name=\"\x80\"\n" + b,
         "Content-Type: text/html; charset=utf-8\n\nb"},
        {"no candidate fits", {.source = idFor("windows-1252")}, "S: \x80\n" + b, std::nullopt},
        {"empty candidate list", {.charsets = {}}, b, std::nullopt},
        // 0x85 is NEL in ISO Latin 1, but header lines end only at CR and LF.
        {"NEL in a header line", {}, "X-Odd: a\x85\nS: s\n" + b, "X-Odd: a\x85\nS: s\n" + kHtml + "\nb"},
    };
    for (const auto& c : cases) {
        use(c.options);
        EXPECT_EQ(convert("From x\n" + c.message), c.expected ? Result("From x\n" + *c.expected) : std::nullopt) << c.label;
    }
}

TEST_F(MessageConverterTest, WorkedExampleAndInsertedTerminator)
{
    const struct {
        bool crlf;
        std::string eol, inserted;
    } cases[] = {{false, "\n", "\n"}, {false, "\r", "\r"}, {false, "\r\n", "\r\n"}, {true, "\n", "\r\n"}};
    for (const auto& c : cases) {
        use({.crlf = c.crlf});
        const std::string e = c.eol;
        EXPECT_EQ(convert("From x" + e + "S: s" + e + e + "<x-html>b</x-html>" + e, e),
                  "From x" + e + "S: s" + e + "Content-Type: text/html; charset=iso-8859-1" + c.inserted + e + "b" + e)
            << "terminator of " << e.size() << (c.crlf ? ", CR LF wanted" : ", kept");
    }
    use({});
    const std::string from = "From x Sat Jan  1 00:00:00 2000\r\n";
    EXPECT_EQ(convert(from + "Subject: hi\r\n\r\n<x-flowed>Hello</x-flowed>\r\n", "\r\n"),
              from + "Subject: hi\r\nContent-Type: text/plain; format=flowed; charset=iso-8859-1\r\n\r\nHello\r\n")
        << "worked example";
    EXPECT_EQ(convert("From x\nS: s\n<x-html>b</x-html>", 12), "From x\nS: s\nb") << "no empty line: no insertion";
    const std::string emptyBody = "From x\nS: s\n\n";
    EXPECT_EQ(convert(emptyBody, emptyBody.size()), emptyBody) << "empty body on the tag path";
}

// Mac Eudora ends lines with CR alone: a tag after a CR starts a line as it does after LF.
TEST_F(MessageConverterTest, MacLineEnds)
{
    const std::string from = "From x\rS: s\r", type = "Content-Type: text/", latin = "; charset=iso-8859-1\r";
    const struct {
        const char* label;
        std::string body;     // after the header's empty line
        std::string expected; // the whole result
    } cases[] = {
        {"tag after text and CR", "hi\r<x-html>b</x-html>\r", from + type + "plain" + latin + "\rhi\rb\r"},
        {"flowed after two lines", "a\rb\r<x-flowed>c</x-flowed>", from + type + "plain" + latin + "\ra\rb\rc"},
        {"tag first, then text and a tag", "<x-html>a</x-html>\rt\r<x-html>b</x-html>", from + type + "html" + latin + "\ra\rt\rb"},
        {"tag after CR LF", "hi\r\n<x-html>b</x-html>", from + type + "plain" + latin + "\rhi\r\nb"},
        {"tag in mid-line stays", "hi <x-html>b</x-html>\r", from + type + "plain" + latin + "\rhi <x-html>b</x-html>\r"},
    };
    for (const auto& c : cases) {
        use({});
        EXPECT_EQ(convert(from + "\r" + c.body, "\r"), Result(c.expected)) << c.label;
    }
}

// ASCII and ISO Latin 1 are chosen up to their last character and not beyond.
TEST_F(MessageConverterTest, CharsetRangeEdges)
{
    const EncodingId utf8 = kEncodingUTF8, latin1 = kEncodingISOLatin1;
    const struct {
        EncodingId source;
        std::string text;
        std::string charset; // of the inserted header; empty for ASCII
        std::string encoded;
    } cases[] = {
        {latin1, "a\x7F", "", "a\x7F"},           {latin1, "a\x80", "iso-8859-1", "a\x80"},
        {latin1, "a\xFF", "iso-8859-1", "a\xFF"}, {utf8, "\x7F", "", "\x7F"},
        {utf8, "\xC2\x80", "iso-8859-1", "\x80"}, {utf8, "\xC3\xBF", "iso-8859-1", "\xFF"},
        {utf8, "\xC4\x80", "utf-8", "\xC4\x80"},  {utf8, "\xC3\xBF\xC4\x80", "utf-8", "\xC3\xBF\xC4\x80"},
    };
    for (const auto& c : cases) {
        const std::string label = "U+" + std::to_string(static_cast<unsigned char>(c.encoded.back()));
        use({.source = c.source, .charsets = {"us-ascii", "iso-8859-1", "utf-8"}});
        const std::string header = "Content-Type: text/html" + (c.charset.empty() ? "" : "; charset=" + c.charset);
        EXPECT_EQ(convert("From x\n\n<x-html>" + c.text + "</x-html>"), Result("From x\n" + header + "\n\n" + c.encoded))
            << "tagged, last byte " << label;
        use({.source = c.source, .tags = false, .charsets = {"us-ascii", "iso-8859-1", "utf-8"}});
        EXPECT_EQ(convert(c.text, kHeaderLengthNone), Result(c.encoded)) << "untagged, last byte " << label;
    }
}

std::vector<std::string> nbspLog(int count)
{
    return count ? std::vector<std::string>{std::to_string(count) + " NBSP (U+00A0) replaced with space (U+0020)"}
                 : std::vector<std::string>{};
}

TEST_F(MessageConverterTest, NoBreakSpaces)
{
    // A0 after a lead byte (81-9F, E0-FC) is a trail byte; anywhere else it is a no-break space.
    const std::pair<std::string, int> cases[] = {{"\xA0"
                                                  "a\x82\xA0"
                                                  "A\xA0",
                                                  2},
                                                 {"\x80\xA0", 1},
                                                 {"\xA0\xA0", 2},
                                                 {"\xFD\xA0", 1},
                                                 {"\x81\xA0", 0},
                                                 {"\x9F\xA0", 0},
                                                 {"\xE0\xA0", 0},
                                                 {"\xFC\xA0", 0}};
    for (EncodingId source : {kEncodingShiftJIS, kEncodingMacJapanese}) {
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            use({.source = source, .tags = false, .nbsp = true, .charsets = {"utf-8"}});
            convert(cases[i].first, kHeaderLengthNone);
            EXPECT_EQ(logs, nbspLog(cases[i].second)) << "source " << source << ", case " << i;
        }
    }
    use({.source = kEncodingShiftJIS, .tags = false, .nbsp = true, .charsets = {"shift_jis"}});
    EXPECT_EQ(convert("\xA0"
                      "a\x82\xA0"
                      "A\xA0",
                      kHeaderLengthNone),
              " a\x82\xA0"
              "A ");
    for (const Options& off : {Options{.source = kEncodingShiftJIS, .tags = false}, Options{.tags = false, .nbsp = true}}) {
        use(off);
        convert("a\xA0", kHeaderLengthNone);
        EXPECT_TRUE(logs.empty()) << "no replacement for source " << off.source << ", nbsp " << off.nbsp;
    }
}

TEST_F(MessageConverterTest, RealMailAgainstPythonCodecs)
{
    const std::vector<std::string> jis = {"iso-2022-jp", "utf-8"}, utf8 = {"utf-8"};
    const struct {
        const char *source, *target; // tests/data/message/<source>_source.txt, <source>_to_<target>.txt
        Options options;
    } cases[] = {
        {"ja_sjis", "iso2022jp", {.source = kEncodingShiftJIS, .charsets = jis}},
        {"ja_sjis", "utf8", {.source = kEncodingShiftJIS, .charsets = utf8}},
        {"ja_macjapanese", "iso2022jp", {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = jis}},
        {"ja_macjapanese", "utf8", {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = utf8}},
        {"ja_mixed", "utf8", {.source = kEncodingShiftJIS, .charsets = jis}},
        {"ja_iso2022jp", "utf8", {.source = idFor("iso-2022-jp"), .charsets = utf8}},
        {"western_cp1252", "utf8", {.source = idFor("windows-1252"), .charsets = {"us-ascii", "iso-8859-1", "utf-8"}}},
    };
    // The sources end lines with CR LF, so the expected bytes hold either way.
    for (const bool crlf : {false, true}) {
        for (auto [source, target, options] : cases) {
            options.crlf = crlf;
            use(options);
            const std::string expected = std::string(source) + "_to_" + target + ".txt";
            const std::string input = readFixture(std::string(source) + "_source.txt");
            EXPECT_EQ(convert(input, "\r\n"), Result(readFixture(expected))) << expected << " crlf " << crlf;
            EXPECT_EQ(logs, nbspLog(options.nbsp ? 4 : 0)) << expected;
        }
    }
}

TEST_F(MessageConverterTest, CharsetCandidatesFromCharsetNames)
{
    const struct {
        const char* label;
        Names names;
        std::vector<std::pair<EncodingId, std::string>> candidates;
        Names leftOut; // each logged as not supported
    } cases[] = {
        {"in order, duplicates as written",
         Names{"iso-2022-jp", "utf-8", "UTF-8"},
         {{idFor("iso-2022-jp"), "iso-2022-jp"}, {kEncodingUTF8, "utf-8"}, {kEncodingUTF8, "UTF-8"}},
         {}},
        {"unknown and empty names out", Names{"x-no", "", "us-ascii"}, {{kEncodingASCII, "us-ascii"}}, {"x-no", ""}},
        {"no names", Names{}, {}, {}},
        {"fallbacks in any case",
         Names{"tis-620", "TIS-620", "GB2312"},
         {{idFor("tis-620", kPlatformISOLatinThai), "tis-620"},
          {idFor("TIS-620", kPlatformISOLatinThai), "TIS-620"},
          {idFor("GB2312", kPlatformEUCCN), "GB2312"}},
         {}},
        {"fallback compares whole names", Names{"tis-620x"}, {}, {"tis-620x"}},
        // ASCII must stay ASCII, or separator lines and headers are lost to mbox readers.
        {"not writing ASCII as ASCII",
         Names{"UTF-16", "utf-16le", "UTF-32", "UTF-7", "IBM037", "latin1"},
         {{kEncodingISOLatin1, "latin1"}},
         {"UTF-16", "utf-16le", "UTF-32", "UTF-7", "IBM037"}},
    };
    for (const auto& c : cases) {
        logs.clear();
        std::vector<std::pair<EncodingId, std::string>> built;
        for (const EncodingPair& pair : buildCharsetCandidates(c.names))
            built.emplace_back(pair.encoding, pair.charsetName);
        EXPECT_EQ(built, c.candidates) << c.label;
        Names expectedLogs;
        for (const std::string& name : c.leftOut)
            expectedLogs.push_back("'" + name + "' is not supported");
        EXPECT_EQ(logs, expectedLogs) << c.label;
    }
}

TEST_F(MessageConverterTest, CharsetCandidatesBuiltOnFirstUseAndKept)
{
    use({.tags = false, .charsets = {"bogus", "utf-8"}});
    EXPECT_TRUE(logs.empty()) << "nothing is built before a message needs it";
    ASSERT_EQ(candidates->pairs().size(), 1u);
    EXPECT_EQ(candidates->pairs()[0].charsetName, "utf-8");
    EXPECT_EQ(logs.size(), 1u) << "a left-out name is logged once per build";
    EXPECT_EQ(convert("From x\nS: a\n\nb\n"), Result("From x\nS: a\n\nb\n"));
    EXPECT_EQ(logs.size(), 1u) << "the list is kept, not built again";
}

namespace paths {

struct Message {
    const char* what;
    std::string bytes;
    std::optional<std::uint64_t> headerLength; // none: after the first empty line
};
const Message messages[] = {
    {"insertion", "From a\nSubject: caf\xE9\n\nBody caf\xE9 \x80 and \x81\n", {}},
    {"replaced text type", "From a\nContent-Type: text/plain; charset=iso-8859-1\nSubject: x\n\n<x-flowed>caf\xE9\n</x-flowed>\n", {}},
    {"folded type", "From a\nContent-type: text/plain;\n\tcharset=us-ascii\nX: y\n\nplain \xE9\n", {}},
    {"intact multipart", "From a\nContent-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain\n\nt\xE9\n--b1--\n", {}},
    {"multipart, boundary gone", "From a\nContent-Type: multipart/mixed; boundary=\"b1\"\n\nx--b1\nt\xE9\n", {}},
    {"boundary after 8-bit text", "From a\nContent-Type: multipart/mixed; boundary=b2\n\n\xE9\n--b2\n", {}},
    {"boundary in a block", "From a\nContent-Type: multipart/mixed; boundary=b3\n\n<x-html>\n--b3\n</x-html>\n", {}},
    {"no empty line", "From a\nSubject: caf\xE9\nbody without a header end", {}},
    {"lone CR at the cut", "From a\rSubject: \xE9\r\r\nbody \xE9\r", 19},
    {"header cut before its end", "From a\nSubject: caf\xE9\nX: y\n\nbody\n", 10},
    {"empty first line", "\nContent-Type: text/plain\n\nbody\n", {}},
    {"blocks",
     "From a\nSubject: s\n\n<x-charset utf-8>caf\xC3\xA9 \xE2\x82\xAC</x-charset>\nplain \xE9\n<x-html><b>b</b> \xE9</x-html>\n",
     {}},
    {"invalid UTF-8 block", "From a\nSubject: s\n\n<x-charset utf-8>caf\xE9</x-charset>\n", {}},
    {"ASCII", "From a\r\nSubject: s\r\n\r\nplain text\r\n", {}},
    {"wide character in the type", "From a\nContent-Type: text/plain; name=\"\x80\"\n\nbody \xE9\n", {}},
    {"8-bit header fields", "From a\nFrom: J\xFCrgen M\xFCller <j@example.com>\nSubject: \x93q\x94\n\nbody\n", {}},
    {"other type", "From a\nContent-Type: message/rfc822\n\nbody \xE9\n", {}},
    {"UTF-8 text", "From a\nSubject: caf\xC3\xA9\n\nbody \xE2\x82\xAC \xF0\x9F\x98\x80\n", {}},
    {"declared UTF-8", "From a\nContent-Type: text/plain; charset=utf-8\n\n\xC3\xA9\n", {}},
    {"trailer", "From a\nSubject: s\n\nt\xE9\n<!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"\">\n", {}},
    {"C1 byte", "From a\nSubject: s\n\n\x85 \x9F\n", {}},
};
struct Setting {
    const char* source;
    bool tags, crlf, putBack, encodeHeaders;
    Names charsets;
};
const Setting settings[] = {
    {"windows-1252", true, false, true, true, {"us-ascii", "iso-8859-1", "utf-8"}},
    {"windows-1252", false, false, false, false, {"us-ascii", "iso-8859-1", "utf-8"}},
    {"windows-1252", true, true, false, true, {"iso-8859-1", "windows-1252", "utf-8"}},
    {"utf-8", true, false, true, false, {"us-ascii", "utf-8"}},
    {"macintosh", true, true, true, true, {"us-ascii", "macintosh", "utf-8"}},
    {"", true, false, true, true, {"us-ascii", "iso-8859-1", "utf-8"}}, // Automatic
    {"", false, true, false, true, {"us-ascii", "windows-1252"}},
    {"us-ascii", true, false, true, true, {"us-ascii", "iso-8859-1"}},
};

void PrintTo(const Message& m, std::ostream* out) { *out << m.what; }

} // namespace paths

// A case's name as a test name: letters and digits, the rest '_'.
std::string caseName(const ::testing::TestParamInfo<paths::Message>& info)
{
    std::string name;
    for (const char* c = info.param.what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

// A message whose every piece is single-byte or UTF-8 text, converted into single-byte
// or UTF-8 candidates, goes from its bytes straight to the candidate's bytes. A last
// candidate that this path does not write (ISO-2022-JP, never reached here but for
// undecodable text) makes the same message take the path that decodes the whole text:
// both must give the same bytes and the same reason, whatever the header looks like.
class MessageConversionPaths : public ::testing::TestWithParam<paths::Message> {};

TEST_P(MessageConversionPaths, FromTheBytesAsFromTheDecodedText)
{
    using namespace paths;
    const Message& m = GetParam();
    for (const Setting& setting : settings) {
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = *setting.source ? idFor(setting.source) : kEncodingAutomatic;
        options.processEudoraTags = setting.tags;
        options.crlfLineEndings = setting.crlf;
        options.putBackAttachments = setting.putBack;
        options.encodeHeaders = setting.encodeHeaders;
        Names wholeNames = setting.charsets;
        wholeNames.push_back("iso-2022-jp");
        CharsetCandidates direct(setting.charsets);
        CharsetCandidates whole(wholeNames);
        std::uint64_t headerLength = kHeaderLengthNone;
        if (m.headerLength) {
            headerLength = *m.headerLength;
        } else {
            const std::size_t lf = m.bytes.find("\n\n");
            const std::size_t crlf = m.bytes.find("\r\n\r\n");
            if (crlf != std::string::npos)
                headerLength = crlf + 4;
            else if (lf != std::string::npos)
                headerLength = lf + 2;
        }
        std::string fromBytes = "stale", fromText = "stale";
        MailboxContext a, b;
        const bool doneA = convertMessage(m.bytes, headerLength, options, direct, a, fromBytes);
        const bool doneB = convertMessage(m.bytes, headerLength, options, whole, b, fromText);
        const std::string where = std::string(m.what) + " from " + (*setting.source ? setting.source : "Automatic");
        EXPECT_EQ(a.lastReason, b.lastReason) << where;
        if (b.lastReason == UnconvertedReason::NoFittingCharset)
            continue; // the last candidate is reached: the lists differ there
        ASSERT_EQ(doneA, doneB) << where;
        if (doneA) {
            EXPECT_EQ(fromBytes, fromText) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Messages, MessageConversionPaths, ::testing::ValuesIn(paths::messages), caseName);

TEST(CaseInsensitiveEquality, SimpleCaseFoldingLiteral)
{
    const struct {
        const char *text, *other;
        bool equal;
    } cases[] = {
        {"tis-620", "TIS-620", true},
        {"tis-620", "", false},
        {"tis-620", "tis-62", false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true}, // été / ÉTÉ
        {"\xE2\x84\xAA", "k", true},                      // KELVIN SIGN folds to k
        {"stra\xC3\x9F"
         "e",
         "STRASSE", false},               // no simple folding of ß to ss
        {"\xC3\xA9", "e\xCC\x81", false}, // composed vs decomposed
        {"a\xFF", "A\xFF", true},
        {"a\xFF", "a\xFE", false}, // an invalid byte equals only itself
    };
    for (const auto& c : cases)
        EXPECT_EQ(equalsFoldedUTF8(c.text, c.other), c.equal) << c.text << " vs " << c.other;
}

TEST(CaseInsensitiveEquality, PrefixAndContainmentInUTF16)
{
    const struct {
        std::u16string text, needle;
        bool starts, contains;
    } cases[] = {
        {u"content-TYPE: text/plain", u"Content-Type:", true, true},
        {u"Content-Typ", u"Content-Type:", false, false},
        {u"X-Content-Type: a", u"content-type:", false, true},
        {u"\u212Aey: v", u"KEY", true, true}, // KELVIN SIGN folds to k
        {u"x-\u212Aey", u"key", false, true},
        {u"@[\\]^_", u"`{|}~\x7F", false, false}, // no ASCII pair but letters folds together
        {u"MULTIPART/Mixed", u"multipart", true, true},
        {u"\u00C9t\u00E9", u"\u00E9T\u00C9", true, true},
        {u"a", u"", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(startsWithFolded(c.text, c.needle), c.starts) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(containsFolded(c.text, c.needle), c.contains) << std::string(c.text.begin(), c.text.end());
    }
}

} // namespace
} // namespace tarnwick
