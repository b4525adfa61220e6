// Differential fuzzing of the byte-level services (scanBytes, transcodeAppend) against
// decoding into UTF-16 and encoding back (decodeAppend, encodeText), for every pair of
// byte-transcodable encodings offered: the same verdicts and the same bytes. Where the
// target has an ICU converter, its bytes are also checked against ICU's own encoding of
// the decoded text (stop at the first unmappable character, no fallbacks): the direct
// path may refuse what ICU accepts (only round-trip mappings are kept), never the
// reverse, and never writes other bytes. The first two bytes pick the source and the
// target encoding; the rest are the text's bytes.

#include "FuzzSupport.h"

#include "platform/encodings/EncodingTable.h"

#include <unicode/ucnv.h>

#include <optional>

namespace {

using namespace tarnwick;

const std::vector<EncodingId>& transcodable()
{
    static const std::vector<EncodingId> ids = [] {
        std::vector<EncodingId> found;
        for (const EncodingId id : availableEncodings()) {
            if (isByteTranscodable(id))
                found.push_back(id);
        }
        return found;
    }();
    return ids;
}

std::optional<std::string> icuEncode(const char* name, std::u16string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter, false);
    std::string out(text.size() * 4 + 16, '\0');
    const auto length
        = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()), text.data(), static_cast<int32_t>(text.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

UnitRange rangeOf(std::u16string_view text)
{
    UnitRange range = UnitRange::Ascii;
    for (const char16_t c : text) {
        if (c > 0xFF)
            return UnitRange::Wide;
        if (c > 0x7F)
            range = UnitRange::Latin1;
    }
    return range;
}

bool hasC1(std::u16string_view text)
{
    for (const char16_t c : text) {
        if (c >= 0x80 && c <= 0x9F)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::vector<EncodingId>& ids = transcodable();
    const EncodingId from = ids[data[0] % ids.size()];
    const EncodingId to = ids[data[1] % ids.size()];
    const tarnwick::fuzz::ExactBytes bytes(data + 2, size - 2);

    std::u16string text;
    const bool decoded = decodeAppend(bytes.data(), bytes.size(), from, text);
    const ByteScan scan = scanBytes(bytes.data(), bytes.size(), from);
    FUZZ_CHECK(scan.valid == decoded);
    if (!decoded)
        return 0;
    FUZZ_CHECK(scan.clean == !hasC1(text));
    FUZZ_CHECK(scan.range == rangeOf(text));

    std::string expected;
    const bool encoded = encodeText(text, to, expected);
    std::string ours = "kept";
    const bool transcoded = transcodeAppend(bytes.data(), bytes.size(), from, to, ours);
    FUZZ_CHECK(transcoded == encoded);
    FUZZ_CHECK(ours == (transcoded ? "kept" + expected : std::string("kept")));

    const encoding::Entry* target = encoding::entryForId(to);
    if (target && target->converter && target->codec != encoding::Codec::Utf8) {
        const std::optional<std::string> reference = icuEncode(target->converter, text);
        if (transcoded)
            FUZZ_CHECK(reference && *reference == expected);
    }
    return 0;
}
