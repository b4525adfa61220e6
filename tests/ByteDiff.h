#pragma once
// Comparing byte strings in tests: when two outputs differ, the failure names the first
// differing offset and shows a hex window of both around it, instead of printing two
// mailboxes whole (or nothing, for outputs too large to print).
//
//     EXPECT_SAME_BYTES(output, expected) << "where";

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::testSupport {

/// The offset of the first byte that differs, or the shorter size when one is a prefix of
/// the other; npos when both are equal.
inline std::size_t firstDifference(std::string_view got, std::string_view expected)
{
    const std::size_t common = std::min(got.size(), expected.size());
    const auto at = std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(common), expected.begin()).first;
    const std::size_t offset = static_cast<std::size_t>(at - got.begin());
    return offset == common && got.size() == expected.size() ? std::string_view::npos : offset;
}

/// `window` bytes on either side of `at`, as hex pairs with the printable ones beside.
inline std::string hexWindow(std::string_view bytes, std::size_t at, std::size_t window = 16)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t from = at > window ? at - window : 0;
    const std::size_t to = std::min(bytes.size(), at + window + 1);
    std::string hex, text;
    for (std::size_t i = from; i < to; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        hex += i == at ? '[' : ' ';
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
        if (i == at)
            hex += ']';
        text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
    }
    if (at >= bytes.size())
        hex += " [end]";
    return "@" + std::to_string(from) + ":" + hex + "  |" + text + "|";
}

/// Empty when equal; otherwise the first differing offset, both sizes and both windows.
inline std::string byteDifference(std::string_view got, std::string_view expected)
{
    const std::size_t at = firstDifference(got, expected);
    if (at == std::string_view::npos)
        return {};
    return "first difference at offset " + std::to_string(at) + " (got " + std::to_string(got.size()) + " bytes, expected "
        + std::to_string(expected.size()) + ")\n  got:      " + hexWindow(got, at) + "\n  expected: " + hexWindow(expected, at);
}

inline ::testing::AssertionResult sameBytes(const char* gotText, const char* expectedText, std::string_view got, std::string_view expected)
{
    const std::string difference = byteDifference(got, expected);
    if (difference.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << gotText << " and " << expectedText << " differ: " << difference;
}

} // namespace tarnwick::testSupport

#define EXPECT_SAME_BYTES(got, expected) EXPECT_PRED_FORMAT2(::tarnwick::testSupport::sameBytes, got, expected)
#define ASSERT_SAME_BYTES(got, expected) ASSERT_PRED_FORMAT2(::tarnwick::testSupport::sameBytes, got, expected)
