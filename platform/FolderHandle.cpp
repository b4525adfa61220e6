#include "platform/FolderHandle.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnwick {
namespace {

// The errno for a name that cannot be an entry of a folder; 0 for one that can.
int nameError(const std::string& name)
{
    if (name.find('\0') != std::string::npos)
        return EINVAL;
    if (name.empty())
        return ENOENT;
    return 0;
}

// As nameError, for an entry to be made: its path, as messages and later steps use
// it, must fit PATH_MAX as with createExclusively.
int newNameError(const std::string& folder, const std::string& name)
{
    if (const int error = nameError(name); error != 0)
        return error;
    return joinPath(folder, name).size() + 1 > PATH_MAX ? ENAMETOOLONG : 0;
}

} // namespace

std::shared_ptr<const FolderHandle> FolderHandle::open(const std::string& path, int& error)
{
    error = 0;
    if (path.empty() || path.find('\0') != std::string::npos) {
        error = path.empty() ? ENOENT : EINVAL;
        return nullptr;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    return std::shared_ptr<const FolderHandle>(new FolderHandle(fd, path));
}

std::shared_ptr<const FolderHandle> FolderHandle::openFolder(const std::string& name, int& error) const
{
    error = nameError(name);
    if (error != 0)
        return nullptr;
    int fd;
    do {
        fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    return std::shared_ptr<const FolderHandle>(new FolderHandle(fd, joinPath(path_, name)));
}

FolderHandle::~FolderHandle() { ::close(fd_); }

std::string FolderHandle::pathOf(const std::string& name) const { return joinPath(path_, name); }

CreateResult FolderHandle::createFile(const std::string& name) const
{
    if (const int error = newNameError(path_, name); error != 0)
        return {error};
    int fd;
    do {
        fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return {errno};
    struct stat st {};
    const int error = ::fstat(fd, &st) != 0 ? errno : 0;
    ::close(fd);
    return {error, {st.st_dev, st.st_ino}};
}

CreateResult FolderHandle::createFolder(const std::string& name) const
{
    if (const int error = newNameError(path_, name); error != 0)
        return {error};
    if (::mkdirat(fd_, name.c_str(), 0755) != 0)
        return {errno};
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {0};
    return {0, {st.st_dev, st.st_ino}};
}

bool FolderHandle::removeFile(const std::string& name, const FileIdentity& identity) const
{
    struct stat st {};
    if (nameError(name) != 0 || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
        || FileIdentity{st.st_dev, st.st_ino} != identity)
        return false;
    return ::unlinkat(fd_, name.c_str(), 0) == 0;
}

bool FolderHandle::removeEmptyFolder(const std::string& name) const
{
    return nameError(name) == 0 && ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

EntryType FolderHandle::entryType(const std::string& name) const
{
    struct stat st {};
    if (nameError(name) != 0 || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryType::None;
    if (S_ISREG(st.st_mode))
        return EntryType::Regular;
    if (S_ISDIR(st.st_mode))
        return EntryType::Directory;
    if (S_ISLNK(st.st_mode))
        return EntryType::SymbolicLink;
    return EntryType::Other;
}

int FolderHandle::lockAsEntryOf(const FolderHandle& parent, const std::string& name) const
{
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return errno;
    struct stat held {};
    struct stat entry {};
    if (nameError(name) != 0 || ::fstat(fd_, &held) != 0 || ::fstatat(parent.fd_, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0
        || held.st_dev != entry.st_dev || held.st_ino != entry.st_ino)
        return ENOENT;
    return 0;
}

} // namespace tarnwick
