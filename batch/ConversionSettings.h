#pragma once
// The conversion options as the settings store holds them.

#include "engine/ConversionOptions.h"

namespace tarnwick {

class SettingsStore;

/// The options that the store holds now: ConvertEncodings, MboxEncoding, CharsetNames,
/// ProcessEudoraTags, ConvertLineEndings, ComplementDateHeaders, AddEmptyLines,
/// ReplaceNBSPWithSpaceInMacJapanese, PutBackAttachments, EncodeHeaders,
/// DropStaleLengths and MendCROnlyLineEndings, and the user's locale language. A
/// missing key reads as false, 0 (Automatic) or no names. The attachment folders
/// depend on the mailbox: the job adds them.
ConversionOptions readConversionOptions(const SettingsStore& store);

} // namespace tarnwick
