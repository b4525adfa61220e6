#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnwick {
namespace {

// Release processed pages in steps of this size: large enough that the madvise calls
// cost nothing measurable, small enough that the resident set stays flat.
constexpr std::uint64_t kReleaseStep = 8u << 20;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::uint64_t pageSize()
{
    static const std::uint64_t size = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

} // namespace

MappedFile::~MappedFile() { close(); }

void MappedFile::close()
{
    if (mapped_)
        ::munmap(const_cast<char*>(data_), static_cast<std::size_t>(size_));
    mapped_ = false;
    data_ = "";
    size_ = 0;
    releasedUpTo_ = 0;
    std::string().swap(readBytes_);
}

bool MappedFile::open(const std::string& path, LinkPolicy links)
{
    close();
    error_ = 0;
    // O_NONBLOCK keeps the open of a FIFO without a writer from blocking for ever
    // (a FIFO may be given as the source, or replace a file after the folder walk).
    const int noFollow = links == LinkPolicy::Refuse ? O_NOFOLLOW : 0;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow));
    if (fd.get() < 0) {
        error_ = errno;
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error_ = errno;
        return false;
    }
    permissions_ = info.st_mode & 07777;
    // A device is no mailbox, and one like /dev/zero never ends: refuse it rather than
    // read until memory runs out.
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        error_ = ENODEV;
        return false;
    }
    // Reads block again from here on: a FIFO with a writer is read to its end, one
    // without a writer reads as empty at once.
    if (!S_ISREG(info.st_mode)) {
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) {
            error_ = errno;
            return false;
        }
    }
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        const auto length = static_cast<std::uint64_t>(info.st_size);
        void* address = ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_PRIVATE, fd.get(), 0);
        if (address != MAP_FAILED) {
            ::madvise(address, static_cast<std::size_t>(length), MADV_SEQUENTIAL);
            data_ = static_cast<const char*>(address);
            size_ = length;
            mapped_ = true;
            return true;
        }
        // Fall through: some file systems cannot map; reading gives the same bytes.
    }

    std::string bytes;
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[1 << 16];
    for (;;) {
        const ssize_t count = ::read(fd.get(), chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return false;
        }
        if (count == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
    readBytes_ = std::move(bytes);
    data_ = readBytes_.data();
    size_ = readBytes_.size();
    return true;
}

void MappedFile::releaseBefore(std::uint64_t offset) { releaseBefore(offset, releasedUpTo_); }

void MappedFile::releaseBefore(std::uint64_t offset, std::uint64_t& releasedUpTo) const
{
    if (!mapped_ || offset > size_ || offset < releasedUpTo + kReleaseStep)
        return;
    const std::uint64_t end = offset / pageSize() * pageSize();
    char* start = const_cast<char*>(data_) + releasedUpTo;
    // The mapping is private, read-only and never written, so dropping its pages loses
    // nothing: they are clean copies of the file.
    ::madvise(start, static_cast<std::size_t>(end - releasedUpTo), MADV_DONTNEED);
    releasedUpTo = end;
}

std::uint64_t MappedFile::pageStartFrom(std::uint64_t offset) { return (offset + pageSize() - 1) / pageSize() * pageSize(); }

void MappedFile::populate(std::uint64_t from, std::uint64_t to) const
{
#ifdef MADV_POPULATE_READ
    if (!mapped_ || from >= to || to > size_)
        return;
    const std::uint64_t first = from / pageSize() * pageSize();
    ::madvise(const_cast<char*>(data_) + first, static_cast<std::size_t>(to - first), MADV_POPULATE_READ);
#else
    (void)from;
    (void)to;
#endif
}

void MappedFile::dropPages(std::uint64_t from, std::uint64_t to)
{
    if (!mapped_ || to > size_)
        return;
    const std::uint64_t first = pageStartFrom(from);
    const std::uint64_t last = to / pageSize() * pageSize();
    if (first < last)
        ::madvise(const_cast<char*>(data_) + first, static_cast<std::size_t>(last - first), MADV_DONTNEED);
}

} // namespace tarnwick
