#include "engine/CharsetCandidates.h"

#include "engine/CaseFold.h"
#include "platform/Localization.h"
#include "platform/Log.h"

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

/// Whether the encoding writes ASCII text as the same bytes. Separator lines, header
/// names and line terminators must stay ASCII, or the output is no mbox: UTF-16,
/// UTF-32, UTF-7 ('+'), HZ ('~') and EBCDIC fail this.
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

void logNotSupported(const std::string& name)
{
    logMessage(formatMessage("'%1' is not supported", {name}));
}

} // namespace

std::vector<EncodingPair> buildCharsetCandidates(const std::vector<std::string>& names)
{
    std::vector<EncodingPair> pairs;
    constexpr std::string_view kThai = "tis-620";
    constexpr std::string_view kSimplifiedChinese = "gb2312";
    for (const std::string& name : names) {
        PlatformEncoding encoding = encodingForIANAName(name);
        // The fallbacks stand in only for names that the lookup does not know.
        if (encoding == kPlatformEncodingInvalid) {
            if (equalsFoldedUTF8(name, kThai)) {
                encoding = kPlatformISOLatinThai;
            } else if (equalsFoldedUTF8(name, kSimplifiedChinese)) {
                encoding = kPlatformEUCCN;
            } else {
                logNotSupported(name);
                continue;
            }
        }
        if (!isEncodingAvailable(encoding)) {
            logNotSupported(name);
            continue;
        }
        const EncodingId id = carryEncoding(encoding);
        if (!writesASCIIAsASCII(id)) {
            logNotSupported(name);
            continue;
        }
        pairs.push_back(EncodingPair{id, name});
    }
    return pairs;
}

} // namespace tarnwick
