#include "engine/text/LegacyEncodings.h"

#include "engine/text/Ascii.h"

#include <algorithm>
#include <array>

namespace tarnwick {
namespace {

// Identifiers of the encoding table (platform/encodings/EncodingTable.cpp).
constexpr LegacyFamily kFamilies[] = {
    {"Western", 30, 12, false},                            // Mac OS Roman, Windows-1252
    {"Japanese", 0x80000001, 8, true},                     // Mac Japanese, Shift_JIS
    {"Simplified Chinese", 0x80000930, 0x80000631, true},  // EUC-CN, GBK
    {"Traditional Chinese", 0x80000A03, 0x80000A03, true}, // Big 5
    {"Korean", 0x80000940, 0x80000422, true},              // EUC-KR, Windows-949
    {"Central European", 0x8000001D, 15, false},           // Mac Central European, Windows-1250
    {"Cyrillic", 0x80000007, 11, false},                   // Mac Cyrillic, Windows-1251
    {"Greek", 0x80000006, 13, false},                      // Mac Greek, Windows-1253
    {"Turkish", 0x80000023, 14, false},                    // Mac Turkish, Windows-1254
    {"Hebrew", 0x80000505, 0x80000505, false},             // Windows-1255
    {"Arabic", 0x80000506, 0x80000506, false},             // Windows-1256
    {"Baltic", 0x80000507, 0x80000507, false},             // Windows-1257
    {"Vietnamese", 0x80000508, 0x80000508, false},         // Windows-1258
    {"Thai", 0x8000041D, 0x8000041D, false},               // Windows-874
};

const LegacyFamily& family(std::string_view name)
{
    for (const LegacyFamily& f : kFamilies) {
        if (f.name == name)
            return f;
    }
    return kFamilies[0];
}

struct Mapping {
    std::string_view key;
    std::string_view family;
};

// Locale languages; a language with a territory ("zh_tw") is looked up before the language alone.
constexpr Mapping kLanguages[] = {
    {"ja", "Japanese"},
    {"zh_tw", "Traditional Chinese"},
    {"zh_hk", "Traditional Chinese"},
    {"zh_mo", "Traditional Chinese"},
    {"zh", "Simplified Chinese"},
    {"ko", "Korean"},
    {"pl", "Central European"},
    {"cs", "Central European"},
    {"sk", "Central European"},
    {"hu", "Central European"},
    {"sl", "Central European"},
    {"hr", "Central European"},
    {"bs", "Central European"},
    {"ro", "Central European"},
    {"ru", "Cyrillic"},
    {"uk", "Cyrillic"},
    {"be", "Cyrillic"},
    {"bg", "Cyrillic"},
    {"mk", "Cyrillic"},
    {"sr", "Cyrillic"},
    {"kk", "Cyrillic"},
    {"el", "Greek"},
    {"tr", "Turkish"},
    {"az", "Turkish"},
    {"he", "Hebrew"},
    {"yi", "Hebrew"},
    {"ar", "Arabic"},
    {"fa", "Arabic"},
    {"ur", "Arabic"},
    {"lt", "Baltic"},
    {"lv", "Baltic"},
    {"et", "Baltic"},
    {"vi", "Vietnamese"},
    {"th", "Thai"},
};

// Charset names as mail declares them and as ICU's detector reports them.
constexpr Mapping kCharsets[] = {
    {"us-ascii", "Western"},
    {"iso-8859-1", "Western"},
    {"iso-8859-15", "Western"},
    {"windows-1252", "Western"},
    {"macintosh", "Western"},
    {"x-mac-roman", "Western"},
    {"shift_jis", "Japanese"},
    {"iso-2022-jp", "Japanese"},
    {"euc-jp", "Japanese"},
    {"x-mac-japanese", "Japanese"},
    {"gb2312", "Simplified Chinese"},
    {"gbk", "Simplified Chinese"},
    {"gb18030", "Simplified Chinese"},
    {"iso-2022-cn", "Simplified Chinese"},
    {"big5", "Traditional Chinese"},
    {"euc-kr", "Korean"},
    {"iso-2022-kr", "Korean"},
    {"ks_c_5601-1987", "Korean"},
    {"iso-8859-2", "Central European"},
    {"windows-1250", "Central European"},
    {"iso-8859-5", "Cyrillic"},
    {"windows-1251", "Cyrillic"},
    {"koi8-r", "Cyrillic"},
    {"koi8-u", "Cyrillic"},
    {"iso-8859-7", "Greek"},
    {"windows-1253", "Greek"},
    {"iso-8859-9", "Turkish"},
    {"windows-1254", "Turkish"},
    {"iso-8859-8", "Hebrew"},
    {"iso-8859-8-i", "Hebrew"},
    {"windows-1255", "Hebrew"},
    {"iso-8859-6", "Arabic"},
    {"windows-1256", "Arabic"},
    {"iso-8859-13", "Baltic"},
    {"windows-1257", "Baltic"},
    {"windows-1258", "Vietnamese"},
    {"tis-620", "Thai"},
    {"windows-874", "Thai"},
};

} // namespace

std::span<const LegacyFamily> legacyFamilies() { return kFamilies; }

const LegacyFamily& westernFamily() { return kFamilies[0]; }

const LegacyFamily& familyForLanguage(std::string_view language)
{
    const std::string_view bare = language.substr(0, language.find('_'));
    for (const std::string_view key : {language, bare}) {
        for (const Mapping& mapping : kLanguages) {
            if (mapping.key == key)
                return family(mapping.family);
        }
    }
    return westernFamily();
}

const LegacyFamily* familyForCharset(std::string_view charset)
{
    for (const Mapping& mapping : kCharsets) {
        if (equalsAsciiFolded(charset, mapping.key))
            return &family(mapping.family);
    }
    return nullptr;
}

} // namespace tarnwick
