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

bool scanTag(const char* bytes, std::uint64_t length, const char* name, ByteRange* openingRange,
             ByteRange* closingRange, EncodingId* blockEncoding)
{
    if (bytes == nullptr || name == nullptr || length == 0 || bytes[0] != '<')
        return false;
    const std::uint64_t nameLength = std::strlen(name);
    // At least one byte must follow "<NAME".
    if (length < nameLength + 2)
        return false;
    if (std::memcmp(bytes + 1, name, nameLength) != 0)
        return false;

    std::uint64_t openingLength = 0;
    EncodingId encoding = kEncodingNone;
    const char afterName = bytes[nameLength + 1];
    if (afterName == '>') {
        openingLength = nameLength + 2;
    } else if (afterName == ' ') {
        if (length < nameLength + 3)
            return false;
        // The parameter runs untrimmed up to the first '>', line breaks included.
        const std::uint64_t parameterStart = nameLength + 2;
        const void* found = std::memchr(bytes + parameterStart, '>', length - parameterStart);
        if (found == nullptr)
            return false;
        const std::uint64_t gt = static_cast<std::uint64_t>(static_cast<const char*>(found) - bytes);
        openingLength = gt + 1;
        encoding = encodingForParameter(bytes + parameterStart, gt - parameterStart);
    } else {
        return false;
    }

    // The first "</NAME>" after the opening tag closes the block; there is no nesting.
    std::uint64_t p = openingLength;
    for (;;) {
        if (length - p < nameLength + 3)
            return false;
        // Find a '<' directly followed by '/'; a '<' in the last byte never qualifies.
        std::uint64_t f = 0;
        for (std::uint64_t q = p;;) {
            if (length - q < 2)
                return false;
            const void* lt = std::memchr(bytes + q, '<', length - q - 1);
            if (lt == nullptr)
                return false;
            f = static_cast<std::uint64_t>(static_cast<const char*>(lt) - bytes);
            if (bytes[f + 1] == '/')
                break;
            q = f + 1;
        }
        if (f + nameLength + 2 >= length)
            return false;
        if (std::memcmp(bytes + f + 2, name, nameLength) == 0 && bytes[f + nameLength + 2] == '>') {
            if (openingRange)
                *openingRange = ByteRange{0, openingLength};
            if (closingRange)
                *closingRange = ByteRange{f, nameLength + 3};
            if (blockEncoding)
                *blockEncoding = encoding;
            return true;
        }
        p = f + 2;
    }
}

} // namespace tarnwick
