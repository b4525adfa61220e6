#include "batch/TocLookup.h"

#include "batch/MacToc.h"
#include "batch/TocIndex.h"
#include "platform/FileSystem.h"
#include "platform/ContainedFile.h"
#include "platform/Paths.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MappedFile.h"
#include "platform/MappedReadGuard.h"

namespace tarnwick {
namespace {

void logUnused(const std::string& tocPath, const std::string& reason) { logMessage(formatMessage("'%1' not used: %2", {tocPath, reason})); }

// Why `entries` do not fit the mailbox's bytes (tocLayoutProblem, then the separator
// checks, guarded against a file truncated meanwhile), or "".
std::string misfit(const std::vector<TocEntry>& entries, const MappedFile& mailbox)
{
    if (std::string problem = tocLayoutProblem(entries, mailbox.size()); !problem.empty())
        return problem;
    SeparatorMisfit found;
    const GuardedRun run = guardMappedReads(mailbox.bytes(), [&] {
        found = findSeparatorMisfit(entries, mailbox.bytes());
        return true;
    });
    if (run.faulted)
        return "mailbox could not be read";
    return found.found ? separatorProblem(found) : std::string();
}

// A Mac mailbox's index, from the AppleDouble file beside it: of its TOCF resources that
// fit the mailbox, the one that covers most of it (Eudora may keep an older one too).
// Silent when there is none to read; one log line when none fits.
MessageIndex macIndexFor(const std::string& mailboxPath)
{
    const std::string path = appleDoublePathFor(mailboxPath);
    if (entryType(path) != EntryType::Regular || fileSize(path).value_or(kMaximumTocSize + 1) > kMaximumTocSize)
        return {};
    MappedFile file;
    MappedFile mailbox;
    if (!file.open(path) || !mailbox.open(mailboxPath) || mailbox.size() == 0)
        return {};
    const std::vector<MacToc> tocs = readMacTocs(file.bytes());
    const MacToc* best = nullptr;
    std::uint64_t bestCovered = 0;
    std::string problem;
    for (const MacToc& toc : tocs) {
        if (const std::string wrong = misfit(toc.entries, mailbox); !wrong.empty()) {
            problem = problem.empty() ? wrong : problem;
            continue;
        }
        std::uint64_t covered = 0;
        for (const TocEntry& entry : toc.entries)
            covered += entry.length;
        if (!best || covered > bestCovered) {
            best = &toc;
            bestCovered = covered;
        }
    }
    if (!best) {
        if (!problem.empty())
            logUnused(path, problem);
        return {};
    }
    MessageIndex messages = indexedMessages(best->entries);
    for (IndexedMessage& message : messages)
        message.facts.marksKnown = false;
    return messages;
}

} // namespace

std::optional<std::string> FolderNameLookup::find(const std::string& folder, const std::string& name)
{
    for (auto it = listed_.begin(); it != listed_.end();) {
        const std::string& kept = it->first;
        const bool onPath = folder == kept || (folder.starts_with(kept) && folder.size() > kept.size() && folder[kept.size()] == '/');
        it = onPath ? std::next(it) : listed_.erase(it);
    }
    std::shared_ptr<const OpenFolder>& listed = listed_[folder];
    if (!listed)
        listed = OpenFolder::open(folder.empty() ? "." : folder, LinkPolicy::Follow);
    return listed->names()->find(name);
}

MessageIndex messageIndexFor(const std::string& mailboxPath)
{
    FolderNameLookup once;
    return messageIndexFor(mailboxPath, once);
}

MessageIndex messageIndexFor(const std::string& mailboxPath, FolderNameLookup& names)
{
    if (!tocPathFor(mailboxPath))
        return macIndexFor(mailboxPath);
    // "HOLIDA~1.toc" beside "HOLIDA~1.MBX", "IN.TOC" beside "In.mbx": any letter case.
    std::optional<std::string> tocPath = tocPathFor(mailboxPath);
    if (tocPath && entryType(*tocPath) == EntryType::None) {
        const std::string folder = parentPath(*tocPath);
        if (const std::optional<std::string> found = names.find(folder, fileName(*tocPath)))
            tocPath = joinPath(folder, *found);
    }
    // An empty mailbox has nothing to bound (and Eudora keeps an index for it too).
    if (!tocPath || entryType(*tocPath) == EntryType::None || fileSize(mailboxPath).value_or(0) == 0)
        return {};
    if (entryType(*tocPath) != EntryType::Regular) {
        logUnused(*tocPath, "not a regular file");
        return {};
    }
    if (fileSize(*tocPath).value_or(0) > kMaximumTocSize) {
        logUnused(*tocPath, "too large");
        return {};
    }
    MappedFile toc;
    MappedFile mailbox;
    if (!toc.open(*tocPath) || !mailbox.open(mailboxPath)) {
        logUnused(*tocPath, "could not be read");
        return {};
    }
    const TocReading reading = readToc(toc.bytes());
    if (!reading.entries) {
        logUnused(*tocPath, reading.problem);
        return {};
    }
    const std::vector<TocEntry>& entries = *reading.entries;
    if (const std::string problem = tocLayoutProblem(entries, mailbox.size()); !problem.empty()) {
        logUnused(*tocPath, problem);
        return {};
    }
    // The mailbox is mapped: a file truncated meanwhile must not end the process.
    SeparatorMisfit misfit;
    const GuardedRun run = guardMappedReads(mailbox.bytes(), [&] {
        misfit = findSeparatorMisfit(entries, mailbox.bytes());
        return true;
    });
    if (run.faulted) {
        logUnused(*tocPath, "mailbox could not be read");
        return {};
    }
    if (misfit.found) {
        logUnused(*tocPath, separatorProblem(misfit));
        return {};
    }
    return indexedMessages(entries);
}

std::uint64_t removedMessageCount(const std::string& mailboxPath, const MessageIndex& index)
{
    MappedFile mailbox;
    if (index.empty() || !mailbox.open(mailboxPath))
        return 0;
    std::uint64_t count = 0;
    const GuardedRun run = guardMappedReads(mailbox.bytes(), [&] {
        count = unindexedMessageCount(mailbox.bytes(), index);
        return true;
    });
    return run.faulted ? 0 : count;
}

} // namespace tarnwick
