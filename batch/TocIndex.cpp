#include "batch/TocIndex.h"

#include "engine/mailbox/SeparatorDate.h"

#include <algorithm>
#include <string>

namespace tarnwick {
namespace {

constexpr std::size_t kHeaderSize = 104;
constexpr std::size_t kCountOffset = 102;
constexpr std::size_t kEntrySize = 218;
// A record's label: the 16 bits after the window position (four 16-bit values, all
// ones when none was saved) at 178.
constexpr std::size_t kLabelOffset = 186;

std::uint16_t readU16(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t readU32(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(readU16(bytes, at)) | static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 16;
}

// A line starts at `at`, or the input ends there: at either end of the input, after LF,
// or after a CR that no LF follows.
bool lineStartAt(std::string_view mailbox, std::uint64_t at)
{
    if (at == 0 || at == mailbox.size())
        return true;
    if (at > mailbox.size())
        return false;
    const char before = mailbox[at - 1];
    return before == '\n' || (before == '\r' && (at == mailbox.size() || mailbox[at] != '\n'));
}

// A separator line starts at `at`: "From " at the start of the input or after a CR or LF.
bool separatorAt(std::string_view mailbox, std::uint64_t at)
{
    if (at >= mailbox.size() || mailbox.size() - at < 5 || mailbox.compare(at, 5, "From ") != 0)
        return false;
    return at == 0 || mailbox[at - 1] == '\n' || mailbox[at - 1] == '\r';
}

// Whether [from, to) holds, at a line start after `from`, a line that Eudora writes to
// start a message: "From ???@??? " and a date the separator date reading accepts. The
// line is copied before its date is read (so that the date reading never touches the
// mapped input); a longer line is no separator line.
bool holdsEudoraSeparator(std::string_view mailbox, std::uint64_t from, std::uint64_t to)
{
    static constexpr std::string_view kEudoraSeparator = "From ???@??? ";
    const std::string_view range = mailbox.substr(0, static_cast<std::size_t>(to));
    for (std::size_t at = static_cast<std::size_t>(from) + 1; (at = range.find(kEudoraSeparator, at)) != std::string_view::npos; ++at) {
        if (mailbox[at - 1] != '\n' && mailbox[at - 1] != '\r')
            continue;
        char line[96];
        std::size_t length = 0;
        while (at + length < range.size() && length < sizeof line && range[at + length] != '\n' && range[at + length] != '\r') {
            line[length] = range[at + length];
            ++length;
        }
        if (length < sizeof line && hasSeparatorDate(std::string_view(line, length)))
            return true;
    }
    return false;
}

std::string entryProblem(std::size_t index, const char* what) { return "entry " + std::to_string(index + 1) + " " + what; }

} // namespace

MessageFacts factsOf(const TocEntry& entry)
{
    MessageFacts facts;
    const std::uint16_t status = entry.status;
    facts.read = status >= 1 && status <= 9;
    facts.replied = status == 2;
    facts.forwarded = status == 3;
    facts.redirected = status == 4;
    facts.draft = status == 6 || status == 7;
    facts.sent = status == 8;
    facts.priority = entry.priority >= 1 && entry.priority <= 5 ? static_cast<std::uint8_t>(entry.priority) : 0;
    facts.received = entry.received;
    facts.label = entry.label >= 1 && entry.label <= 7 ? static_cast<std::uint8_t>(entry.label) : 0;
    return facts;
}

TocReading readToc(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize)
        return {std::nullopt, "shorter than its header"};
    if (bytes.size() > kMaximumTocSize)
        return {std::nullopt, "too large"};
    const std::size_t stored = readU16(bytes, kCountOffset);
    const std::size_t records = (bytes.size() - kHeaderSize) / kEntrySize;
    // The count is kept modulo 65,536: the file holds the records, when their number
    // agrees with it.
    if ((bytes.size() - kHeaderSize) % kEntrySize != 0 || records % 65536 != stored)
        return {std::nullopt, "size does not match its " + std::to_string(stored) + " entries"};

    std::vector<TocEntry> entries;
    entries.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t at = kHeaderSize + i * kEntrySize;
        entries.push_back({readU32(bytes, at), readU32(bytes, at + 4), readU16(bytes, at + 12), readU16(bytes, at + 16),
                           readU32(bytes, at + 46), readU16(bytes, at + kLabelOffset)});
    }
    return {std::move(entries), {}};
}

std::string tocLayoutProblem(const std::vector<TocEntry>& entries, std::uint64_t mailboxSize)
{
    if (entries.empty())
        return "no entries";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint64_t end = std::uint64_t{entries[i].offset} + entries[i].length; // 64-bit: no wrap
        if (entries[i].length == 0)
            return entryProblem(i, "is empty");
        if (end > mailboxSize)
            return entryProblem(i, "ends past the mailbox");
    }
    // In input order, each must end before the next begins.
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&entries](std::size_t a, std::size_t b) {
        return entries[a].offset != entries[b].offset ? entries[a].offset < entries[b].offset : a < b;
    });
    for (std::size_t k = 1; k < order.size(); ++k) {
        const TocEntry& before = entries[order[k - 1]];
        if (std::uint64_t{before.offset} + before.length > entries[order[k]].offset)
            return entryProblem(std::max(order[k - 1], order[k]), "overlaps another");
    }
    return {};
}

SeparatorMisfit findSeparatorMisfit(const std::vector<TocEntry>& entries, std::string_view mailbox)
{
    using Kind = SeparatorMisfit::Kind;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint64_t end = std::uint64_t{entries[i].offset} + entries[i].length;
        if (!separatorAt(mailbox, entries[i].offset))
            return {true, i, Kind::Start};
        if (!lineStartAt(mailbox, end))
            return {true, i, Kind::End};
        if (holdsEudoraSeparator(mailbox, entries[i].offset, end))
            return {true, i, Kind::Inside};
    }
    return {};
}

std::string separatorProblem(const SeparatorMisfit& misfit)
{
    switch (misfit.kind) {
    case SeparatorMisfit::Kind::Start:
        return entryProblem(misfit.entry, "does not start at a \"From \" line");
    case SeparatorMisfit::Kind::End:
        return entryProblem(misfit.entry, "does not end at the end of a line");
    case SeparatorMisfit::Kind::Inside:
        return entryProblem(misfit.entry, "holds the separator line of another message");
    }
    return {};
}

MessageIndex indexedMessages(const std::vector<TocEntry>& entries)
{
    MessageIndex messages;
    messages.reserve(entries.size());
    for (const TocEntry& entry : entries)
        messages.push_back({entry.offset, entry.length, factsOf(entry)});
    return messages;
}

TocFit fitToc(const std::vector<TocEntry>& entries, std::string_view mailbox)
{
    if (std::string problem = tocLayoutProblem(entries, mailbox.size()); !problem.empty())
        return {std::nullopt, std::move(problem)};
    if (const SeparatorMisfit misfit = findSeparatorMisfit(entries, mailbox); misfit.found)
        return {std::nullopt, separatorProblem(misfit)};
    return {indexedMessages(entries), {}};
}

std::optional<std::string> tocPathFor(const std::string& mailboxPath)
{
    const std::size_t slash = mailboxPath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (mailboxPath.size() < nameStart + 5)
        return std::nullopt;
    const std::size_t dot = mailboxPath.size() - 4;
    const std::string_view extension = std::string_view(mailboxPath).substr(dot);
    if (extension == ".mbx")
        return mailboxPath.substr(0, dot) + ".toc";
    if (extension == ".MBX")
        return mailboxPath.substr(0, dot) + ".TOC";
    if ((extension[0] == '.') && (extension[1] | 0x20) == 'm' && (extension[2] | 0x20) == 'b' && (extension[3] | 0x20) == 'x')
        return mailboxPath.substr(0, dot) + ".toc";
    return std::nullopt;
}

} // namespace tarnwick
