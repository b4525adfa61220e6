#include "engine/text/CharsetCandidates.h"

#include "platform/encodings/CaseFold.h"
#include "platform/Localization.h"
#include "platform/Log.h"

#include <algorithm>

namespace tarnwick {
namespace {

/// TAB, CR, LF and every printable ASCII character.
std::u16string asciiProbe()
{
    std::u16string probe = u"\t\r\n";
    for (char16_t c = 0x20; c < 0x7F; ++c)
        probe.push_back(c);
    return probe;
}

void logNotSupported(const std::string& name) { logMessage(formatMessage("'%1' is not supported", {name})); }

} // namespace

bool writesASCIIAsASCII(EncodingId encoding)
{
    static const std::u16string probe = asciiProbe();
    std::string bytes;
    if (!encodeText(probe, encoding, bytes) || bytes.size() != probe.size())
        return false;
    for (std::size_t i = 0; i < probe.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != probe[i])
            return false;
    }
    return true;
}

std::optional<EncodingId> usableCharset(const std::string& name)
{
    constexpr std::string_view kThai = "tis-620";
    constexpr std::string_view kSimplifiedChinese = "gb2312";
    PlatformEncoding encoding = encodingForIANAName(name);
    // The fallbacks stand in only for names that the lookup does not know.
    if (encoding == kPlatformEncodingInvalid) {
        if (equalsFoldedUTF8(name, kThai))
            encoding = kPlatformISOLatinThai;
        else if (equalsFoldedUTF8(name, kSimplifiedChinese))
            encoding = kPlatformEUCCN;
        else
            return std::nullopt;
    }
    if (!isEncodingAvailable(encoding))
        return std::nullopt;
    const EncodingId id = carryEncoding(encoding);
    if (!writesASCIIAsASCII(id))
        return std::nullopt;
    return id;
}

bool readsASCIIAsASCII(EncodingId encoding)
{
    static const std::string probe = [] {
        std::string bytes = "\t\r\n";
        for (char c = 0x20; c < 0x7F; ++c) {
            if (c != '\\' && c != '~')
                bytes += c;
        }
        return bytes;
    }();
    std::u16string text;
    if (!decodeAppend(probe.data(), probe.size(), encoding, text) || text.size() != probe.size())
        return false;
    return std::equal(text.begin(), text.end(), probe.begin(),
                      [](char16_t unit, char byte) { return unit == static_cast<unsigned char>(byte); });
}

std::vector<EncodingPair> buildCharsetCandidates(const std::vector<std::string>& names)
{
    std::vector<EncodingPair> pairs;
    for (const std::string& name : names) {
        if (const std::optional<EncodingId> id = usableCharset(name))
            pairs.push_back(EncodingPair{*id, name});
        else
            logNotSupported(name);
    }
    return pairs;
}

} // namespace tarnwick
