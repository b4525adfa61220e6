#include "engine/header/MimeHeader.h"
#include "engine/attachments/MimeWriter.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace tarnwick {
namespace {

std::string base64(std::string_view bytes, std::string_view eol = "\r\n")
{
    std::string out;
    appendBase64Lines(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), eol, out);
    return out;
}

TEST(MimeWriter, Base64MatchesTheStandardVectors)
{
    struct Case {
        std::string_view in;
        std::string_view out;
    };
    // RFC 4648, section 10.
    const Case cases[] = {{"", ""},
                          {"f", "Zg==\r\n"},
                          {"fo", "Zm8=\r\n"},
                          {"foo", "Zm9v\r\n"},
                          {"foob", "Zm9vYg==\r\n"},
                          {"fooba", "Zm9vYmE=\r\n"},
                          {"foobar", "Zm9vYmFy\r\n"}};
    for (const Case& c : cases)
        EXPECT_EQ(base64(c.in), c.out) << c.in;
}

TEST(MimeWriter, Base64BreaksLinesAt76AndChunksJoinSeamlessly)
{
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += static_cast<char>(i * 7 + 3);
    const std::string whole = base64(bytes, "\n");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < whole.size(); ++lines) {
        const std::size_t end = whole.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - at, 76u);
        if (end + 1 < whole.size()) {
            EXPECT_EQ(end - at, 76u) << "only the last line may be short";
        }
        at = end + 1;
    }
    EXPECT_EQ(lines, (1000u + 56) / 57);

    std::string chunked;
    for (std::size_t at = 0; at < bytes.size(); at += 3 * kBase64LineInput) {
        const std::size_t length = std::min(bytes.size() - at, 3 * kBase64LineInput);
        appendBase64Lines(reinterpret_cast<const unsigned char*>(bytes.data() + at), length, "\n", chunked);
    }
    EXPECT_EQ(chunked, whole);
    EXPECT_EQ(base64(bytes, "\r").find('\n'), std::string::npos) << "lines end with the terminator asked for";
}

TEST(MimeWriter, BoundariesAreDerivedAndNeverOccurInTheContent)
{
    const std::string first = boundaryFor({"text", "names"}, 1);
    EXPECT_EQ(first, boundaryFor({"text", "names"}, 1)) << "same input, same boundary";
    EXPECT_NE(first, boundaryFor({"text", "names"}, 2));
    EXPECT_NE(first, boundaryFor({"text!", "names"}, 1));
    EXPECT_TRUE(first.starts_with("=_"));
    EXPECT_EQ(first.size(), boundaryFor({""}, 9).size()) << "equal lengths: none is a prefix of another";

    // Content that holds the boundary its own text would give gets another one.
    const std::string trap = "x" + boundaryFor({"x"}, 1);
    const std::string chosen = boundaryFor({trap}, 1);
    EXPECT_EQ(trap.find(chosen), std::string::npos);
    const std::string forged = boundaryFor({trap}, 1);
    const std::string both = trap + forged;
    EXPECT_EQ(both.find(boundaryFor({both}, 1)), std::string::npos);
}

TEST(MimeWriter, FileNameParameters)
{
    struct Case {
        const char* what;
        std::string value;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "report.pdf", "; filename=\"report.pdf\""},
        {"quotes escaped", "a \"b\" \\c", "; filename=\"a \\\"b\\\" \\\\c\""},
        {"utf-8", "r\xC3\xA9sum\xC3\xA9 1.pdf", ";\r\n filename*=UTF-8''r%C3%A9sum%C3%A9%201.pdf"},
        {"control byte", "a\tb", ";\r\n filename*=UTF-8''a%09b"},
    };
    for (const Case& c : cases) {
        std::string header;
        appendNameParameter(header, "filename", c.value, "\r\n");
        EXPECT_EQ(header, c.expected) << c.what;
    }

    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "\xE6\x97\xA5"; // 40 times U+65E5, 120 bytes, 360 encoded characters
    std::string header;
    appendNameParameter(header, "filename", longName, "\n");
    std::string joined;
    int pieces = 0;
    for (std::size_t at = 0; (at = header.find("filename*", at)) != std::string::npos; ++pieces) {
        const std::string prefix = "filename*" + std::to_string(pieces) + "*=";
        ASSERT_EQ(header.compare(at, prefix.size(), prefix), 0) << header;
        at += prefix.size();
        const std::size_t end = header.find(';', at);
        const std::string piece = header.substr(at, end == std::string::npos ? std::string::npos : end - at);
        EXPECT_LE(piece.size(), 67u);
        EXPECT_NE(piece.back(), '%') << "an escape is never split";
        joined += piece;
    }
    EXPECT_GT(pieces, 1);
    std::string expected = "UTF-8''";
    for (int i = 0; i < 40; ++i)
        expected += "%E6%97%A5";
    EXPECT_EQ(joined, expected);
}

TEST(MimeHeader, ReadsFieldsParametersAndDelimiters)
{
    const std::string message = "From x\r\nSubject: Hello\r\n  there\r\nContent-Type: Multipart/Mixed;\r\n"
                                " boundary=\"b 1\"; x=y\r\nNoColon\r\n\r\nbody\r\n--b 1\r\n";
    const auto end = headerEnd(message);
    ASSERT_TRUE(end);
    EXPECT_EQ(message.substr(*end, 2), "\r\n");
    const std::string_view header = std::string_view(message).substr(8, *end - 8);
    const auto fields = headerFields(header);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0].name, "Subject");
    EXPECT_EQ(fields[1].whole, "Content-Type: Multipart/Mixed;\r\n boundary=\"b 1\"; x=y\r\n");
    EXPECT_EQ(fields[2].name, "");
    EXPECT_EQ(headerValue(header, "subject", 100), "Hello  there");
    EXPECT_EQ(headerValue(header, "subject", 3), "Hel");
    EXPECT_EQ(mediaType(fields[1].whole), "multipart/mixed");
    EXPECT_EQ(parameterValue(fields[1].whole, "BOUNDARY"), "b 1");
    EXPECT_EQ(parameterValue(fields[1].whole, "x"), "y");
    EXPECT_FALSE(parameterValue(fields[1].whole, "charset"));
    const std::string_view body = std::string_view(message).substr(*end + 2);
    EXPECT_TRUE(hasDelimiterLine(body, "b 1"));
    EXPECT_FALSE(hasDelimiterLine(std::string_view("body --b 1\r\n"), "b 1")) << "only at a line start";
    EXPECT_TRUE(hasDelimiterLine(std::u16string_view(u"x\r--b"), "b"));
    // The decoded text's form agrees with the bytes' form wherever a line may start.
    for (const std::string text : {"--b", "a\r\n--b\r\n", "a\n\r--b", "a\n\n--b", "a --b", "a\n-b", "a\n--", "", "\n", "x\n--c\n--b"}) {
        const std::u16string wide(text.begin(), text.end());
        EXPECT_EQ(hasDelimiterLine(std::u16string_view(wide), "b"), hasDelimiterLine(std::string_view(text), "b")) << text;
    }
    EXPECT_FALSE(headerEnd("From x\r\nSubject: no end\r\n"));
}

} // namespace
} // namespace tarnwick

namespace tarnwick {
namespace {

// RFC 2231 continuations cut at every position: a plain prefix of each length before
// escapes of one, two and three bytes, so that the 60-character limit falls on every
// place of a "%XX" (right after the '%', after its first digit, at its end). Every piece
// holds whole escapes only, numbered from 0, the charset on the first alone, and the
// pieces joined and unescaped give the name back.
TEST(MimeWriter, FileNameContinuationsCutAtEveryPosition)
{
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    auto isAttributeChar
        = [](char c) { return c > 0x20 && c < 0x7F && std::string_view("*'%()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos; };
    const std::string tails[] = {"\xC3\xA9", "\xE6\x97\xA5", "a b\xC3\xA9", "\xF0\x9F\x98\x80", "x=y\xC3\xA9", "100%\xC3\xA9"};
    std::size_t splitAtPercent = 0;
    for (const std::string& tail : tails) {
        for (std::size_t prefix = 0; prefix <= 70; ++prefix) {
            std::string value(prefix, 'n');
            while (value.size() < prefix + 60)
                value += tail;
            const std::string trace = "prefix " + std::to_string(prefix) + ", tail " + tail;
            std::string header;
            appendNameParameter(header, "filename", value, "\r\n");
            std::string joined;
            int index = 0;
            for (std::size_t at = 0; (at = header.find(";\r\n filename*", at)) != std::string::npos; ++index) {
                at += 4;
                const std::string name = "filename*" + std::to_string(index) + "*=";
                ASSERT_EQ(header.compare(at, name.size(), name), 0) << trace << ": " << header;
                at += name.size();
                if (index == 0) {
                    ASSERT_EQ(header.compare(at, 7, "UTF-8''"), 0) << trace;
                    at += 7;
                }
                const std::size_t end = std::min(header.find(';', at), header.size());
                const std::string piece = header.substr(at, end - at);
                EXPECT_LE(piece.size(), 60u) << trace;
                for (std::size_t i = 0; i < piece.size(); ++i) {
                    if (piece[i] == '%') {
                        ASSERT_LT(i + 2, piece.size()) << trace << ": an escape cut in \"" << piece << "\"";
                        EXPECT_TRUE(hex(piece[i + 1]) && hex(piece[i + 2])) << trace << ": " << piece;
                        i += 2;
                    } else {
                        EXPECT_TRUE(isAttributeChar(piece[i])) << trace << ": '" << piece[i] << "' bare in " << piece;
                    }
                }
                joined += piece;
                if (end < header.size() && piece.size() < 60)
                    ++splitAtPercent; // not the last piece: the limit fell inside an escape
            }
            EXPECT_GT(index, 1) << trace;
            std::string decoded;
            for (std::size_t i = 0; i < joined.size(); ++i) {
                if (joined[i] == '%' && i + 2 < joined.size()) {
                    decoded += static_cast<char>(std::stoi(joined.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    decoded += joined[i];
                }
            }
            EXPECT_EQ(decoded, value) << trace;
        }
    }
    EXPECT_GT(splitAtPercent, 0u) << "the limit never fell inside an escape";
}

} // namespace
} // namespace tarnwick
