#include "engine/header/EncodedWords.h"
#include "engine/header/HeaderEncoder.h"

#include "engine/text/CaseFold.h"
#include "engine/EncodedWordDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
// Calls `check` with every string of up to `length` units over `alphabet`, the empty
// one first.
void forEveryValue(std::u16string_view alphabet, std::size_t length, const std::function<void(const std::u16string&)>& check)
{
    std::u16string value;
    auto grow = [&](auto&& self, std::size_t left) -> void {
        check(value);
        if (left == 0)
            return;
        for (const char16_t c : alphabet) {
            value.push_back(c);
            self(self, left - 1);
            value.pop_back();
        }
    };
    grow(grow, length);
}

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
        {"subject keeps ascii words", "Subject: Re: café au lait\r\n", kLatin1,
         "Subject: Re: =?iso-8859-1?Q?caf=E9?= au lait\r\n"},
        {"japanese subject in B", "Subject: 会議\n", kISO2022JP, "Subject: =?iso-2022-jp?B?GyRCMnE1RBsoQg==?=\n"},
        {"display name", "From: Jürgen Müller <mueller@example.com>\r\n", kLatin1,
         "From: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <mueller@example.com>\r\n"},
        {"quoted display name gets a space before <", "To: \"Müller, J.\"<m@x.org>, Ann <a@x.org>\r\n", kLatin1,
         "To: =?iso-8859-1?Q?M=FCller=2C_J=2E?= <m@x.org>, Ann <a@x.org>\r\n"},
        {"comment after bare address", "Cc: j@example.com (Jürgen)\r\n", kLatin1,
         "Cc: j@example.com (=?iso-8859-1?Q?J=FCrgen?=)\r\n"},
        {"group name", "To: Grüppe: a@b, c@d;\r\n", kLatin1, "To: =?iso-8859-1?Q?Gr=FCppe?=: a@b, c@d;\r\n"},
        {"comment in a structured field", "Received: from x (höst)\r\n", kLatin1,
         "Received: from x (=?iso-8859-1?Q?h=F6st?=)\r\n"},
        {"charset without the character falls back to utf-8", "Subject: 会\r\n", kLatin1,
         "Subject: =?utf-8?B?5Lya?=\r\n"},
        {"ascii text that looks encoded is encoded too", "Subject: =?x?Q?y?= é\r\n", kUTF8,
         "Subject: =?utf-8?B?PT94P1E/eT89IMOp?=\r\n"},
        {"cr terminator kept", "Subject: é\r", kLatin1, "Subject: =?iso-8859-1?Q?=E9?=\r"},
        {"an encoded-word beside raw text is decoded, not encoded again",
         "Subject: =?utf-8?q?caf=C3=A9?= and raw café\r\n", kLatin1,
         "Subject: =?iso-8859-1?Q?caf=E9_and_raw_caf=E9?=\r\n"},
        {"adjacent encoded-words join, as a reader shows them", "Subject: =?utf-8?B?w6k=?= =?iso-8859-1?Q?=E8?= é\n",
         kUTF8, "Subject: =?utf-8?B?w6nDqCDDqQ==?=\n"},
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

// A field too long to hold goes through LongField in parts, its structured parts held
// up to `holdLimit` units: the same bytes as encodeHeaderFields.
std::u16string longField(std::u16string_view field, const HeaderCharset& charset, std::size_t part,
                         LongFieldPlan::Kind& kind, std::size_t holdLimit = 1 << 16)
{
    LongFieldPlan plan;
    std::u16string out;
    for (const LongField::Pass pass : {LongField::Pass::Shape, LongField::Pass::Words, LongField::Pass::Write}) {
        LongField long_(pass, plan, charset, holdLimit);
        for (std::size_t at = 0; at < field.size(); at += part) {
            long_.add(field.substr(at, part));
            out += long_.out;
            long_.out.clear();
        }
        long_.finish();
        out += long_.out;
        if (pass != LongField::Pass::Write)
            out.clear();
    }
    kind = plan.kind;
    return out;
}

TEST(HeaderEncoder, LongFieldsInPartsGiveTheFieldsBytes)
{
    constexpr HeaderCharset kShiftJIS{kEncodingShiftJIS, "shift_jis"};
    std::string manyWords;
    for (int i = 0; i < 60; ++i)
        manyWords += i % 7 == 3 ? " caf\xc3\xa9" : " word";
    const struct Case {
        const char* name;
        std::string field; // UTF-8
        LongFieldPlan::Kind kind = LongFieldPlan::Kind::Unstructured;
    } cases[] = {
        {"words around non-ASCII ones", "Subject:" + manyWords + "\r\n"},
        {"leading and trailing blanks", "Subject:   caf\xc3\xa9 au lait  \t \r\n"},
        {"no blank after the colon", "Subject:caf\xc3\xa9\r\n"},
        {"an unsafe plain word: all words encoded", "X-Note: =?x?= caf\xc3\xa9 tail\n"},
        {"a plain word too long to fold", "Subject: " + std::string(90, 'a') + " caf\xc3\xa9 b\r\n"},
        {"folded with LF, CR and CR LF", "Subject: first\n caf\xc3\xa9\r\tsecond caf\xc3\xa9\r\n more\r\n"},
        {"no terminator", "Subject: caf\xc3\xa9" + manyWords},
        {"Japanese and an emoji", "Subject: \xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80 text" + manyWords + "\r\n"},
        {"a long plain prefix", "Subject:" + manyWords + manyWords + " \xe6\x97\xa5\r\n"},
        {"a name longer than any known one", std::string(70, 'X') + ": caf\xc3\xa9\r\n"},
        {"a blank in the name: copied", "X Y: caf\xc3\xa9\r\n", LongFieldPlan::Kind::Copied},
        {"no name: copied", ": caf\xc3\xa9\r\n", LongFieldPlan::Kind::Copied},
        {"no colon: copied", "caf\xc3\xa9 text\r\n", LongFieldPlan::Kind::Copied},
        {"a non-ASCII name: copied", "Caf\xc3\xa9: x\r\n", LongFieldPlan::Kind::Copied},
        {"an address field", "To: Zo\xc3\xab <z@example.org>\r\n", LongFieldPlan::Kind::Structured},
        {"a structured field", "Received: (caf\xc3\xa9) by x\r\n", LongFieldPlan::Kind::Structured},
        {"an ASCII structured field: copied", "Content-Type: text/plain; charset=utf-8\r\n", LongFieldPlan::Kind::Copied},
    };
    const HeaderCharset charsets[] = {kUTF8, kLatin1, kISO2022JP, kShiftJIS, {kEncodingASCII, "us-ascii"}};
    for (const Case& c : cases) {
        const std::u16string field = utf16(c.field);
        for (const HeaderCharset& charset : charsets) {
            std::u16string expected;
            encodeHeaderFields(field, charset, expected);
            for (const std::size_t part : {std::size_t{1}, std::size_t{3}, std::size_t{77}, field.size()}) {
                LongFieldPlan::Kind kind;
                const std::u16string got = longField(field, charset, part, kind);
                const std::string run = std::string(c.name) + " in " + std::string(charset.name) + ", parts of "
                    + std::to_string(part);
                EXPECT_EQ(kind, c.kind) << run;
                EXPECT_EQ(utf8(got), utf8(expected)) << run;
            }
        }
    }
    // A lone surrogate: not even UTF-8 can write it, and the field stands as it is.
    const std::u16string lone = u"Subject: caf\u00e9 \xd800 x\r\n";
    LongFieldPlan::Kind kind;
    EXPECT_EQ(longField(lone, kLatin1, 2, kind), lone);
    EXPECT_EQ(kind, LongFieldPlan::Kind::Copied);
}

// Structured fields in parts, their parts held up to a small limit or not at all, give
// the whole field's bytes: address lists and other fields with comments.
TEST(HeaderEncoder, LongStructuredFieldsInPartsGiveTheFieldsBytes)
{
    constexpr HeaderCharset kShiftJIS{kEncodingShiftJIS, "shift_jis"};
    const std::string japanese = "\xe5\xb1\xb1\xe7\x94\xb0\xe5\xa4\xaa\xe9\x83\x8e"; // four kanji
    std::string manyAddresses;
    for (int i = 0; i < 30; ++i)
        manyAddresses += (i % 3 == 0 ? "\"" + japanese + " " + std::to_string(i) + "\" <u" : "user" + std::to_string(i) + " <u")
            + std::to_string(i) + "@example.jp>, ";
    const std::string longName = std::string(200, 'x') + " caf\xc3\xa9 " + std::string(100, 'y');
    const std::string fields[] = {
        "To: J\xc3\xbcrgen M\xc3\xbcller <mueller@example.com>\r\n",
        "To: \"M\xc3\xbcller, J.\"<m@x.org>, Ann <a@x.org>\r\n",
        "To: " + manyAddresses + "last@example.jp\r\n",
        "Cc: \"caf\xc3\xa9 \\\" \\\\ pair\" <a@x>, plain@x (caf\xc3\xa9 (nested) \\) note)\r\n",
        "To: Team caf\xc3\xa9: a@x, \"B\xc3\xa9\" <b@y>; , c@z\r\n",
        "To: group: ; caf\xc3\xa9 <z@z>\n",
        "To: \"unclosed caf\xc3\xa9 <a@x>, b@y\r\n",
        "To: (unclosed caf\xc3\xa9 <a@x>, b@y\r\n",
        "To: caf\xc3\xa9 <unclosed@x, b\xc3\xa9 <b@y>\r\n",
        "To: stray ) > ] caf\xc3\xa9 <a@x>\r\n",
        "To: caf\xc3\xa9   \t  <a@x>,b\xc3\xa9\t\tc <b@y>  \t\r\n",
        "To: caf\xc3\xa9 no angle, \xc3\xa9t\xc3\xa9 <a@x> trailing words\r\n",
        "To: \"" + longName + "\" <long@x>\r\n",
        "To: " + longName + " <long@x>, " + longName + "\r\n",
        "To: a\\ caf\xc3\xa9\\\" <a@x>, \"\"  \"\xc3\xa9\"\"\" <b@x>\r\n",
        "To:\xc3\xa9<a@x>,,;:\r\n",
        "To: caf\xc3\xa9 (" + longName + ") <a@x> (" + longName + "\r\n",
        "From: first\n caf\xc3\xa9\r\t<folded@x>\r\n",
        "Received: from x (caf\xc3\xa9 [1.2.3.4]) by y; (" + japanese + ")\r\n",
        "Content-Type: text/plain; name=\"caf\xc3\xa9.txt\" (caf\xc3\xa9, a comment)\r\n",
        "Message-ID: <caf\xc3\xa9@x> (\xc3\xa9" + std::string(120, ' ') + "t)   \r\n",
        "To: " + japanese + "<a@x>" + std::string(100, ' ') + japanese + " <b@x>\r\n",
    };
    const HeaderCharset charsets[] = {kUTF8, kLatin1, kISO2022JP, kShiftJIS};
    for (const std::string& text : fields) {
        const std::u16string field = utf16(text);
        for (const HeaderCharset& charset : charsets) {
            std::u16string expected;
            encodeHeaderFields(field, charset, expected);
            for (const std::size_t part : {std::size_t{1}, std::size_t{3}, std::size_t{77}, field.size()}) {
                for (const std::size_t hold : {std::size_t{0}, std::size_t{1}, std::size_t{4}, std::size_t{64}, field.size()}) {
                    LongFieldPlan::Kind kind;
                    const std::u16string got = longField(field, charset, part, kind, hold);
                    EXPECT_EQ(utf8(got), utf8(expected)) << text << " in " << charset.name << ", parts of " << part
                                                         << ", held up to " << hold;
                }
            }
        }
    }
    // Every address value of up to five units over the characters that matter.
    std::size_t failures = 0;
    forEveryValue(u"\u00e9a \"(<>,:\\", 5, [&](const std::u16string& value) {
        const std::u16string field = u"To:" + value + u"\r\n";
        std::u16string expected;
        encodeHeaderFields(field, kLatin1, expected);
        for (const std::size_t hold : {std::size_t{0}, std::size_t{2}}) {
            LongFieldPlan::Kind kind;
            const std::u16string got = longField(field, kLatin1, 2, kind, hold);
            if (got != expected && ++failures <= 5)
                ADD_FAILURE() << utf8(field) << " held up to " << hold << ": " << utf8(got) << " for " << utf8(expected);
        }
    });
    EXPECT_EQ(failures, 0u);
}

// The pieces of a structured value and the text of its quoted strings and comments,
// collected from StructuredTokenizer as it is handed the value in parts.
struct CollectedTokens {
    std::vector<StructuredToken> tokens;
    std::vector<std::u16string> inner; // one for each piece
    std::u16string raw;
    std::uint64_t expectedOffset = 0;
    bool consistent = true;

    void begin(StructuredTokenKind kind, std::uint64_t offset)
    {
        consistent = consistent && offset == expectedOffset;
        tokens.push_back({kind, static_cast<std::size_t>(offset), 0});
        inner.emplace_back();
    }
    void unit(char16_t c)
    {
        raw.push_back(c);
        ++expectedOffset;
    }
    void inner_(char16_t c) { inner.back().push_back(c); }
    void end(std::uint64_t offset) { tokens.back().end = static_cast<std::size_t>(offset); }
};

struct TokenHandler {
    CollectedTokens& collected;
    void begin(StructuredTokenKind kind, std::uint64_t offset) { collected.begin(kind, offset); }
    void unit(char16_t c) { collected.unit(c); }
    void inner(char16_t c) { collected.inner_(c); }
    void end(std::uint64_t offset) { collected.end(offset); }
};

// Empty when the pieces and texts are those of the whole value, else what differs.
std::string compareTokens(std::u16string_view value, std::size_t part)
{
    std::vector<StructuredToken> whole;
    structuredTokens(value, whole);
    CollectedTokens collected;
    TokenHandler handler{collected};
    StructuredTokenizer tokenizer;
    for (std::size_t at = 0; at < value.size(); at += part)
        tokenizer.feed(value.substr(at, part), handler);
    tokenizer.finish(handler);
    if (!collected.consistent || collected.raw != value || tokenizer.offset() != value.size())
        return "units";
    if (collected.tokens.size() != whole.size())
        return "count " + std::to_string(collected.tokens.size()) + " for " + std::to_string(whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const StructuredToken& a = whole[i];
        const StructuredToken& b = collected.tokens[i];
        if (a.kind != b.kind || a.start != b.start || a.end != b.end)
            return "piece " + std::to_string(i);
        const bool unquotes = a.kind == StructuredTokenKind::Quoted || a.kind == StructuredTokenKind::Comment;
        const std::u16string expected = unquotes ? unquotedToken(value.substr(a.start, a.end - a.start)) : u"";
        if (collected.inner[i] != expected)
            return "text of piece " + std::to_string(i) + ": " + utf8(collected.inner[i]) + " for " + utf8(expected);
    }
    return {};
}

// The tokenizer in parts against the whole value's pieces: chosen shapes, then every
// value of up to five units over the characters that matter to it.
TEST(HeaderEncoder, StructuredTokensInPartsAreTheWholeValues)
{
    const char* const values[] = {
        "",
        " \t ",
        "Ann Lee <ann@example.org>, \"Lee, Ann\" <a@x>",
        "\"a \\\" b\" (c (nested) \\) d) <\"q>\\\"\" @x> [1.2\\]3]",
        "group: a@x, (c) b@y; ",
        "\"unclosed \\",
        "(unclosed (nested)",
        "<unclosed \"quote> in angle",
        "stray ) > ] closers",
        "w\\ ord\\, with\\\\ pairs\\",
        "\"a\\\"",
        "((a)",
        "\"\"()<>[]",
        "Caf\xc3\xa9 \"\xe6\x97\xa5\xe6\x9c\xac\" (\xe6\x97\xa5) <x@y>",
    };
    for (const char* value : values) {
        const std::u16string text = utf16(value);
        for (const std::size_t part : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::max<std::size_t>(text.size(), 1)})
            EXPECT_EQ(compareTokens(text, part), "") << value << " in parts of " << part;
    }
    std::size_t failures = 0;
    forEveryValue(u"a \"()<>[]\\,", 5, [&](const std::u16string& value) {
        for (const std::size_t part : {std::size_t{1}, std::size_t{2}, std::size_t{5}}) {
            const std::string difference = compareTokens(value, part);
            if (!difference.empty() && ++failures <= 5)
                ADD_FAILURE() << utf8(value) << " in parts of " << part << ": " << difference;
        }
    });
    EXPECT_EQ(failures, 0u);
}

// The encoded-words and the folding of a text given in parts: the bytes of the whole
// text's, whatever the parts, with pairs of surrogates and shift sequences cut anywhere.
TEST(EncodedWords, WordsAndFoldsInPartsGiveTheWholeTextsBytes)
{
    auto repeated = [](std::u16string_view part, std::size_t n) {
        std::u16string text;
        for (std::size_t i = 0; i < n; ++i)
            text += part;
        return text;
    };
    const struct Case {
        const char* name;
        std::u16string text;
    } cases[] = {
        {"one short word", u"caf\u00e9"},
        {"Latin-1 words", repeated(u"caf\u00e9 au lait ", 40)},
        {"Japanese", repeated(u"\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8", 30)},
        {"emoji: pairs of surrogates", repeated(u"a\U0001F600", 90)},
        {"a character no legacy charset has", repeated(u"x\u20ac\u0153 ", 50)},
        {"no blank in 300 units", repeated(u"\u00e9", 300)},
    };
    constexpr HeaderCharset kShiftJIS{kEncodingShiftJIS, "shift_jis"};
    const HeaderCharset charsets[] = {kUTF8, kLatin1, kISO2022JP, kShiftJIS};
    for (const Case& c : cases) {
        for (const HeaderCharset& charset : charsets) {
            std::u16string words;
            std::vector<std::size_t> points;
            ASSERT_TRUE(appendEncodedWords(c.text, charset, words, points));
            std::u16string folded;
            appendFolded(words, points, u"\r\n", folded);
            for (const std::size_t part : {std::size_t{1}, std::size_t{2}, std::size_t{76}, std::size_t{77}, c.text.size()}) {
                const std::string run = std::string(c.name) + " in " + std::string(charset.name) + ", parts of "
                    + std::to_string(part);
                EncodedWordsSurvey survey(charset);
                for (std::size_t at = 0; at < c.text.size(); at += part)
                    survey.add(std::u16string_view(c.text).substr(at, part));
                ASSERT_TRUE(survey.finish()) << run;
                EncodedWordsStream stream(survey.used(), survey.base64(), c.text.size());
                FoldedLine line(u"\r\n");
                for (std::size_t at = 0; at < c.text.size(); at += part)
                    stream.add(std::u16string_view(c.text).substr(at, part), line);
                stream.finish(line);
                line.finish();
                EXPECT_EQ(utf8(line.out), utf8(folded)) << run;
            }
        }
    }
}

// Folding a line given in parts, with gaps between fold points shorter and longer than a line.
TEST(EncodedWords, FoldedLineInPartsFoldsAsTheWholeLine)
{
    for (const std::size_t gap : {std::size_t{1}, std::size_t{5}, std::size_t{40}, std::size_t{78}, std::size_t{79},
                                  std::size_t{200}}) {
        std::u16string line = u"Subject:";
        std::vector<std::size_t> points;
        for (std::size_t i = 0; line.size() < 1000; ++i) {
            points.push_back(line.size());
            line += u' ';
            line += std::u16string(gap + i % 3, u'w');
        }
        std::u16string whole;
        appendFolded(line, points, u"\n", whole);
        for (const std::size_t part : {std::size_t{1}, std::size_t{7}, std::size_t{100}}) {
            FoldedLine folded(u"\n");
            std::size_t next = 0;
            for (std::size_t at = 0; at < line.size();) {
                if (next < points.size() && points[next] == at) {
                    folded.foldPoint();
                    ++next;
                }
                const std::size_t end = std::min({line.size(), at + part, next < points.size() ? points[next] : line.size()});
                folded.append(std::u16string_view(line).substr(at, end - at));
                at = end;
            }
            folded.finish();
            EXPECT_EQ(utf8(folded.out), utf8(whole)) << "gap " << gap << ", parts of " << part;
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
