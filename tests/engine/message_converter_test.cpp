#include "engine/MessageConverter.h"

#include "engine/ByteRange.h"
#include "engine/CharsetCandidates.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

EncodingId idFor(std::string_view name)
{
    return carryEncoding(encodingForIANAName(name));
}

std::string readFixture(const std::string& name)
{
    std::ifstream in(std::string(TARNWICK_TEST_DATA_DIR) + "/message/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The header length as the mailbox pass computes it: the offset after the first
/// empty line (CR, LF and CR LF end lines), or none when no line follows it.
std::uint64_t headerLengthOf(std::string_view message)
{
    std::size_t pos = 0;
    while (pos < message.size()) {
        const std::size_t contentsEnd = message.find_first_of("\r\n", pos);
        if (contentsEnd == std::string_view::npos)
            return kHeaderLengthNone;
        std::size_t end = contentsEnd + 1;
        if (message[contentsEnd] == '\r' && end < message.size() && message[end] == '\n')
            ++end;
        if (contentsEnd == pos)
            return end < message.size() ? end : kHeaderLengthNone;
        pos = end;
    }
    return kHeaderLengthNone;
}

struct Options {
    EncodingId source = kEncodingISOLatin1;
    bool tags = true;
    bool crlf = true;
    bool nbsp = false;
    std::vector<std::string> charsets = {"iso-8859-1"};
};

class MessageConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLogSink([this](std::string_view line) { logs.emplace_back(line); });
    }
    void TearDown() override
    {
        setLogSink({});
        SettingsStore::standard().clearVolatile();
        discardCharsetCandidates();
    }
    void use(const Options& o)
    {
        SettingsStore& store = SettingsStore::standard();
        store.clearVolatile();
        discardCharsetCandidates();
        store.setVolatile(keys::kMboxEncoding, static_cast<std::int64_t>(o.source));
        store.setVolatile(keys::kProcessEudoraTags, o.tags);
        store.setVolatile(keys::kConvertLineEndings, o.crlf);
        store.setVolatile(keys::kReplaceNBSPWithSpaceInMacJapanese, o.nbsp);
        store.setVolatile(keys::kCharsetNames, o.charsets);
        logs.clear();
    }
    std::optional<std::string> convert(const std::string& message, std::uint64_t headerLength)
    {
        const std::string before = message;
        std::string result = "stale contents";
        const bool ok = convertMessage(message, headerLength, result);
        EXPECT_EQ(message, before) << "the message bytes are never modified";
        return ok ? std::optional<std::string>(result) : std::nullopt;
    }
    std::optional<std::string> convert(const std::string& message)
    {
        return convert(message, headerLengthOf(message));
    }

    std::vector<std::string> logs;
};

const std::string kFrom = "From x Sat Jan  1 00:00:00 2000\r\n";

TEST_F(MessageConverterTest, WorkedExample)
{
    use({});
    const std::string message = kFrom + "Subject: hi\r\n\r\n<x-flowed>Hello</x-flowed>\r\n";
    EXPECT_EQ(headerLengthOf(message), message.find('<'));
    EXPECT_EQ(convert(message), kFrom
                                    + "Subject: hi\r\n"
                                      "Content-Type: text/plain; format=flowed; charset=iso-8859-1\r\n"
                                      "\r\n"
                                      "Hello\r\n");
}

struct Case {
    const char* label;
    Options options;
    std::string message; // after the "From " line
    std::optional<std::string> expected; // after the "From " line; none: no result
};

TEST_F(MessageConverterTest, BodyWalk)
{
    const std::string ct = "Content-Type: ";
    const std::vector<Case> cases = {
        {"tags off: tags and a foreign charset header stay", {.tags = false},
         "Content-Type: text/plain; charset=koi8-r\r\n\r\n<x-html>a</x-html>\r\n",
         "Content-Type: text/plain; charset=koi8-r\r\n\r\n<x-html>a</x-html>\r\n"},
        {"no body: plain path even with tags on", {}, "Subject: s\r\n\r\n", "Subject: s\r\n\r\n"},
        {"body starting with an empty line: text/plain wins", {},
         "S: s\r\n\r\n\r\n<x-html>b</x-html>\r\n",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\n\r\nb\r\n"},
        {"tag in mid-line is a lone '<'", {}, "S: s\r\n\r\na <x-html>b</x-html>\r\n",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\na <x-html>b</x-html>\r\n"},
        {"'<<x-html>' gives a lone '<' then a block", {}, "S: s\r\n\r\n<<x-html>b</x-html>\r\n",
         "S: s\r\n" + ct + "text/html; charset=iso-8859-1\r\n\r\n<b\r\n"},
        {"blocks back to back", {}, "S: s\r\n\r\n<x-flowed>a</x-flowed><x-html>b</x-html>",
         "S: s\r\n" + ct + "text/plain; format=flowed; charset=iso-8859-1\r\n\r\nab"},
        {"tag after a line break inside a run", {}, "S: s\r\n\r\nhi\n<x-html>b</x-html>",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\nhi\nb"},
        {"trailer marker with exactly 18 bytes left", {}, "S: s\r\n\r\n<!x-stuff-for-vrak",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\n<!x-stuff-for-vrak"},
        {"trailer kept whole, tags inside it too", {}, "S: s\r\n\r\n<!x-stuff-for-vrak><x-flowed>q</x-flowed>\r\n",
         "S: s\r\n" + ct + "text/html; charset=iso-8859-1\r\n\r\n<!x-stuff-for-vrak><x-flowed>q</x-flowed>\r\n"},
        {"Mac spelling of the trailer", {}, "S: s\r\n\r\n<!x-stuff-for-pete><x-html>q</x-html>\r\n",
         "S: s\r\n" + ct + "text/html; charset=iso-8859-1\r\n\r\n<!x-stuff-for-pete><x-html>q</x-html>\r\n"},
        {"unknown tag charset: source encoding", {}, "S: s\r\n\r\n<x-charset bogus>\xE9t\xE9</x-charset>",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\n\xE9t\xE9"},
        {"text invalid in the tag's charset: source encoding", {},
         "S: s\r\n\r\n<x-charset utf-8>\xE9t\xE9</x-charset>",
         "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\n\xE9t\xE9"},
        {"text invalid in both: no result", {.source = kEncodingASCII},
         "S: s\r\n\r\n<x-charset utf-8>\xE9</x-charset>", std::nullopt},
        {"block decoded in the tag's charset", {.charsets = {"iso-8859-1", "utf-8"}},
         "S: s\r\n\r\n<x-charset iso-8859-7>\xE1</x-charset>",
         "S: s\r\n" + ct + "text/plain; charset=utf-8\r\n\r\n\xCE\xB1"},
        {"lone '<' at the end", {}, "S: s\r\n\r\na\r\n<", "S: s\r\n" + ct + "text/plain; charset=iso-8859-1\r\n\r\na\r\n<"},
        {"body of lone '<' only: no header", {}, "S: s\r\n\r\n<", "S: s\r\n\r\n<"},
        {"header not decodable: no result", {.source = kEncodingASCII}, "S: \xE9\r\n\r\nbody", std::nullopt},
        {"plain path not decodable: no result", {.source = kEncodingASCII, .tags = false}, "S: s\r\n\r\n\xE9",
         std::nullopt},
        {"text run not decodable: no result", {.source = kEncodingASCII}, "S: s\r\n\r\n<x-html>a</x-html>\xE9",
         std::nullopt},
    };
    for (const Case& c : cases) {
        use(c.options);
        const std::optional<std::string> expected =
            c.expected ? std::optional<std::string>(kFrom + *c.expected) : std::nullopt;
        EXPECT_EQ(convert(kFrom + c.message), expected) << c.label;
    }
}

TEST_F(MessageConverterTest, EmptyBodyTakesTheTagPath)
{
    use({});
    const std::string message = kFrom + "S: s\r\n\r\n";
    EXPECT_EQ(convert(message, message.size()), message);
}

TEST_F(MessageConverterTest, ContentTypeHeader)
{
    const std::string body = "\r\n<x-html>b</x-html>";
    const std::string html = "Content-Type: text/html; charset=iso-8859-1";
    const std::vector<Case> cases = {
        {"any case, replaced", {}, "content-type: TEXT/PLAIN; charset=x\r\nS: s\r\n" + body,
         html + "\r\nS: s\r\n\r\nb"},
        {"X-Content-Type is not the header", {}, "X-Content-Type: text\r\n" + body,
         "X-Content-Type: text\r\n" + html + "\r\n\r\nb"},
        {"multipart with a tab continuation replaced whole", {},
         "Content-Type: multipart/alternative;\r\n\tboundary=\"xyz\"\r\nS: s\r\n" + body,
         html + "\r\nS: s\r\n\r\nb"},
        {"space continuation ends at the next field", {},
         "Content-Type: application/octet-stream;\r\n name=\"text\"\r\nS: s\r\n" + body,
         html + "\r\nS: s\r\n\r\nb"},
        {"other type left alone, body still converted", {}, "Content-Type: application/octet-stream\r\n" + body,
         "Content-Type: application/octet-stream\r\n\r\nb"},
        {"'text' anywhere in the header counts", {}, "Content-Type: application/x-texture\r\n" + body,
         html + "\r\n\r\nb"},
        {"only the first Content-Type line counts", {},
         "Content-Type: image/png\r\nContent-Type: text/plain\r\n" + body,
         "Content-Type: image/png\r\nContent-Type: text/plain\r\n\r\nb"},
        {"ASCII chosen: no charset parameter", {.charsets = {"us-ascii", "iso-8859-1"}}, "S: s\r\n" + body,
         "S: s\r\nContent-Type: text/html\r\n\r\nb"},
        {"charset named as the user wrote it", {.charsets = {"ISO-8859-1"}}, "S: s\r\n" + body,
         "S: s\r\nContent-Type: text/html; charset=ISO-8859-1\r\n\r\nb"},
        // The choice is made before the header changes: the old header's euro sign
        // rules ISO Latin 1 out even though the new header would not need it.
        {"choice made before the header change", {.source = idFor("windows-1252"), .charsets = {"iso-8859-1", "utf-8"}},
         "Content-Type: text/plain; name=\"\x80\"\r\n" + body,
         "Content-Type: text/html; charset=utf-8\r\n\r\nb"},
        {"choice made before the header change, table encoding",
         {.source = kEncodingUTF8, .charsets = {"windows-1252", "utf-8"}},
         "Content-Type: text/plain; name=\"\xC4\x80\"\r\n" + body,
         "Content-Type: text/html; charset=utf-8\r\n\r\nb"},
        {"no candidate fits: no result", {.source = idFor("windows-1252")}, "S: \x80\r\n" + body, std::nullopt},
        {"empty candidate list: no result", {.charsets = {}}, "S: s\r\n" + body, std::nullopt},
        // 0x85 is NEL in ISO Latin 1; header lines end only at CR and LF, so nothing
        // moves into the body.
        {"NEL inside a header line", {}, "X-Odd: a\x85\r\nSubject: s\r\n" + body,
         "X-Odd: a\x85\r\nSubject: s\r\n" + html + "\r\n\r\nb"},
        {"U+2028 inside a header line", {.source = kEncodingUTF8, .charsets = {"utf-8"}},
         "X-Odd: a\xE2\x80\xA8\r\nSubject: s\r\n" + body,
         "X-Odd: a\xE2\x80\xA8\r\nSubject: s\r\nContent-Type: text/html; charset=utf-8\r\n\r\nb"},
    };
    for (const Case& c : cases) {
        use(c.options);
        const std::optional<std::string> expected =
            c.expected ? std::optional<std::string>(kFrom + *c.expected) : std::nullopt;
        EXPECT_EQ(convert(kFrom + c.message), expected) << c.label;
    }
}

TEST_F(MessageConverterTest, InsertedLineTerminator)
{
    struct Terminator {
        const char* label;
        bool crlf;
        std::string eol;
        std::string inserted;
    };
    const Terminator cases[] = {
        {"LF mailbox, line endings kept", false, "\n", "\n"},
        {"CR mailbox, line endings kept", false, "\r", "\r"},
        {"CR LF mailbox, line endings kept", false, "\r\n", "\r\n"},
        {"LF mailbox, CR LF wanted", true, "\n", "\r\n"},
    };
    for (const Terminator& c : cases) {
        use({.crlf = c.crlf});
        const std::string e = c.eol;
        const std::string message = "From x" + e + "S: s" + e + e + "<x-html>b</x-html>" + e;
        EXPECT_EQ(convert(message),
                  "From x" + e + "S: s" + e + "Content-Type: text/html; charset=iso-8859-1" + c.inserted + e + "b" + e)
            << c.label;
    }
}

TEST_F(MessageConverterTest, NoEmptyLineInTheTextSkipsTheInsertion)
{
    use({});
    const std::string message = "From x\r\nS: s\r\n<x-html>b</x-html>";
    EXPECT_EQ(convert(message, 14), "From x\r\nS: s\r\nb");
}

TEST_F(MessageConverterTest, NoBreakSpaces)
{
    struct Nbsp {
        const char* label;
        std::string bytes;
        int count; // 0: no log line
    };
    const Nbsp cases[] = {
        {"sample", "\xA0" "a\x82\xA0" "A\xA0", 2},
        {"after 0x80", "\x80\xA0", 1},
        {"after 0xA0", "\xA0\xA0", 2},
        {"after 0xFD", "\xFD\xA0", 1},
        {"after lead 0x81", "\x81\xA0", 0},
        {"after lead 0x9F", "\x9F\xA0", 0},
        {"after lead 0xE0", "\xE0\xA0", 0},
        {"after lead 0xFC", "\xFC\xA0", 0},
    };
    for (EncodingId source : {kEncodingShiftJIS, kEncodingMacJapanese}) {
        for (const Nbsp& c : cases) {
            use({.source = source, .tags = false, .nbsp = true, .charsets = {"utf-8"}});
            convert(c.bytes, kHeaderLengthNone);
            const std::vector<std::string> expected =
                c.count ? std::vector<std::string>{std::to_string(c.count) + " NBSP (U+00A0) replaced with space (U+0020)"}
                        : std::vector<std::string>{};
            EXPECT_EQ(logs, expected) << c.label << " source " << source;
        }
    }

    use({.source = kEncodingShiftJIS, .tags = false, .nbsp = true, .charsets = {"shift_jis"}});
    EXPECT_EQ(convert("\xA0" "a\x82\xA0" "A\xA0", kHeaderLengthNone), " a\x82\xA0" "A ");

    use({.source = kEncodingShiftJIS, .tags = false, .nbsp = true, .charsets = {"us-ascii"}});
    EXPECT_EQ(convert("\xA0\x82\xA0", kHeaderLengthNone), std::nullopt) << "replaced, but no candidate fits";

    for (const Options& off : {Options{.source = kEncodingShiftJIS, .tags = false, .nbsp = false},
                               Options{.source = kEncodingISOLatin1, .tags = false, .nbsp = true}}) {
        use(off);
        convert("a\xA0", kHeaderLengthNone);
        EXPECT_TRUE(logs.empty()) << "no replacement for source " << off.source << " nbsp " << off.nbsp;
    }
}

struct FixtureCase {
    const char* source;
    Options options;
    const char* expected;
    std::vector<std::string> logs;
};

TEST_F(MessageConverterTest, RealMailAgainstPythonCodecs)
{
    const std::vector<FixtureCase> cases = {
        {"ja_sjis_source.txt", {.source = kEncodingShiftJIS, .charsets = {"iso-2022-jp", "utf-8"}},
         "ja_sjis_to_iso2022jp.txt", {}},
        {"ja_sjis_source.txt", {.source = kEncodingShiftJIS, .charsets = {"utf-8"}}, "ja_sjis_to_utf8.txt", {}},
        {"ja_macjapanese_source.txt",
         {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = {"iso-2022-jp", "utf-8"}},
         "ja_macjapanese_to_iso2022jp.txt", {"4 NBSP (U+00A0) replaced with space (U+0020)"}},
        {"ja_macjapanese_source.txt",
         {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = {"utf-8"}},
         "ja_macjapanese_to_utf8.txt", {"4 NBSP (U+00A0) replaced with space (U+0020)"}},
        {"ja_mixed_source.txt", {.source = kEncodingShiftJIS, .charsets = {"iso-2022-jp", "utf-8"}},
         "ja_mixed_to_utf8.txt", {}},
        {"ja_iso2022jp_source.txt", {.source = idFor("iso-2022-jp"), .charsets = {"utf-8"}},
         "ja_iso2022jp_to_utf8.txt", {}},
        {"western_cp1252_source.txt",
         {.source = idFor("windows-1252"), .charsets = {"us-ascii", "iso-8859-1", "utf-8"}},
         "western_cp1252_to_utf8.txt", {}},
    };
    for (const FixtureCase& c : cases) {
        use(c.options);
        const std::optional<std::string> result = convert(readFixture(c.source));
        ASSERT_TRUE(result.has_value()) << c.source << " -> " << c.expected;
        EXPECT_EQ(*result, readFixture(c.expected)) << c.source << " -> " << c.expected;
        EXPECT_EQ(logs, c.logs) << c.source << " -> " << c.expected;
    }
}

} // namespace
} // namespace tarnwick
