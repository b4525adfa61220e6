// Each stage of a message's conversion, fed a message read in blocks of every size (1,
// 2, 3, ... and a few large ones), must give what it gives on the message held whole:
// the bytes the tag walk searches, the decoded text (on every pass), the Content-Type
// change, the substituted and field-encoded text.
#include "ByteDiff.h"
#include "engine/message/DecodedText.h"
#include "engine/message/MessageSource.h"
#include "engine/message/TextStages.h"
#include "engine/message/TextWriter.h"
#include "engine/text/CharsetCandidates.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr EncodingId kWindows1252 = 12;

struct StageCase {
    const char* name;
    std::string message;
    std::uint64_t headerLength;
    EncodingId source;
    bool tags = true;
    bool nbsp = false;
};

const std::string kFrom = "From a Wed Jan 3 01:05:34 1996\r\n";
const std::string kHeader = kFrom + "Subject: caf\xe9\r\nContent-Type: text/plain;\r\n\tcharset=us-ascii\r\nX: y\r\n\r\n";
const std::string kMultipart = kFrom + "Content-Type: multipart/mixed; boundary=b1\r\n\r\n";

const StageCase kCases[] = {
    {"plain Latin-1, tags off", kHeader + "caf\xe9 line\r\nnext\r\n", kHeader.size(), kWindows1252, false},
    {"flowed and HTML blocks", kHeader + "<x-flowed>a \r\nb</x-flowed>\r\n< x\r\n<x-html><b>\xe9</b></x-html>\r\n", kHeader.size(),
     kWindows1252},
    {"a block in its own charset", kHeader + "<x-charset utf-8>\xe6\x97\xa5</x-charset>\r\n\x93\xfa\x96\x7b\r\n", kHeader.size(),
     kEncodingShiftJIS},
    {"Shift_JIS with no-break spaces", kHeader + "\x93\xfa \xa0 \x82\xa0\xa0\r\n<x-html>\xa0</x-html>\r\n", kHeader.size(),
     kEncodingShiftJIS, true, true},
    {"ISO-2022-JP, a shift open across lines", kHeader + "\x1b$BF|K\\8l\r\n$G$9\x1b(B end\r\n", kHeader.size(), 21, false},
    {"automatic, Mac marker",
     kHeader + "<x-html><!x-stuff-for-pete base=\"\" src=\"\" id=\"0\" charset=\"iso-8859-1/macintosh\">caf\x8e</x-html>\r\n",
     kHeader.size(), kEncodingAutomatic},
    {"automatic, a block that decodes only by itself",
     kHeader + "<x-html>\x93\xfa\x96\x7b\x8c\xea\x82\xcc</x-html>\r\ncaf\xe9 \xe6\x97\xa5\r\n", kHeader.size(), kEncodingAutomatic},
    {"multipart with its delimiter line", kMultipart + "--b1\r\nContent-Type: text/plain\r\n\r\nt\xe9\r\n--b1--\r\n", kMultipart.size(),
     kWindows1252},
    {"multipart without one", kMultipart + "x--b1\r\n--b\r\n", kMultipart.size(), kWindows1252},
    {"no empty line", kFrom + "Subject: caf\xe9\r\nno header end", kHeaderLengthNone, kWindows1252},
    {"undecodable UTF-8", kHeader + "ok \xff bad\r\n", kHeader.size(), kEncodingUTF8},
    {"trailer", kHeader + "t\xe9\r\n<!x-stuff-for-vrak x>\r\n<x-html>x</x-html>", kHeader.size(), kWindows1252},
    // Styled text, rewritten on each pass.
    {"rich text",
     kHeader + "Dear Ann,\r\n<x-rich><bold>caf\xe9</bold> <<x\r\n\r\n<fontfamily><param>Arial</param>y</x-rich>\r\na<b\r\n\r\n",
     kHeader.size(), kWindows1252},
    {"rich text in an HTML body",
     kHeader + "<x-html><b>\xe9</b></x-html>\r\n<x-rich><color><param>ffff,0000,0000</param>r</color> & <<\r\n\r\nz</x-rich>\r\n",
     kHeader.size(), kWindows1252},
    {"rich text, automatic, a block tried again",
     kHeader + "<x-rich><italic>a</italic></x-rich>\r\n<x-charset shift_jis>\xf7\xf7\xf7 caf\xe9\r\n\r\n</x-charset>", kHeader.size(),
     kEncodingAutomatic},
    {"an opening tag never closed", kHeader + "<x-rich><bold>a\r\n", kHeader.size(), kWindows1252},
};

void PrintTo(const StageCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::size_t> blockSizes()
{
    std::vector<std::size_t> sizes;
    for (std::size_t size = 1; size <= 17; ++size)
        sizes.push_back(size);
    for (const std::size_t size : {31, 64, 257, 4096, 1 << 20})
        sizes.push_back(size);
    return sizes;
}

std::string caseName(const ::testing::TestParamInfo<StageCase>& info)
{
    std::string name;
    for (const char* c = info.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

ConversionOptions optionsFor(const StageCase& c)
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = c.source;
    options.processEudoraTags = c.tags;
    options.replaceNoBreakSpaces = c.nbsp;
    options.putBackAttachments = true;
    options.convertRichText = true;
    options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
    return options;
}

// What the decoding stage gives over a source: its decisions and its text, twice.
struct Decoded {
    EncodingId encoding = kEncodingNone;
    std::uint64_t spaces = 0;
    bool decoded = false;
    std::uint64_t bits = 0;
    ContentType contentType = ContentType::None;
    std::u16string text;
    std::u16string again;
    std::optional<HeaderChange> change;
    std::u16string replaced;
};

Decoded decodeFrom(const MessageSource& source, const StageCase& c)
{
    const ConversionOptions options = optionsFor(c);
    std::u16string held;
    DecodedText text(source, c.headerLength, options, held);
    AutomaticSource automatic;
    Decoded out;
    out.encoding = text.chooseSource(automatic);
    out.spaces = text.setSource(out.encoding);
    out.decoded = text.decode(automatic);
    if (!out.decoded)
        return out;
    out.bits = text.codeUnitBits();
    out.contentType = text.contentType();
    for (std::u16string* into : {&out.text, &out.again})
        EXPECT_TRUE(text.forEachText([into](std::u16string_view block) {
            into->append(block);
            return true;
        }));
    out.change = headerChangeOf(text, options, out.replaced);
    return out;
}

class DecodingStage : public ::testing::TestWithParam<StageCase> {};

TEST_P(DecodingStage, EveryBlockSizeGivesTheTextOfTheMessageHeldWhole)
{
    const StageCase& c = GetParam();
    const Decoded whole = decodeFrom(MessageSource(c.message), c);
    EXPECT_EQ(whole.text, whole.again) << "a second pass";
    for (const std::size_t block : blockSizes()) {
        const MessageReader read = [&](std::uint64_t offset, std::size_t length) {
            EXPECT_LE(length, block);
            return std::string_view(c.message).substr(offset, length);
        };
        const Decoded inBlocks = decodeFrom(MessageSource(read, c.message.size(), block), c);
        const std::string where = "blocks of " + std::to_string(block);
        EXPECT_EQ(inBlocks.encoding, whole.encoding) << where;
        EXPECT_EQ(inBlocks.spaces, whole.spaces) << where;
        ASSERT_EQ(inBlocks.decoded, whole.decoded) << where;
        EXPECT_EQ(inBlocks.bits, whole.bits) << where;
        EXPECT_EQ(inBlocks.contentType, whole.contentType) << where;
        EXPECT_TRUE(inBlocks.text == whole.text && inBlocks.again == whole.text) << where;
        ASSERT_EQ(inBlocks.change.has_value(), whole.change.has_value()) << where;
        if (whole.change) {
            EXPECT_EQ(inBlocks.change->location, whole.change->location) << where;
            EXPECT_EQ(inBlocks.change->replacedLength, whole.change->replacedLength) << where;
            EXPECT_TRUE(inBlocks.change->terminator == whole.change->terminator) << where;
            EXPECT_TRUE(inBlocks.replaced == whole.replaced) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Messages, DecodingStage, ::testing::ValuesIn(kCases), caseName);

// The tag walk's searches over bytes read block by block find what they find in memory.
TEST(SourceBytes, SearchesGiveWhatTheyGiveInMemory)
{
    const std::string bytes = "ab<x-html>cd\r\n<x-htm</x-html>e</x-html>>" + std::string(40, 'z') + "<!x-stuff";
    const MessageSource whole(bytes);
    const std::string_view needles[] = {"</x-html>", "<", "zzz<", "<!x-stuff", "absent", "z"};
    for (const std::size_t block : blockSizes()) {
        const MessageReader read = [&](std::uint64_t offset, std::size_t length) { return std::string_view(bytes).substr(offset, length); };
        const MessageSource source(read, bytes.size(), block);
        SourceBytes inBlocks(source);
        SourceBytes inMemory(whole);
        for (std::size_t from = 0; from <= bytes.size(); ++from) {
            const std::string where = "blocks of " + std::to_string(block) + ", from " + std::to_string(from);
            for (const std::string_view needle : needles) {
                EXPECT_EQ(inBlocks.find(needle, from), inMemory.find(needle, from)) << where << ", " << needle;
                EXPECT_EQ(inBlocks.find(needle, from, from + 12), inMemory.find(needle, from, from + 12)) << where << ", " << needle;
                EXPECT_EQ(inBlocks.matches(from, needle), inMemory.matches(from, needle)) << where << ", " << needle;
            }
            EXPECT_EQ(inBlocks.find('>', from), inMemory.find('>', from)) << where;
            if (from < bytes.size()) {
                EXPECT_EQ(inBlocks.at(from), inMemory.at(from)) << where;
            }
            std::string a, b;
            inBlocks.copy(from, bytes.size() - from, a);
            inMemory.copy(from, bytes.size() - from, b);
            EXPECT_EQ(a, b) << where;
        }
    }
}

// A sink that collects the text handed on.
struct Collect {
    std::u16string text;
    bool finished = false;
    void feed(std::u16string_view part) { text.append(part); }
    void finish() { finished = true; }
};

// Substitution and the field encoder fed a text cut anywhere give what they give on it whole.
TEST(TextStages, SubstitutionAndFieldEncodingInBlocksOfEverySize)
{
    std::u16string text;
    appendUTF8AsUTF16("From a\r\nSubject: caf\xc3\xa9 au lait\r\nTo: Zo\xc3\xab <z@example.org>,\r\n \xc3\xa9 <e@x>\r\nX: plain\r\n\r\n"
                      "body caf\xc3\xa9\r\n",
                      text);
    const EncodingPair candidate{kEncodingUTF8, "utf-8"};
    auto run = [&](std::size_t block) {
        Collect substituted, encoded;
        Substitution<Collect> substitution(8, 26, u"Subject: new\r\n", substituted);
        FieldEncoder<Collect> fields(candidate, encoded);
        for (std::size_t at = 0; at < text.size(); at += block) {
            substitution.feed(std::u16string_view(text).substr(at, block));
            fields.feed(std::u16string_view(text).substr(at, block));
        }
        substitution.finish();
        fields.finish();
        EXPECT_TRUE(substituted.finished && encoded.finished);
        return std::make_pair(substituted.text, encoded.text);
    };
    const auto whole = run(text.size());
    std::u16string expected;
    ASSERT_TRUE(encodeHeaders(text, candidate, expected));
    EXPECT_TRUE(whole.second == expected) << "the field encoder against encodeHeaders";
    EXPECT_TRUE(whole.first == text.substr(0, 8) + u"Subject: new\r\n" + text.substr(34));
    for (const std::size_t block : blockSizes())
        EXPECT_TRUE(run(block) == whole) << "blocks of " << block;
}

} // namespace
} // namespace tarnwick
