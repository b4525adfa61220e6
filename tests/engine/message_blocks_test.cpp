// A message too large for memory is converted in two streaming passes over blocks; it
// must give exactly the bytes (and the log lines) of the conversion in one piece. Each
// case is converted both ways and compared.
#include "ByteDiff.h"
#include "engine/message/MessageConverter.h"
#include "engine/message/MessagePieces.h"
#include "engine/text/LegacyEncodings.h"
#include "engine/ByteRange.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr EncodingId kWindows1252 = 12;

// A message of about `size` bytes: a header, then `line` repeated.
std::string largeMessage(const std::string& header, const std::string& line, std::size_t size)
{
    std::string message = header;
    while (message.size() < size)
        message += line;
    return message;
}

struct Outcome {
    bool converted = false;
    std::string bytes;
    std::vector<std::string> log;
    UnconvertedReason reason = UnconvertedReason::None;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome inOnePiece(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options)
{
    Outcome outcome;
    setLogSink([&outcome](std::string_view line) { outcome.log.emplace_back(line); });
    CharsetCandidates candidates(options.charsetNames);
    MailboxContext mailbox;
    mailbox.automatic.family = &familyForLanguage(options.language);
    outcome.converted = convertMessage(message, headerLength, options, candidates, mailbox, outcome.bytes);
    outcome.reason = mailbox.lastReason;
    if (!outcome.converted)
        outcome.bytes.clear();
    setLogSink({});
    return outcome;
}

std::optional<Outcome> streamed(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                                std::size_t blockSize = kMessageBlock, std::size_t pieceLimit = kKeptPieceEncodings)
{
    Outcome outcome;
    setLogSink([&outcome](std::string_view line) { outcome.log.emplace_back(line); });
    CharsetCandidates candidates(options.charsetNames);
    std::string block;
    const MessageReader read = [&](std::uint64_t offset, std::size_t length) {
        EXPECT_LE(offset + length, message.size());
        EXPECT_LE(length, blockSize) << "a block larger than the bound";
        block.assign(message.substr(offset, length)); // a copy, as a file read would give
        return std::string_view(block);
    };
    MailboxContext mailbox;
    mailbox.automatic.family = &familyForLanguage(options.language);
    const LargeMessageOutcome result = convertMessage(
        read, message.size(), headerLength, options, candidates, mailbox,
        [&outcome](std::string_view bytes) {
            outcome.bytes += bytes;
            return true;
        },
        blockSize, pieceLimit);
    outcome.reason = mailbox.lastReason;
    setLogSink({});
    if (result == LargeMessageOutcome::NeedsWholeMessage) {
        EXPECT_TRUE(outcome.bytes.empty() && outcome.log.empty()) << "wrote before declining";
        EXPECT_EQ(mailbox.lastReason, UnconvertedReason::None) << "the mailbox changed before declining";
        return std::nullopt;
    }
    EXPECT_NE(result, LargeMessageOutcome::WriteFailed);
    outcome.converted = result == LargeMessageOutcome::Converted;
    return outcome;
}

// `part` `n` times.
std::string repeated(const std::string& part, std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text += part;
    return text;
}

// A case's name as a test name: letters and digits, the rest '_'.
template <typename Case> std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (const char* c = info.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

namespace messages {

const std::string from = "From a Wed Jan 3 01:05:34 1996\r\n";
const std::string plainHeader = from + "Subject: large\r\n\r\n";
const std::string typedHeader = from + "Content-Type: text/plain; charset=us-ascii\r\nX: y\r\n\r\n";
const std::string multipartHeader = from + "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
const std::string lfHeader = "From a\nSubject: x\n\n";
const std::string latinSubject = from + "Subject: caf\xe9 au lait\r\nFrom: Zo\xeb <z@example.org>\r\n\r\n";
const std::size_t mib = std::size_t{1} << 20;
struct Case {
    const char* name;
    std::string header;
    std::string line;
    EncodingId source;
    std::vector<std::string> charsets;
    bool tags;
    bool nbsp = false;
    bool streams = true; // whether the streaming form covers it
    const char* language = "";
    bool richText = true;
};
const std::string ascii = "plain text line of the body\r\n";
const std::string latin = "caf\xe9 r\xe9sum\xe9 na\xefve\r\n";
const std::string euro = "price \x80"
                         "100, caf\xe9\r\n";
const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea \xa0 text\x82\xa0\xa0\r\n"; // NBSP alone and after a lead byte
const std::string kana = "\x93\xfa\x96\x7b \xb1\xb2\r\n";                      // half-width katakana
const std::string japaneseText = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\x82\xc5\x82\xb7\x81\x42\r\n";
const std::string jis = "\x1b$BF|K\\8l\x1b(B text \x1b$B$G$9\x1b(B\r\n";
const std::string jisOpen = "\x1b$BF|K\\8l$G$9\r\n"; // no shift back before the line ends
const std::string utf8 = "\xe6\x97\xa5\xe6\x9c\xac caf\xc3\xa9 \xf0\x9f\x98\x80\r\n";
const std::string euckr = "\xc7\xd1\xb1\xb9\xbe\xee text\r\n";
const std::string gb18030 = "\x81\x30\x81\x30 \xd6\xd0\xce\xc4\r\n"; // a four-byte character with digits inside
const std::string delimited = "--b\r\nContent-Type: text/plain\r\n\r\n" + ascii;
const std::vector<std::string> western = {"us-ascii", "iso-8859-1", "utf-8"};
const std::vector<std::string> japanese = {"iso-2022-jp", "utf-8"};
const std::string jisHeader = from + "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n";
const std::string sjisSubject = from + "Subject: \x93\xfa\x96\x7b\r\n\r\n";
const Case cases[] = {
    {"ASCII, tags off", plainHeader, ascii, kWindows1252, western, false},
    {"ASCII, tags on: Content-Type added", plainHeader, ascii, kWindows1252, western, true},
    {"Latin-1 text, header replaced", typedHeader, latin, kWindows1252, western, true},
    {"euro sign: UTF-8", plainHeader, euro, kWindows1252, western, true},
    {"euro sign, no candidate fits", plainHeader, euro, kWindows1252, {"us-ascii", "iso-8859-1"}, true},
    {"LF lines, tags off", lfHeader, "x\xe9y\n", kWindows1252, western, false},
    {"non-ASCII header fields: encoded-words", latinSubject, latin, kWindows1252, western, true},
    {"non-ASCII header fields, tags off", latinSubject, euro, kWindows1252, western, false},
    {"Shift_JIS to ISO-2022-JP, NBSP replaced", plainHeader, sjis, kEncodingShiftJIS, japanese, true, true},
    {"Shift_JIS, NBSP kept", plainHeader, sjis, kEncodingShiftJIS, japanese, false, false},
    {"half-width katakana: UTF-8", plainHeader, kana, kEncodingShiftJIS, japanese, true, true},
    {"Mac Japanese", plainHeader, sjis, kEncodingMacJapanese, {"iso-2022-jp", "shift_jis", "utf-8"}, true, true},
    {"undecodable UTF-8", plainHeader, "ok \xff bad\r\n", kEncodingUTF8, western, true},
    // Eudora tags.
    {"Eudora tags: HTML blocks", plainHeader, "<x-html>\r\n<b>x</b> caf\xe9\r\n</x-html>\r\n", kWindows1252, western, true},
    {"Eudora tags: flowed, lone and unclosed", plainHeader, "<x-flowed>a \r\nb</x-flowed>\r\n< no tag\r\n<x-html open\r\n", kWindows1252,
     western, true},
    {"Eudora tags: a block in its own charset", typedHeader, "<x-charset iso-8859-1>caf\xe9</x-charset>\r\n\x93\xfa\x96\x7b\r\n",
     kEncodingShiftJIS, japanese, true},
    {"Eudora tags: NBSP in blocks", plainHeader, "<x-html>\xa0 \x82\xa0</x-html>\r\n\xa0\r\n", kEncodingShiftJIS, japanese, true, true},
    {"Eudora tags: trailer", plainHeader, "text\r\n<!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"0\">\r\n<x-html>x</x-html>\r\n",
     kWindows1252, western, true},
    {"Eudora tags: only lone brackets", lfHeader, "<<\n", kWindows1252, western, true},
    {"multipart header, no delimiter line: replaced", multipartHeader, ascii, kWindows1252, western, true},
    {"multipart header, delimiter line: kept", multipartHeader, delimited, kWindows1252, western, true},
    {"UTF-8 source, long run of two-byte characters", plainHeader, "\xc3\xa9\xc3\xa9\xc3\xa9", kEncodingUTF8, western, true},
    {"GB18030 source", plainHeader, gb18030, 0x80000632, {"gb18030", "utf-8"}, true},
    // Stateful encodings, as source and as candidate.
    {"ISO-2022-JP source", plainHeader, jis, 21, japanese, true},
    {"ISO-2022-JP source, shift open across lines, tags off", plainHeader, jisOpen, 21, {"shift_jis", "utf-8"}, false},
    {"EUC-KR source (ISO-2022-KR is refused as a candidate)", plainHeader, euckr, 0x80000940, {"iso-2022-kr", "utf-8"}, true},
    {"HZ source", plainHeader, "~{<:Ky~} text ~~\r\n", 0x80000A05, {"gb2312", "utf-8"}, false},
    // Styled text: its rewrite streams with the text.
    {"rich text", plainHeader, "<x-rich><bold>caf\xe9</bold>\r\n\r\n<<x</x-rich>\r\nplain <a> text\r\n", kWindows1252, western, true},
    {"rich text in an HTML body", plainHeader, "<x-html><b>x</b></x-html>\r\n<x-rich><bold>y</bold> & z</x-rich>\r\n", kWindows1252,
     western, true},
    {"rich text, off", plainHeader, "<x-rich><bold>caf\xe9</bold></x-rich>\r\n", kWindows1252, western, true, false, true, "", false},
    // Automatic.
    {"automatic: Latin-1", plainHeader, latin, kEncodingAutomatic, western, true},
    {"automatic: Latin-1, tags off", latinSubject, latin, kEncodingAutomatic, western, false},
    {"automatic: UTF-8", plainHeader, utf8, kEncodingAutomatic, western, true},
    {"automatic: ASCII", typedHeader, ascii, kEncodingAutomatic, western, true},
    {"automatic: Shift_JIS detected", plainHeader, japaneseText, kEncodingAutomatic, japanese, true},
    {"automatic: Japanese user, lone NBSP: no Japanese encoding fits", sjisSubject, sjis, kEncodingAutomatic, japanese, true, true, true,
     "ja"},
    {"automatic: ISO-2022-JP", plainHeader, jis, kEncodingAutomatic, japanese, true},
    {"automatic: declared ISO-2022-JP", jisHeader, jisOpen, kEncodingAutomatic, japanese, false},
    {"automatic: header and body in other encodings", sjisSubject, latin, kEncodingAutomatic, western, true},
    {"automatic: Korean", plainHeader, euckr, kEncodingAutomatic, {"iso-2022-kr", "utf-8"}, true, false, true, "ko"},
    {"automatic, tags: a Mac HTML block with a marker charset", plainHeader,
     "<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"iso-8859-1/macintosh\">caf\x8e</x-html>\r\n", kEncodingAutomatic,
     western, true},
    {"automatic, tags: blocks naming charsets", plainHeader,
     "<x-charset utf-8>\xe6\x97\xa5</x-charset>\r\n<x-charset iso-8859-1/macintosh>caf\x8e</x-charset>\r\ncaf\xe9\r\n", kEncodingAutomatic,
     western, true},
    {"automatic, tags: a block that decodes only by itself", plainHeader,
     "<x-html>\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c</x-html>\r\ncaf\xe9 \xe6\x97\xa5\r\n", kEncodingAutomatic, japanese, true},
    {"automatic: undecodable", plainHeader, "\x81\x20\x82\r\n", kEncodingAutomatic, western, true},
    // Shift_JIS decodes part of the block before it fails: only the text of the
    // encoding that decodes it counts for the range of its characters.
    {"automatic, tags: a block that fails part-way in the charset it names", plainHeader,
     "<x-charset shift_jis>\xf7\xf7\xf7 caf\xe9</x-charset>\r\n", kEncodingAutomatic, western, true},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

} // namespace messages

class ConversionInBlocks : public ::testing::TestWithParam<messages::Case> {};

TEST_P(ConversionInBlocks, GivesTheBytesOfTheWholeConversion)
{
    using namespace messages;
    const Case& c = GetParam();
    // The default block on large messages; tiny blocks on small ones, so that cuts
    // fall inside characters, shift sequences and CR LF pairs.
    const std::pair<std::size_t, std::size_t> runs[]
        = {{3 * mib + 17, kMessageBlock}, {mib / 2, kMessageBlock}, {700, 1}, {700, 2}, {900, 3}, {900, 5}, {1500, 7}, {5000, 64}};
    for (const auto& [size, block] : runs) {
        std::string message = largeMessage(c.header, c.line, size);
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = c.source;
        options.charsetNames = c.charsets;
        options.processEudoraTags = c.tags;
        options.replaceNoBreakSpaces = c.nbsp;
        options.crlfLineEndings = true;
        options.putBackAttachments = true;
        options.encodeHeaders = true;
        options.language = c.language;
        options.convertRichText = c.richText;
        const std::uint64_t headerLength = c.header.size();
        const Outcome whole = inOnePiece(message, headerLength, options);
        // Any number of pieces, in any charsets, goes through the large path here.
        const std::optional<Outcome> inBlocks = streamed(message, headerLength, options, block, SIZE_MAX);
        ASSERT_EQ(inBlocks.has_value(), c.streams) << c.name << ", " << size;
        if (!inBlocks)
            continue;
        const std::string run = std::string(c.name) + ", " + std::to_string(size) + " bytes in blocks of " + std::to_string(block);
        EXPECT_EQ(inBlocks->converted, whole.converted) << run;
        EXPECT_SAME_BYTES(inBlocks->bytes, whole.bytes) << run;
        EXPECT_EQ(inBlocks->log, whole.log) << run;
        EXPECT_EQ(inBlocks->reason, whole.reason) << run;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConversionInBlocks, ::testing::ValuesIn(messages::cases), caseName<messages::Case>);

// A NUL in a header field would end the field in readers: both conversions show it as
// SYMBOL FOR NULL (U+2400) in an encoded-word, and leave no NUL in the header.
TEST(MessageInBlocks, ANulInAHeaderFieldIsShownInBothConversions)
{
    using namespace std::string_literals;
    const std::string from = "From a Wed Jan 3 01:05:34 1996\r\n";
    struct Case {
        const char* name;
        std::string fields;   // with NULs
        std::string expected; // the fields as written
    };
    const Case cases[] = {
        {"ascii subject", "Subject: a\0b\r\n"s, "Subject: =?utf-8?B?YeKQgGI=?=\r\n"},
        {"beside latin-1 text", "Subject: caf\xe9\0\r\n"s, "Subject: =?utf-8?B?Y2Fmw6nikIA=?=\r\n"},
        {"a display name", "From: A\0B <a@example.org>\r\n"s, "From: =?utf-8?B?QeKQgEI=?= <a@example.org>\r\n"},
        {"a field without one stays as it is", "Subject: plain\r\n"s, "Subject: plain\r\n"},
    };
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = kWindows1252;
    options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
    options.processEudoraTags = false;
    options.encodeHeaders = true;
    for (const Case& c : cases) {
        const std::string header = from + c.fields + "\r\n";
        const std::string message = largeMessage(header, "body\r\n", 64 << 10);
        const Outcome whole = inOnePiece(message, header.size(), options);
        const std::optional<Outcome> inBlocks = streamed(message, header.size(), options, 4096, SIZE_MAX);
        ASSERT_TRUE(whole.converted && inBlocks && inBlocks->converted) << c.name;
        for (const std::string* bytes : {&whole.bytes, &inBlocks->bytes}) {
            EXPECT_EQ(bytes->substr(0, from.size() + c.expected.size()), from + c.expected) << c.name;
            EXPECT_EQ(bytes->substr(0, bytes->find("\r\n\r\n")).find('\0'), std::string::npos) << c.name;
        }
    }
}

namespace headers {

// `n` fields, every `every`-th one with Latin-1 text.
std::string fields(std::size_t n, std::size_t every, const std::string& eol)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += "X-Field-" + std::to_string(i) + ": value " + std::to_string(i);
        text += every && i % every == 0 ? " caf\xe9 (na\xefve) \"Zo\xeb\" <z@example.org>" : " plain";
        text += eol;
    }
    return text;
}

const std::string crlf = "\r\n";
const std::string from = "From a Wed Jan 3 01:05:34 1996";
const std::string body = "caf\xe9 body line\r\n<x-html><b>x</b></x-html>\r\nplain\r\n";
const std::string sjisBody = "\x93\xfa\x96\x7b\x8c\xea text\r\n";
const std::vector<std::string> western = {"us-ascii", "iso-8859-1", "utf-8"};
const std::vector<std::string> japanese = {"iso-2022-jp", "utf-8"};
struct Case {
    const char* name;
    std::string header; // up to and with the empty line, or the whole message when `ends` is false
    std::string body;
    EncodingId source;
    std::vector<std::string> charsets;
    bool ends = true; // an empty line ends the header
};
const Case cases[] = {
    {"many fields, some with Latin-1 text", from + crlf + fields(400, 7, crlf) + crlf, body, kWindows1252, western},
    {"many fields, LF", from + "\n" + fields(300, 5, "\n") + "\n", "x\xe9y\n", kWindows1252, western},
    {"many fields, CR", from + "\r" + fields(300, 5, "\r") + "\r", "x\xe9y\r<x-flowed>a\r</x-flowed>\r", kWindows1252, western},
    {"one long ASCII field", from + crlf + "X-Long: " + repeated("abc def ", 2000) + crlf + "Subject: ok" + crlf + crlf, body, kWindows1252,
     western},
    {"one long field with non-ASCII words", from + crlf + "Subject: " + repeated("caf\xe9 au lait ", 1500) + crlf + crlf, body,
     kWindows1252, western},
    {"one long address field", from + crlf + "To: " + repeated("Zo\xeb <z@example.org>, ", 800) + crlf + crlf, body, kWindows1252, western},
    {"a long address field: quoted names, pairs, comments, a group",
     from + crlf + "Cc: team caf\xe9: " + repeated("\"Zo\xeb \\\" Q\" <z@example.org> (caf\xe9 (n) x), a@b, ", 300) + "; last \xe9 <l@x>"
         + crlf + crlf,
     body, kWindows1252, western},
    {"a long address field: one long display name",
     from + crlf + "To: \"" + repeated("caf\xe9 au lait ", 900) + "\" <z@example.org>, " + repeated("r\xe9sum\xe9 ", 900) + "<y@x>" + crlf
         + crlf,
     body, kWindows1252, western},
    {"a long address field: unclosed quote and comment",
     from + crlf + "To: a <b@c>, \"caf\xe9 " + repeated("x (\xe9, <z@y>, ", 600) + crlf + crlf, body, kWindows1252, western},
    {"a long folded address field, blanks between the words",
     from + crlf + "From: x" + repeated(crlf + " Zo\xeb  \t " + std::string(40, ' ') + "Q <z@example.org>,", 500) + crlf + crlf, body,
     kWindows1252, western},
    {"a long structured field with comments", from + crlf + "Received: " + repeated("from x (caf\xe9 [1.2.3.4]) ", 700) + crlf + crlf, body,
     kWindows1252, western},
    {"Shift_JIS display names to ISO-2022-JP",
     from + crlf + "To: " + repeated("\x93\xfa\x96\x7b \x8c\xea <a@b.c>, \"\x93\xfa\" <d@e.f>, ", 300) + crlf + crlf, sjisBody,
     kEncodingShiftJIS, japanese},
    // Longer than a field, within what is held whole: rewritten whole.
    {"an address field held whole", from + crlf + "To: " + repeated("Zo\xeb <z@example.org>, ", 30) + crlf + crlf, body, kWindows1252,
     western},
    {"a structured field whose name is longer than a field",
     from + crlf + "Disposition-Notification-To: " + repeated("Zo\xeb <z@example.org>, ", 8) + crlf + crlf, body, kWindows1252, western},
    {"a Content-Type field held whole", from + crlf + "Content-Type: text/plain;" + repeated(crlf + " x-p=1", 30) + crlf + crlf, body,
     kWindows1252, western},
    {"folded fields with non-ASCII continuation lines",
     from + crlf + repeated("Subject: first" + crlf + " caf\xe9" + crlf + "\tsecond" + crlf, 300) + crlf, body, kWindows1252, western},
    {"a long folded field", from + crlf + "Subject: x" + repeated(crlf + " caf\xe9 line", 1500) + crlf + crlf, body, kWindows1252, western},
    {"Content-Type far down",
     from + crlf + fields(500, 0, crlf) + "Content-Type: text/plain; charset=us-ascii" + crlf + "X-After: 1" + crlf + crlf, body,
     kWindows1252, western},
    {"Content-Type far down, folded, multipart",
     from + crlf + fields(500, 9, crlf) + "content-type: multipart/mixed;" + crlf + " boundary=b" + crlf + crlf, "--b\r\n" + body,
     kWindows1252, western},
    {"a long Content-Type field", from + crlf + "Content-Type: text/plain;" + repeated(crlf + " x-p=1", 2000) + crlf + crlf, body,
     kWindows1252, western},
    {"a long Content-Type field with non-ASCII text",
     from + crlf + "Content-Type:" + std::string(300, ' ') + "text/plain;" + repeated(crlf + " x-p=\xe9 (caf\xe9)", 2000) + crlf + crlf,
     body, kWindows1252, western},
    {"no empty line at all", from + crlf + fields(600, 11, crlf) + "a body line without a header end caf\xe9" + crlf, "", kWindows1252,
     western, false},
    {"no empty line, one long non-ASCII line that is no field", from + crlf + "Subject: x" + crlf + repeated("r\xe9sum\xe9: ", 3000), "",
     kWindows1252, western, false},
    {"no empty line, one long non-ASCII field", from + crlf + "X-Long:" + repeated(" r\xe9sum\xe9", 3000), "", kWindows1252, western,
     false},
    {"Shift_JIS fields to ISO-2022-JP",
     from + crlf + repeated("Subject: \x93\xfa\x96\x7b\x8c\xea" + crlf + "From: \x93\xfa <a@b.c>" + crlf, 200) + crlf, sjisBody,
     kEncodingShiftJIS, japanese},
    {"automatic: Shift_JIS fields", from + crlf + repeated("Subject: \x93\xfa\x96\x7b\x8c\xea" + crlf, 300) + crlf, sjisBody,
     kEncodingAutomatic, japanese},
    {"automatic: a declared charset far down",
     from + crlf + fields(400, 0, crlf) + "Content-Type: text/plain; charset=utf-8" + crlf + "Subject: \xc3\xa9t\xc3\xa9" + crlf + crlf,
     "\xc3\xa9t\xc3\xa9\r\n", kEncodingAutomatic, western},
    // A charset value too long to keep: only the name after its last '/' can count.
    {"automatic: a long declared charset value, a name after its last '/'",
     from + crlf + "Content-Type: text/plain; charset=\"" + std::string(3000, 'x') + "/iso-8859-2\"" + crlf + crlf, "\xc3\xa9t\xc3\xa9\r\n",
     kEncodingAutomatic, western},
    {"automatic: a long declared charset value, a long name after its '/'",
     from + crlf + "Content-Type: text/plain; charset=utf-8/" + std::string(3000, 'x') + crlf + crlf, "\xc3\xa9t\xc3\xa9 caf\xe9\r\n",
     kEncodingAutomatic, western},
    {"automatic: a long declared charset value, no '/'",
     from + crlf + "Content-Type: text/plain; charset=" + std::string(3000, 'u') + crlf + crlf, "\xc3\xa9t\xc3\xa9\r\n", kEncodingAutomatic,
     western},
    {"automatic: no empty line", from + crlf + repeated("Subject: caf\xe9" + crlf, 500), "", kEncodingAutomatic, western, false},
    {"no candidate fits",
     from + crlf + fields(300, 3, crlf) + "Subject: \x80" + crlf + crlf,
     body,
     kWindows1252,
     {"us-ascii", "iso-8859-1"}},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

} // namespace headers

// The header is never held whole: its Content-Type change and encoded-words are made
// on the text as it goes by, a field at a time. Each header is converted both ways,
// with every combination of tags and encoded fields, in blocks of every size.
class HeaderInBlocks : public ::testing::TestWithParam<headers::Case> {};

TEST_P(HeaderInBlocks, StreamsFieldByField)
{
    using namespace headers;
    const Case& c = GetParam();
    const std::size_t blocks[] = {1, 2, 3, 7, 64, 4096, 100'000};
    const std::string message = c.header + c.body;
    const std::uint64_t headerLength = c.ends ? c.header.size() : kHeaderLengthNone;
    for (const int mode : {0, 1, 2, 3}) {
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = c.source;
        options.charsetNames = c.charsets;
        options.processEudoraTags = mode & 1;
        options.encodeHeaders = mode & 2;
        options.crlfLineEndings = mode == 1;
        options.putBackAttachments = true;
        const Outcome whole = inOnePiece(message, headerLength, options);
        for (const std::size_t block : blocks) {
            const std::string run = std::string(c.name) + ", tags " + std::to_string(mode & 1) + ", encoded fields "
                + std::to_string(mode >> 1) + ", blocks of " + std::to_string(block);
            const std::optional<Outcome> inBlocks = streamed(message, headerLength, options, block, SIZE_MAX);
            ASSERT_TRUE(inBlocks.has_value()) << run;
            EXPECT_EQ(inBlocks->converted, whole.converted) << run;
            EXPECT_SAME_BYTES(inBlocks->bytes, whole.bytes) << run;
            EXPECT_EQ(inBlocks->log, whole.log) << run;
            EXPECT_EQ(inBlocks->reason, whole.reason) << run;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderInBlocks, ::testing::ValuesIn(headers::cases), caseName<headers::Case>);

namespace contentTypes {

const std::string from = "From a Wed Jan 3 01:05:34 1996";
const std::string body = "caf\xe9 body line\r\n<x-html><b>x</b></x-html>\r\nplain\r\n";
// Boundaries around the part held (16 units with fields of 1, 256 with 16).
const std::string shortBoundary = "b0";
const std::string longBoundary = repeated("0123456789abcdef", 40) + "-end";
const std::string longerBoundary = repeated("=_Part_x", 70);
const std::vector<std::string> western = {"us-ascii", "iso-8859-1", "utf-8"};
const std::vector<std::string> japanese = {"iso-2022-jp", "utf-8"};
struct Case {
    const char* name;
    std::string field; // the Content-Type field, its lines cut by "\n" (each written with the case's line end)
    std::string body;
    EncodingId source = kWindows1252;
    std::vector<std::string> charsets;
};
std::string params(std::size_t n) { return repeated("\n x-p=1;", n); }
const Case cases[] = {
    {"a long folded text field", "Content-Type: text/plain;" + params(400) + "\n charset=us-ascii", body, kWindows1252, western},
    {"a long unfolded text field", "Content-Type: text/plain; " + repeated("x-p=1; ", 600), body, kWindows1252, western},
    {"a long field of another type", "Content-Type: application/octet-stream;" + params(400), body, kWindows1252, western},
    {"another type, \"multipart\" across a fold", "Content-Type: application/x-multi\n part;" + params(300), body, kWindows1252, western},
    {"another type, \"text\" at the far end in capitals", "Content-Type: application/x;" + params(500) + " name=TeXt", body, kWindows1252,
     western},
    {"another type, \"MULTIPART\" at the far end", "Content-Type: image/x;" + params(500) + " n=x-MULTIPART", body, kWindows1252, western},
    {"multipart, short boundary far down, delimiter line in the body",
     "CONTENT-TYPE: MULTIPART/MIXED;" + params(300) + "\n BOUNDARY=" + shortBoundary, "preamble\r\n--" + shortBoundary + "\r\n" + body,
     kWindows1252, western},
    {"multipart, short boundary, no delimiter line", "Content-Type: multipart/mixed; boundary=" + shortBoundary + ";" + params(300),
     "x--" + shortBoundary + "\r\n- -" + shortBoundary + "\r\n" + body, kWindows1252, western},
    {"multipart, long quoted boundary, delimiter line at the end",
     "Content-Type: multipart/mixed;" + params(100) + "\n boundary=\"" + longBoundary + "\"", body + "--" + longBoundary + "--\r\n",
     kWindows1252, western},
    {"multipart, long boundary, lines that differ only far in or end too soon", "Content-Type: multipart/mixed; boundary=" + longerBoundary,
     body + "--" + longerBoundary.substr(0, 400) + "!" + longerBoundary.substr(401) + "\r\n--"
         + longerBoundary.substr(0, longerBoundary.size() - 1) + "\r\n--" + longerBoundary.substr(1) + "xx\r\n" + body,
     kWindows1252, western},
    {"multipart, long boundary, a delimiter line among lines that differ far in",
     "Content-Type: multipart/mixed; boundary=" + longerBoundary,
     repeated("--" + longerBoundary.substr(0, 500) + "?\r\n", 3) + "--" + longerBoundary + "\r\n" + body, kWindows1252, western},
    {"multipart, long boundary with escapes and non-ASCII: '?' in the body matches it",
     "Content-Type: multipart/mixed; boundary=\"" + longBoundary + "\\\"caf\xe9\n x\"", body + "--" + longBoundary + "\"caf? x\r\n",
     kWindows1252, western},
    {"multipart, long boundary with non-ASCII: the character itself does not",
     "Content-Type: multipart/mixed; boundary=\"" + longBoundary + "caf\xe9\"", body + "--" + longBoundary + "caf\xe9\r\n", kWindows1252,
     western},
    {"multipart, the first boundary parameter counts",
     "Content-Type: multipart/mixed; boundary=" + longBoundary + ";" + params(50) + " boundary=" + shortBoundary,
     body + "--" + shortBoundary + "\r\n", kWindows1252, western},
    {"multipart, a boundary value after a fold is empty",
     "Content-Type: multipart/mixed;" + params(300) + "\n boundary=\n " + shortBoundary, "--" + shortBoundary + "\r\n" + body, kWindows1252,
     western},
    {"multipart, no boundary", "Content-Type: multipart/mixed;" + params(400) + " boundary", body + "--\r\n", kWindows1252, western},
    {"non-ASCII in the field: no ASCII candidate", "Content-Type: text/plain; name=\"" + repeated("r\xe9sum\xe9 ", 400) + "\"", "plain\r\n",
     kWindows1252, western},
    {"a character only UTF-8 holds in the field", "Content-Type: text/plain; name=\"" + repeated("caf\xe9 \x80 ", 400) + "\"", "plain\r\n",
     kWindows1252, western},
    {"Japanese in the field: ISO-2022-JP",
     "Content-Type: text/plain;" + params(200) + "\n name=\"" + repeated("\x93\xfa\x96\x7b\x8c\xea", 300) + "\"", "\x93\xfa\x96\x7b\r\n",
     kEncodingShiftJIS, japanese},
    {"a field only UTF-8 holds, the rest windows-1252",
     "Content-Type: text/plain;" + params(200) + "\n name=\"" + repeated("\xe6\x97\xa5 ", 300) + "\"",
     "caf\xc3\xa9\r\n",
     kEncodingUTF8,
     {"windows-1252", "utf-8"}},
    {"half-width katakana in the field: no ISO-2022-JP", "Content-Type: text/plain; name=\"" + repeated("\xb1\xb2 ", 500) + "\"",
     "\x93\xfa\x96\x7b\r\n", kEncodingShiftJIS, japanese},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

} // namespace contentTypes

// The Content-Type field that the tags replace is held as it goes by, and its boundary
// is looked for in the body's lines as they go by. Long fields, folded or not, long
// boundaries and lines that match them only in part, in blocks of every size, must give
// the bytes of the conversion in one piece, and the large path must take every one.
class ContentTypeInBlocks : public ::testing::TestWithParam<contentTypes::Case> {};

TEST_P(ContentTypeInBlocks, FieldsOfAnyLength)
{
    using namespace contentTypes;
    const Case& c = GetParam();
    const std::size_t blocks[] = {1, 2, 3, 7, 64, 4096};
    for (const std::string eol : {"\r\n", "\n", "\r"}) {
        std::string field;
        for (const char ch : c.field)
            field += ch == '\n' ? eol : std::string(1, ch);
        const std::string header = from + eol + "Subject: s" + eol + field + eol + "X-After: 1" + eol + eol;
        const std::string message = header + c.body;
        for (const int mode : {0, 1, 2}) {
            ConversionOptions options;
            options.convertEncodings = true;
            options.sourceEncoding = c.source;
            options.charsetNames = c.charsets;
            options.processEudoraTags = true;
            options.putBackAttachments = mode != 1;
            options.encodeHeaders = mode != 0;
            const Outcome whole = inOnePiece(message, header.size(), options);
            for (const std::size_t block : blocks) {
                if (block < 3 && eol != "\r\n")
                    continue; // slow, and what it adds is in the blocks of 3
                const std::string run = std::string(c.name) + ", line ends " + std::to_string(eol.size()) + (eol == "\r" ? " (CR)" : "")
                    + ", mode " + std::to_string(mode) + ", blocks of " + std::to_string(block);
                const std::optional<Outcome> inBlocks = streamed(message, header.size(), options, block, SIZE_MAX);
                ASSERT_TRUE(inBlocks.has_value()) << run;
                EXPECT_EQ(inBlocks->converted, whole.converted) << run;
                EXPECT_SAME_BYTES(inBlocks->bytes, whole.bytes) << run;
                EXPECT_EQ(inBlocks->log, whole.log) << run;
                EXPECT_EQ(inBlocks->reason, whole.reason) << run;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ContentTypeInBlocks, ::testing::ValuesIn(contentTypes::cases), caseName<contentTypes::Case>);

// The header length as the mailbox pass may hand it: short of the empty line, inside
// its CR LF, or none at all; the header change is decided on the text beyond it.
TEST(MessageInBlocks, HeaderLengthsShortOfTheEmptyLine)
{
    const std::string body(4096, 'x');
    const std::string message = "From a\r\nSubject: caf\xe9\r\n\r\n" + body;
    for (const bool tags : {false, true}) {
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = kWindows1252;
        options.charsetNames = {"us-ascii", "utf-8"};
        options.processEudoraTags = tags;
        options.encodeHeaders = true;
        for (const std::uint64_t headerLength :
             {std::uint64_t{0}, std::uint64_t{8}, std::uint64_t{21}, std::uint64_t{22}, std::uint64_t{23}, kHeaderLengthNone}) {
            const std::optional<Outcome> inBlocks = streamed(message, headerLength, options, 16);
            ASSERT_TRUE(inBlocks.has_value()) << headerLength;
            EXPECT_TRUE(*inBlocks == inOnePiece(message, headerLength, options)) << tags << ", " << headerLength;
        }
    }
}

// The large path walks the tags again on each pass and keeps only the pieces in a
// charset other than the message's: any number of pieces streams, and past the limit of
// those each piece's encoding is decided again on each pass.
TEST(MessageInBlocks, ManyPieces)
{
    const std::string header = "From a\r\nSubject: pieces\r\n\r\n";
    struct Case {
        const char* name;
        std::string line;
        EncodingId source;
        std::size_t limit;
    };
    const std::string latinBlock = "<x-charset iso-8859-1>caf\xe9</x-charset>\r\n";
    const Case cases[] = {
        {"flowed blocks and runs, over 65,536 pieces", "<x-flowed>a \r\nb</x-flowed> caf\xe9\r\n<\r\n", kWindows1252, kKeptPieceEncodings},
        {"HTML blocks, automatic", "<x-html><b>caf\xe9</b></x-html> text\r\n", kEncodingAutomatic, kKeptPieceEncodings},
        {"blocks in the message's charset", latinBlock + "na\xefve\r\n", kEncodingISOLatin1, 4},
        {"blocks in their own charset, within the limit", latinBlock + "\x93\xfa\r\n", kEncodingShiftJIS, 100'000},
        {"blocks in their own charset, over the limit", latinBlock + "\x93\xfa\r\n", kEncodingShiftJIS, 4},
        {"automatic: blocks naming charsets, over the limit",
         "<x-charset utf-8>\xe6\x97\xa5</x-charset>\r\n<x-charset iso-8859-1/macintosh>caf\x8e</x-charset>\r\ncaf\xe9\r\n",
         kEncodingAutomatic, 4},
    };
    for (const Case& c : cases) {
        const std::string message = largeMessage(header, c.line, std::size_t{3} << 20);
        std::vector<MessagePiece> pieces;
        cutBody(message, header.size(), pieces);
        ASSERT_GT(pieces.size(), kKeptPieceEncodings) << c.name;
        ConversionOptions options;
        options.convertEncodings = true;
        options.sourceEncoding = c.source;
        options.charsetNames = {"us-ascii", "iso-8859-1", "iso-2022-jp", "utf-8"};
        options.processEudoraTags = true;
        options.encodeHeaders = true;
        const std::optional<Outcome> inBlocks = streamed(message, header.size(), options, kMessageBlock, c.limit);
        ASSERT_TRUE(inBlocks.has_value()) << c.name;
        const Outcome whole = inOnePiece(message, header.size(), options);
        EXPECT_TRUE(whole.converted) << c.name;
        EXPECT_TRUE(*inBlocks == whole) << c.name;
    }
}

} // namespace
} // namespace tarnwick
