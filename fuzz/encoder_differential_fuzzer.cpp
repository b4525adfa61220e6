// Differential fuzzing of the codecs that do not go through ICU against ICU's own
// converters (stop at the first invalid or unmappable character, no fallbacks): same
// verdict, same bytes (see Check for the known, deliberate differences). The first
// byte picks the codec. For the encoders, pairs of bytes are UTF-16 code units, folded
// towards the repertoire so that most texts are encodable and compared byte for byte;
// the decoders take the bytes as they are.

#include "FuzzSupport.h"

#include "platform/encodings/Iso2022JpTable.h"

#include <unicode/ucnv.h>

#include <optional>

namespace {

using namespace tarnwick;

enum class Check {
    Same,         // the same verdict and the same result
    Stricter,     // ours may refuse what ICU accepts (ICU silently drops ignorables and
                  // writes a few characters as bytes that decode to another one; our
                  // single-byte tables keep only round-trip mappings), else the same
    NoPrivateUse, // the same, except that a decoded private-use character is refused
};

struct Target {
    EncodingId id;
    const char* icuName;
    bool decode;
    Check check;
};

// The table-driven codecs: ISO-2022-JP and UTF-8 encoding, Shift_JIS and single-byte
// decoding, and the single-byte encoders that the Windows and Latin-1 jobs use.
constexpr Target kTargets[] = {
    {21, "ISO_2022,locale=ja,version=0", false, Check::Stricter},
    {4, "UTF-8", false, Check::Same},
    {12, "ibm-5348_P100-1997", false, Check::Stricter},
    {5, "ISO-8859-1", false, Check::Stricter},
    {kEncodingShiftJIS, "ibm-943_P15A-2003", true, Check::Same},
    {12, "ibm-5348_P100-1997", true, Check::NoPrivateUse},
    {30, "macos-0_2-10.2", true, Check::Same},
};

std::optional<std::string> icuEncode(const char* name, std::u16string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    std::string out(text.size() * 8 + 16, '\0');
    const auto length
        = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()), text.data(), static_cast<int32_t>(text.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

const std::vector<char16_t>& kanji()
{
    static const std::vector<char16_t> units = [] {
        std::vector<char16_t> found;
        for (std::size_t i = 0; i < encoding::kIso2022JpMappingCount; ++i) {
            if (encoding::kIso2022JpMappings[i].value > encoding::kIso2022JpIcu)
                found.push_back(static_cast<char16_t>(encoding::kIso2022JpMappings[i].key));
        }
        return found;
    }();
    return units;
}

char16_t foldUnit(std::uint8_t high, std::uint8_t low)
{
    switch (high >> 6) {
    case 0:
        return static_cast<char16_t>(low & 0x7F); // ASCII
    case 1:
        return kanji()[(static_cast<unsigned>(high & 0x3F) << 8 | low) % kanji().size()];
    case 2:
        return static_cast<char16_t>(0x80 + low); // Latin-1 and C1
    default:
        return static_cast<char16_t>(high << 8 | low); // anything
    }
}

std::optional<std::u16string> icuDecode(const char* name, std::string_view bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    std::u16string out(bytes.size() + 16, u'\0');
    const auto length
        = ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

bool hasPrivateUse(std::u16string_view text)
{
    for (const char16_t c : text) {
        if (c >= 0xE000 && c <= 0xF8FF)
            return true;
    }
    return false;
}

void checkDecoding(const Target& target, std::string_view bytes)
{
    std::u16string ours = u"kept";
    const bool decoded = decodeAppend(bytes.data(), bytes.size(), target.id, ours);
    const std::optional<std::u16string> reference = icuDecode(target.icuName, bytes);
    if (decoded) {
        FUZZ_CHECK(ours.compare(0, 4, u"kept") == 0);
        FUZZ_CHECK(reference && ours.substr(4) == *reference);
    } else {
        FUZZ_CHECK(ours == u"kept");
        FUZZ_CHECK(!reference || (target.check == Check::NoPrivateUse && hasPrivateUse(*reference)));
    }
}

void checkEncoding(const Target& target, std::u16string_view text)
{
    std::string ours = "stale";
    const bool encoded = encodeText(text, target.id, ours);
    const std::optional<std::string> reference = icuEncode(target.icuName, text);
    FUZZ_CHECK(canEncode(text, target.id) == encoded);
    if (encoded) {
        FUZZ_CHECK(reference && ours == *reference);
        // Nothing is dropped or changed: the bytes decode to the text.
        std::u16string back;
        FUZZ_CHECK(decodeAppend(ours.data(), ours.size(), target.id, back) && back == text);
    } else {
        FUZZ_CHECK(!reference || target.check == Check::Stricter);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const Target& target = kTargets[data[0] % std::size(kTargets)];
    if (target.decode) {
        const tarnwick::fuzz::ExactBytes bytes(data + 1, size - 1);
        checkDecoding(target, bytes.view());
        return 0;
    }
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text.push_back(foldUnit(data[i], data[i + 1]));
    checkEncoding(target, text);
    return 0;
}
