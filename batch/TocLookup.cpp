#include "batch/TocLookup.h"

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

void logUnused(const std::string& tocPath, const std::string& reason)
{
    logMessage(formatMessage("'%1' not used: %2", {tocPath, reason}));
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
