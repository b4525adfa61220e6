#pragma once
// The charset a text file put back into a message is labelled with, so that readers
// take its bytes as the conversion would, rather than as their own default.

#include "engine/text/AutomaticEncoding.h"

#include <string>
#include <string_view>

namespace tarnwick {

/// Text files larger than this are put back without a charset (not read twice).
inline constexpr std::size_t kLargestLabelledText = 16 * 1024 * 1024;

/// The charset parameter for a file of `mediaType` whose bytes are `bytes`: the name
/// of `sourceEncoding` when the bytes decode cleanly in it, or with Automatic, of the
/// encoding Automatic reads the file in by itself (UTF-8 when valid, else the legacy
/// encoding of the mailbox's platform in the user's language, ...). Empty for a type
/// other than text/*, for HTML and XML (which may name their own), for bytes that are
/// all ASCII, and for bytes that no encoding reads cleanly.
std::string textFileCharset(std::string_view mediaType, std::string_view bytes, EncodingId sourceEncoding, AutomaticSource automatic);

/// Whether a part of `mediaType` is one textFileCharset may label.
bool isLabelledText(std::string_view mediaType);

} // namespace tarnwick
