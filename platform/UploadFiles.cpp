#include "platform/UploadFiles.h"

#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Paths.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

std::string sha256Hex(std::string_view bytes)
{
    unsigned char digest[32];
    gnutls_hash_fast(GNUTLS_DIG_SHA256, bytes.data(), bytes.size(), digest);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (unsigned char byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

std::array<std::uint8_t, 32> sha256(std::string_view bytes)
{
    std::array<std::uint8_t, 32> digest{};
    gnutls_hash_fast(GNUTLS_DIG_SHA256, bytes.data(), bytes.size(), digest.data());
    return digest;
}

std::optional<std::time_t> modificationTime(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info.st_mtime;
}

AppendOnlyFile::~AppendOnlyFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {

// Makes each missing folder on the way (0700); existing ones are left as they are.
void makeFolders(const std::string& folder)
{
    if (folder.empty() || folder == "/")
        return;
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0)
        return;
    makeFolders(parentPath(folder));
    mkdir(folder.c_str(), 0700);
}

} // namespace

std::string AppendOnlyFile::open(const std::string& path)
{
    makeFolders(parentPath(path));
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return "Could not open \"" + path + "\": " + std::strerror(errno);
    path_ = path;
    return {};
}

std::string AppendOnlyFile::append(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd_, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return "Could not write \"" + path_ + "\": " + std::strerror(errno);
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

std::string AppendOnlyFile::sync()
{
    if (fd_ >= 0 && fdatasync(fd_) != 0)
        return "Could not write \"" + path_ + "\": " + std::strerror(errno);
    return {};
}

ChunkReader::~ChunkReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ChunkReader::open(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd_ >= 0 || errno == ENOENT;
}

std::optional<std::size_t> ChunkReader::readInto(std::string& text, std::size_t limit)
{
    if (fd_ < 0)
        return 0;
    const std::size_t before = text.size();
    text.resize(before + limit);
    for (;;) {
        const ssize_t n = ::read(fd_, text.data() + before, limit);
        if (n < 0 && errno == EINTR)
            continue;
        text.resize(before + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n < 0)
            return std::nullopt;
        return static_cast<std::size_t>(n);
    }
}

std::string uploadJournalPath(const std::string& user, const std::string& host)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : joinPath(homeDirectory(), ".config");
    return joinPath(joinPath(joinPath(base, "Tarnwick"), "uploads"), sha256Hex(user + "@" + host).substr(0, 24) + ".journal");
}

bool isMaildirTree(const std::string& folder)
{
    if (entryType(joinPath(folder, "cur")) == EntryType::Directory)
        return true;
    if (entryType(folder) != EntryType::Directory)
        return false;
    // A Maildir++ tree may hold only sub-folders.
    for (const std::string& name : folderEntryNames(folder)) {
        if (name.size() > 1 && name[0] == '.' && name != ".." && entryType(joinPath(joinPath(folder, name), "cur")) == EntryType::Directory)
            return true;
    }
    return false;
}

std::string uploadStagingFolder(const std::string& account, const std::string& source)
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const std::string base = joinPath(xdg && xdg[0] == '/' ? std::string(xdg) : joinPath(homeDirectory(), ".cache"), "Tarnwick");
    return joinPath(base, "upload-" + sha256Hex(account + '\n' + source).substr(0, 24));
}

RunLock::~RunLock()
{
    if (fd_ < 0)
        return;
    ::unlink(path_.c_str()); // while held: a run that opened it before fails to lock it
    ::close(fd_);
}

int RunLock::acquire(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(parentPath(path), ignored);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    fd_ = fd;
    path_ = path;
    return 0;
}

bool makeEmptyPrivateFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error); // links are removed, not followed
    error.clear();
    std::filesystem::create_directories(path, error);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, error);
    return !error && std::filesystem::is_directory(path, error);
}

std::optional<std::string> readSmallFile(const std::string& path, std::uint64_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > limit) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

} // namespace tarnwick
