#include "engine/TagScanner.h"

#include <cstring>
#include <string_view>

namespace tarnwick {
namespace {

/// The encoding that a tag's parameter names: only ASCII text is looked up, and a name
/// the lookup does not know gives kEncodingNone. Availability is not tested here.
EncodingId encodingForParameter(const char* bytes, std::uint64_t length)
{
    for (std::uint64_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(bytes[i]) > 0x7F)
            return kEncodingNone;
    }
    const PlatformEncoding encoding = encodingForIANAName(std::string_view(bytes, length));
    if (encoding == kPlatformEncodingInvalid)
        return kEncodingNone;
    return carryEncoding(encoding);
}

} // namespace

std::optional<TagBlock> scanTag(std::string_view text, std::string_view tagName)
{
    const char* const bytes = text.data();
    const std::uint64_t length = text.size();
    const char* const name = tagName.data();
    if (length == 0 || bytes[0] != '<')
        return std::nullopt;
    const std::uint64_t nameLength = tagName.size();
    // At least one byte must follow "<NAME".
    if (length < nameLength + 2)
        return std::nullopt;
    if (std::memcmp(bytes + 1, name, nameLength) != 0)
        return std::nullopt;

    std::uint64_t openingLength = 0;
    EncodingId encoding = kEncodingNone;
    const char afterName = bytes[nameLength + 1];
    if (afterName == '>') {
        openingLength = nameLength + 2;
    } else if (afterName == ' ') {
        if (length < nameLength + 3)
            return std::nullopt;
        // The parameter runs untrimmed up to the first '>', line breaks included.
        const std::uint64_t parameterStart = nameLength + 2;
        const void* found = std::memchr(bytes + parameterStart, '>', length - parameterStart);
        if (found == nullptr)
            return std::nullopt;
        const std::uint64_t gt = static_cast<std::uint64_t>(static_cast<const char*>(found) - bytes);
        openingLength = gt + 1;
        encoding = encodingForParameter(bytes + parameterStart, gt - parameterStart);
    } else {
        return std::nullopt;
    }

    // The first "</NAME>" after the opening tag closes the block; there is no nesting.
    std::uint64_t p = openingLength;
    for (;;) {
        if (length - p < nameLength + 3)
            return std::nullopt;
        // Find a '<' directly followed by '/'; a '<' in the last byte never qualifies.
        std::uint64_t f = 0;
        for (std::uint64_t q = p;;) {
            if (length - q < 2)
                return std::nullopt;
            const void* lt = std::memchr(bytes + q, '<', length - q - 1);
            if (lt == nullptr)
                return std::nullopt;
            f = static_cast<std::uint64_t>(static_cast<const char*>(lt) - bytes);
            if (bytes[f + 1] == '/')
                break;
            q = f + 1;
        }
        if (f + nameLength + 2 >= length)
            return std::nullopt;
        if (std::memcmp(bytes + f + 2, name, nameLength) == 0 && bytes[f + nameLength + 2] == '>') {
            return TagBlock{ByteRange{0, openingLength}, ByteRange{f, nameLength + 3}, encoding};
        }
        p = f + 2;
    }
}

} // namespace tarnwick
