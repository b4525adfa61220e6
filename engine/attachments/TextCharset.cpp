#include "engine/attachments/TextCharset.h"

#include "engine/attachments/MimeWriter.h"

#include <array>

namespace tarnwick {

bool isLabelledText(std::string_view mediaType)
{
    return mediaType.starts_with("text/") && mediaType != "text/html" && mediaType != "text/xml" && !mediaType.ends_with("+xml")
        && mediaType.find(';') == std::string_view::npos;
}

std::string textFileCharset(std::string_view mediaType, std::string_view bytes, EncodingId sourceEncoding, AutomaticSource automatic)
{
    if (!isLabelledText(mediaType) || isSevenBit(bytes))
        return {};
    EncodingId encoding = sourceEncoding;
    if (sourceEncoding == kEncodingAutomatic) {
        const std::array<std::string_view, 1> pieces{bytes};
        const SourceEncoding chosen = chooseSourceEncoding(pieces, {}, automatic);
        if (chosen.choice == EncodingChoice::Undecodable || chosen.choice == EncodingChoice::Ascii)
            return {};
        encoding = chosen.encoding;
    } else {
        std::u16string text;
        if (!decodeAppend(bytes.data(), bytes.size(), encoding, text))
            return {};
    }
    return encodingCharsetName(encoding).value_or(std::string());
}

} // namespace tarnwick
