#include "engine/message/TagScanner.h"

namespace tarnwick {

EncodingId encodingForTagParameter(std::string_view parameter)
{
    // Only ASCII text is looked up, and a name the lookup does not know gives
    // kEncodingNone. Availability is not tested here.
    if (parameter.size() > kLongestTagParameter)
        return kEncodingNone;
    for (const char c : parameter) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return kEncodingNone;
    }
    const PlatformEncoding encoding = encodingForIANAName(parameter);
    if (encoding == kPlatformEncodingInvalid)
        return kEncodingNone;
    return carryEncoding(encoding);
}

std::optional<TagBlock> scanTag(std::string_view bytes, std::string_view name) { return TagScanner(bytes).blockAt(0, name); }

} // namespace tarnwick
