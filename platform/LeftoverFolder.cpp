#include "platform/LeftoverFolder.h"

#include "platform/FolderHandle.h"
#include "platform/FolderListing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnwick {
namespace {

int emptyFolder(const FolderHandle& folder, dev_t device, int levels);

// Removes the sub-folder `name` of `parent` with what it holds; 0 or the first errno.
int removeSubFolder(const FolderHandle& parent, const std::string& name, dev_t device, int levels)
{
    if (levels <= 0)
        return ENOTEMPTY;
    int error = 0;
    const std::shared_ptr<const FolderHandle> folder = parent.openFolder(name, error);
    if (!folder)
        return error;
    struct stat st {};
    if (::fstat(folder->descriptor(), &st) != 0)
        return errno;
    if (st.st_dev != device)
        return EXDEV; // a file system mounted here is not ours to empty
    error = emptyFolder(*folder, device, levels - 1);
    if (error == 0 && ::unlinkat(parent.descriptor(), name.c_str(), AT_REMOVEDIR) != 0)
        error = errno;
    return error;
}

// Removes every entry of `folder`, sub-folders with what they hold; 0 or the first errno.
int emptyFolder(const FolderHandle& folder, dev_t device, int levels)
{
    int first = 0;
    for (const std::string& name : folderEntryNames(folder)) {
        int error = 0;
        if (::unlinkat(folder.descriptor(), name.c_str(), 0) != 0 && errno != ENOENT)
            error = errno == EISDIR ? removeSubFolder(folder, name, device, levels) : errno;
        if (first == 0)
            first = error;
    }
    return first;
}

} // namespace

LeftoverOutcome removeLeftoverFolder(const FolderHandle& parent, const std::string& name, int& error)
{
    const std::shared_ptr<const FolderHandle> folder = parent.openFolder(name, error);
    if (!folder)
        return LeftoverOutcome::Kept;
    error = folder->lockAsEntryOf(parent, name);
    if (error == EWOULDBLOCK)
        return LeftoverOutcome::Held;
    struct stat st {};
    if (error == 0 && ::fstat(folder->descriptor(), &st) != 0)
        error = errno;
    if (error == 0)
        error = emptyFolder(*folder, st.st_dev, kLeftoverFolderLevels);
    if (error == 0 && ::unlinkat(parent.descriptor(), name.c_str(), AT_REMOVEDIR) != 0)
        error = errno;
    return error == 0 ? LeftoverOutcome::Removed : LeftoverOutcome::Kept;
}

} // namespace tarnwick
