// A text decoded or encoded block by block, cut anywhere, gives the text or the bytes
// (and the verdict) of the one-call conversion: split characters, shift states and
// surrogate pairs carry over between blocks.
#include "platform/encodings/TextStream.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

EncodingId encodingNamed(const char* name) { return carryEncoding(encodingForIANAName(name)); }

std::optional<std::u16string> decodedInBlocks(std::string_view bytes, EncodingId encoding, std::size_t block)
{
    DecodeStream stream(encoding);
    std::u16string text;
    for (std::size_t at = 0;; at += block) {
        const bool last = at + block >= bytes.size();
        if (!stream.decode(bytes.substr(at, last ? std::string_view::npos : block), last, text))
            return std::nullopt;
        if (last)
            return text;
    }
}

std::optional<std::string> encodedInBlocks(std::u16string_view text, EncodingId encoding, std::size_t block)
{
    EncodeStream stream(encoding);
    std::string bytes;
    for (std::size_t at = 0;; at += block) {
        const bool last = at + block >= text.size();
        if (!stream.encode(text.substr(at, last ? std::u16string_view::npos : block), last, bytes))
            return std::nullopt;
        if (last)
            return bytes;
    }
}

std::optional<std::u16string> decodedWhole(std::string_view bytes, EncodingId encoding)
{
    std::u16string text;
    if (!decodeAppend(bytes.data(), bytes.size(), encoding, text))
        return std::nullopt;
    return text;
}

std::optional<std::string> encodedWhole(std::u16string_view text, EncodingId encoding)
{
    std::string bytes;
    if (!encodeText(text, encoding, bytes))
        return std::nullopt;
    return bytes;
}

const char* const kEncodings[]
    = {"UTF-8",  "windows-1252", "Shift_JIS",  "x-mac-japanese", "ISO-2022-JP", "EUC-JP",     "Big5",     "GB18030",
       "EUC-KR", "ISO-2022-KR",  "HZ-GB-2312", "UTF-16",         "UTF-16LE",    "ISO-8859-5", "macintosh"};

const std::u16string kTexts[] = {
    u"plain ASCII text\r\nwith two lines\r\n",
    u"caf\u00e9 na\u00efve \u00a0r\u00e9sum\u00e9\n\u00a9 \u2122 \u2026\n",
    u"\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8 and ASCII \u3042\u3044\u3046\r\n\uff71\uff72 \u00a5\n",
    u"\ud55c\uad6d\uc5b4 \ud14d\uc2a4\ud2b8\n\u4e2d\u6587\u6587\u672c\u3002\u4f60\u597d\n",
    u"\u041f\u0440\u0438\u0432\u0435\u0442 \U0001F600 \U00020B9F end\n",
    std::u16string(1, char16_t{0xD800}) + u" lone high surrogate\n",
    u"a\u65e5b\u672cc\u8a9e\n\n\u65e5\u65e5\u65e5\u65e5",
};

TEST(TextStream, BlocksCutAnywhereGiveTheOneCallConversion)
{
    std::size_t encodedTexts = 0;
    for (const char* name : kEncodings) {
        const EncodingId encoding = encodingNamed(name);
        ASSERT_TRUE(isEncodingAvailable(encodingForIANAName(name))) << name;
        for (const std::u16string& text : kTexts) {
            const std::optional<std::string> bytes = encodedWhole(text, encoding);
            encodedTexts += bytes.has_value();
            for (const std::size_t block : {1, 2, 3, 5, 7, 64}) {
                SCOPED_TRACE(testing::Message() << name << ", block " << block << ", text of " << text.size());
                EXPECT_EQ(encodedInBlocks(text, encoding, block), bytes);
                if (!bytes)
                    continue;
                EXPECT_EQ(decodedInBlocks(*bytes, encoding, block), decodedWhole(*bytes, encoding));
                // Cut off inside its last character, and with an invalid byte inside.
                const std::string truncated = bytes->substr(0, bytes->size() - 1);
                EXPECT_EQ(decodedInBlocks(truncated, encoding, block), decodedWhole(truncated, encoding));
                std::string broken = *bytes;
                broken.insert(broken.size() / 2, "\xFF\x80");
                EXPECT_EQ(decodedInBlocks(broken, encoding, block), decodedWhole(broken, encoding));
            }
        }
    }
    EXPECT_GE(encodedTexts, 40u) << "most texts are written in most encodings";
}

TEST(TextStream, RestartBeginsANewText)
{
    const EncodingId jis = encodingNamed("ISO-2022-JP");
    DecodeStream decoder(jis);
    std::u16string text;
    EXPECT_TRUE(decoder.decode("\x1B$B$\"", false, text));
    EXPECT_FALSE(decoder.pending());
    EXPECT_TRUE(decoder.decode("$", false, text));
    EXPECT_TRUE(decoder.pending()) << "half a character is held";
    decoder.restart();
    text.clear();
    EXPECT_TRUE(decoder.decode("$\"", true, text));
    EXPECT_EQ(text, u"$\"") << "the new text begins in ASCII";

    EncodeStream encoder(jis);
    std::string bytes;
    EXPECT_TRUE(encoder.encode(u"\u3042", false, bytes));
    encoder.restart();
    bytes.clear();
    EXPECT_TRUE(encoder.encode(u"a", true, bytes));
    EXPECT_EQ(bytes, "a");
}

} // namespace
} // namespace tarnwick
