#pragma once
// Mailbox stream conversion: one Eudora mailbox file into one mbox file.

#include <string>

namespace tarnwick {

/// Converts the mailbox at `inputPath` into the existing, empty file at `outputPath`
/// (opened without creating or truncating). Options come from the settings store.
/// Returns true when converted, or skipped because empty or not a mailbox; false with
/// one localised `errorText` on failure ("\"%@\" not found", "Could not open \"%@\"",
/// "Could not write to \"%@\": %@").
bool convertMbox(const std::string& inputPath, const std::string& outputPath, std::string& errorText);

} // namespace tarnwick
