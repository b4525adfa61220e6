#pragma once
// The conversion options as the settings store holds them.

#include "engine/ConversionOptions.h"

namespace tarnwick {

class SettingsStore;

/// The options that the store holds now: ConvertEncodings, MboxEncoding, CharsetNames,
/// ProcessEudoraTags, ConvertLineEndings, ComplementDateHeaders, AddEmptyLines and
/// ReplaceNBSPWithSpaceInMacJapanese. A missing key reads as false, 0 or no names.
ConversionOptions readConversionOptions(const SettingsStore& store);

} // namespace tarnwick
