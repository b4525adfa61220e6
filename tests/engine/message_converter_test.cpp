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

using Result = std::optional<std::string>;

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
std::uint64_t headerLengthOf(std::string_view m)
{
    for (std::size_t pos = 0, eol; (eol = m.find_first_of("\r\n", pos)) != std::string_view::npos;) {
        const std::size_t end = eol + (m.compare(eol, 2, "\r\n") == 0 ? 2 : 1);
        if (eol == pos)
            return end < m.size() ? end : kHeaderLengthNone;
        pos = end;
    }
    return kHeaderLengthNone;
}

struct Options {
    EncodingId source = kEncodingISOLatin1;
    bool tags = true;
    bool crlf = false;
    bool nbsp = false;
    std::vector<std::string> charsets = {"iso-8859-1"};
};

class MessageConverterTest : public ::testing::Test {
protected:
    void SetUp() override { setLogSink([this](std::string_view line) { logs.emplace_back(line); }); }
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
    Result convert(const std::string& message, std::uint64_t headerLength)
    {
        std::string result = "stale contents";
        return convertMessage(message, headerLength, result) ? Result(result) : std::nullopt;
    }
    Result convert(const std::string& message) { return convert(message, headerLengthOf(message)); }

    std::vector<std::string> logs;
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
        {"worked example", {}, "Subject: hi\n\n<x-flowed>Hello</x-flowed>\n", "Subject: hi\n" + flowed + "iso-8859-1\n\nHello\n"},
        {"tags off: all stays", {.tags = false}, "Content-Type: text/x\n\n<x-html>a</x-html>\n",
         "Content-Type: text/x\n\n<x-html>a</x-html>\n"},
        {"no body: plain path even with tags on", {}, "\n", "\n"},
        {"body starting with an empty line", {}, "\n\n<x-html>b</x-html>\n", kPlain + "\n\nb\n"},
        {"tag in mid-line is a lone '<'", {}, "\na <x-html>b</x-html>", kPlain + "\na <x-html>b</x-html>"},
        {"'<<x-html>': lone '<' then a block", {}, "\n<<x-html>b</x-html>\n", kHtml + "\n<b\n"},
        {"blocks back to back", {}, "\n<x-flowed>a</x-flowed><x-html>b</x-html>", flowed + "iso-8859-1\n\nab"},
        {"tag after a line break in a run", {}, "\nhi\n<x-html>b</x-html>", kPlain + "\nhi\nb"},
        {"trailer marker with 18 bytes left", {}, "\n<!x-stuff-for-vrak", kPlain + "\n<!x-stuff-for-vrak"},
        {"trailer kept whole, tags and all", {}, "\n<!x-stuff-for-vrak><x-flowed>q</x-flowed>\n",
         kHtml + "\n<!x-stuff-for-vrak><x-flowed>q</x-flowed>\n"},
        {"Mac trailer spelling", {}, "\n<!x-stuff-for-pete><x-html>q</x-html>", kHtml + "\n<!x-stuff-for-pete><x-html>q</x-html>"},
        {"unknown tag charset", {}, "\n<x-charset bogus>\xE9t\xE9</x-charset>", kPlain + "\n\xE9t\xE9"},
        {"invalid in the tag's charset", {}, "\n<x-charset utf-8>\xE9</x-charset>", kPlain + "\n\xE9"},
        {"invalid in both", {.source = kEncodingASCII}, "\n<x-charset utf-8>\xE9</x-charset>", std::nullopt},
        {"decoded in the tag's charset", {.charsets = {"iso-8859-1", "utf-8"}}, "\n<x-charset iso-8859-7>\xE1</x-charset>",
         "Content-Type: text/plain; charset=utf-8\n\n\xCE\xB1"},
        {"lone '<' at the end", {}, "\na\n<", kPlain + "\na\n<"},
        {"body of lone '<' only: no header", {}, "\n<", "\n<"},
        {"header not decodable", {.source = kEncodingASCII}, "S: \xE9\n\nbody", std::nullopt},
        {"plain path not decodable", {.source = kEncodingASCII, .tags = false}, "\n\xE9", std::nullopt},
        {"text run not decodable", {.source = kEncodingASCII}, "\n<x-html>a</x-html>\xE9", std::nullopt},
        {"any case, replaced", {}, "content-type: TEXT/PLAIN; charset=x\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"X-Content-Type is not the header", {}, "X-Content-Type: text\n" + b, "X-Content-Type: text\n" + kHtml + "\nb"},
        {"tab continuation replaced too", {}, "Content-Type: multipart/x;\n\tboundary=\"x\"\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"space continuation, then a field", {}, "Content-Type: image/png;\n name=\"text\"\nS: s\n" + b, kHtml + "S: s\n\nb"},
        {"other type left alone", {}, "Content-Type: image/png\n" + b, "Content-Type: image/png\n\nb"},
        {"'text' anywhere counts", {}, "Content-Type: application/x-texture\n" + b, kHtml + "\nb"},
        {"only the first Content-Type line counts", {}, "Content-Type: image/png\nContent-Type: text/plain\n" + b,
         "Content-Type: image/png\nContent-Type: text/plain\n\nb"},
        {"ASCII: no charset parameter", {.charsets = {"us-ascii", "iso-8859-1"}}, b, "Content-Type: text/html\n\nb"},
        {"charset named as written", {.charsets = {"ISO-8859-1"}}, b, "Content-Type: text/html; charset=ISO-8859-1\n\nb"},
        {"ASCII-incompatible candidate left out", {.charsets = {"UTF-16", "iso-8859-1"}}, b, kHtml + "\nb"},
        // The old header's euro sign rules ISO Latin 1 out although the new header needs none.
        {"chosen before the header change", {.source = idFor("windows-1252"), .charsets = {"iso-8859-1", "utf-8"}},
         "Content-Type: text/plain; name=\"\x80\"\n" + b, "Content-Type: text/html; charset=utf-8\n\nb"},
        {"chosen before the header change, table encoding",
         {.source = kEncodingUTF8, .charsets = {"windows-1252", "utf-8"}},
         "Content-Type: text/plain; name=\"\xC4\x80\"\n" + b, "Content-Type: text/html; charset=utf-8\n\nb"},
        {"no candidate fits", {.source = idFor("windows-1252")}, "S: \x80\n" + b, std::nullopt},
        {"empty candidate list", {.charsets = {}}, b, std::nullopt},
        // 0x85 is NEL in ISO Latin 1, but header lines end only at CR and LF.
        {"NEL in a header line", {}, "X-Odd: a\x85\nS: s\n" + b, "X-Odd: a\x85\nS: s\n" + kHtml + "\nb"},
    };
    for (const auto& c : cases) {
        use(c.options);
        EXPECT_EQ(convert("From x\n" + c.message), c.expected ? Result("From x\n" + *c.expected) : std::nullopt)
            << c.label;
    }
}

TEST_F(MessageConverterTest, HeaderEndsAndInsertedTerminator)
{
    const struct {
        bool crlf;
        std::string eol, inserted;
    } cases[] = {{false, "\n", "\n"}, {false, "\r", "\r"}, {false, "\r\n", "\r\n"}, {true, "\n", "\r\n"}};
    for (const auto& c : cases) {
        use({.crlf = c.crlf});
        const std::string e = c.eol;
        EXPECT_EQ(convert("From x" + e + "S: s" + e + e + "<x-html>b</x-html>" + e),
                  "From x" + e + "S: s" + e + "Content-Type: text/html; charset=iso-8859-1" + c.inserted + e + "b" + e)
            << "terminator of " << e.size() << (c.crlf ? ", CR LF wanted" : ", kept");
    }
    use({});
    EXPECT_EQ(convert("From x\nS: s\n<x-html>b</x-html>", 12), "From x\nS: s\nb") << "no empty line: no insertion";
    const std::string emptyBody = "From x\nS: s\n\n";
    EXPECT_EQ(convert(emptyBody, emptyBody.size()), emptyBody) << "empty body on the tag path";
}

std::vector<std::string> nbspLog(int count)
{
    return count ? std::vector<std::string>{std::to_string(count) + " NBSP (U+00A0) replaced with space (U+0020)"}
                 : std::vector<std::string>{};
}

TEST_F(MessageConverterTest, NoBreakSpaces)
{
    const struct {
        const char* label;
        std::string bytes;
        int count;
    } cases[] = {
        {"sample", "\xA0" "a\x82\xA0" "A\xA0", 2}, {"after 0x80", "\x80\xA0", 1},  {"after 0xA0", "\xA0\xA0", 2},
        {"after 0xFD", "\xFD\xA0", 1}, {"after lead 0x81", "\x81\xA0", 0}, {"after lead 0x9F", "\x9F\xA0", 0},
        {"after lead 0xE0", "\xE0\xA0", 0}, {"after lead 0xFC", "\xFC\xA0", 0},
    };
    for (EncodingId source : {kEncodingShiftJIS, kEncodingMacJapanese}) {
        for (const auto& c : cases) {
            use({.source = source, .tags = false, .nbsp = true, .charsets = {"utf-8"}});
            convert(c.bytes, kHeaderLengthNone);
            EXPECT_EQ(logs, nbspLog(c.count)) << c.label << " source " << source;
        }
    }
    use({.source = kEncodingShiftJIS, .tags = false, .nbsp = true, .charsets = {"shift_jis"}});
    EXPECT_EQ(convert("\xA0" "a\x82\xA0" "A\xA0", kHeaderLengthNone), " a\x82\xA0" "A ");
    use({.source = kEncodingShiftJIS, .tags = false, .nbsp = true, .charsets = {"us-ascii"}});
    EXPECT_EQ(convert("\xA0\x82\xA0", kHeaderLengthNone), std::nullopt) << "replaced, but no candidate fits";
    for (const Options& off : {Options{.source = kEncodingShiftJIS, .tags = false}, Options{.tags = false, .nbsp = true}}) {
        use(off);
        convert("a\xA0", kHeaderLengthNone);
        EXPECT_TRUE(logs.empty()) << "no replacement for source " << off.source << " nbsp " << off.nbsp;
    }
}

TEST_F(MessageConverterTest, RealMailAgainstPythonCodecs)
{
    const std::vector<std::string> jis = {"iso-2022-jp", "utf-8"};
    const struct {
        const char *source, *target; // tests/data/message/<source>_source.txt, <source>_to_<target>.txt
        Options options;
    } cases[] = {
        {"ja_sjis", "iso2022jp", {.source = kEncodingShiftJIS, .charsets = jis}},
        {"ja_sjis", "utf8", {.source = kEncodingShiftJIS, .charsets = {"utf-8"}}},
        {"ja_macjapanese", "iso2022jp", {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = jis}},
        {"ja_macjapanese", "utf8", {.source = kEncodingMacJapanese, .tags = false, .nbsp = true, .charsets = {"utf-8"}}},
        {"ja_mixed", "utf8", {.source = kEncodingShiftJIS, .charsets = jis}},
        {"ja_iso2022jp", "utf8", {.source = idFor("iso-2022-jp"), .charsets = {"utf-8"}}},
        {"western_cp1252", "utf8", {.source = idFor("windows-1252"), .charsets = {"us-ascii", "iso-8859-1", "utf-8"}}},
    };
    for (auto [source, target, options] : cases) {
        options.crlf = true;
        use(options);
        const std::string expected = std::string(source) + "_to_" + target + ".txt";
        EXPECT_EQ(convert(readFixture(std::string(source) + "_source.txt")), Result(readFixture(expected))) << expected;
        EXPECT_EQ(logs, nbspLog(options.nbsp ? 4 : 0)) << expected;
    }
}

} // namespace
} // namespace tarnwick
