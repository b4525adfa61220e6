#include "batch/AttachmentFolders.h"

#include "batch/EudoraIni.h"
#include "engine/attachments/AttachmentLine.h"
#include "platform/ContainedFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Paths.h"

#include <algorithm>
#include <span>

namespace tarnwick {
namespace {

// How far above the source the Eudora folder holding it is looked for.
constexpr int kMaxLevelsAbove = 6;

bool isEudoraTop(const std::string& name) { return namesEqualFolded(name, "Eudora.ini") || namesEqualFolded(name, "Eudora Settings"); }

bool holdsEudoraTop(const FolderNames& names)
{
    return !names.foldedMatches("Eudora.ini").empty() || !names.foldedMatches("Eudora Settings").empty();
}

// The settings of Eudora.ini that name the folder Eudora saves attachments in.
constexpr std::string_view kAttachmentSettings[] = {"AutoReceiveDir", "AttachDir"};

// Opens `components` below `folder`, each by its exact name or the one name equal to it
// under case folding, never through a link; null when one is no folder there.
std::shared_ptr<const OpenFolder> openBelow(std::shared_ptr<const OpenFolder> folder, std::span<const std::string> components)
{
    for (const std::string& component : components) {
        if (!folder || folder->error() != 0 || !isSafePathComponent(component))
            return nullptr;
        const std::optional<std::string> name = folder->names()->find(component);
        if (!name)
            return nullptr;
        folder = OpenFolder::openAt(folder->descriptor(), *name, joinPath(folder->path(), *name));
    }
    return folder && folder->error() == 0 ? folder : nullptr;
}

// The folder a setting names. A relative path starts at the Eudora folder, or at the
// folder holding it after one "..". An absolute one names a Windows disk: the longest
// tail of it that is a folder in the Eudora folder, else beside it, is taken. Never the
// Eudora folder itself, nor the folder that holds it, nor anything higher.
std::shared_ptr<const OpenFolder> settingFolder(const WindowsPath& path, const std::shared_ptr<const OpenFolder>& eudora,
                                                const std::string& eudoraPath)
{
    std::shared_ptr<const OpenFolder> parent;
    const auto openParent = [&] {
        if (!parent && eudoraPath != "/")
            parent = OpenFolder::open(parentPath(eudoraPath), LinkPolicy::Follow);
        return parent;
    };
    const std::span<const std::string> components = path.components;
    std::shared_ptr<const OpenFolder> found;
    if (components.empty())
        return nullptr;
    if (!path.absolute && path.ups <= 1)
        found = openBelow(path.ups == 0 ? eudora : openParent(), components);
    for (std::size_t start = 0; path.absolute && !found && start < components.size(); ++start)
        found = openBelow(eudora, components.subspan(start));
    for (std::size_t start = 0; path.absolute && !found && start < components.size(); ++start)
        found = openBelow(openParent(), components.subspan(start));
    return found && found->path() != eudoraPath ? found : nullptr;
}

// The attachment folders Eudora.ini in the Eudora folder `eudora` names, before those
// already in `files` and without repeating them.
void addSettingFolders(const std::shared_ptr<const OpenFolder>& eudora, const std::string& eudoraPath, AttachmentFolders::Folders& files)
{
    const std::optional<std::string> name = eudora->names()->find("Eudora.ini");
    if (!name)
        return;
    ContainedLookup opened = eudora->openFile({*name});
    if (!opened.file || opened.file->size() > kMaximumEudoraIniSize)
        return;
    std::string bytes(opened.file->size(), '\0');
    const std::optional<std::size_t> got = opened.file->read(bytes.data(), bytes.size());
    if (!got)
        return;
    bytes.resize(*got);
    const EudoraIni ini = EudoraIni::parse(bytes);
    AttachmentFolders::Folders named;
    for (const std::string_view setting : kAttachmentSettings) {
        const std::optional<std::string> value = ini.value("Settings", setting);
        const std::optional<WindowsPath> path = value ? parseWindowsPath(*value) : std::nullopt;
        std::shared_ptr<const OpenFolder> folder = path ? settingFolder(*path, eudora, eudoraPath) : nullptr;
        const auto samePath = [&](const std::shared_ptr<const OpenFolder>& other) { return other->path() == folder->path(); };
        if (folder && std::none_of(named.begin(), named.end(), samePath) && std::none_of(files.begin(), files.end(), samePath))
            named.push_back(std::move(folder));
    }
    files.insert(files.begin(), named.begin(), named.end());
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
    if (level.eudoraTop)
        addSettingFolders(open, folder, level.found.files);
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
