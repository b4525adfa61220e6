#include "batch/TocIndex.h"

#include <string>

namespace tarnwick {
namespace {

constexpr std::size_t kHeaderSize = 104;
constexpr std::size_t kCountOffset = 102;
constexpr std::size_t kEntrySize = 218;

std::uint16_t readU16(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at])
                                      | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t readU32(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(readU16(bytes, at)) | static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 16;
}

// A separator line starts at `at`: "From " at the start of the input or after a CR or LF.
bool separatorAt(std::string_view mailbox, std::uint64_t at)
{
    if (at >= mailbox.size() || mailbox.size() - at < 5 || mailbox.compare(at, 5, "From ") != 0)
        return false;
    return at == 0 || mailbox[at - 1] == '\n' || mailbox[at - 1] == '\r';
}

IndexedMessage indexedMessage(const TocEntry& entry)
{
    IndexedMessage message;
    message.offset = entry.offset;
    message.length = entry.length;
    // 1 read, 2 replied, 3 forwarded, 4 redirected, 5 read, 6 unsendable, 7 queued,
    // 8 sent, 9 not applicable: all but 0 are messages the user has seen or written.
    message.read = entry.status >= 1 && entry.status <= 9;
    message.replied = entry.status == 2;
    message.forwarded = entry.status == 3;
    message.priority = entry.priority >= 1 && entry.priority <= 5 ? static_cast<std::uint8_t>(entry.priority) : 0;
    return message;
}

std::string entryProblem(std::size_t index, const char* what)
{
    return "entry " + std::to_string(index + 1) + " " + what;
}

} // namespace

TocReading readToc(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize)
        return {std::nullopt, "shorter than its header"};
    if (bytes.size() > kMaximumTocSize)
        return {std::nullopt, "too large"};
    const std::size_t count = readU16(bytes, kCountOffset);
    if (bytes.size() != kHeaderSize + count * kEntrySize)
        return {std::nullopt, "size does not match its " + std::to_string(count) + " entries"};

    std::vector<TocEntry> entries;
    entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kHeaderSize + i * kEntrySize;
        entries.push_back({readU32(bytes, at), readU32(bytes, at + 4), readU16(bytes, at + 12), readU16(bytes, at + 16)});
    }
    return {std::move(entries), {}};
}

std::string tocLayoutProblem(const std::vector<TocEntry>& entries, std::uint64_t mailboxSize)
{
    if (entries.empty())
        return "no entries";
    std::uint64_t previousEnd = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint64_t start = entries[i].offset;
        const std::uint64_t end = start + entries[i].length; // 64-bit: no wrap from two 32-bit values
        if (entries[i].length == 0)
            return entryProblem(i, "is empty");
        if (start < previousEnd)
            return entryProblem(i, "overlaps or precedes the one before");
        if (end > mailboxSize)
            return entryProblem(i, "ends past the mailbox");
        previousEnd = end;
    }
    return {};
}

SeparatorMisfit findSeparatorMisfit(const std::vector<TocEntry>& entries, std::string_view mailbox)
{
    if (!separatorAt(mailbox, 0))
        return {true, 0, false};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint64_t end = std::uint64_t {entries[i].offset} + entries[i].length;
        if (!separatorAt(mailbox, entries[i].offset))
            return {true, i, false};
        if (end != mailbox.size() && !separatorAt(mailbox, end))
            return {true, i, true};
    }
    return {};
}

std::string separatorProblem(const SeparatorMisfit& misfit)
{
    if (!misfit.atEnd && misfit.entry == 0)
        return "entry 1 or the mailbox does not start at a \"From \" line";
    return entryProblem(misfit.entry, misfit.atEnd ? "does not end before a \"From \" line" : "does not start at a \"From \" line");
}

MessageIndex indexedMessages(const std::vector<TocEntry>& entries)
{
    MessageIndex messages;
    messages.reserve(entries.size());
    for (const TocEntry& entry : entries)
        messages.push_back(indexedMessage(entry));
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
