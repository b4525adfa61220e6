// Decoding and encoding against reference bytes written by Python's codecs and iconv
// (tests/data/encodings/generate.py), never by this code.
#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <vector>
#include <sstream>
#include <thread>

namespace tarnwick {
namespace {

std::string readData(const std::string& name)
{
    std::ifstream in(std::string(TARNWICK_TEST_DATA_DIR) + "/encodings/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::u16string readReference(const std::string& sample)
{
    const std::string bytes = readData(sample + ".utf16le");
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

constexpr EncodingId kUTF16 = 10, kUTF16BE = 0x90000100, kUTF16LE = 0x94000100;
constexpr EncodingId kEUCJP = 3, kISO2022JP = 21, kGB18030 = 0x80000632;

struct Sample {
    const char* sample;
    const char* codec;
    EncodingId encoding;
    bool encodesBack; // our encoder writes exactly the reference bytes
};

const Sample kSamples[] = {
    {"japanese", "shift_jis", kEncodingShiftJIS, true},
    {"japanese", "shift_jis", kEncodingMacJapanese, true},
    {"japanese", "euc_jp", kEUCJP, true},
    {"japanese", "utf_8", kEncodingUTF8, true},
    {"japanese_jis", "iso2022_jp", kISO2022JP, true},
    {"japanese_jis", "shift_jis", kEncodingShiftJIS, true},
    {"japanese_jis", "euc_jp", kEUCJP, true},
    {"western", "cp1252", 12, true},
    {"western", "latin_1", kEncodingISOLatin1, true},
    {"western", "mac_roman", 30, true},
    {"western", "iso8859_15", 0x8000020F, true},
    {"western_euro", "cp1252", 12, true},
    {"western_euro", "mac_roman", 30, true},
    {"russian", "koi8_r", 0x80000A02, true},
    {"russian", "cp1251", 11, true},
    {"russian", "mac_cyrillic", 0x80000007, true},
    {"russian", "iso8859_5", 0x80000205, true},
    {"ukrainian", "koi8_u", 0x80000A08, true},
    {"ukrainian", "cp1251", 11, true},
    {"greek", "mac_greek", 0x80000006, true},
    {"greek", "cp1253", 13, true},
    {"greek", "iso8859_7", 0x80000207, true},
    {"central", "mac_latin2", 0x8000001D, true},
    {"central", "cp1250", 15, true},
    {"central", "iso8859_2", 9, true},
    {"turkish", "mac_turkish", 0x80000023, true},
    {"turkish", "cp1254", 14, true},
    {"turkish", "iso8859_9", 0x80000209, true},
    {"korean", "euc_kr", 0x80000940, true},
    {"korean", "iso2022_kr", 0x80000840, false},
    {"trad_chinese", "big5", 0x80000A03, true},
    {"simp_chinese", "gb2312", 0x80000930, true},
    {"simp_chinese", "gbk", 0x80000631, true},
    {"simp_chinese", "gb18030", kGB18030, true},
    {"gb18030_extra", "gb18030", kGB18030, true},
    {"thai", "tis_620", 0x8000020B, true},
    {"thai", "iso8859_11", 0x8000020B, true},
    {"thai", "cp874", 0x8000041D, true},
    {"astral", "utf_8", kEncodingUTF8, true},
    {"astral", "utf_16_be", kUTF16BE, true},
    {"astral", "utf_16_le", kUTF16LE, true},
    {"astral", "utf_16_be", kUTF16, false}, // no byte order mark: big-endian
    {"romanian", "iso8859_16", 0x80000210, true},
};

TEST(EncodingConversion, DecodesAndEncodesReferenceSamples)
{
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(std::string(s.sample) + "." + s.codec);
        const std::string bytes = readData(std::string(s.sample) + "." + s.codec);
        const std::u16string reference = readReference(s.sample);
        ASSERT_FALSE(bytes.empty());
        std::u16string text = u"pre";
        ASSERT_TRUE(decodeAppend(bytes.data(), bytes.size(), s.encoding, text));
        EXPECT_TRUE(text == u"pre" + reference);
        EXPECT_TRUE(canEncode(reference, s.encoding));
        std::string encoded = "stale";
        ASSERT_TRUE(encodeText(reference, s.encoding, encoded));
        if (s.encodesBack) {
            EXPECT_EQ(encoded, bytes);
        } else {
            std::u16string again;
            ASSERT_TRUE(decodeAppend(encoded.data(), encoded.size(), s.encoding, again));
            EXPECT_TRUE(again == reference);
        }
    }
}

TEST(EncodingConversion, Utf16ByteOrderMarks)
{
    std::u16string text;
    ASSERT_TRUE(decodeAppend("\xFF\xFE" "A\0", 4, kUTF16, text));
    EXPECT_TRUE(text == u"A");
    text.clear();
    ASSERT_TRUE(decodeAppend("\xFE\xFF\0A", 4, kUTF16, text));
    EXPECT_TRUE(text == u"A");
    std::string bytes;
    ASSERT_TRUE(encodeText(u"A", kUTF16, bytes));
    EXPECT_TRUE(bytes == std::string("\xFF\xFE" "A\0", 4) || bytes == std::string("\xFE\xFF\0A", 4));
}

// Every byte of every single-byte encoding against Python's table, both directions.
TEST(EncodingConversion, SingleByteTablesMatchPython)
{
    const std::map<std::string, EncodingId> ids = {
        {"ascii", 1}, {"latin_1", 5}, {"iso8859_2", 9}, {"iso8859_3", 0x80000203}, {"iso8859_4", 0x80000204},
        {"iso8859_5", 0x80000205}, {"iso8859_6", 0x80000206}, {"iso8859_7", 0x80000207}, {"iso8859_8", 0x80000208},
        {"iso8859_9", 0x80000209}, {"iso8859_10", 0x8000020A}, {"iso8859_11", 0x8000020B}, {"iso8859_13", 0x8000020D},
        {"iso8859_14", 0x8000020E}, {"iso8859_15", 0x8000020F}, {"iso8859_16", 0x80000210}, {"cp1250", 15},
        {"cp1251", 11}, {"cp1252", 12}, {"cp1253", 13}, {"cp1254", 14}, {"cp1255", 0x80000505},
        {"cp1256", 0x80000506}, {"cp1257", 0x80000507}, {"cp1258", 0x80000508}, {"cp874", 0x8000041D},
        {"mac_roman", 30}, {"mac_latin2", 0x8000001D}, {"mac_cyrillic", 0x80000007}, {"mac_greek", 0x80000006},
        {"mac_turkish", 0x80000023}, {"koi8_r", 0x80000A02}, {"koi8_u", 0x80000A08},
    };
    std::istringstream table(readData("single_byte.txt"));
    std::string codec;
    std::size_t checked = 0;
    while (table >> codec) {
        SCOPED_TRACE(codec);
        ASSERT_TRUE(ids.count(codec));
        const EncodingId id = ids.at(codec);
        // Windows code pages pass their unassigned bytes through as C1 controls, as Windows does.
        const bool c1PassThrough = codec.rfind("cp", 0) == 0;
        std::vector<bool> repertoire(0x10000); // every character a byte decodes to
        for (int b = 0; b < 256; ++b) {
            std::string cell;
            table >> cell;
            const char byte = static_cast<char>(b);
            std::u16string text;
            const bool decoded = decodeAppend(&byte, 1, id, text);
            if (cell == "----") {
                if (decoded) {
                    // ICU's Windows-1253 (IBM's table) also gives 0xAA its Latin-1 meaning.
                    const bool known = codec == "cp1253" && b == 0xAA;
                    EXPECT_TRUE((c1PassThrough && b >= 0x80 && b < 0xA0) || known) << "byte " << b;
                    EXPECT_TRUE(text.size() == 1 && text[0] == b) << "byte " << b;
                    repertoire[b] = true;
                } else {
                    EXPECT_TRUE(text.empty());
                }
                continue;
            }
            const auto expected = static_cast<char16_t>(std::stoi(cell, nullptr, 16));
            repertoire[expected] = true;
            ASSERT_TRUE(decoded) << "byte " << b;
            EXPECT_EQ(text, std::u16string(1, expected)) << "byte " << b;
            std::string back;
            EXPECT_TRUE(encodeText(text, id, back) && back == std::string(1, byte)) << "byte " << b;
        }
        for (char32_t c = 0; c < 0x10000; ++c) {
            const std::u16string one(1, static_cast<char16_t>(c));
            const bool expected = repertoire[c];
            if (canEncode(one, id) != expected) {
                ADD_FAILURE() << "canEncode U+" << std::hex << static_cast<unsigned>(c);
                break;
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, ids.size());
}

TEST(EncodingConversion, InvalidBytesFailAndLeaveTheTextAlone)
{
    struct Case {
        const char* what;
        EncodingId encoding;
        std::string bytes;
    } cases[] = {
        {"ASCII high byte", 1, "ab\x80"},
        {"UTF-8 lone continuation", 4, "a\x80"},
        {"UTF-8 overlong", 4, "\xC0\xAF"},
        {"UTF-8 encoded surrogate", 4, "\xED\xA0\x80"},
        {"UTF-8 beyond U+10FFFF", 4, "\xF4\x90\x80\x80"},
        {"UTF-8 truncated at the end", 4, "abcdefghij\xE3\x81"},
        {"UTF-8 invalid after a long ASCII run", 4, std::string(100, 'a') + "\xFF"},
        {"Shift_JIS 0xA0", kEncodingShiftJIS, "a\xA0"},
        {"Shift_JIS 0x80", kEncodingShiftJIS, "\x80"},
        {"Shift_JIS 0xFD", kEncodingShiftJIS, "\xFD"},
        {"Shift_JIS 0xFF", kEncodingShiftJIS, "\xFF"},
        {"Shift_JIS truncated lead byte", kEncodingShiftJIS, "a\x82"},
        {"Shift_JIS bad trail byte", kEncodingShiftJIS, "\x81\x20"},
        {"Mac Japanese truncated lead byte", kEncodingMacJapanese, "\xA0\x82"},
        {"Mac Japanese bad trail byte", kEncodingMacJapanese, "\xFD\x81\x20"},
        {"EUC-JP truncated", kEUCJP, "\xA4"},
        {"ISO-2022-JP eight-bit byte", kISO2022JP, "\xA4\xA2"},
        {"ISO-2022-JP truncated character", kISO2022JP, "\x1B$B0"},
        {"EUC-KR truncated", 0x80000940, "\xB0"},
        {"Big5 truncated", 0x80000A03, "\xA4"},
        {"GB18030 truncated four-byte", kGB18030, "\x81\x30\x81"},
        {"UTF-16 odd length", kUTF16, std::string("\0A\0", 3)},
        {"UTF-16BE lone surrogate", kUTF16BE, std::string("\xD8\x00\x00\x41", 4)},
        {"ISO-8859-3 unassigned", 0x80000203, "\xA5"},
        {"ISO-8859-11 unassigned", 0x8000020B, "\xDB"},
        {"Windows-874 private use", 0x8000041D, "\xDB"},
        {"unknown identifier", 0x12345, "a"},
        {"no encoding", kEncodingNone, "a"},
    };
    for (const Case& c : cases) {
        std::u16string text = u"keep";
        EXPECT_FALSE(decodeAppend(c.bytes.data(), c.bytes.size(), c.encoding, text)) << c.what;
        EXPECT_TRUE(text == u"keep") << c.what;
    }
    std::u16string text;
    EXPECT_TRUE(decodeAppend("", 0, kEncodingShiftJIS, text));
    EXPECT_TRUE(text.empty());
}

TEST(EncodingConversion, MacJapaneseSingleBytes)
{
    std::u16string text;
    ASSERT_TRUE(decodeAppend("\xA0\x80\xFD\xFE\xFF" "a", 6, kEncodingMacJapanese, text));
    EXPECT_TRUE(text == u"\u00A0\\\u00A9\u2122\u2026a");
    // 0xA0 and 0x80 as trail bytes belong to their double-byte character.
    text.clear();
    ASSERT_TRUE(decodeAppend("\x82\xA0\x81\x80\xA0", 5, kEncodingMacJapanese, text));
    EXPECT_TRUE(text == u"\u3042\u00F7\u00A0");
    text.clear();
    ASSERT_TRUE(decodeAppend("\x82\xA0\x81\x80", 4, kEncodingShiftJIS, text));
    EXPECT_TRUE(text == u"\u3042\u00F7");

    std::string bytes;
    ASSERT_TRUE(encodeText(u"\u00A0\u00A9\u2122\u3042\u2026\\", kEncodingMacJapanese, bytes));
    EXPECT_EQ(bytes, "\xA0\xFD\xFE\x82\xA0\x81\x63\\");
    EXPECT_TRUE(canEncode(u"x\u00A0\u00A9\u2122", kEncodingMacJapanese));
    EXPECT_FALSE(canEncode(u"\u00A0", kEncodingShiftJIS));
    EXPECT_FALSE(canEncode(u"\u00A9", kEncodingShiftJIS));
    EXPECT_FALSE(canEncode(u"\u00A0\u20AC", kEncodingMacJapanese));
    EXPECT_FALSE(encodeText(u"a\u00A0", kEncodingShiftJIS, bytes));
    EXPECT_TRUE(bytes.empty());
}

TEST(EncodingConversion, EncodingNeverSubstitutes)
{
    struct Case {
        const char* what;
        std::u16string text;
        EncodingId encoding;
        bool encodable;
    } cases[] = {
        {"euro in Latin 1", u"a\u20AC", kEncodingISOLatin1, false},
        {"euro in Windows-1252", u"a\u20AC", 12, true},
        {"Y diaeresis in Latin 1", u"\u0178", kEncodingISOLatin1, false},
        {"Y diaeresis in Windows-1252", u"\u0178", 12, true},
        {"e acute in ASCII", u"caf\u00E9", kEncodingASCII, false},
        {"kanji in Latin 1", u"\u65E5", kEncodingISOLatin1, false},
        {"kanji in EUC-KR", u"\u65E5\u672C", 0x80000940, true},
        {"hiragana in EUC-KR", u"\u3042", 0x80000940, true},
        {"Hangul in Shift_JIS", u"\uD55C", kEncodingShiftJIS, false},
        {"Hangul in ISO-2022-JP", u"a\uD55C", kISO2022JP, false},
        {"astral in GB18030", u"\U00020000", kGB18030, true},
        {"astral in UTF-8", u"\U0001F600", kEncodingUTF8, true},
        {"lone high surrogate in UTF-8", u"a\xD800", kEncodingUTF8, false},
        {"lone low surrogate in UTF-8", u"\xDC00" "a", kEncodingUTF8, false},
        {"reversed pair in UTF-8", u"\xDC00\xD800", kEncodingUTF8, false},
        {"lone surrogate in UTF-16", u"\xD800", kUTF16, false},
        {"lone surrogate in UTF-16LE", u"a\xDFFF", kUTF16LE, false},
        {"lone surrogate in GB18030", u"\xD800x", kGB18030, false},
        {"lone surrogate in Latin 1", u"\xD800", kEncodingISOLatin1, false},
        {"unknown identifier", u"a", 0x12345, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(canEncode(c.text, c.encoding), c.encodable) << c.what;
        std::string bytes = "stale";
        EXPECT_EQ(encodeText(c.text, c.encoding, bytes), c.encodable) << c.what;
        EXPECT_TRUE(c.encodable || bytes.empty()) << c.what;
    }
}

TEST(EncodingConversion, LongTextsCrossTheScratchBuffers)
{
    // Long enough for several rounds of the converters' output buffers.
    std::u16string japanese;
    for (int i = 0; i < 20000; ++i)
        japanese += u"\u65E5\u672C\u8A9Ea";
    for (const EncodingId id : {kEncodingShiftJIS, kEUCJP, kISO2022JP, kEncodingUTF8, kUTF16}) {
        std::string bytes;
        ASSERT_TRUE(encodeText(japanese, id, bytes)) << id;
        EXPECT_TRUE(canEncode(japanese, id)) << id;
        std::u16string back;
        ASSERT_TRUE(decodeAppend(bytes.data(), bytes.size(), id, back)) << id;
        EXPECT_TRUE(back == japanese) << id;
    }
    EXPECT_FALSE(canEncode(japanese + u"\uD55C", kEncodingShiftJIS));
}

TEST(EncodingConversion, TwoThreadsConvertAtOnce)
{
    auto work = [](const char* sample, const char* codec, EncodingId id, bool* ok) {
        const std::string bytes = readData(std::string(sample) + "." + codec);
        const std::u16string reference = readReference(sample);
        for (int i = 0; i < 2000 && *ok; ++i) {
            std::u16string text;
            std::string back;
            *ok = decodeAppend(bytes.data(), bytes.size(), id, text) && text == reference &&
                  canEncode(text, id) && encodeText(text, id, back) && back == bytes;
        }
    };
    bool ok[4] = {true, true, true, true};
    std::thread a(work, "japanese", "shift_jis", kEncodingShiftJIS, &ok[0]);
    std::thread b(work, "japanese", "shift_jis", kEncodingMacJapanese, &ok[1]);
    std::thread c(work, "japanese_jis", "iso2022_jp", kISO2022JP, &ok[2]);
    work("russian", "koi8_r", 0x80000A02, &ok[3]);
    a.join();
    b.join();
    c.join();
    EXPECT_TRUE(ok[0] && ok[1] && ok[2] && ok[3]);
}

} // namespace
} // namespace tarnwick
