#include "batch/EudoraTree.h"

#include "batch/EudoraIni.h"
#include "batch/RealName.h"
#include "platform/FileSystem.h"
#include "platform/ContainedFile.h"
#include "platform/MappedFile.h"
#include "platform/Paths.h"

#include <optional>

namespace tarnwick {
namespace {

constexpr std::string_view kMacMailFolder = "Mail Folder";

char foldedAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldedAscii(a[i]) != foldedAscii(b[i]))
            return false;
    }
    return true;
}

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix)
{
    return name.size() > suffix.size() && equalsIgnoringCase(name.substr(name.size() - suffix.size()), suffix);
}

bool isAttachmentFolder(std::string_view name)
{
    for (std::string_view candidate : {"attach", "Embedded", "Attachments Folder", "Parts Folder"}) {
        if (equalsIgnoringCase(name, candidate))
            return true;
    }
    return false;
}

// Files that are Eudora's records wherever they are: indexes, folder maps and the
// AppleDouble files that carry Mac resource forks.
bool isRecordFile(std::string_view name)
{
    return name.substr(0, 2) == "._" || endsWithIgnoringCase(name, ".toc") || equalsIgnoringCase(name, kDescMapFileName);
}

// Eudora's settings and logs, inside an Eudora folder.
bool isSettingsOrLog(std::string_view name)
{
    return equalsIgnoringCase(name, "Eudora.ini") || endsWithIgnoringCase(name, ".log") || name == "Eudora Log"
        || name.substr(0, 15) == "Eudora Settings";
}

} // namespace

EudoraTree::EudoraTree(std::string sourceRoot, bool readRecords, EncodingId nameEncoding)
    : root_(std::move(sourceRoot)), readRecords_(readRecords), nameEncoding_(nameEncoding)
{
    Folder root;
    if (readRecords_)
        describeFolder(root, root_);
    folders_.push_back(std::move(root));
}

std::string EudoraTree::folderPath(std::size_t depth) const
{
    std::string path = root_;
    for (std::size_t i = 1; i <= depth; ++i)
        path = joinPath(path, folders_[i].name);
    return path;
}

void EudoraTree::describeFolder(Folder& folder, const std::string& path) const
{
    // Eudora's own names in any letter case, as copied off Windows ("DESCMAP.PCE").
    const std::shared_ptr<const FolderNames> listed = OpenFolder::open(path, LinkPolicy::Follow)->names();
    const FolderNames& names = *listed;
    const auto is = [&](std::string_view name, EntryType type) {
        const std::optional<std::string> found = names.find(name);
        return found && entryType(joinPath(path, *found)) == type;
    };
    if (!folder.insideEudora) {
        const bool windows = is("Eudora.ini", EntryType::Regular) || is(kDescMapFileName, EntryType::Regular);
        // A Mac Eudora folder copied without its settings files still has its Mail Folder.
        const bool mac = is(kMacMailFolder, EntryType::Directory);
        folder.eudoraRoot = windows || mac;
        folder.insideEudora = folder.eudoraRoot;
    }
    const std::optional<std::string> mapName = names.find(kDescMapFileName);
    if (!mapName)
        return;
    const std::string mapPath = joinPath(path, *mapName);
    if (entryType(mapPath) != EntryType::Regular || fileSize(mapPath).value_or(kMaximumDescMapSize + 1) > kMaximumDescMapSize)
        return;
    MappedFile file;
    if (file.open(mapPath) && file.size() <= kMaximumDescMapSize)
        folder.map = DescMap::parse(file.bytes());
}

std::string EudoraTree::realName(const DescMap& map, const std::string& fileName) const
{
    const DescMapEntry* entry = map.find(fileName);
    if (!entry)
        return fileName;
    std::optional<std::string> safe = safeNameComponent(entry->displayName);
    if (!safe) {
        // A name that is not UTF-8 is read in the Windows code page, as Eudora.ini's text.
        const std::optional<std::string> decoded = windowsText(entry->displayName, nameEncoding_);
        if (decoded && *decoded != entry->displayName)
            safe = safeNameComponent(*decoded);
    }
    return safe.value_or(fileName);
}

EudoraTree::Folder EudoraTree::folderBelow(const Folder& parent, const std::string& name, const std::string& path) const
{
    Folder folder;
    folder.name = name;
    folder.outputName = name;
    if (readRecords_) {
        folder.insideEudora = parent.insideEudora;
        folder.attachments = parent.attachments || (parent.eudoraRoot && isAttachmentFolder(name));
        folder.mailFolder = parent.mailFolder || (parent.eudoraRoot && equalsIgnoringCase(name, kMacMailFolder));
        if (parent.eudoraRoot && equalsIgnoringCase(name, kMacMailFolder))
            folder.outputName.clear();
        else
            folder.outputName = realName(parent.map, name);
        // A mailbox folder no folder map names is known by its name without ".fol".
        if (parent.insideEudora && folder.outputName == name && endsWithIgnoringCase(name, ".fol"))
            folder.outputName = name.substr(0, name.size() - 4);
        if (!folder.attachments)
            describeFolder(folder, path);
    }
    folder.displayName = folder.outputName;
    return folder;
}

FilePlan EudoraTree::plan(std::string_view relativeName)
{
    // Keep the folders this file shares with the previous one; describe the rest.
    std::vector<std::string> components;
    std::size_t start = 0;
    for (std::size_t slash; (slash = relativeName.find('/', start)) != std::string_view::npos; start = slash + 1)
        components.emplace_back(relativeName.substr(start, slash - start));
    const std::string fileName(relativeName.substr(start));

    std::size_t shared = 0;
    while (shared < components.size() && shared + 1 < folders_.size() && folders_[shared + 1].name == components[shared])
        ++shared;
    folders_.resize(shared + 1);
    for (std::size_t i = shared; i < components.size(); ++i)
        folders_.push_back(folderBelow(folders_.back(), components[i], joinPath(folderPath(i), components[i])));

    const Folder& parent = folders_.back();
    FilePlan plan;
    for (std::size_t i = 1; i < folders_.size(); ++i) {
        if (folders_[i].outputName.empty())
            continue;
        plan.outputPath.push_back(folders_[i].outputName);
        plan.displayName += folders_[i].displayName;
        plan.displayName += '/';
    }
    if (!readRecords_) {
        plan.outputPath.push_back(fileName);
        plan.displayName += fileName;
        return plan;
    }

    const DescMapEntry* listed = parent.map.find(fileName);
    const std::string real = realName(parent.map, fileName);
    plan.outputPath.push_back(listed ? withExtensionOf(real, fileName) : fileName);
    plan.displayName += real;
    if (isRecordFile(fileName))
        plan.role = FileRole::EudoraFile;
    else if (parent.attachments)
        plan.role = FileRole::AttachmentFile;
    else if (parent.insideEudora && isSettingsOrLog(fileName))
        plan.role = FileRole::EudoraFile;
    plan.mailboxPlace = !parent.insideEudora || parent.mailFolder || endsWithIgnoringCase(fileName, ".mbx");
    return plan;
}

bool EudoraTree::holdsAttachments(std::string_view relativeName)
{
    // A file's plan describes every folder on its path, this one included.
    return plan(std::string(relativeName) + "/-").role == FileRole::AttachmentFile;
}

} // namespace tarnwick
