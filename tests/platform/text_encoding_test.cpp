// Encoding identifiers, name lookup and names; decoding and encoding against reference bytes written by
// Python's codecs and iconv (tests/data/encodings/generate.py), never by this code.
#include "platform/encodings/EncodingTable.h"
#include "platform/encodings/TextEncoding.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

TEST(TextEncodingIdentifiers, CarryKeepsShortNumbersAndMarksTheRest)
{
    const std::pair<PlatformEncoding, EncodingId> cases[] = {
        {1, 0x80000001},      {0x020B, 0x8000020B},
        {0x0930, 0x80000930}, {0x0600, 1},
        {0x08000100, 4},      {0x0201, 5},
        {0x0202, 9},          {0x0420, 8},
        {0x0A01, 8},          {0x0920, 3},
        {0x0820, 21},         {0x0100, 10},
        {0x0000, 30},         {0x0500, 12},
        {0x0501, 15},         {0x0502, 11},
        {0x0503, 13},         {0x0504, 14},
        {0x0A02, 0x80000A02}, {0x10000100, 0x90000100},
        {0x0BAD, 0x80000BAD}, {kPlatformEncodingInvalid, kPlatformEncodingInvalid},
    };
    for (const auto& [platform, expected] : cases)
        EXPECT_EQ(carryEncoding(platform), expected) << std::hex << platform;
}

TEST(TextEncodingIdentifiers, EveryOfferedEncodingIsAvailableAndNamed)
{
    const std::vector<EncodingId> offered = availableEncodings();
    EXPECT_EQ(offered.size(), encoding::entries().size()) << "an encoding of the table does not open";
    EXPECT_EQ(std::set<EncodingId>(offered.begin(), offered.end()).size(), offered.size()) << "duplicate";
    for (const EncodingId id : offered) {
        const auto name = encodingDisplayName(id);
        ASSERT_TRUE(name && !name->empty()) << id;
        std::u16string text;
        EXPECT_TRUE(decodeAppend("", 0, id, text)) << *name;
    }
    EXPECT_FALSE(encodingDisplayName(0).has_value());
    EXPECT_FALSE(encodingDisplayName(kEncodingNone).has_value());
    EXPECT_EQ(encodingDisplayName(kEncodingShiftJIS), "Japanese (Shift JIS)");
}

TEST(TextEncodingLookup, NamesAndAliasesInAnyCaseAndNothingLoose)
{
    constexpr PlatformEncoding kNone = kPlatformEncodingInvalid;
    const std::pair<const char*, PlatformEncoding> cases[] = {
        {"shift_jis", 0x0420},
        {"SHIFT_JIS", 0x0420},
        {"Windows-31J", 0x0420},
        {"csShiftJIS", 0x0420},
        {"x-mac-japanese", kPlatformMacJapanese},
        {"X-Mac-Japanese", kPlatformMacJapanese},
        {"iso-8859-1", 0x0201},
        {"LATIN1", 0x0201},
        {"ISO_8859-1:1987", 0x0201},
        {"macintosh", 0x0000},
        {"us-ascii", 0x0600},
        {"ANSI_X3.4-1968", 0x0600},
        {"utf-8", 0x08000100},
        {"Utf-8", 0x08000100},
        {"iso-2022-jp", 0x0820},
        {"euc-jp", 0x0920},
        {"windows-1252", 0x0500},
        {"gb2312", kPlatformEUCCN},
        {"csGB2312", kPlatformEUCCN},
        {"tis-620", kPlatformISOLatinThai},
        {"ISO-8859-8-I", 0x0208},
        {"ks_c_5601-1987", 0x0422},
        {"koi8-r", 0x0A02},
        {"big5-hkscs", 0x0A06},
        {"utf-16le", 0x14000100},
        // ICU's loose matching must not make these known
        {"tis620", kNone},
        {" utf-8", kNone},
        {"utf-8 ", kNone},
        {"iso88591", kNone},
        {"", kNone},
        {"x-unknown", kNone},
        {"UTF-7", kNone},
        {"gb_2312-80", kNone},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(encodingForIANAName(name), expected) << '"' << name << '"';
        EXPECT_EQ(isEncodingAvailable(expected), expected != kNone) << name;
    }
    EXPECT_EQ(encodingForIANAName(std::string_view("utf-8\0x", 7)), kNone);
    EXPECT_FALSE(isEncodingAvailable(0x0BAD));
}

constexpr EncodingId kUTF16 = 10, kUTF16BE = 0x90000100, kUTF16LE = 0x94000100;
constexpr EncodingId kEUCJP = 3, kISO2022JP = 21, kGB18030 = 0x80000632;

std::string readData(const std::string& name)
{
    std::ifstream in(std::string(TARNWICK_TEST_DATA_DIR) + "/encodings/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), {}};
}

std::u16string readReference(const std::string& sample)
{
    const std::string b = readData(sample + ".utf16le");
    std::u16string text;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(b[i]) | static_cast<unsigned char>(b[i + 1]) << 8));
    return text;
}

// encodesBack: we write exactly the reference bytes; singleByte: a whole table, checked byte by byte.
struct Sample {
    std::string what;
    EncodingId id;
    std::string bytes;
    std::u16string text;
    bool encodesBack, singleByte;
    std::string undefined;
};

// One sample per text file, and one per single-byte table holding every byte it defines.
std::vector<Sample> referenceSamples()
{
    const struct {
        const char *sample, *codec;
        EncodingId id;
        bool encodesBack;
    } files[] = {
        {"japanese", "shift_jis", kEncodingShiftJIS, true},
        {"japanese", "shift_jis", kEncodingMacJapanese, true},
        {"japanese", "euc_jp", kEUCJP, true},
        {"japanese", "utf_8", kEncodingUTF8, true},
        {"japanese_jis", "shift_jis", kEncodingShiftJIS, true},
        {"japanese_jis", "euc_jp", kEUCJP, true},
        {"korean", "euc_kr", 0x80000940, true},
        {"korean", "iso2022_kr", 0x80000840, false},
        {"trad_chinese", "big5", 0x80000A03, true},
        {"simp_chinese", "gb2312", 0x80000930, true},
        {"simp_chinese", "gbk", 0x80000631, true},
        {"simp_chinese", "gb18030", kGB18030, true},
        {"gb18030_extra", "gb18030", kGB18030, true},
        {"astral", "utf_8", kEncodingUTF8, true},
        {"astral", "utf_16_be", kUTF16BE, true},
        {"astral", "utf_16_le", kUTF16LE, true},
        {"astral", "utf_16_be", kUTF16, false}, // no BOM: big-endian
        {"romanian", "iso8859_16", 0x80000210, true},
        {"japanese_jis", "iso2022_jp", kISO2022JP, true},
    };
    std::vector<Sample> samples;
    for (const auto& [sample, codec, id, encodesBack] : files) {
        const std::string name = std::string(sample) + "." + codec;
        samples.push_back({name, id, readData(name), readReference(sample), encodesBack, false, {}});
    }
    Sample longer = samples.back(); // ISO-2022-JP 512 times, past the converters' buffers
    for (int i = 0; i < 9; ++i) {   // CR LF between: ICU rejects back-to-back escape sequences
        longer.bytes += "\r\n" + longer.bytes;
        longer.text += u"\r\n" + longer.text;
    }
    samples.push_back(longer);

    // In the order of single_byte.txt: ascii, latin_1, iso8859_2-16, cp1250-1258, cp874, mac_roman, mac_latin2,
    // mac_cyrillic, mac_greek, mac_turkish, koi8_r, koi8_u.
    const EncodingId ids[] = {1,          5,          9,          0x80000203, 0x80000204, 0x80000205, 0x80000206, 0x80000207, 0x80000208,
                              0x80000209, 0x8000020A, 0x8000020B, 0x8000020D, 0x8000020E, 0x8000020F, 0x80000210, 15,         11,
                              12,         13,         14,         0x80000505, 0x80000506, 0x80000507, 0x80000508, 0x8000041D, 30,
                              0x8000001D, 0x80000007, 0x80000006, 0x80000023, 0x80000A02, 0x80000A08};
    std::istringstream table(readData("single_byte.txt"));
    for (std::string codec, cell; table >> codec;) {
        const std::size_t n = samples.size() - std::size(files) - 1;
        Sample s{codec + " table", n < std::size(ids) ? ids[n] : kEncodingNone, {}, {}, true, true, {}};
        for (int b = 0; b < 256 && table >> cell; ++b) {
            // Windows code pages pass their unassigned bytes through as C1 controls, as Windows does;
            // ICU's Windows-1253 (IBM's table) also gives 0xAA its Latin-1 meaning.
            const bool passThrough = (codec.rfind("cp", 0) == 0 && b >= 0x80 && b < 0xA0) || (codec == "cp1253" && b == 0xAA);
            if (cell == "----" && !passThrough) {
                s.undefined.push_back(static_cast<char>(b));
            } else {
                s.bytes.push_back(static_cast<char>(b));
                s.text.push_back(static_cast<char16_t>(cell == "----" ? b : std::stoi(cell, nullptr, 16)));
            }
        }
        samples.push_back(s);
    }
    EXPECT_EQ(samples.size(), std::size(files) + 1 + std::size(ids));
    return samples;
}

// Both threads run every sample, so that the same converters are in use at once.
TEST(EncodingConversion, ReferenceSamplesBothWaysOnTwoThreads)
{
    const std::vector<Sample> samples = referenceSamples();
    auto check = [&samples] {
        for (const Sample& s : samples) {
            SCOPED_TRACE(s.what);
            std::u16string text = u"pre", again;
            EXPECT_TRUE(decodeAppend(s.bytes.data(), s.bytes.size(), s.id, text) && text == u"pre" + s.text);
            EXPECT_TRUE(canEncode(s.text, s.id));
            std::string encoded = "stale";
            EXPECT_TRUE(encodeText(s.text, s.id, encoded));
            EXPECT_TRUE(s.encodesBack ? encoded == s.bytes : decodeAppend(encoded.data(), encoded.size(), s.id, again) && again == s.text);
            for (const char b : s.undefined)
                EXPECT_FALSE(decodeAppend(&b, 1, s.id, text)) << "byte " << (b & 0xFF);
            if (!s.singleByte)
                continue;
            // canEncode holds exactly for the table's repertoire: no best-fit fallbacks.
            std::vector<bool> repertoire(0x10000);
            for (const char16_t c : s.text)
                repertoire[c] = true;
            char32_t c = 0;
            while (c < 0x10000 && canEncode(std::u16string(1, static_cast<char16_t>(c)), s.id) == repertoire[c])
                ++c;
            EXPECT_EQ(c, 0x10000u) << "canEncode wrong for U+" << std::hex << static_cast<unsigned>(c);
        }
    };
    std::thread other(check);
    check();
    other.join();
}

TEST(EncodingConversion, DecodesSpecialsAndRejectsInvalidBytesLeavingTheTextAlone)
{
    struct Case {
        const char* what;
        EncodingId encoding;
        std::string bytes;
        const char16_t* expected;
    } cases[] = {
        {"MacJapanese single bytes", kEncodingMacJapanese,
         "\xA0\x80\xFD\xFE\xFF"
         "a",
         u"\u00A0\\\u00A9\u2122\u2026a"},
        {"MacJapanese A0/80 trail bytes", kEncodingMacJapanese, "\x82\xA0\x81\x80\xA0", u"\u3042\u00F7\u00A0"},
        {"SJIS A0/80 trail bytes", kEncodingShiftJIS, "\x82\xA0\x81\x80", u"\u3042\u00F7"},
        {"UTF-16 LE BOM", kUTF16,
         std::string("\xFF\xFE"
                     "A\0",
                     4),
         u"A"},
        {"UTF-16 BE BOM", kUTF16, std::string("\xFE\xFF\0A", 4), u"A"},
        {"empty", kEncodingShiftJIS, "", u""},
        {"ASCII high byte", 1, "ab\x80", nullptr},
        {"UTF-8 lone trail", 4, "a\x80", nullptr},
        {"UTF-8 overlong", 4, "\xC0\xAF", nullptr},
        {"UTF-8 surrogate", 4, "\xED\xA0\x80", nullptr},
        {"UTF-8 > U+10FFFF", 4, "\xF4\x90\x80\x80", nullptr},
        {"UTF-8 cut", 4, "abcdefghij\xE3\x81", nullptr},
        {"UTF-8 after long ASCII", 4, std::string(100, 'a') + "\xFF", nullptr},
        {"SJIS A0", kEncodingShiftJIS, "a\xA0", nullptr},
        {"SJIS 80", kEncodingShiftJIS, "\x80", nullptr},
        {"SJIS FD", kEncodingShiftJIS, "\xFD", nullptr},
        {"SJIS cut", kEncodingShiftJIS, "a\x82", nullptr},
        {"SJIS bad trail", kEncodingShiftJIS, "\x81\x20", nullptr},
        {"MacJapanese cut", kEncodingMacJapanese, "\xA0\x82", nullptr},
        {"MacJapanese bad trail", kEncodingMacJapanese, "\xFD\x81\x20", nullptr},
        {"EUC-JP cut", kEUCJP, "\xA4", nullptr},
        {"ISO-2022-JP 8-bit", kISO2022JP, "\xA4\xA2", nullptr},
        {"ISO-2022-JP cut", kISO2022JP, "\x1B$B0", nullptr},
        {"EUC-KR cut", 0x80000940, "\xB0", nullptr},
        {"Big5 cut", 0x80000A03, "\xA4", nullptr},
        {"GB18030 cut", kGB18030, "\x81\x30\x81", nullptr},
        {"UTF-16 odd length", kUTF16, std::string("\0A\0", 3), nullptr},
        {"UTF-16BE lone surrogate", kUTF16BE, std::string("\xD8\x00\x00\x41", 4), nullptr},
        {"unknown identifier", 0x12345, "a", nullptr},
        {"no encoding", kEncodingNone, "a", nullptr},
    };
    for (const Case& c : cases) { // expected: nullptr when rejected, leaving the text alone
        std::u16string text = u"keep";
        EXPECT_EQ(decodeAppend(c.bytes.data(), c.bytes.size(), c.encoding, text), c.expected != nullptr) << c.what;
        EXPECT_TRUE(text == u"keep" + std::u16string(c.expected ? c.expected : u"")) << c.what;
    }
}

TEST(EncodingConversion, EncodesExactlyOrNotAtAll)
{
    // expected: nullptr when not encodable, "" for any bytes
    struct Case {
        const char* what;
        std::u16string text;
        EncodingId encoding;
        const char* expected;
    } cases[] = {
        {"MacJapanese specials", u"\u00A0\u00A9\u2122\u3042\u2026\\", kEncodingMacJapanese, "\xA0\xFD\xFE\x82\xA0\x81\x63\\"},
        {"NBSP in SJIS", u"a\u00A0", kEncodingShiftJIS, nullptr},
        {"(c) in SJIS", u"\u00A9", kEncodingShiftJIS, nullptr},
        {"euro in MacJapanese", u"\u00A0\u20AC", kEncodingMacJapanese, nullptr},
        {"kanji in EUC-KR", u"\u65E5", 0x80000940, ""},
        {"euro in Latin 1", u"a\u20AC", kEncodingISOLatin1, nullptr},
        {"Hangul in SJIS", u"\uD55C", kEncodingShiftJIS, nullptr},
        {"Hangul in ISO-2022-JP", u"a\uD55C", kISO2022JP, nullptr},
        {"UTF-8 lone high", u"a\xD800", kEncodingUTF8, nullptr},
        {"UTF-8 lone low",
         u"\xDC00"
         "a",
         kEncodingUTF8, nullptr},
        {"UTF-8 reversed", u"\xDC00\xD800", kEncodingUTF8, nullptr},
        {"UTF-16 lone", u"\xD800", kUTF16, nullptr},
        {"UTF-16LE lone", u"a\xDFFF", kUTF16LE, nullptr},
        {"GB18030 lone", u"\xD800x", kGB18030, nullptr},
        {"unknown identifier", u"a", 0x12345, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(canEncode(c.text, c.encoding), c.expected != nullptr) << c.what;
        std::string bytes = "stale";
        EXPECT_EQ(encodeText(c.text, c.encoding, bytes), c.expected != nullptr) << c.what;
        EXPECT_TRUE(c.expected ? (!*c.expected || bytes == c.expected) : bytes.empty()) << c.what;
    }
}

// Each UTF-8 length at both its edges, after an ASCII run long enough for the wide
// ASCII path and alone; bytes from Python's codecs.
TEST(EncodingConversion, UTF8AndSingleByteRangesAtTheirEdges)
{
    struct Case {
        std::u16string text;
        EncodingId encoding;
        const char* expected;
    } cases[] = {
        {u"\u007F", kEncodingUTF8, "\x7F"},
        {u"\u0080", kEncodingUTF8, "\xC2\x80"},
        {u"\u07FF", kEncodingUTF8, "\xDF\xBF"},
        {u"\u0800", kEncodingUTF8, "\xE0\xA0\x80"},
        {u"\uD7FF", kEncodingUTF8, "\xED\x9F\xBF"},
        {u"\uE000", kEncodingUTF8, "\xEE\x80\x80"},
        {u"\uFFFF", kEncodingUTF8, "\xEF\xBF\xBF"},
        {u"\U00010000", kEncodingUTF8, "\xF0\x90\x80\x80"},
        {u"\U000103FF", kEncodingUTF8, "\xF0\x90\x8F\xBF"},
        {u"\U0010FFFF", kEncodingUTF8, "\xF4\x8F\xBF\xBF"},
        {u"\xDBFF", kEncodingUTF8, nullptr},
        {u"\xDC00", kEncodingUTF8, nullptr},
        {u"\xD800\xD800", kEncodingUTF8, nullptr},
        {u"\xD800"
         "a",
         kEncodingUTF8, nullptr},
        {u"\xDFFF\xDBFF", kEncodingUTF8, nullptr},
        {u"\u007F", kEncodingASCII, "\x7F"},
        {u"\u0080", kEncodingASCII, nullptr},
        {u"\u00FF", kEncodingISOLatin1, "\xFF"},
        {u"\u0100", kEncodingISOLatin1, nullptr},
    };
    for (const Case& c : cases) {
        for (const std::u16string& prefix : {std::u16string(), std::u16string(17, u'a')}) {
            const std::u16string text = prefix + c.text;
            std::string bytes = "stale";
            EXPECT_EQ(encodeText(text, c.encoding, bytes), c.expected != nullptr) << int(c.text[0]) << " in " << c.encoding;
            EXPECT_EQ(bytes, c.expected ? std::string(prefix.begin(), prefix.end()) + c.expected : "")
                << int(c.text[0]) << " in " << c.encoding;
            EXPECT_EQ(canEncode(text, c.encoding), c.expected != nullptr) << int(c.text[0]) << " in " << c.encoding;
            if (!c.expected)
                continue;
            std::u16string back;
            const std::string encoded = bytes;
            EXPECT_TRUE(decodeAppend(encoded.data(), encoded.size(), c.encoding, back) && back == text)
                << "round trip of " << int(c.text[0]) << " in " << c.encoding;
        }
    }
}

// The byte-level services must answer exactly as decoding into UTF-16 and encoding back:
// every byte of every byte-transcodable encoding, inside a first block of 16 bytes and
// after a block of ASCII (the wide paths), and in the bytes after the last whole block,
// into every such encoding.
TEST(ByteTranscoding, EveryByteOfEveryPairAsDecodingAndEncodingGive)
{
    std::vector<EncodingId> ids;
    for (const EncodingId id : availableEncodings()) {
        if (isByteTranscodable(id))
            ids.push_back(id);
    }
    ASSERT_GT(ids.size(), 20u);
    for (const EncodingId from : ids) {
        for (unsigned b = 0; b < 256; ++b) {
            const std::pair<std::string, std::string> around[]
                = {{"", "z" + std::string(16, 'y')}, {std::string(20, 'a'), "z" + std::string(16, 'y')}, {std::string(20, 'a'), "z"}};
            for (const auto& [prefix, suffix] : around) {
                const std::string bytes = prefix + static_cast<char>(b) + suffix;
                std::u16string text;
                const bool decoded = decodeAppend(bytes.data(), bytes.size(), from, text);
                const ByteScan scan = scanBytes(bytes.data(), bytes.size(), from);
                ASSERT_EQ(scan.valid, decoded) << "byte " << b << " of " << from;
                if (!decoded)
                    continue;
                const char16_t c = text[prefix.size()];
                EXPECT_EQ(scan.clean, !(c >= 0x80 && c <= 0x9F)) << "byte " << b << " of " << from;
                EXPECT_EQ(scan.range,
                          c > 0xFF       ? UnitRange::Wide
                              : c > 0x7F ? UnitRange::Latin1
                                         : UnitRange::Ascii)
                    << "byte " << b << " of " << from;
                for (const EncodingId to : ids) {
                    std::string expected;
                    const bool encoded = encodeText(text, to, expected);
                    std::string out = "kept";
                    ASSERT_EQ(transcodeAppend(bytes.data(), bytes.size(), from, to, out), encoded)
                        << "byte " << b << " of " << from << " into " << to;
                    EXPECT_EQ(out, encoded ? "kept" + expected : "kept") << "byte " << b << " of " << from << " into " << to;
                }
            }
        }
    }
}

TEST(ByteTranscoding, KnownBytesAndUTF8AtItsEdges)
{
    const EncodingId windows = carryEncoding(encodingForIANAName("windows-1252"));
    const EncodingId mac = carryEncoding(encodingForIANAName("macintosh"));
    struct Case {
        const char* what;
        std::string bytes;
        EncodingId from, to;
        bool valid, clean;
        UnitRange range;
        const char* expected; // nullptr: not written
    } cases[] = {
        {"euro sign", "a\x80", windows, kEncodingUTF8, true, true, UnitRange::Wide, "a\xE2\x82\xAC"},
        {"unassigned byte as C1", "\x81", windows, kEncodingUTF8, true, false, UnitRange::Latin1, "\xC2\x81"},
        {"Latin 1 letter", "\xE9t\xE9", windows, kEncodingISOLatin1, true, true, UnitRange::Latin1, "\xE9t\xE9"},
        {"euro into Latin 1", "\x80", windows, kEncodingISOLatin1, true, true, UnitRange::Wide, nullptr},
        {"8-bit into ASCII", "a\xE9", kEncodingISOLatin1, kEncodingASCII, true, true, UnitRange::Latin1, nullptr},
        {"Apple logo", "\xF0", mac, kEncodingUTF8, true, true, UnitRange::Wide, "\xEF\xA3\xBF"},
        {"Mac to Windows", "\x8E\xD2", mac, windows, true, true, UnitRange::Wide, "\xE9\x93"},
        {"ASCII high byte", "ab\x80", kEncodingASCII, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 euro to Windows", "\xE2\x82\xAC", kEncodingUTF8, windows, true, true, UnitRange::Wide, "\x80"},
        {"UTF-8 C1", "\xC2\x85", kEncodingUTF8, kEncodingISOLatin1, true, false, UnitRange::Latin1, "\x85"},
        {"UTF-8 U+00FF", "\xC3\xBF", kEncodingUTF8, kEncodingISOLatin1, true, true, UnitRange::Latin1, "\xFF"},
        {"UTF-8 U+0100", "\xC4\x80", kEncodingUTF8, kEncodingISOLatin1, true, true, UnitRange::Wide, nullptr},
        {"UTF-8 astral", "\xF0\x9F\x98\x80", kEncodingUTF8, windows, true, true, UnitRange::Wide, nullptr},
        {"UTF-8 astral kept", "\xF4\x8F\xBF\xBF", kEncodingUTF8, kEncodingUTF8, true, true, UnitRange::Wide, "\xF4\x8F\xBF\xBF"},
        {"UTF-8 ASCII into ASCII", "plain", kEncodingUTF8, kEncodingASCII, true, true, UnitRange::Ascii, "plain"},
        {"UTF-8 overlong", "\xC0\xAF", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 E0 overlong", "\xE0\x9F\xBF", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 surrogate", "\xED\xA0\x80", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 ED edge", "\xED\x9F\xBF", kEncodingUTF8, kEncodingUTF8, true, true, UnitRange::Wide, "\xED\x9F\xBF"},
        {"UTF-8 F0 overlong", "\xF0\x8F\xBF\xBF", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 above U+10FFFF", "\xF4\x90\x80\x80", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 F5", "\xF5\x80\x80\x80", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 cut", std::string(30, 'a') + "\xE3\x81", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
        {"UTF-8 lone trail", "a\x80", kEncodingUTF8, kEncodingUTF8, false, false, UnitRange::Ascii, nullptr},
    };
    for (const Case& c : cases) {
        const ByteScan scan = scanBytes(c.bytes.data(), c.bytes.size(), c.from);
        EXPECT_EQ(scan.valid, c.valid) << c.what;
        if (!c.valid)
            continue;
        EXPECT_EQ(scan.clean, c.clean) << c.what;
        EXPECT_EQ(scan.range, c.range) << c.what;
        std::string out = "kept";
        EXPECT_EQ(transcodeAppend(c.bytes.data(), c.bytes.size(), c.from, c.to, out), c.expected != nullptr) << c.what;
        EXPECT_EQ(out, "kept" + std::string(c.expected ? c.expected : "")) << c.what;
    }
    // Only the single-byte encodings and UTF-8 take this path.
    for (const EncodingId other : {kEncodingShiftJIS, kEncodingMacJapanese, EncodingId{10}, kEncodingAutomatic, kEncodingNone})
        EXPECT_FALSE(isByteTranscodable(other)) << other;
    EXPECT_TRUE(isAsciiTransparent(kEncodingUTF8));
    EXPECT_TRUE(isAsciiTransparent(windows));
    EXPECT_FALSE(isAsciiTransparent(kEncodingShiftJIS));
}

} // namespace
} // namespace tarnwick
