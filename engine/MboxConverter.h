#pragma once
// Mailbox stream conversion: one Eudora mailbox file into one mbox file.

#include "engine/AttachmentTally.h"
#include "engine/ConversionOptions.h"
#include "engine/MessageConverter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick {

/// The outcome of one mailbox conversion.
struct ConversionResult {
    bool succeeded = true;
    std::string errorText; // localised, set when the conversion failed
    AttachmentTally attachments; // files put back into messages and files missing
};

/// The per-message conversion as convertMbox hands it each finished message: the
/// message, its header length (or kHeaderLengthNone), what the mailbox carries from
/// message to message, and the buffer for the result. Returns true when `result` holds
/// the bytes to write instead of the message.
using MessageConversion = std::function<bool(std::string_view message, std::uint64_t headerLength,
                                             MailboxContext& mailbox, std::string& result)>;

/// Converts the mailbox at `inputPath` into the existing, empty file at `outputPath`
/// (opened without creating or truncating) as `options` say, handing each message to
/// `convert` when options.convertEncodings is on. Succeeds when converted, or skipped
/// because empty or not a mailbox; fails with one localised error text ("\"%1\" not
/// found", "Could not open \"%1\"", "Could not read \"%1\"", "Could not write to
/// \"%1\": %2").
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options, const MessageConversion& convert);

/// convertMbox with convertMessage and a candidate list of this call's own.
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options);

} // namespace tarnwick
