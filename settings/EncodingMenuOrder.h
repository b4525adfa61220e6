#pragma once
// The order of the encoding menu: by name, case-sensitive and not locale-aware.

#include "platform/encodings/TextEncoding.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct EncodingMenuEntry {
    std::string name; // UTF-8
    EncodingId encoding;
};

/// -1, 0 or 1: compares two UTF-8 names by UTF-16 code units after canonical
/// decomposition (canonically equivalent names compare equal); a prefix sorts first.
int compareEncodingNames(std::string_view a, std::string_view b);

/// Sorts by name with compareEncodingNames; entries with equal names keep their order.
void sortEncodingMenuEntries(std::vector<EncodingMenuEntry>& entries);

/// "Automatic" (kEncodingAutomatic) first, then every available encoding that has a
/// localised name, sorted for the menu.
std::vector<EncodingMenuEntry> encodingMenuEntries();

} // namespace tarnwick
