#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {
namespace {

EntryType typeFromMode(mode_t mode)
{
    if (S_ISREG(mode))
        return EntryType::Regular;
    if (S_ISDIR(mode))
        return EntryType::Directory;
    if (S_ISLNK(mode))
        return EntryType::SymbolicLink;
    return EntryType::Other;
}

EntryType typeFromDirent(unsigned char type)
{
    switch (type) {
    case DT_REG:
        return EntryType::Regular;
    case DT_DIR:
        return EntryType::Directory;
    case DT_LNK:
        return EntryType::SymbolicLink;
    case DT_UNKNOWN:
        return EntryType::None;
    default:
        return EntryType::Other;
    }
}

// The one place that opens a file for exclusive creation, so that tests can make
// it fail for real (read-only folder, missing folder, long names).
int openExclusive(const char* path)
{
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

EntryType targetType(const std::string& path) { return targetStatus(path).type; }

TargetStatus targetStatus(const std::string& path)
{
    struct stat st {};
    if (path.empty())
        return {EntryType::None, ENOENT};
    if (::stat(path.c_str(), &st) != 0)
        return {EntryType::None, errno};
    return {typeFromMode(st.st_mode), 0};
}

EntryType entryType(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0)
        return EntryType::None;
    return typeFromMode(st.st_mode);
}

std::optional<std::uint64_t> fileSize(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool removeFile(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

bool removeFile(const std::string& path, const FileIdentity& identity)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || FileIdentity{st.st_dev, st.st_ino} != identity)
        return false;
    return ::unlink(path.c_str()) == 0;
}

namespace {

// The error a path gets before the system sees it: a NUL would cut it short, and an
// empty or overlong one cannot name a file.
int unusablePathError(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return EINVAL;
    if (path.empty())
        return ENOENT;
    if (path.size() + 1 > PATH_MAX)
        return ENAMETOOLONG;
    return 0;
}

} // namespace

CreateResult createExclusively(const std::string& path)
{
    if (const int error = unusablePathError(path))
        return {error};
    const int fd = openExclusive(path.c_str());
    if (fd < 0)
        return {errno};
    struct stat st {};
    const int error = ::fstat(fd, &st) != 0 ? errno : 0;
    ::close(fd);
    return {error, {st.st_dev, st.st_ino}};
}

CreateResult createFolder(const std::string& path)
{
    if (const int error = unusablePathError(path))
        return {error};
    return {::mkdir(path.c_str(), 0755) == 0 ? 0 : errno};
}

DirectoryWalker::DirectoryWalker(const std::string& root)
{
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failAt({}, errno);
        return;
    }
    if (DIR* dir = ::fdopendir(fd)) {
        levels_.push_back({dir, 0});
    } else {
        const int error = errno;
        ::close(fd);
        failAt({}, error);
    }
}

void DirectoryWalker::failAt(std::string folder, int error)
{
    error_ = error;
    failedFolder_ = std::move(folder);
    while (!levels_.empty())
        closeLevel();
}

DirectoryWalker::~DirectoryWalker()
{
    while (!levels_.empty())
        closeLevel();
}

void DirectoryWalker::passOverUnreadable(std::function<bool(const std::string&)> passOver) { passOver_ = std::move(passOver); }

// A folder below the root that cannot be opened or listed: passed over when the
// caller said so, else the end of the walk.
void DirectoryWalker::failFolder(const std::string& folder, int error)
{
    if (passOver_ && passOver_(folder))
        unreadable_.push_back({folder, error});
    else
        failAt(folder, error);
}

void DirectoryWalker::skipSubtree(dev_t device, ino_t inode) { skipped_.emplace_back(device, inode); }

void DirectoryWalker::closeLevel()
{
    ::closedir(static_cast<DIR*>(levels_.back().dir));
    levels_.pop_back();
}

void DirectoryWalker::descendIntoCurrent()
{
    DIR* parent = static_cast<DIR*>(levels_.back().dir);
    const char* name = relativeName_.c_str() + levels_.back().nameLength;
    // O_NOFOLLOW: a folder replaced by a link since it was listed is not entered.
    const int fd = ::openat(::dirfd(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (const int error = errno; error != ENOENT) // ENOENT: vanished since it was listed
            failFolder(relativeName_, error);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        failFolder(relativeName_, error);
        return;
    }
    for (const auto& [device, inode] : skipped_) {
        if (st.st_dev == device && st.st_ino == inode) {
            ::close(fd);
            return;
        }
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        failFolder(relativeName_, error);
        return;
    }
    levels_.push_back({dir, relativeName_.size() + 1});
}

bool DirectoryWalker::next()
{
    if (pendingDescend_) {
        pendingDescend_ = false;
        descendIntoCurrent();
    }
    if (error_ != 0)
        return false;
    while (!levels_.empty()) {
        Level& level = levels_.back();
        DIR* dir = static_cast<DIR*>(level.dir);
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (!entry) {
            if (const int error = errno; error != 0) {
                relativeName_.resize(level.nameLength > 0 ? level.nameLength - 1 : 0);
                if (level.nameLength > 0 && passOver_ && passOver_(relativeName_)) {
                    unreadable_.push_back({relativeName_, error});
                    closeLevel();
                    continue;
                }
                failAt(relativeName_, error);
                break;
            }
            closeLevel();
            continue;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        relativeName_.resize(level.nameLength);
        if (level.nameLength > 0)
            relativeName_.back() = '/';
        relativeName_.append(name);
        inode_ = entry->d_ino;
        type_ = typeFromDirent(entry->d_type);
        if (type_ == EntryType::None) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int error = errno;
                if (error == ENOENT)
                    continue; // vanished since it was listed
                relativeName_.resize(level.nameLength > 0 ? level.nameLength - 1 : 0);
                failAt(relativeName_, error);
                break;
            }
            type_ = typeFromMode(st.st_mode);
            inode_ = st.st_ino;
        }
        pendingDescend_ = type_ == EntryType::Directory;
        return true;
    }
    type_ = EntryType::None;
    relativeName_.clear();
    return false;
}

} // namespace tarnwick
