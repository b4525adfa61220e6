#include "platform/ContainedFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <utility>

namespace tarnwick {
namespace {

int openAt(int folderFd, const std::string& name, int flags)
{
    int fd;
    do {
        fd = ::openat(folderFd, name.c_str(), flags | O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The one entry of the folder whose name equals `name` under case folding; none when
// there is none or more than one (a guess between two could take the wrong file).
std::optional<std::string> foldedMatch(int folderFd, const std::string& name)
{
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return std::nullopt;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return std::nullopt;
    }
    ::rewinddir(dir);
    std::optional<std::string> match;
    bool ambiguous = false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == ".." || !namesEqualFolded(entryName, name))
            continue;
        if (match)
            ambiguous = true;
        match = std::string(entryName);
    }
    ::closedir(dir);
    if (ambiguous)
        return std::nullopt;
    return match;
}

// Opens one component below `folderFd`: exactly, else by folded name. Sets `found`
// to the name as it is on disk.
int openComponent(int folderFd, const std::string& component, bool last, std::string& found)
{
    const int flags = last ? O_NONBLOCK : O_DIRECTORY;
    found = component;
    int fd = openAt(folderFd, component, flags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const std::optional<std::string> match = foldedMatch(folderFd, component);
    if (!match)
        return -1;
    found = *match;
    return openAt(folderFd, found, flags);
}

} // namespace

ContainedFile::ContainedFile(int fd, std::uint64_t size, std::string path, std::string name)
    : fd_(fd), size_(size), path_(std::move(path)), name_(std::move(name))
{
}

ContainedFile::~ContainedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ContainedFile::ContainedFile(ContainedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), position_(other.position_), path_(std::move(other.path_)),
      name_(std::move(other.name_)), error_(other.error_)
{
}

ContainedFile& ContainedFile::operator=(ContainedFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        position_ = other.position_;
        path_ = std::move(other.path_);
        name_ = std::move(other.name_);
        error_ = other.error_;
    }
    return *this;
}

std::optional<std::size_t> ContainedFile::read(char* buffer, std::size_t length)
{
    std::size_t total = 0;
    while (total < length && position_ < size_) {
        const std::uint64_t left = size_ - position_;
        const std::size_t want = left < length - total ? static_cast<std::size_t>(left) : length - total;
        const ssize_t got = ::read(fd_, buffer + total, want);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return std::nullopt;
        }
        if (got == 0) { // the file shrank since it was opened
            error_ = EIO;
            return std::nullopt;
        }
        total += static_cast<std::size_t>(got);
        position_ += static_cast<std::uint64_t>(got);
    }
    return total;
}

std::string ContainedFile::leadingBytes(std::size_t length) const
{
    std::string bytes(length, '\0');
    ssize_t got;
    do {
        got = ::pread(fd_, bytes.data(), length, 0);
    } while (got < 0 && errno == EINTR);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

bool isSafePathComponent(std::string_view component)
{
    return !component.empty() && component != "." && component != ".." && component.find('/') == std::string_view::npos
        && component.find('\0') == std::string_view::npos;
}

bool namesEqualFolded(std::string_view a, std::string_view b)
{
    const auto* x = reinterpret_cast<const std::uint8_t*>(a.data());
    const auto* y = reinterpret_cast<const std::uint8_t*>(b.data());
    const auto xLength = static_cast<std::int32_t>(a.size());
    const auto yLength = static_cast<std::int32_t>(b.size());
    if (a.size() != static_cast<std::size_t>(xLength) || b.size() != static_cast<std::size_t>(yLength))
        return false;
    std::int32_t i = 0;
    std::int32_t j = 0;
    while (i < xLength && j < yLength) {
        const std::int32_t iStart = i;
        const std::int32_t jStart = j;
        UChar32 c = 0;
        UChar32 d = 0;
        U8_NEXT(x, i, xLength, c);
        U8_NEXT(y, j, yLength, d);
        if (c < 0 || d < 0) { // an invalid sequence equals only the same bytes
            if (c >= 0 || d >= 0 || i - iStart != j - jStart || a.substr(iStart, i - iStart) != b.substr(jStart, j - jStart))
                return false;
            continue;
        }
        if (u_foldCase(c, U_FOLD_CASE_DEFAULT) != u_foldCase(d, U_FOLD_CASE_DEFAULT))
            return false;
    }
    return i == xLength && j == yLength;
}

std::optional<ContainedFile> openContainedFile(const std::string& folder, const std::vector<std::string>& components)
{
    if (components.empty())
        return std::nullopt;
    for (const std::string& component : components) {
        if (!isSafePathComponent(component))
            return std::nullopt;
    }
    int fd;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    FdGuard current(fd);
    if (current.get() < 0)
        return std::nullopt;
    std::string path = folder;
    std::string found;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const int next = openComponent(current.get(), components[i], last, found);
        if (next < 0)
            return std::nullopt;
        current.reset(next);
        if (path.empty() || path.back() != '/')
            path += '/';
        path += found;
    }
    struct stat st {};
    if (::fstat(current.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // Reads block normally from here on; O_NONBLOCK only kept a FIFO from hanging the open.
    const int flags = ::fcntl(current.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(current.get(), F_SETFL, flags & ~O_NONBLOCK);
    return ContainedFile(current.release(), static_cast<std::uint64_t>(st.st_size), std::move(path), std::move(found));
}

} // namespace tarnwick
