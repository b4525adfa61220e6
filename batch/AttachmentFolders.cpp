#include "batch/AttachmentFolders.h"

#include "engine/attachments/AttachmentLine.h"
#include "platform/ContainedFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Paths.h"

namespace tarnwick {
namespace {

// How far above the source the Eudora folder holding it is looked for.
constexpr int kMaxLevelsAbove = 6;

bool isEudoraTop(const std::string& name) { return namesEqualFolded(name, "Eudora.ini") || namesEqualFolded(name, "Eudora Settings"); }

bool holdsEudoraTop(const FolderNames& names)
{
    return !names.foldedMatches("Eudora.ini").empty() || !names.foldedMatches("Eudora Settings").empty();
}

// Whether `folder` is `ancestor` or below it.
bool isWithin(const std::string& folder, const std::string& ancestor)
{
    if (ancestor == "/")
        return true;
    return folder == ancestor || (folder.starts_with(ancestor) && folder[ancestor.size()] == '/');
}

} // namespace

AttachmentFolderSearch::AttachmentFolderSearch(const std::string& source, std::vector<std::string> userFolders)
    : userFolders_(std::move(userFolders))
{
    const std::string start = entryType(source) == EntryType::Directory ? source : parentPath(source);
    const std::optional<std::string> top = realFolderPath(start.empty() ? std::string(".") : start);
    if (!top)
        return;
    ceiling_ = *top;
    // Above the source, only the Eudora folder that holds it (and what lies between).
    std::string folder = *top;
    for (int above = 1; above <= kMaxLevelsAbove && folder != "/"; ++above) {
        folder = parentPath(folder);
        if (folder.empty())
            break;
        const std::shared_ptr<const OpenFolder> open = OpenFolder::open(folder, LinkPolicy::Follow);
        if (holdsEudoraTop(*open->names())) {
            ceiling_ = folder;
            break;
        }
    }
    for (const std::string& user : userFolders_) {
        const std::shared_ptr<const OpenFolder> open = OpenFolder::open(user, LinkPolicy::Follow);
        userFiles_.push_back(open);
        userEmbedded_.push_back(open);
    }
}

const AttachmentFolderSearch::Level& AttachmentFolderSearch::level(const std::string& folder)
{
    if (const auto it = levels_.find(folder); it != levels_.end())
        return it->second;
    Level level;
    const std::shared_ptr<const OpenFolder> open = OpenFolder::open(folder, LinkPolicy::Follow);
    const std::shared_ptr<const FolderNames> names = open->names();
    for (const std::string& name : names->sortedNames()) {
        level.eudoraTop |= isEudoraTop(name);
        const std::optional<AttachmentKind> kind = attachmentFolderKind(name);
        if (!kind)
            continue;
        // Opened from the folder listed, never following a link.
        std::shared_ptr<const OpenFolder> found = OpenFolder::openAt(open->descriptor(), name, joinPath(folder, name));
        if (found)
            (*kind == AttachmentKind::File ? level.found.files : level.found.embedded).push_back(std::move(found));
    }
    return levels_.emplace(folder, std::move(level)).first->second;
}

AttachmentFolders AttachmentFolderSearch::foldersFor(const std::string& mailboxPath)
{
    AttachmentFolders folders;
    const std::string parent = parentPath(mailboxPath);
    const std::optional<std::string> start = realFolderPath(parent.empty() ? std::string(".") : parent);
    if (start && !ceiling_.empty() && isWithin(*start, ceiling_)) {
        // Folders off the path of this mailbox are done with (the walk is depth-first).
        for (auto it = levels_.begin(); it != levels_.end();)
            it = isWithin(*start, it->first) ? std::next(it) : levels_.erase(it);
        for (std::string folder = *start;; folder = parentPath(folder)) {
            const Level& found = level(folder);
            folders = found.found;
            if (found.eudoraTop || !folders.empty() || folder == ceiling_ || folder == "/" || folder.empty())
                break;
        }
    }
    folders.files.insert(folders.files.end(), userFiles_.begin(), userFiles_.end());
    folders.embedded.insert(folders.embedded.end(), userEmbedded_.begin(), userEmbedded_.end());
    return folders;
}

} // namespace tarnwick
