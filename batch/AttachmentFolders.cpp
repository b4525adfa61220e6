#include "batch/AttachmentFolders.h"

#include "batch/EudoraIni.h"
#include "engine/attachments/AttachmentLine.h"
#include "platform/ContainedFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <algorithm>
#include <span>

namespace tarnwick {
namespace {

// How far above the source the Eudora folder holding it is looked for.
constexpr int kMaxLevelsAbove = 6;

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
// tail of it that is a folder in the Eudora folder, else beside it, is taken. The caller
// refuses the Eudora folder itself; the folder that holds it, or anything higher, is
// never found.
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
    return found;
}

// Eudora.ini in the folder `eudora`; null when there is none that can be read.
std::shared_ptr<const EudoraIni> readEudoraIni(const OpenFolder& eudora)
{
    const std::optional<std::string> name = eudora.names()->find("Eudora.ini");
    if (!name)
        return nullptr;
    ContainedLookup opened = eudora.openFile({*name});
    if (!opened.file || opened.file->size() > kMaximumEudoraIniSize)
        return nullptr;
    std::string bytes(opened.file->size(), '\0');
    const std::optional<std::size_t> got = opened.file->read(bytes.data(), bytes.size());
    if (!got)
        return nullptr;
    bytes.resize(*got);
    return std::make_shared<const EudoraIni>(EudoraIni::parse(bytes));
}

// Whether `folder` is `ancestor` or below it.
bool isWithin(const std::string& folder, const std::string& ancestor)
{
    if (ancestor == "/")
        return true;
    return folder == ancestor || (folder.starts_with(ancestor) && folder[ancestor.size()] == '/');
}

} // namespace

AttachmentFolderSearch::AttachmentFolderSearch(const std::string& source, std::vector<std::string> userFolders, EncodingId windowsEncoding)
    : userFolders_(std::move(userFolders)), windowsEncoding_(windowsEncoding)
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

// The attachment folders the settings of `level`'s Eudora.ini name, before those already
// in `files` and without repeating them. One named but not there is logged, once.
void AttachmentFolderSearch::addSettingFolders(const Level& level, AttachmentFolders::Folders& files)
{
    if (!level.ini)
        return;
    const std::string& eudoraPath = level.open->path();
    AttachmentFolders::Folders named;
    for (const std::string_view setting : kAttachmentSettings) {
        const std::optional<std::string> bytes = level.ini->value("Settings", setting);
        const std::optional<std::string> value = bytes ? windowsText(*bytes, windowsEncoding_) : std::nullopt;
        const std::optional<WindowsPath> path = value ? parseWindowsPath(*value) : std::nullopt;
        std::shared_ptr<const OpenFolder> folder = path ? settingFolder(*path, level.open, eudoraPath) : nullptr;
        if (!folder && bytes && !bytes->empty() && missingReported_.insert(eudoraPath + '\n' + *bytes).second)
            logMessage(formatMessage("The attachment folder '%1' named in '%2' was not found",
                                     {value.value_or(*bytes), joinPath(eudoraPath, "Eudora.ini")}));
        if (folder && folder->path() == eudoraPath)
            continue; // the Eudora folder itself is no attachment folder
        const auto samePath = [&](const std::shared_ptr<const OpenFolder>& other) { return other->path() == folder->path(); };
        if (folder && std::none_of(named.begin(), named.end(), samePath) && std::none_of(files.begin(), files.end(), samePath))
            named.push_back(std::move(folder));
    }
    files.insert(files.begin(), named.begin(), named.end());
}

AttachmentFolderSearch::Level& AttachmentFolderSearch::level(const std::string& folder)
{
    if (const auto it = levels_.find(folder); it != levels_.end())
        return it->second;
    Level level;
    level.open = OpenFolder::open(folder, LinkPolicy::Follow);
    level.eudoraTop = holdsEudoraTop(*level.open->names());
    if (level.eudoraTop)
        level.ini = readEudoraIni(*level.open);
    return levels_.emplace(folder, std::move(level)).first->second;
}

const AttachmentFolders& AttachmentFolderSearch::attachmentsOf(const std::string& folder, Level& level)
{
    if (level.found)
        return *level.found;
    AttachmentFolders found;
    for (const std::string& name : level.open->names()->sortedNames()) {
        const std::optional<AttachmentKind> kind = attachmentFolderKind(name);
        if (!kind)
            continue;
        // Opened from the folder listed, never following a link.
        std::shared_ptr<const OpenFolder> open = OpenFolder::openAt(level.open->descriptor(), name, joinPath(folder, name));
        if (open)
            (*kind == AttachmentKind::File ? found.files : found.embedded).push_back(std::move(open));
    }
    addSettingFolders(level, found.files);
    level.open.reset(); // listed: held no longer than before the settings were read
    return *(level.found = std::move(found));
}

// The real folder of the mailbox, when it is within the search; the folders kept that
// are off its path are let go (the walk is depth-first).
std::optional<std::string> AttachmentFolderSearch::startFolder(const std::string& mailboxPath)
{
    const std::string parent = parentPath(mailboxPath);
    const std::optional<std::string> start = realFolderPath(parent.empty() ? std::string(".") : parent);
    if (!start || ceiling_.empty() || !isWithin(*start, ceiling_))
        return std::nullopt;
    for (auto it = levels_.begin(); it != levels_.end();)
        it = isWithin(*start, it->first) ? std::next(it) : levels_.erase(it);
    return start;
}

AttachmentFolders AttachmentFolderSearch::foldersFor(const std::string& mailboxPath)
{
    AttachmentFolders folders;
    if (const std::optional<std::string> start = startFolder(mailboxPath)) {
        for (std::string folder = *start;; folder = parentPath(folder)) {
            Level& found = level(folder);
            folders = attachmentsOf(folder, found);
            if (found.eudoraTop || !folders.empty() || folder == ceiling_ || folder == "/" || folder.empty())
                break;
        }
    }
    folders.files.insert(folders.files.end(), userFiles_.begin(), userFiles_.end());
    folders.embedded.insert(folders.embedded.end(), userEmbedded_.begin(), userEmbedded_.end());
    return folders;
}

std::vector<std::string> AttachmentFolderSearch::labelNamesFor(const std::string& mailboxPath)
{
    const std::optional<std::string> start = startFolder(mailboxPath);
    for (std::string folder = start.value_or(std::string()); !folder.empty(); folder = parentPath(folder)) {
        const Level& found = level(folder);
        if (found.eudoraTop)
            return found.ini ? eudoraLabelNames(*found.ini, windowsEncoding_) : std::vector<std::string>();
        if (folder == ceiling_ || folder == "/")
            break;
    }
    return {};
}

} // namespace tarnwick
