#include "settings/EncodingMenuOrder.h"

#include "platform/Localization.h"

#include "platform/encodings/Decomposition.h"

#include <algorithm>
#include <utility>

namespace tarnwick {
namespace {

int sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

} // namespace

int compareEncodingNames(std::string_view a, std::string_view b) { return sign(decomposedUtf16(a).compare(decomposedUtf16(b))); }

void sortEncodingMenuEntries(std::vector<EncodingMenuEntry>& entries)
{
    // Decompose each name once rather than once per comparison.
    std::vector<std::pair<std::u16string, std::size_t>> keys;
    keys.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(decomposedUtf16(entries[i].name), i);
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
