#pragma once
// Mailbox stream conversion: one Eudora mailbox file into one mbox file.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick {

/// Converts the mailbox at `inputPath` into the existing, empty file at `outputPath`
/// (opened without creating or truncating). Options come from the settings store.
/// Returns true when converted, or skipped because empty or not a mailbox; false with
/// one localised `errorText` on failure ("\"%@\" not found", "Could not open \"%@\"",
/// "Could not write to \"%@\": %@").
bool convertMbox(const std::string& inputPath, const std::string& outputPath, std::string& errorText);

/// The per-message conversion as convertMbox hands it each finished message: the
/// message, its header length (or kHeaderLengthNone), and the buffer for the result.
/// Returns true when `result` holds the bytes to write instead of the message.
using MessageConversion = std::function<bool(std::string_view message, std::uint64_t headerLength, std::string& result)>;

/// convertMbox with `convert` in place of convertMessage (called only when
/// ConvertEncodings is on), so that callers can observe or replace the hand-over.
bool convertMboxWith(const std::string& inputPath, const std::string& outputPath, std::string& errorText,
                     const MessageConversion& convert);

} // namespace tarnwick
