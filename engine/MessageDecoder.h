#pragma once
// The decoding half of message conversion: one message's bytes into UTF-16 text, in
// the source encoding the options name or, with "Automatic", in the one the message
// itself calls for, with Eudora's tags dropped and each tag block decoded in its charset.

#include "engine/AutomaticEncoding.h"
#include "engine/ConversionOptions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

/// The content type that the body's first element implies (tag path only).
enum class ContentType { None, Plain, Flowed, Html };

/// Decodes `message` (whose body starts at `headerLength`, or kHeaderLengthNone) into
/// `text` (replaced). On the tag path (options.processEudoraTags and a body) the tags
/// are dropped and `contentType` set from the body's first element; otherwise it stays
/// None. With a fixed source encoding every piece is decoded in it (tag blocks first in
/// their own charset); with kEncodingAutomatic the encoding is chosen from the message
/// (chooseSourceEncoding, using and updating `mailbox`), and a tag block also follows a
/// charset named by its Mac marker or by a "received/stored" name. False when some
/// piece cannot be decoded.
bool decodeMessage(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options,
                   AutomaticSource& mailbox, std::u16string& text, ContentType& contentType);

} // namespace tarnwick
