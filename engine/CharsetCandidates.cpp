#include "engine/CharsetCandidates.h"

#include "engine/CaseFold.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <optional>

namespace tarnwick {
namespace {

// The process-wide list. It is built by the one worker thread and discarded only
// while no worker runs (before the next worker starts), so starting the thread orders
// the discard before the build and no lock is needed.
std::optional<std::vector<EncodingPair>> s_encodingPairs;

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
    logMessage(formatText("'%@' is not supported", {name}));
}

std::vector<EncodingPair> buildCandidates()
{
    std::vector<EncodingPair> pairs;
    const std::optional<std::vector<std::string>> names =
        SettingsStore::standard().stringArrayForKey(keys::kCharsetNames);
    if (!names)
        return pairs;
    static const std::string kThai = "tis-620";
    static const std::string kSimplifiedChinese = "gb2312";
    for (const std::string& name : *names) {
        PlatformEncoding encoding = encodingForIANAName(name);
        // The fallbacks stand in only for names that the lookup does not know.
        if (encoding == kPlatformEncodingInvalid) {
            if (ZQ_isEqualToStringCaseInsensitive(name, &kThai)) {
                encoding = kPlatformISOLatinThai;
            } else if (ZQ_isEqualToStringCaseInsensitive(name, &kSimplifiedChinese)) {
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

} // namespace

const std::vector<EncodingPair>& charsetCandidates()
{
    if (!s_encodingPairs)
        s_encodingPairs = buildCandidates();
    return *s_encodingPairs;
}

void discardCharsetCandidates()
{
    s_encodingPairs.reset();
}

bool ZQ_isEqualToStringCaseInsensitive(std::string_view receiver, const std::string* other)
{
    if (other == nullptr)
        return false;
    return equalsFoldedUTF8(receiver, *other);
}

} // namespace tarnwick
