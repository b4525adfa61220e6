#pragma once
// What the mailbox conversion tests share: reading a file whole, and the options with
// every conversion step on.

#include "engine/ConversionOptions.h"

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::testSupport {

inline std::string readFile(const std::string& file)
{
    return (std::ostringstream() << std::ifstream(file, std::ios::binary).rdbuf()).str();
}

/// Encoding conversion from `source` to the first of `charsets` that fits, with tags,
/// header encoding, NBSP replacement, empty lines, Date headers and attachments (looked
/// for in `attachmentFolder`) all on, and CR LF line ends.
inline ConversionOptions everyStepOn(EncodingId source, std::vector<std::string> charsets,
                                     const std::string& attachmentFolder)
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = source;
    options.charsetNames = std::move(charsets);
    options.processEudoraTags = true;
    options.crlfLineEndings = true;
    options.encodeHeaders = true;
    options.replaceNoBreakSpaces = true;
    options.addEmptyLines = true;
    options.complementDateHeaders = true;
    options.putBackAttachments = true;
    options.attachmentFolders = {{attachmentFolder}, {}};
    return options;
}

} // namespace tarnwick::testSupport
