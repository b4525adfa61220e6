#include "settings/EncodingMenuOrder.h"

#include "platform/Localization.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <utility>

namespace tarnwick {
namespace {

icu::UnicodeString decomposed(std::string_view utf8)
{
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return text;
    icu::UnicodeString out = nfd->normalize(text, status);
    return U_SUCCESS(status) ? out : text;
}

int sign(int8_t value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

int compareEncodingNames(std::string_view a, std::string_view b)
{
    // UnicodeString::compare is code-unit order.
    return sign(decomposed(a).compare(decomposed(b)));
}

void sortEncodingMenuEntries(std::vector<EncodingMenuEntry>& entries)
{
    // Decompose each name once rather than once per comparison.
    std::vector<std::pair<icu::UnicodeString, std::size_t>> keys;
    keys.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(decomposed(entries[i].name), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& x, const auto& y) { return x.first.compare(y.first) < 0; });
    std::vector<EncodingMenuEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(entries[key.second]));
    entries = std::move(sorted);
}

std::vector<EncodingMenuEntry> encodingMenuEntries()
{
    std::vector<EncodingMenuEntry> entries;
    for (const EncodingId encoding : availableEncodings()) {
        if (auto name = encodingDisplayName(encoding))
            entries.push_back({std::move(*name), encoding});
    }
    sortEncodingMenuEntries(entries);
    entries.insert(entries.begin(), EncodingMenuEntry{translate("Automatic"), kEncodingAutomatic});
    return entries;
}

} // namespace tarnwick
