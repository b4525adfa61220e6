#include "platform/encodings/Decomposition.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdint>

namespace tarnwick {
namespace {

std::u16string toString(const icu::UnicodeString& text)
{
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

} // namespace

std::u16string decomposedUtf16(std::string_view utf8)
{
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return toString(text);
    const icu::UnicodeString out = nfd->normalize(text, status);
    return toString(U_SUCCESS(status) ? out : text);
}

} // namespace tarnwick
