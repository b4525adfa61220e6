#include "batch/AttachmentFolders.h"

#include "engine/AttachmentLine.h"
#include "platform/ContainedFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Paths.h"

namespace tarnwick {
namespace {

// Enough for "Eudora Folder/Mail Folder/a/b/c/mailbox"; far enough never to reach
// folders that merely happen to be called "attach" above a user's mail.
constexpr int kMaxLevels = 6;

bool isEudoraTop(const std::string& name)
{
    return namesEqualFolded(name, "Eudora.ini") || namesEqualFolded(name, "Eudora Settings");
}

} // namespace

AttachmentFolders attachmentFoldersFor(const std::string& mailboxPath, const std::vector<std::string>& userFolders)
{
    AttachmentFolders folders;
    std::string parent = parentPath(mailboxPath);
    std::optional<std::string> folder = realFolderPath(parent.empty() ? std::string(".") : parent);
    for (int level = 0; folder && level < kMaxLevels; ++level) {
        bool top = false;
        for (const std::string& name : folderEntryNames(*folder)) {
            top |= isEudoraTop(name);
            const std::optional<AttachmentKind> kind = attachmentFolderKind(name);
            const std::string path = joinPath(*folder, name);
            if (!kind || entryType(path) != EntryType::Directory)
                continue;
            (*kind == AttachmentKind::File ? folders.files : folders.embedded).push_back(path);
        }
        if (top || !folders.empty() || *folder == "/")
            break;
        folder = parentPath(*folder);
    }
    for (const std::string& user : userFolders) {
        folders.files.push_back(user);
        folders.embedded.push_back(user);
    }
    return folders;
}

} // namespace tarnwick
