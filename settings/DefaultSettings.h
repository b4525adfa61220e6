#pragma once
// Registration of the default settings.

#include "platform/SettingsStore.h"

#include <string>

namespace tarnwick {

/// Registers the bundled defaults file with MboxEncoding replaced by the system
/// encoding. Returns false (and registers nothing) when the file cannot be read.
bool registerDefaultSettings(SettingsStore& store);

/// The same from a defaults file at `path` (tests pass missing or odd files).
bool registerDefaultSettingsFromFile(SettingsStore& store, const std::string& path);

} // namespace tarnwick
