#include "engine/output/StatusHeaders.h"

#include "engine/header/EncodedWords.h"

#include <algorithm>

namespace tarnwick {
namespace {

// "Name:" at the start of the line, in any ASCII letter case.
bool hasName(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((line[i] | 0x20) != (name[i] | 0x20))
            return false;
    }
    return true;
}

// The room Thunderbird keeps in a message's X-Mozilla-Keys line for its tags.
constexpr std::size_t kMozillaKeysRoom = 80;

void appendLine(std::string& out, std::string_view text, std::string_view terminator)
{
    out.append(text);
    out.append(terminator);
}

// "X-Eudora-Label: NAME". A name that is all printable ASCII and fits the line is
// written as it is; any other, or one a reader could take for an encoded-word, as
// encoded-words, the first on the field's line.
void appendLabelName(std::string_view name, std::string_view terminator, std::string& out)
{
    static constexpr std::string_view kField = "X-Eudora-Label: ";
    static constexpr std::size_t kLineLength = 78;
    const bool plain = name.size() <= kLineLength - kField.size() && name.find("=?") == std::string_view::npos
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (plain) {
        out.append(kField);
        appendLine(out, name, terminator);
        return;
    }
    std::u16string text;
    std::u16string line(kField.begin(), kField.end());
    std::vector<std::size_t> foldPoints;
    if (!decodeAppend(name.data(), name.size(), kEncodingUTF8, text)
        || !appendEncodedWords(text, HeaderCharset{}, line, foldPoints, kLineLength - kField.size()))
        return;
    std::u16string folded;
    appendFolded(line, foldPoints, std::u16string(terminator.begin(), terminator.end()), folded);
    out.append(folded.begin(), folded.end()); // all ASCII
    out.append(terminator);
}

} // namespace

bool noteStatusHeader(std::string_view line, ExtraStatusHeaders extra, PresentStatusHeaders& present)
{
    if (line.empty() || ((line[0] | 0x20) != 's' && (line[0] | 0x20) != 'x'))
        return false;
    bool* const flags[] = {&present.status,    &present.xStatus,      &present.xMozillaStatus,  &present.xPriority,
                           &present.xKeywords, &present.xEudoraLabel, &present.xMozillaStatus2, &present.xMozillaKeys};
    const std::string_view names[]
        = {"Status", "X-Status", "X-Mozilla-Status", "X-Priority", "X-Keywords", "X-Eudora-Label", "X-Mozilla-Status2", "X-Mozilla-Keys"};
    // Without the keyword headers, a message's own ones are plain header lines.
    const std::size_t count = extra == ExtraStatusHeaders::None ? 4 : extra == ExtraStatusHeaders::Labels ? 6 : 8;
    for (std::size_t i = 0; i < count; ++i) {
        if (!hasName(line, names[i]))
            continue;
        const std::string_view value = line.substr(names[i].size() + 1);
        if (value.find_first_not_of(" \t") == std::string_view::npos)
            return true;
        *flags[i] = true;
        return false;
    }
    return false;
}

void appendStatusHeaders(const MessageFacts& facts, const PresentStatusHeaders& present, ExtraStatusHeaders extra,
                         std::string_view terminator, std::string& out, std::span<const std::string> labelNames)
{
    if (!facts.marksKnown)
        return; // no marks to say: the message is written as without an index
    if (!present.status)
        appendLine(out, facts.read ? "Status: RO" : "Status: O", terminator);
    if (!present.xStatus && (facts.replied || facts.draft)) {
        std::string line = "X-Status: ";
        if (facts.replied)
            line += 'A';
        if (facts.draft)
            line += 'T';
        appendLine(out, line, terminator);
    }
    if (!present.xMozillaStatus) {
        // Thunderbird has one mark for forwarded and redirected, and marks a message
        // waiting to be sent as queued.
        const unsigned flags = (facts.read ? 0x0001u : 0u) | (facts.replied ? 0x0002u : 0u) | (facts.draft ? 0x0800u : 0u)
            | (facts.forwarded || facts.redirected ? 0x1000u : 0u);
        static constexpr char kHex[] = "0123456789abcdef";
        std::string line = "X-Mozilla-Status: 0000";
        for (int digit = 0; digit < 4; ++digit)
            line[line.size() - 1 - digit] = kHex[(flags >> (4 * digit)) & 0xF];
        appendLine(out, line, terminator);
    }
    const bool labelled = facts.label >= 1 && facts.label <= 7;
    const char labelDigit = static_cast<char>('0' + facts.label);
    if (extra == ExtraStatusHeaders::Thunderbird) {
        // Eudora's marks all fit the first header; the second holds none of them.
        if (!present.xMozillaStatus2)
            appendLine(out, "X-Mozilla-Status2: 00000000", terminator);
        if (!present.xMozillaKeys) {
            // Padded as Thunderbird pads it, so that tags set later fit in place.
            std::string line = "X-Mozilla-Keys: ";
            if (labelled)
                (line += "$label") += labelDigit;
            line.resize(std::max<std::size_t>(line.size(), 16 + kMozillaKeysRoom), ' ');
            appendLine(out, line, terminator);
        }
    }
    static constexpr std::string_view kPriorities[] = {
        {}, "X-Priority: 1 (Highest)", "X-Priority: 2 (High)", {}, "X-Priority: 4 (Low)", "X-Priority: 5 (Lowest)",
    };
    if (!present.xPriority && facts.priority <= 5 && !kPriorities[facts.priority].empty())
        appendLine(out, kPriorities[facts.priority], terminator);
    if (extra == ExtraStatusHeaders::None)
        return;
    std::string keywords;
    // IMAP has no forwarded flag: Dovecot keeps it as this keyword.
    if (extra == ExtraStatusHeaders::Thunderbird && (facts.forwarded || facts.redirected))
        keywords += " $Forwarded";
    if (labelled)
        (keywords += " $Label") += labelDigit;
    if (!present.xKeywords && !keywords.empty())
        appendLine(out, "X-Keywords:" + keywords, terminator);
    if (labelled && !present.xEudoraLabel && facts.label <= labelNames.size() && !labelNames[facts.label - 1].empty())
        appendLabelName(labelNames[facts.label - 1], terminator, out);
}

} // namespace tarnwick
