#include "engine/LineScanner.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick {
namespace {

struct LineCase {
    const char* name;
    std::string bytes;
    ByteRange range;
    std::uint64_t start;
    std::uint64_t contentsEnd;
    std::uint64_t end;
};

TEST(LineScanner, FindsTheLineAroundARange)
{
    const std::string abcd = "ab\r\ncd";
    const LineCase cases[] = {
        {"start of CR LF line", abcd, {0, 0}, 0, 2, 4},
        {"at the CR", abcd, {2, 0}, 0, 2, 4},
        {"at the LF of the pair", abcd, {3, 0}, 0, 2, 4},
        {"second line", abcd, {4, 0}, 4, 6, 6},
        {"at the end", abcd, {6, 0}, 4, 6, 6},
        {"range ending on the CR", abcd, {0, 3}, 0, 2, 4},
        {"range over the whole pair", abcd, {2, 2}, 0, 2, 4},
        {"lone CR", "a\rb", {0, 0}, 0, 1, 2},
        {"LF CR: first terminator", "a\n\rb", {0, 0}, 0, 1, 2},
        {"LF CR: the CR ends an empty line", "a\n\rb", {2, 0}, 2, 2, 3},
        {"bare pair at its LF", "\r\n", {1, 0}, 0, 0, 2},
        {"CR CR LF at the LF", "\r\r\n", {2, 0}, 1, 1, 3},
        {"range over two lines", "ab\ncd\nef", {1, 4}, 0, 5, 6},
        {"trailing CR", "ab\r", {0, 0}, 0, 2, 3},
        {"end after trailing CR", "ab\r", {3, 0}, 3, 3, 3},
        {"end after trailing LF", "ab\n", {3, 0}, 3, 3, 3},
        {"end of unterminated line", "ab", {2, 0}, 0, 2, 2},
        {"empty bytes", "", {0, 0}, 0, 0, 0},
        // Beyond the table: ranges ending on the LF of a pair, and empty lines.
        {"range ending on the LF", abcd, {0, 4}, 0, 2, 4},
        {"range ending on the LF from the second byte", abcd, {1, 3}, 0, 2, 4},
        {"empty line between LFs", "a\n\nb", {2, 0}, 2, 2, 3},
        {"unterminated last line", "a\nbcd", {3, 1}, 2, 5, 5},
    };
    for (const LineCase& c : cases) {
        std::uint64_t start = 99, contentsEnd = 99, end = 99;
        ZQ_getLineStart(c.bytes, &start, &end, &contentsEnd, c.range);
        EXPECT_EQ(start, c.start) << c.name;
        EXPECT_EQ(contentsEnd, c.contentsEnd) << c.name;
        EXPECT_EQ(end, c.end) << c.name;

        // Each result alone equals the result asked for together with the others.
        std::uint64_t only = 99;
        ZQ_getLineStart(c.bytes, &only, nullptr, nullptr, c.range);
        EXPECT_EQ(only, c.start) << c.name << " (start alone)";
        only = 99;
        ZQ_getLineStart(c.bytes, nullptr, nullptr, &only, c.range);
        EXPECT_EQ(only, c.contentsEnd) << c.name << " (contents end alone)";
        only = 99;
        ZQ_getLineStart(c.bytes, nullptr, &only, nullptr, c.range);
        EXPECT_EQ(only, c.end) << c.name << " (line end alone)";
    }
}

TEST(LineScanner, RejectsRangesOutsideTheBytesAndStoresNothing)
{
    const std::string bytes = "ab\r\ncd";
    const struct {
        const char* name;
        ByteRange range;
    } bad[] = {
        {"location past the end", {7, 0}},
        {"length past the end", {5, 2}},
        {"length that wraps", {1, UINT64_MAX}},
        {"huge location", {UINT64_MAX, 0}},
    };
    for (const auto& c : bad) {
        std::uint64_t start = 42, contentsEnd = 42, end = 42;
        try {
            ZQ_getLineStart(bytes, &start, &end, &contentsEnd, c.range);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const RangeError& error) {
            EXPECT_STREQ(error.what(),
                         "*** -[std::string_view ZQ_getLineStart:end:contentsEnd:forRange:]: Range or index out of bounds")
                << c.name;
        }
        EXPECT_EQ(start, 42u) << c.name;
        EXPECT_EQ(contentsEnd, 42u) << c.name;
        EXPECT_EQ(end, 42u) << c.name;
    }
    std::uint64_t start = 42;
    EXPECT_NO_THROW(ZQ_getLineStart(bytes, &start, nullptr, nullptr, {6, 0}));
    EXPECT_EQ(start, 4u);
}

// The forward search works on blocks of bytes: a terminator at every offset within and
// across blocks, of each kind, must be found at its exact position.
TEST(LineScanner, FindsTerminatorsAtEveryOffsetOfLongLines)
{
    for (const char* terminator : {"\r", "\n", "\r\n"}) {
        for (std::size_t length = 0; length < 80; ++length) {
            const std::string bytes = "x" + std::string(length, 'a') + terminator + "tail";
            std::uint64_t start = 99, contentsEnd = 99, end = 99;
            ZQ_getLineStart(bytes, &start, &end, &contentsEnd, {1, 0});
            const std::uint64_t expectedEnd = length + 1 + std::char_traits<char>::length(terminator);
            ASSERT_EQ(start, 0u) << "length " << length;
            ASSERT_EQ(contentsEnd, length + 1) << "length " << length;
            ASSERT_EQ(end, expectedEnd) << "length " << length;
        }
    }
    // A line without terminator, of every length around the block sizes.
    for (std::size_t length = 0; length < 80; ++length) {
        const std::string bytes(length, 'b');
        std::uint64_t contentsEnd = 99, end = 99;
        ZQ_getLineStart(bytes, nullptr, &end, &contentsEnd, {0, 0});
        ASSERT_EQ(contentsEnd, length);
        ASSERT_EQ(end, length);
    }
}

} // namespace
} // namespace tarnwick
