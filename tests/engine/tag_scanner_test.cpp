#include "engine/TagScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace tarnwick {
namespace {

struct ScanResult {
    bool found = false;
    ByteRange opening;
    ByteRange closing;
    EncodingId encoding = 0;
};

/// Scans a heap copy of exactly `length` bytes, so that the sanitizer build catches
/// any read past the bytes the scanner was given.
ScanResult scan(const std::string& input, const char* name, std::size_t length)
{
    auto bytes = std::make_unique<char[]>(length == 0 ? 1 : length);
    std::memcpy(bytes.get(), input.data(), length);
    ScanResult r;
    r.found = scanTag(bytes.get(), length, name, &r.opening, &r.closing, &r.encoding);
    return r;
}

/// What the parameter lookup gives for this exact text: the scanner hands the
/// parameter over untrimmed, so these cases follow whatever the lookup says of it.
EncodingId lookedUp(std::string_view parameter)
{
    const PlatformEncoding encoding = encodingForIANAName(parameter);
    return encoding == kPlatformEncodingInvalid ? kEncodingNone : carryEncoding(encoding);
}

ScanResult scan(const std::string& input, const char* name)
{
    return scan(input, name, input.size());
}

struct FoundCase {
    const char* label;
    std::string input;
    const char* name;
    ByteRange opening;
    ByteRange closing;
    EncodingId encoding;
};

TEST(TagScanner, FindsBlocks)
{
    const FoundCase cases[] = {
        {"empty block", "<x-flowed></x-flowed>", "x-flowed", {0, 10}, {10, 11}, kEncodingNone},
        {"charset parameter", "<x-charset iso-8859-1>abc</x-charset>", "x-charset", {0, 22}, {25, 12},
         kEncodingISOLatin1},
        {"parameter looked up without regard to case", "<x-charset UTF-8>a</x-charset>", "x-charset",
         {0, 17}, {18, 12}, kEncodingUTF8},
        {"parameter carried into an identifier", "<x-charset Shift_JIS>a</x-charset>", "x-charset",
         {0, 21}, {22, 12}, kEncodingShiftJIS},
        {"no parameter", "<x-charset>abc</x-charset>", "x-charset", {0, 11}, {14, 12}, kEncodingNone},
        {"unknown charset", "<x-charset bogus>abc</x-charset>", "x-charset", {0, 17}, {20, 12}, kEncodingNone},
        {"second space belongs to the parameter", "<x-charset  iso-8859-1>a</x-charset>", "x-charset",
         {0, 23}, {24, 12}, lookedUp(" iso-8859-1")},
        {"empty parameter", "<x-charset >a</x-charset>", "x-charset", {0, 12}, {13, 12}, lookedUp("")},
        {"line break inside the parameter", "<x-charset utf-8\r\n>a</x-charset>", "x-charset", {0, 19},
         {20, 12}, lookedUp("utf-8\r\n")},
        {"non-ASCII parameter", "<x-charset utf-\xE9>a</x-charset>", "x-charset", {0, 17}, {18, 12},
         kEncodingNone},
        {"parameter on x-html", "<x-html utf-8>a</x-html>", "x-html", {0, 14}, {15, 9}, kEncodingUTF8},
        {"shorter closing tag skipped", "<x-html>a</x-htm>b</x-html>", "x-html", {0, 8}, {18, 9}, kEncodingNone},
        {"no nesting: first closing tag wins", "<x-html>a<x-html>b</x-html>c</x-html>", "x-html", {0, 8},
         {18, 9}, kEncodingNone},
        {"closing '>' is the last byte", "<x-html>a</x-html>", "x-html", {0, 8}, {9, 9}, kEncodingNone},
        {"'</' that is no closing tag", "<x-html></></x-html>", "x-html", {0, 8}, {11, 9}, kEncodingNone},
        {"'<' not followed by '/'", "<x-html><<a</x-html>", "x-html", {0, 8}, {11, 9}, kEncodingNone},
    };
    for (const FoundCase& c : cases) {
        const ScanResult r = scan(c.input, c.name);
        ASSERT_TRUE(r.found) << c.label;
        EXPECT_EQ(r.opening, c.opening) << c.label << ": opening " << r.opening.location << "," << r.opening.length;
        EXPECT_EQ(r.closing, c.closing) << c.label << ": closing " << r.closing.location << "," << r.closing.length;
        EXPECT_EQ(r.encoding, c.encoding) << c.label;
    }
}

struct MissCase {
    const char* label;
    std::string input;
    const char* name;
    std::size_t length; // bytes handed to the scanner; 0 means all of input
};

TEST(TagScanner, RejectsNonBlocks)
{
    const MissCase cases[] = {
        {"opening tag with nothing after it", "<x-flowed>", "x-flowed", 0},
        {"name followed by another letter", "<x-flowedx>a</x-flowedx>", "x-flowed", 0},
        {"name compared case-sensitively", "<X-FLOWED>a</X-FLOWED>", "x-flowed", 0},
        {"tab is no parameter separator", "<x-charset\tutf-8>a</x-charset>", "x-charset", 0},
        {"parameter without '>'", "<x-charset iso-8859-1", "x-charset", 0},
        {"space as the last byte", "<x-charset ", "x-charset", 0},
        {"name cut off", "<x-char", "x-charset", 0},
        {"not a '<'", "x<x-html>a</x-html>", "x-html", 0},
        {"closing tag cut off by the end", "<x-html>a</x-html", "x-html", 0},
        {"closing tag beyond the given length", "<x-html>a</x-html>", "x-html", 17},
        {"'<' in the last byte", "<x-html>abcdefghij<", "x-html", 0},
        {"closing tag with a space", "<x-flowed>a</x-flowed >", "x-flowed", 0},
        {"closing tag of another name", "<x-flowed>a</x-html>bbbbbbbbb", "x-flowed", 0},
        {"first '</' too near the end stops the search", "<x-html>aaaaaaaa</x-htm", "x-html", 0},
        {"zero length", "<x-html></x-html>", "x-html", 0},
    };
    for (const MissCase& c : cases) {
        const bool zero = std::string(c.label) == "zero length";
        const std::size_t length = zero ? 0 : (c.length == 0 ? c.input.size() : c.length);
        EXPECT_FALSE(scan(c.input, c.name, length).found) << c.label;
    }
    ByteRange opening;
    ByteRange closing;
    EncodingId encoding;
    EXPECT_FALSE(scanTag(nullptr, 10, "x-html", &opening, &closing, &encoding)) << "absent bytes";
}

TEST(TagScanner, NeverReadsPastTheLengthWhileSearching)
{
    // Every prefix of a valid block: the scanner sees exactly that many bytes, so an
    // over-read shows up in the sanitizer build, and only the whole block is found.
    const std::string block = "<x-charset iso-8859-1>a<b</c</x-charsetX</x-charset>";
    for (std::size_t length = 0; length <= block.size(); ++length) {
        const ScanResult r = scan(block, "x-charset", length);
        EXPECT_EQ(r.found, length == block.size()) << "prefix of " << length << " bytes";
    }
}

} // namespace
} // namespace tarnwick
