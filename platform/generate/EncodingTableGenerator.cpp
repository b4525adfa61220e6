// Build tool: asks ICU's converters (the ones the encoding table names, configured as
// the program configures them) how they convert each character on its own and prints
// the answers as C++ tables, so that the fast codecs write exactly what ICU writes.
//
//   tarnwick-encoding-tables iso2022jp|shiftjis OUTPUT.cpp

#include <unicode/ucnv.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

UConverter* openStrict(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    if (U_FAILURE(status)) {
        std::fprintf(stderr, "cannot open ICU's converter %s: %s\n", name, u_errorName(status));
        return nullptr;
    }
    return converter;
}

void appendEntry(std::string& body, unsigned key, unsigned value)
{
    char line[48];
    std::snprintf(line, sizeof line, "    {0x%04X, 0x%04X},\n", key, value);
    body += line;
}

// Whether `bytes` decode to exactly the one unit `c`.
bool decodesBackTo(UConverter* converter, const std::string& bytes, UChar c)
{
    UChar back[4];
    ucnv_reset(converter);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter, back, 4, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    return U_SUCCESS(status) && length == 1 && back[0] == c;
}

// Each BMP unit: 0 refused, 1 ASCII as itself, 2 context-dependent, else its JIS X 0208 code.
bool iso2022JpTable(std::string& body)
{
    UConverter* converter = openStrict("ISO_2022,locale=ja,version=0");
    if (!converter)
        return false;
    int kanji = 0;
    for (unsigned unit = 0; unit < 0x10000; ++unit) {
        unsigned value = 2; // a surrogate half, JIS X 0201 Roman: ICU decides
        if (unit < 0xD800 || unit > 0xDFFF) {
            const UChar c = static_cast<UChar>(unit);
            char out[32];
            ucnv_reset(converter);
            UErrorCode status = U_ZERO_ERROR;
            const int32_t length = ucnv_fromUChars(converter, out, sizeof out, &c, 1, &status);
            const std::string bytes(out, U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
            if (U_FAILURE(status) || !decodesBackTo(converter, bytes, c))
                value = 0; // refused, skipped (an ignorable) or written as another character
            else if (length == 1 && unit < 0x80 && bytes[0] == static_cast<char>(unit))
                value = 1;
            else if (length == 8 && bytes.compare(0, 3, "\x1b$B") == 0 && bytes.compare(5, 3, "\x1b(B") == 0)
                value = static_cast<unsigned char>(bytes[3]) << 8 | static_cast<unsigned char>(bytes[4]);
        }
        kanji += value > 2;
        if (value != 0)
            appendEntry(body, unit, value);
    }
    ucnv_close(converter);
    if (kanji < 6000) {
        std::fprintf(stderr, "ICU's ISO-2022-JP converter knows only %d JIS X 0208 characters\n", kanji);
        return false;
    }
    return true;
}

// Each byte and byte pair that decodes on its own to one UTF-16 unit: key byte or
// (lead << 8 | trail), value the unit.
bool shiftJisTable(std::string& body)
{
    UConverter* converter = openStrict("ibm-943_P15A-2003");
    if (!converter)
        return false;
    auto decode = [converter](const char* bytes, int32_t length) -> int {
        UChar out[4];
        ucnv_reset(converter);
        UErrorCode status = U_ZERO_ERROR;
        const int32_t produced = ucnv_toUChars(converter, out, 4, bytes, length, &status);
        return U_SUCCESS(status) && produced == 1 ? out[0] : -1;
    };
    int pairs = 0;
    for (unsigned byte = 0; byte < 0x100; ++byte) {
        const char single = static_cast<char>(byte);
        if (const int unit = decode(&single, 1); unit >= 0)
            appendEntry(body, byte, static_cast<unsigned>(unit));
    }
    for (unsigned lead = 0x80; lead < 0x100; ++lead) {
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const int unit = decode(pair, 2);
            if (unit > 0) {
                appendEntry(body, lead << 8 | trail, static_cast<unsigned>(unit));
                ++pairs;
            }
        }
    }
    ucnv_close(converter);
    if (pairs < 7000) {
        std::fprintf(stderr, "ICU's Shift_JIS converter knows only %d double-byte characters\n", pairs);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s iso2022jp|shiftjis OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    std::string body;
    const char* header = nullptr;
    const char* name = nullptr;
    if (kind == "iso2022jp" && iso2022JpTable(body)) {
        header = "Iso2022JpTable.h";
        name = "kIso2022JpMapping";
    } else if (kind == "shiftjis" && shiftJisTable(body)) {
        header = "ShiftJisTable.h";
        name = "kShiftJisMapping";
    } else {
        return 1;
    }
    std::FILE* file = std::fopen(argv[2], "w");
    if (!file)
        return 1;
    std::fprintf(file,
                 "// Generated at build time from ICU's converter; do not edit.\n"
                 "#include \"platform/encodings/%s\"\n\n"
                 "namespace tarnwick::encoding {\n\n"
                 "const TableMapping %ss[] = {\n%s};\n"
                 "const std::size_t %sCount = sizeof %ss / sizeof %ss[0];\n\n"
                 "} // namespace tarnwick::encoding\n",
                 header, name, body.c_str(), name, name, name);
    return std::fclose(file) == 0 ? 0 : 1;
}
