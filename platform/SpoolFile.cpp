#include "platform/SpoolFile.h"

#include "platform/OutputCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tarnwick {
namespace {

// O_TMPFILE where the file system has it; otherwise a named file removed at once. In
// the folder open at `folderFd` (its path `directory` only for the names), or by path.
int createUnnamed(const std::string& directory, int folderFd)
{
    const int fd = outputCalls().openAt(folderFd >= 0 ? folderFd : AT_FDCWD, folderFd >= 0 ? "." : directory.c_str(),
                                        O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    if (folderFd < 0) {
        std::string pattern = directory + "/.tarnwick-spool-XXXXXX";
        const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (named >= 0)
            ::unlink(pattern.c_str());
        return named;
    }
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        const std::string name = ".tarnwick-spool-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const int named = ::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (named >= 0) {
            ::unlinkat(folderFd, name.c_str(), 0);
            return named;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

SpoolFile::~SpoolFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SpoolFile::append(const std::string& directory, std::string_view bytes, int folderFd)
{
    if (fd_ < 0) {
        fd_ = createUnnamed(directory.empty() ? "." : directory, folderFd);
        if (fd_ < 0) {
            error_ = errno;
            return false;
        }
    }
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(size_));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : EIO;
            return false;
        }
        size_ += static_cast<std::uint64_t>(written);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string_view SpoolFile::read(std::uint64_t offset, std::size_t length, std::string& buffer)
{
    buffer.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::pread(fd_, buffer.data() + done, length - done, static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error_ = count < 0 ? errno : EIO;
            return {};
        }
        done += static_cast<std::size_t>(count);
    }
    return buffer;
}

void SpoolFile::clear()
{
    if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0)
        error_ = errno;
    size_ = 0;
}

std::string SpoolFile::errorText() const
{
    char buffer[256];
    return ::strerror_r(error_, buffer, sizeof buffer);
}

} // namespace tarnwick
