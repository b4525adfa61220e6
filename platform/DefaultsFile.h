#pragma once
// Reading the defaults file (a JSON object of key to value: booleans, integers,
// strings and arrays of strings).

#include "platform/SettingsStore.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// The defaults file compiled into the program (resources/Defaults.json).
std::string_view bundledDefaultsText();

/// Parses defaults text; none when it is not a JSON object.
std::optional<SettingsDictionary> parseDefaults(std::string_view jsonText);

/// Reads and parses a defaults file; none when it is missing, unreadable or malformed.
std::optional<SettingsDictionary> readDefaultsFile(const std::string& path);

} // namespace tarnwick
