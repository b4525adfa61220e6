#include "platform/encodings/EncodingTable.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick::encoding {
namespace {

// ISO 8859-16 (Latin 10): ICU ships no converter for it, so the upper half is kept here.
constexpr char16_t kLatin10High[96] = {
    0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB, 0x0179, 0x00AD, 0x017A, 0x017B,
    0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7, 0x017E, 0x010D, 0x0219, 0x00BB, 0x0152, 0x0153, 0x0178, 0x017C,
    0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A, 0x0170, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x0118, 0x021A, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x0111, 0x0144, 0x00F2, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF,
};

using C = Codec;

// Identifiers: the short number where the encoding has one of its own, otherwise
// 0x80000000 | the platform number (both Apple's published values).
// ICU converters are named by their canonical ICU names, so that ICU's alias tables
// can be matched against them.
//
// Name choices:
// - "TIS-620" is known and names ISO 8859-11 (TIS-620 plus the no-break space at 0xA0),
//   so an <x-charset TIS-620> block decodes; "tis620" is not known.
// - "GB2312" is known and names EUC-CN, the form GB 2312 takes in mail.
// - Shift_JIS, Windows-31J and cp932 are one entry (identifier 8, DOSJapanese): mail
//   labelled Shift_JIS is written with the Windows repertoire. It rejects the byte 0xA0.
// - Windows code pages decode their unassigned bytes to the C1 control of the same
//   value, as Windows does; the bytes that Windows maps into the private use area
//   are rejected as unassigned.
// - UTF-16 decodes with a byte order mark (removed) or, without one, as big-endian;
//   it encodes with a byte order mark in the machine's byte order.
const Entry kEntries[] = {
    {1, 0x0600, "Western (ASCII)", C::SingleByte, "US-ASCII", "US-ASCII|ASCII|ANSI_X3.4-1968|us|csASCII|iso-ir-6|ISO646-US"},
    {4, 0x08000100, "Unicode (UTF-8)", C::Utf8, "UTF-8", "UTF-8|utf8"},
    {10, 0x0100, "Unicode (UTF-16)", C::Icu, "UTF-16", "UTF-16"},
    {0x90000100, 0x10000100, "Unicode (UTF-16BE)", C::Icu, "UTF-16BE", "UTF-16BE"},
    {0x94000100, 0x14000100, "Unicode (UTF-16LE)", C::Icu, "UTF-16LE", "UTF-16LE"},
    {5, 0x0201, "Western (ISO Latin 1)", C::SingleByte, "ISO-8859-1",
     "ISO-8859-1|ISO_8859-1|latin1|l1|iso-ir-100|csISOLatin1|IBM819|CP819"},
    {9, 0x0202, "Central European (ISO Latin 2)", C::SingleByte, "ibm-912_P100-1995", "ISO-8859-2|ISO_8859-2|latin2|l2"},
    {0x80000203, 0x0203, "Western (ISO Latin 3)", C::SingleByte, "ibm-913_P100-2000", "ISO-8859-3|ISO_8859-3|latin3|l3"},
    {0x80000204, 0x0204, "Central European (ISO Latin 4)", C::SingleByte, "ibm-914_P100-1995", "ISO-8859-4|ISO_8859-4|latin4|l4"},
    {0x80000205, 0x0205, "Cyrillic (ISO 8859-5)", C::SingleByte, "ibm-915_P100-1995", "ISO-8859-5|ISO_8859-5|cyrillic"},
    {0x80000206, 0x0206, "Arabic (ISO 8859-6)", C::SingleByte, "ibm-1089_P100-1995", "ISO-8859-6|ISO_8859-6|arabic"},
    {0x80000207, 0x0207, "Greek (ISO 8859-7)", C::SingleByte, "ibm-9005_X110-2007", "ISO-8859-7|ISO_8859-7|greek"},
    {0x80000208, 0x0208, "Hebrew (ISO 8859-8)", C::SingleByte, "ibm-5012_P100-1999", "ISO-8859-8|ISO_8859-8|ISO-8859-8-I|hebrew"},
    {0x80000209, 0x0209, "Turkish (ISO Latin 5)", C::SingleByte, "ibm-920_P100-1995", "ISO-8859-9|ISO_8859-9|latin5|l5"},
    {0x8000020A, 0x020A, "Nordic (ISO Latin 6)", C::SingleByte, "iso-8859_10-1998", "ISO-8859-10|ISO_8859-10|latin6|l6"},
    {0x8000020B, 0x020B, "Thai (ISO 8859-11)", C::SingleByte, "iso-8859_11-2001", "ISO-8859-11|ISO_8859-11|TIS-620"},
    {0x8000020D, 0x020D, "Baltic (ISO Latin 7)", C::SingleByte, "ibm-921_P100-1995", "ISO-8859-13|ISO_8859-13|latin7|l7"},
    {0x8000020E, 0x020E, "Celtic (ISO Latin 8)", C::SingleByte, "iso-8859_14-1998", "ISO-8859-14|ISO_8859-14|latin8|l8"},
    {0x8000020F, 0x020F, "Western (ISO Latin 9)", C::SingleByte, "ibm-923_P100-1998", "ISO-8859-15|ISO_8859-15|latin9|latin-9|l9"},
    {0x80000210, 0x0210, "Romanian (ISO Latin 10)", C::SingleByteHigh, nullptr, "ISO-8859-16|ISO_8859-16|latin10|l10|iso-ir-226",
     kLatin10High},
    {15, 0x0501, "Central European (Windows Latin 2)", C::SingleByte, "ibm-5346_P100-1998", "windows-1250|cp1250", nullptr, true},
    {11, 0x0502, "Cyrillic (Windows)", C::SingleByte, "ibm-5347_P100-1998", "windows-1251|cp1251", nullptr, true},
    {12, 0x0500, "Western (Windows Latin 1)", C::SingleByte, "ibm-5348_P100-1997", "windows-1252|cp1252", nullptr, true},
    {13, 0x0503, "Greek (Windows)", C::SingleByte, "ibm-5349_P100-1998", "windows-1253|cp1253", nullptr, true},
    {14, 0x0504, "Turkish (Windows Latin 5)", C::SingleByte, "ibm-5350_P100-1998", "windows-1254|cp1254", nullptr, true},
    {0x80000505, 0x0505, "Hebrew (Windows)", C::SingleByte, "ibm-9447_P100-2002", "windows-1255|cp1255", nullptr, true},
    {0x80000506, 0x0506, "Arabic (Windows)", C::SingleByte, "ibm-9448_X100-2005", "windows-1256|cp1256", nullptr, true},
    {0x80000507, 0x0507, "Baltic (Windows)", C::SingleByte, "ibm-9449_P100-2002", "windows-1257|cp1257", nullptr, true},
    {0x80000508, 0x0508, "Vietnamese (Windows)", C::SingleByte, "ibm-5354_P100-1998", "windows-1258|cp1258", nullptr, true},
    {0x8000041D, 0x041D, "Thai (Windows, DOS)", C::SingleByte, "windows-874-2000", "windows-874|cp874|x-windows-874", nullptr, true},
    {30, 0x0000, "Western (Mac OS Roman)", C::SingleByte, "macos-0_2-10.2", "macintosh|x-mac-roman|mac|csMacintosh|macroman"},
    {0x8000001D, 0x001D, "Central European (Mac OS)", C::SingleByte, "macos-29-10.2", "x-mac-centraleurroman|x-mac-ce|maccentraleurope"},
    {0x80000007, 0x0007, "Cyrillic (Mac OS)", C::SingleByte, "macos-7_3-10.2", "x-mac-cyrillic|maccyrillic"},
    {0x80000006, 0x0006, "Greek (Mac OS)", C::SingleByte, "macos-6_2-10.4", "x-mac-greek|macgreek"},
    {0x80000023, 0x0023, "Turkish (Mac OS)", C::SingleByte, "macos-35-10.2", "x-mac-turkish|macturkish"},
    {8, 0x0420, "Japanese (Shift JIS)", C::ShiftJis, "ibm-943_P15A-2003",
     "Shift_JIS|shift-jis|sjis|x-sjis|MS_Kanji|csShiftJIS|windows-31j|cp932"},
    {0x80000001, 0x0001, "Japanese (Mac OS)", C::MacJapanese, "ibm-943_P15A-2003", "x-mac-japanese|macjapanese"},
    {3, 0x0920, "Japanese (EUC)", C::Icu, "euc-jp-2007", "EUC-JP|x-euc-jp|eucjp|csEUCPkdFmtJapanese"},
    {21, 0x0820, "Japanese (ISO 2022-JP)", C::Iso2022Jp, "ISO_2022,locale=ja,version=0", "ISO-2022-JP|csISO2022JP"},
    {0x80000940, 0x0940, "Korean (EUC)", C::Icu, "ibm-970_P110_P110-2006_U2", "EUC-KR|csEUCKR"},
    {0x80000422, 0x0422, "Korean (Windows, DOS)", C::Icu, "windows-949-2000", "ks_c_5601-1987|windows-949|cp949|uhc"},
    {0x80000840, 0x0840, "Korean (ISO 2022-KR)", C::Icu, "ISO_2022,locale=ko,version=0", "ISO-2022-KR|csISO2022KR"},
    {0x80000A03, 0x0A03, "Traditional Chinese (Big 5)", C::Icu, "windows-950-2000", "Big5|csBig5|cn-big5|x-x-big5|cp950"},
    {0x80000A06, 0x0A06, "Traditional Chinese (Big 5 HKSCS)", C::Icu, "ibm-1375_P100-2008", "Big5-HKSCS|big5hkscs"},
    {0x80000930, 0x0930, "Simplified Chinese (GB 2312)", C::Icu, "ibm-1383_P110-1999", "GB2312|EUC-CN|csGB2312|x-euc-cn"},
    {0x80000631, 0x0631, "Simplified Chinese (GBK)", C::Icu, "windows-936-2000", "GBK|CP936|MS936|windows-936|x-gbk"},
    {0x80000632, 0x0632, "Simplified Chinese (GB 18030)", C::Icu, "gb18030", "GB18030"},
    {0x80000A05, 0x0A05, "Simplified Chinese (HZ GB 2312)", C::Icu, "HZ", "HZ-GB-2312"},
    {0x80000A02, 0x0A02, "Cyrillic (KOI8-R)", C::SingleByte, "ibm-878_P100-1996", "KOI8-R|csKOI8R|koi8"},
    {0x80000A08, 0x0A08, "Ukrainian (KOI8-U)", C::SingleByte, "ibm-1168_P100-2002", "KOI8-U"},
};

// Platform numbers that name the same entry as another (kCFStringEncodingShiftJIS).
constexpr std::pair<PlatformEncoding, PlatformEncoding> kSynonyms[] = {{0x0A01, 0x0420}};

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

struct NameIndex {
    std::unordered_map<std::string, const Entry*> aliases;    // lower-case name -> entry
    std::unordered_map<std::string, const Entry*> converters; // canonical ICU name -> entry
};

const NameIndex& nameIndex()
{
    static const NameIndex index = [] {
        NameIndex built;
        for (const Entry& entry : kEntries) {
            std::string_view rest(entry.aliases);
            while (!rest.empty()) {
                const std::size_t bar = rest.find('|');
                built.aliases.emplace(asciiLower(rest.substr(0, bar)), &entry);
                rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
            }
            // Mac Japanese shares Shift_JIS's converter; ICU's names mean Shift_JIS.
            if (entry.converter && entry.codec != Codec::MacJapanese) {
                UErrorCode status = U_ZERO_ERROR;
                const char* canonical = ucnv_getAlias(entry.converter, 0, &status);
                if (U_SUCCESS(status) && canonical)
                    built.converters.emplace(canonical, &entry);
            }
        }
        return built;
    }();
    return index;
}

// ICU matches names loosely (ignoring case, '-', '_' and blanks, so " utf-8" and "tis620"
// would match); a name counts only when it is one of the converter's aliases as written.
bool isExactAlias(const char* canonical, const std::string& lowerName)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::uint16_t count = ucnv_countAliases(canonical, &status);
    for (std::uint16_t i = 0; U_SUCCESS(status) && i < count; ++i) {
        const char* alias = ucnv_getAlias(canonical, i, &status);
        if (U_SUCCESS(status) && alias && asciiLower(alias) == lowerName)
            return true;
    }
    return false;
}

bool converterOpens(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    if (converter)
        ucnv_close(converter);
    return U_SUCCESS(status) && converter;
}

} // namespace

std::span<const Entry> entries() { return kEntries; }

const Entry* entryForId(EncodingId id)
{
    // The short identifiers (those the settings and the menu use most) are looked up
    // directly: this runs several times for every message converted.
    constexpr EncodingId kShortIds = 64;
    static const std::array<const Entry*, kShortIds> shortIds = [] {
        std::array<const Entry*, kShortIds> found{};
        for (const Entry& entry : kEntries) {
            if (entry.id < kShortIds && !found[entry.id])
                found[entry.id] = &entry;
        }
        return found;
    }();
    if (id < kShortIds)
        return shortIds[id];
    for (const Entry& entry : kEntries) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

const Entry* entryForPlatform(PlatformEncoding platform)
{
    for (const auto& [synonym, target] : kSynonyms) {
        if (platform == synonym)
            platform = target;
    }
    for (const Entry& entry : kEntries) {
        if (entry.platform == platform)
            return &entry;
    }
    return nullptr;
}

bool isAvailable(const Entry& entry)
{
    static const std::vector<bool> available = [] {
        std::vector<bool> result;
        for (const Entry& e : kEntries)
            result.push_back(e.codec == Codec::Utf8 || e.codec == Codec::SingleByteHigh || converterOpens(e.converter));
        return result;
    }();
    return available[indexOf(entry)];
}

const Entry* entryForName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name.find('\0') != std::string_view::npos)
        return nullptr;
    const NameIndex& index = nameIndex();
    const std::string lower = asciiLower(name);
    if (auto it = index.aliases.find(lower); it != index.aliases.end())
        return it->second;
    for (const char* standard : {"IANA", "MIME"}) {
        UErrorCode status = U_ZERO_ERROR;
        const char* canonical = ucnv_getCanonicalName(lower.c_str(), standard, &status);
        if (U_FAILURE(status) || !canonical || !isExactAlias(canonical, lower))
            continue;
        if (auto it = index.converters.find(canonical); it != index.converters.end())
            return it->second;
    }
    return nullptr;
}

} // namespace tarnwick::encoding
