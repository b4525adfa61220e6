#include "engine/output/StatusHeaders.h"

#include <iterator>

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

void appendLine(std::string& out, std::string_view text, std::string_view terminator)
{
    out.append(text);
    out.append(terminator);
}

} // namespace

bool noteStatusHeader(std::string_view line, PresentStatusHeaders& present)
{
    if (line.empty() || ((line[0] | 0x20) != 's' && (line[0] | 0x20) != 'x'))
        return false;
    bool* const flags[] = {&present.status, &present.xStatus, &present.xMozillaStatus, &present.xPriority, &present.xKeywords};
    const std::string_view names[] = {"Status", "X-Status", "X-Mozilla-Status", "X-Priority", "X-Keywords"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
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

void appendKeywordsHeader(const MessageFacts& facts, const PresentStatusHeaders& present, std::string_view terminator,
                          std::string& out)
{
    if (present.xKeywords || facts.label < 1 || facts.label > 7)
        return;
    out.append("X-Keywords: $Label");
    out += static_cast<char>('0' + facts.label);
    out.append(terminator);
}

void appendStatusHeaders(const MessageFacts& facts, const PresentStatusHeaders& present,
                         std::string_view terminator, std::string& out)
{
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
        const unsigned flags = (facts.read ? 0x0001u : 0u) | (facts.replied ? 0x0002u : 0u)
            | (facts.draft ? 0x0800u : 0u) | (facts.forwarded || facts.redirected ? 0x1000u : 0u);
        static constexpr char kHex[] = "0123456789abcdef";
        std::string line = "X-Mozilla-Status: 0000";
        for (int digit = 0; digit < 4; ++digit)
            line[line.size() - 1 - digit] = kHex[(flags >> (4 * digit)) & 0xF];
        appendLine(out, line, terminator);
    }
    static constexpr std::string_view kPriorities[] = {
        {}, "X-Priority: 1 (Highest)", "X-Priority: 2 (High)", {}, "X-Priority: 4 (Low)", "X-Priority: 5 (Lowest)",
    };
    if (!present.xPriority && facts.priority <= 5 && !kPriorities[facts.priority].empty())
        appendLine(out, kPriorities[facts.priority], terminator);
}

} // namespace tarnwick
