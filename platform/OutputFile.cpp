#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {
namespace {

// Pieces per gathered write (well below IOV_MAX).
constexpr std::size_t kMaxPieces = 256;

// Writes every byte of the vectors, retrying interrupted and short writes.
bool writeVectors(int fd, iovec* next, std::size_t count, int& error)
{
    while (count > 0) {
        const ssize_t written = ::writev(fd, next, static_cast<int>(count));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (written == 0) { // no progress on a non-empty write: never loop on it
            error = EIO;
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

} // namespace

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::open(const std::string& path)
{
    close();
    error_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool OutputFile::write(std::initializer_list<std::string_view> pieces)
{
    return write(pieces.begin(), pieces.size());
}

bool OutputFile::write(const std::string_view* pieces, std::size_t count)
{
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    iovec vectors[kMaxPieces];
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (pieces[i].empty())
            continue;
        if (used == kMaxPieces) {
            if (!writeVectors(fd_, vectors, used, error_))
                return false;
            used = 0;
        }
        vectors[used].iov_base = const_cast<char*>(pieces[i].data());
        vectors[used].iov_len = pieces[i].size();
        ++used;
    }
    return writeVectors(fd_, vectors, used, error_);
}

bool OutputFile::close()
{
    if (fd_ < 0)
        return true;
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR) {
        error_ = errno;
        return false;
    }
    return true;
}

std::string OutputFile::errorText() const
{
    char buffer[256];
    // GNU strerror_r returns the text (possibly not in `buffer`); thread-safe unlike strerror.
    return ::strerror_r(error_, buffer, sizeof buffer);
}

} // namespace tarnwick
