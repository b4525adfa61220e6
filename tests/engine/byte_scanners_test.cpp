#include "engine/mailbox/LineScanner.h"
#include "engine/message/TagScanner.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>

namespace tarnwick {
namespace {

struct LineAroundCase {
    const char* name;
    std::string bytes;
    ByteRange range;
    std::uint64_t start, contentsEnd, end;
};

const std::string kAbcd = "ab\r\ncd";

const LineAroundCase kLineAroundCases[] = {
    {"start of CR LF line", kAbcd, {0, 0}, 0, 2, 4},
    {"at the CR", kAbcd, {2, 0}, 0, 2, 4},
    {"at the LF of the pair", kAbcd, {3, 0}, 0, 2, 4},
    {"second line", kAbcd, {4, 0}, 4, 6, 6},
    {"at the end", kAbcd, {6, 0}, 4, 6, 6},
    {"range ending on the CR", kAbcd, {0, 3}, 0, 2, 4},
    {"range over the whole pair", kAbcd, {2, 2}, 0, 2, 4},
    {"lone CR", "a\rb", {0, 0}, 0, 1, 2},
    {"line after a lone CR", "a\rb", {2, 0}, 2, 3, 3},
    {"LF CR: first line", "a\n\rb", {0, 0}, 0, 1, 2},
    {"LF CR: CR ends an empty line", "a\n\rb", {2, 0}, 2, 2, 3},
    {"bare pair at its LF", "\r\n", {1, 0}, 0, 0, 2},
    {"CR CR LF at the LF", "\r\r\n", {2, 0}, 1, 1, 3},
    {"range over two lines", "ab\ncd\nef", {1, 4}, 0, 5, 6},
    {"trailing CR", "ab\r", {0, 0}, 0, 2, 3},
    {"end after trailing CR", "ab\r", {3, 0}, 3, 3, 3},
    {"end after trailing LF", "ab\n", {3, 0}, 3, 3, 3},
    {"end of unterminated line", "ab", {2, 0}, 0, 2, 2},
    {"empty bytes", "", {0, 0}, 0, 0, 0},
    {"range ending on the LF", kAbcd, {0, 4}, 0, 2, 4},
    {"range from 1 ending on the LF", kAbcd, {1, 3}, 0, 2, 4},
    {"empty line between LFs", "a\n\nb", {2, 0}, 2, 2, 3},
    {"unterminated last line", "a\nbcd", {3, 1}, 2, 5, 5},
};

class LineAround : public ::testing::TestWithParam<LineAroundCase> {};

TEST_P(LineAround, FindsTheLineAroundARange)
{
    const LineAroundCase& c = GetParam();
    const LineBounds line = lineAround(c.bytes, c.range);
    EXPECT_EQ(std::tuple(line.start, line.contentsEnd, line.end), std::tuple(c.start, c.contentsEnd, c.end));
}

INSTANTIATE_TEST_SUITE_P(Cases, LineAround, ::testing::ValuesIn(kLineAroundCases), testSupport::NamedByLabel());

TEST(LineScanner, RejectsRangesOutsideTheBytes)
{
    const std::string bytes = "ab\r\ncd";
    // Past the end, length past the end, length that wraps, huge location.
    for (const ByteRange range : {ByteRange{7, 0}, {5, 2}, {1, UINT64_MAX}, {UINT64_MAX, 0}}) {
        try {
            lineAround(bytes, range);
            ADD_FAILURE() << range.location << "," << range.length << ": no error";
        } catch (const RangeError& error) {
            EXPECT_STREQ(error.what(), "lineAround: range out of bounds");
        }
    }
}

using Block = std::tuple<ByteRange, ByteRange, EncodingId>; // opening tag, closing tag, charset

/// Pages whose last bytes end right before an inaccessible page: a read past them
/// crashes the test in every build, not only under the sanitizer.
class GuardedBytes {
public:
    explicit GuardedBytes(std::string_view bytes)
    {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() + page - 1) / page * page + page;
        void* map = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        map_ = static_cast<char*>(map);
        ::mprotect(map_ + size_ - page, page, PROT_NONE);
        data_ = map_ + size_ - page - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
        view_ = std::string_view(data_, bytes.size());
    }
    ~GuardedBytes() { ::munmap(map_, size_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    std::string_view view() const { return view_; }

private:
    char* map_ = nullptr;
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::string_view view_;
};

/// Scans exactly `length` bytes of `input`, placed right before an inaccessible page.
std::optional<Block> scan(const std::string& input, const char* name, std::size_t length)
{
    const GuardedBytes bytes(std::string_view(input).substr(0, length));
    if (const auto block = scanTag(bytes.view(), name))
        return Block(block->opening, block->closing, block->encoding);
    return std::nullopt;
}

TEST(TagScanner, FindsBlocks)
{
    const struct {
        const char* label;
        std::string input;
        const char* name;
        ByteRange opening, closing;
        EncodingId encoding;
    } cases[] = {
        {"empty block", "<x-flowed></x-flowed>", "x-flowed", {0, 10}, {10, 11}, kEncodingNone},
        {"charset", "<x-charset iso-8859-1>abc</x-charset>", "x-charset", {0, 22}, {25, 12}, kEncodingISOLatin1},
        {"charset in any case", "<x-charset UTF-8>a</x-charset>", "x-charset", {0, 17}, {18, 12}, kEncodingUTF8},
        {"carried", "<x-charset Shift_JIS>a</x-charset>", "x-charset", {0, 21}, {22, 12}, kEncodingShiftJIS},
        {"no parameter", "<x-charset>abc</x-charset>", "x-charset", {0, 11}, {14, 12}, kEncodingNone},
        {"unknown charset", "<x-charset bogus>abc</x-charset>", "x-charset", {0, 17}, {20, 12}, kEncodingNone},
        {"non-ASCII parameter", "<x-charset utf-\xE9>a</x-charset>", "x-charset", {0, 17}, {18, 12}, kEncodingNone},
        {"parameter on x-html", "<x-html utf-8>a</x-html>", "x-html", {0, 14}, {15, 9}, kEncodingUTF8},
        {"shorter closing tag skipped", "<x-html>a</x-htm>b</x-html>", "x-html", {0, 8}, {18, 9}, kEncodingNone},
        {"no nesting", "<x-html>a<x-html>b</x-html>c</x-html>", "x-html", {0, 8}, {18, 9}, kEncodingNone},
        {"'</' that is no closing tag", "<x-html></></x-html>", "x-html", {0, 8}, {11, 9}, kEncodingNone},
        {"'<' not followed by '/'", "<x-html><<a</x-html>", "x-html", {0, 8}, {11, 9}, kEncodingNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan(c.input, c.name, c.input.size()), Block(c.opening, c.closing, c.encoding)) << c.label;
}

TEST(TagScanner, RejectsNonBlocks)
{
    const struct {
        const char* label;
        std::string input;
        const char* name;
        std::size_t length; // bytes handed to the scanner
    } cases[] = {
        {"opening tag only", "<x-flowed>", "x-flowed", 10},
        {"name cut off", "<x-char", "x-charset", 7},
        {"name followed by another letter", "<x-flowedx>a</x-flowedx>", "x-flowed", 24},
        {"name compared case-sensitively", "<X-FLOWED>a</X-FLOWED>", "x-flowed", 22},
        {"opening tag in capitals", "<X-FLOWED>a</x-flowed>", "x-flowed", 22},
        {"closing tag in capitals", "<x-flowed>a</X-FLOWED>", "x-flowed", 22},
        {"one capital in the opening tag", "<x-Html>a</x-html>", "x-html", 18},
        {"tab is no parameter separator", "<x-charset\tutf-8>a</x-charset>", "x-charset", 30},
        {"parameter without '>'", "<x-charset iso-8859-1", "x-charset", 21},
        {"zero length", "<x-html>", "x-html", 0},
        {"not a '<'", "x<x-html>a</x-html>", "x-html", 19},
        {"cut closing", "<x-html>a</x-html>", "x-html", 17},
        {"closing tag with a space", "<x-flowed>a</x-flowed >", "x-flowed", 23},
        {"closing tag of another name", "<x-flowed>a</x-html>bbbbbbbbb", "x-flowed", 29},
        {"first '</' too near the end stops the search", "<x-html>aaaaaaaa</x-htm", "x-html", 23},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan(c.input, c.name, c.length), std::nullopt) << c.label;
    EXPECT_FALSE(scanTag({}, "x-html")) << "absent bytes";
    // Every letter of the opening name counts, the last one too.
    for (const char* opening : {"<x-htmX>", "<x-htm!>", "<y-html>", "<x-Html>"})
        EXPECT_FALSE(scanTag(std::string(opening) + "b</x-html>", "x-html")) << opening;
}

TEST(TagScanner, NeverReadsPastTheLengthWhileSearching)
{
    // Every prefix of a block: an over-read shows in the sanitizer build.
    const std::string block = "<x-charset iso-8859-1>a<b</c</x-charsetX</x-charset>";
    for (std::size_t length = 0; length <= block.size(); ++length)
        EXPECT_EQ(scan(block, "x-charset", length).has_value(), length == block.size()) << "prefix of " << length;
    const std::string plain = "<x-html>a</x-html>";
    for (std::size_t length = 0; length <= plain.size(); ++length)
        EXPECT_EQ(scan(plain, "x-html", length).has_value(), length == plain.size()) << "prefix of " << length;
}

// A scanner kept over a whole message gives what a fresh scan at each offset gives,
// whatever order the offsets come in.
TEST(TagScanner, MessageScannerAgreesWithSingleScansAtEveryOffset)
{
    const std::string message = "<x-html>a</x-html>\n<x-charset utf-8>b\n<x-charset>c</x-charset>\n<x-flowed>d\n"
                                "<x-html x>e</x-htm>\n</x-html><x-flowed></x-flowed><x-charset iso-8859-1\n<x-html>";
    const GuardedBytes guarded(message);
    for (const char* name : {"x-charset", "x-flowed", "x-html"}) {
        TagScanner forward(guarded.view()), backward(guarded.view());
        for (std::size_t offset = 0; offset <= message.size(); ++offset) {
            const std::size_t back = message.size() - offset;
            const auto fresh = [&](std::size_t at) {
                const auto block = scanTag(std::string_view(message).substr(std::min(at, message.size())), name);
                return block ? std::optional<Block>(Block(block->opening, block->closing, block->encoding)) : std::nullopt;
            };
            const auto kept = [&](TagScanner& scanner, std::size_t at) {
                const auto block = scanner.blockAt(at, name);
                return block ? std::optional<Block>(Block(block->opening, block->closing, block->encoding)) : std::nullopt;
            };
            EXPECT_EQ(kept(forward, offset), fresh(offset)) << name << " at " << offset;
            EXPECT_EQ(kept(backward, back), fresh(back)) << name << " at " << back << " going backwards";
        }
    }
}

// Unclosed tags at the start of every line, or parameters that share one far '>': each
// search covers a stretch of the message once, not once per opening tag.
TEST(TagScanner, WalkOverUnclosedTagsSearchesEachByteAFewTimes)
{
    const struct {
        const char* label;
        std::string line;
        std::string tail;
    } cases[] = {
        {"unclosed blocks", "<x-html>unclosed\n", ""},
        {"unclosed flowed blocks", "<x-flowed>unclosed\n", ""},
        {"parameters without '>'", "<x-charset unclosed\n", ""},
        {"parameters ended by one far '>'", "<x-charset unclosed\n", ">"},
        {"closing tags of another name", "<x-html></x-flowed>\n", ""},
    };
    for (const auto& c : cases) {
        std::string message;
        for (int i = 0; i < 20000; ++i)
            message += c.line;
        message += c.tail;
        TagScanner scanner(message);
        for (std::size_t offset = 0; offset < message.size(); offset += c.line.size()) {
            for (const char* name : {"x-charset", "x-flowed", "x-html"})
                EXPECT_FALSE(scanner.blockAt(offset, name).has_value()) << c.label;
        }
        EXPECT_LE(scanner.bytesSearched(), 4 * message.size()) << c.label;
    }
}

} // namespace
} // namespace tarnwick
