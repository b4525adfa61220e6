#include "platform/encodings/TextEncoding.h"

#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/EncodingTable.h"
#include "platform/Localization.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace tarnwick {
namespace {

using encoding::Codec;
using encoding::Entry;

constexpr PlatformEncoding kPlatformUTF8 = 0x08000100;

const Entry* usableEntry(EncodingId id)
{
    const Entry* entry = encoding::entryForId(id);
    return entry && encoding::isAvailable(*entry) ? entry : nullptr;
}

bool isUtf16(const Entry& entry) { return entry.codec == Codec::Icu && std::strncmp(entry.converter, "UTF-16", 6) == 0; }

// The codeset of the user's LC_CTYPE, read without touching the process's locale.
std::string localeCodeset()
{
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
        std::string codeset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
        return codeset;
    }
    // The named locale is not installed: take the codeset from its name ("de_DE.ISO-8859-1@euro").
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        std::string name(value);
        const std::size_t dot = name.find('.');
        if (dot == std::string::npos)
            return {};
        return name.substr(dot + 1, name.find('@', dot) - dot - 1);
    }
    return {};
}

} // namespace

PlatformEncoding systemEncoding()
{
    const std::string codeset = localeCodeset();
    // The C locale's ASCII means "no locale chosen"; UTF-8 reads the same ASCII text and more.
    if (codeset.empty() || codeset == "ANSI_X3.4-1968")
        return kPlatformUTF8;
    const Entry* entry = encoding::entryForName(codeset);
    return entry && encoding::isAvailable(*entry) ? entry->platform : kPlatformUTF8;
}

EncodingId carryEncoding(PlatformEncoding encoding)
{
    if (encoding == kPlatformEncodingInvalid)
        return encoding;
    if (const Entry* entry = encoding::entryForPlatform(encoding); entry && entry->id < 0x80000000u)
        return entry->id;
    return 0x80000000u | encoding;
}

PlatformEncoding encodingForIANAName(std::string_view name)
{
    const Entry* entry = encoding::entryForName(name);
    return entry ? entry->platform : kPlatformEncodingInvalid;
}

bool isEncodingAvailable(PlatformEncoding encoding)
{
    const Entry* entry = encoding::entryForPlatform(encoding);
    return entry && encoding::isAvailable(*entry);
}

bool decodeAppend(const char* bytes, std::size_t length, EncodingId encoding, std::u16string& out)
{
    const Entry* entry = usableEntry(encoding);
    if (!entry)
        return false;
    if (length == 0)
        return true;
    switch (entry->codec) {
    case Codec::Utf8:
        return encoding::utf8DecodeAppend(bytes, length, out);
    case Codec::SingleByte:
    case Codec::SingleByteHigh:
        return encoding::singleByteDecodeAppend(*entry, bytes, length, out);
    case Codec::Icu:
    case Codec::Iso2022Jp:
        return encoding::icuDecodeAppend(*entry, bytes, length, out);
    case Codec::ShiftJis:
        return encoding::shiftJisDecodeAppend(*entry, bytes, length, out);
    case Codec::MacJapanese:
        return encoding::macJapaneseDecodeAppend(*entry, bytes, length, out);
    }
    return false;
}

bool canEncode(std::u16string_view text, EncodingId encoding)
{
    const Entry* entry = usableEntry(encoding);
    if (!entry)
        return false;
    switch (entry->codec) {
    case Codec::Utf8:
        return !encoding::hasLoneSurrogate(text);
    case Codec::SingleByte:
    case Codec::SingleByteHigh:
        return encoding::singleByteCanEncode(*entry, text);
    case Codec::Icu:
        return isUtf16(*entry) ? !encoding::hasLoneSurrogate(text) : encoding::icuCanEncode(*entry, text);
    case Codec::Iso2022Jp:
    case Codec::ShiftJis:
        return encoding::icuCanEncode(*entry, text);
    case Codec::MacJapanese:
        return encoding::macJapaneseCanEncode(*entry, text);
    }
    return false;
}

bool encodeText(std::u16string_view text, EncodingId encoding, std::string& out)
{
    out.clear();
    return encodeAppend(text, encoding, out);
}

bool encodeAppend(std::u16string_view text, EncodingId encoding, std::string& out)
{
    const Entry* entry = usableEntry(encoding);
    if (!entry)
        return false;
    if (text.empty())
        return true;
    switch (entry->codec) {
    case Codec::Utf8:
        return encoding::utf8EncodeAppend(text, out);
    case Codec::SingleByte:
    case Codec::SingleByteHigh:
        return encoding::singleByteEncodeAppend(*entry, text, out);
    case Codec::Icu:
    case Codec::ShiftJis:
        return encoding::icuEncodeAppend(*entry, text, out);
    case Codec::Iso2022Jp:
        return encoding::iso2022JpEncodeAppend(*entry, text, out);
    case Codec::MacJapanese:
        return encoding::macJapaneseEncodeAppend(*entry, text, out);
    }
    return false;
}

std::vector<EncodingId> availableEncodings()
{
    std::vector<EncodingId> ids;
    for (const Entry& entry : encoding::entries()) {
        if (encoding::isAvailable(entry))
            ids.push_back(entry.id);
    }
    return ids;
}

std::optional<std::string> encodingCharsetName(EncodingId encoding)
{
    const Entry* entry = encoding::entryForId(encoding);
    if (!entry || entry->aliases == nullptr)
        return std::nullopt;
    const std::string_view aliases(entry->aliases);
    return std::string(aliases.substr(0, aliases.find('|')));
}

std::optional<std::string> encodingDisplayName(EncodingId encoding)
{
    const Entry* entry = encoding::entryForId(encoding);
    if (!entry)
        return std::nullopt;
    return translate(entry->name);
}

} // namespace tarnwick
