#include "engine/LineScanner.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace tarnwick {
namespace {

TEST(LineScanner, FindsTheLineAroundARange)
{
    const std::string abcd = "ab\r\ncd";
    const struct {
        const char* name;
        std::string bytes;
        ByteRange range;
        std::uint64_t start, contentsEnd, end;
    } cases[] = {
        {"start of CR LF line", abcd, {0, 0}, 0, 2, 4}, {"at the CR", abcd, {2, 0}, 0, 2, 4},
        {"at the LF of the pair", abcd, {3, 0}, 0, 2, 4}, {"second line", abcd, {4, 0}, 4, 6, 6},
        {"at the end", abcd, {6, 0}, 4, 6, 6}, {"range ending on the CR", abcd, {0, 3}, 0, 2, 4},
        {"range over the whole pair", abcd, {2, 2}, 0, 2, 4}, {"lone CR", "a\rb", {0, 0}, 0, 1, 2},
        {"LF CR: first line", "a\n\rb", {0, 0}, 0, 1, 2}, {"LF CR: CR ends an empty line", "a\n\rb", {2, 0}, 2, 2, 3},
        {"bare pair at its LF", "\r\n", {1, 0}, 0, 0, 2}, {"CR CR LF at the LF", "\r\r\n", {2, 0}, 1, 1, 3},
        {"range over two lines", "ab\ncd\nef", {1, 4}, 0, 5, 6}, {"trailing CR", "ab\r", {0, 0}, 0, 2, 3},
        {"end after trailing CR", "ab\r", {3, 0}, 3, 3, 3}, {"end after trailing LF", "ab\n", {3, 0}, 3, 3, 3},
        {"end of unterminated line", "ab", {2, 0}, 0, 2, 2}, {"empty bytes", "", {0, 0}, 0, 0, 0},
        {"range ending on the LF", abcd, {0, 4}, 0, 2, 4}, {"range from 1 ending on the LF", abcd, {1, 3}, 0, 2, 4},
        {"empty line between LFs", "a\n\nb", {2, 0}, 2, 2, 3}, {"unterminated last line", "a\nbcd", {3, 1}, 2, 5, 5},
    };
    for (const auto& c : cases) {
        std::uint64_t start = 99, contentsEnd = 99, end = 99, alone[3] = {99, 99, 99};
        ZQ_getLineStart(c.bytes, &start, &end, &contentsEnd, c.range);
        ZQ_getLineStart(c.bytes, &alone[0], nullptr, nullptr, c.range);
        ZQ_getLineStart(c.bytes, nullptr, nullptr, &alone[1], c.range);
        ZQ_getLineStart(c.bytes, nullptr, &alone[2], nullptr, c.range);
        const auto expected = std::tuple(c.start, c.contentsEnd, c.end);
        EXPECT_EQ(std::tuple(start, contentsEnd, end), expected) << c.name;
        EXPECT_EQ(std::tuple(alone[0], alone[1], alone[2]), expected) << c.name << " (each result alone)";
    }
}

TEST(LineScanner, RejectsRangesOutsideTheBytesAndStoresNothing)
{
    const std::string bytes = "ab\r\ncd";
    // Past the end, length past the end, length that wraps, huge location.
    for (const ByteRange range : {ByteRange{7, 0}, {5, 2}, {1, UINT64_MAX}, {UINT64_MAX, 0}}) {
        std::uint64_t start = 42, contentsEnd = 42, end = 42;
        try {
            ZQ_getLineStart(bytes, &start, &end, &contentsEnd, range);
            ADD_FAILURE() << range.location << "," << range.length << ": no error";
        } catch (const RangeError& error) {
            EXPECT_STREQ(error.what(), "*** -[std::string_view ZQ_getLineStart:end:contentsEnd:forRange:]: "
                                       "Range or index out of bounds");
        }
        EXPECT_TRUE(start == 42 && contentsEnd == 42 && end == 42) << range.location << "," << range.length;
    }
}

} // namespace
} // namespace tarnwick
