#include "platform/ContainedFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>
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

void appendUtf8(std::string& out, UChar32 c)
{
    char bytes[U8_MAX_LENGTH];
    std::int32_t length = 0;
    U8_APPEND_UNSAFE(reinterpret_cast<std::uint8_t*>(bytes), length, c);
    out.append(bytes, static_cast<std::size_t>(length));
}

} // namespace

ContainedFile::ContainedFile(int fd, std::uint64_t size, std::string path, std::string name)
    : fd_(fd), size_(size), path_(std::move(path)), name_(std::move(name))
{}

ContainedFile::~ContainedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ContainedFile::ContainedFile(ContainedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), position_(other.position_), path_(std::move(other.path_)),
      name_(std::move(other.name_)), error_(other.error_)
{}

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

std::string foldedNameKey(std::string_view name)
{
    std::string key;
    key.reserve(name.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(name.size(), INT32_MAX));
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) { // invalid bytes stand for themselves, marked so that no valid text equals them
            for (std::int32_t j = start; j < i; ++j)
                key.append(1, '\xFF').append(1, static_cast<char>(bytes[j]));
            continue;
        }
        appendUtf8(key, u_foldCase(c, U_FOLD_CASE_DEFAULT));
    }
    return key;
}

FolderNames::FolderNames(int folderFd)
{
    const int listFd = ::dup(folderFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (dir == nullptr) {
        error_ = errno;
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error_ = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::size_t at = names_.size();
        names_.emplace_back(name);
        exact_.emplace(names_.back(), at);
        folded_.emplace(foldedNameKey(name), at);
    }
    ::closedir(dir);
}

std::optional<std::string> FolderNames::find(std::string_view name) const
{
    if (contains(name))
        return std::string(name);
    const auto [first, last] = folded_.equal_range(foldedNameKey(name));
    if (first == last || std::next(first) != last)
        return std::nullopt;
    return names_[first->second];
}

std::vector<std::string> FolderNames::sortedNames() const
{
    std::vector<std::string> sorted = names_;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

std::vector<std::string> FolderNames::foldedMatches(std::string_view name) const
{
    std::vector<std::size_t> positions;
    const auto [first, last] = folded_.equal_range(foldedNameKey(name));
    for (auto it = first; it != last; ++it)
        positions.push_back(it->second);
    std::sort(positions.begin(), positions.end());
    std::vector<std::string> matches;
    for (const std::size_t at : positions)
        matches.push_back(names_[at]);
    return matches;
}

OpenFolder::OpenFolder(int fd, std::string path, int error) : fd_(fd), path_(std::move(path)), error_(error) {}

OpenFolder::~OpenFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::shared_ptr<const OpenFolder> OpenFolder::open(const std::string& path, LinkPolicy links)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (links == LinkPolicy::Refuse ? O_NOFOLLOW : 0);
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    const int error = fd < 0 ? errno : 0;
    return std::shared_ptr<const OpenFolder>(new OpenFolder(fd, path, error));
}

std::shared_ptr<const OpenFolder> OpenFolder::openAt(int parentFd, const std::string& name, std::string path)
{
    const int fd = tarnwick::openAt(parentFd, name, O_DIRECTORY);
    if (fd < 0 && (errno == ENOTDIR || errno == ELOOP || errno == ENOENT))
        return nullptr;
    return std::shared_ptr<const OpenFolder>(new OpenFolder(fd, std::move(path), fd < 0 ? errno : 0));
}

std::shared_ptr<const FolderNames> OpenFolder::namesOf(int fd) const
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return nullptr;
    const std::lock_guard lock(mutex_);
    std::shared_ptr<const FolderNames>& names = names_[{st.st_dev, st.st_ino}];
    if (!names)
        names = std::make_shared<const FolderNames>(fd);
    return names;
}

std::shared_ptr<const FolderNames> OpenFolder::names() const
{
    if (fd_ < 0)
        return std::make_shared<const FolderNames>(-1);
    return namesOf(fd_);
}

ContainedLookup OpenFolder::openFile(const std::vector<std::string>& components, const LastNameMatch* lastNameMatch) const
{
    if (fd_ < 0)
        return {std::nullopt, error_};
    if (components.empty())
        return {std::nullopt, ENOENT};
    for (const std::string& component : components) {
        if (!isSafePathComponent(component))
            return {std::nullopt, ENOENT};
    }
    FdGuard current(-1);
    int folderFd = fd_;
    std::string path = path_;
    std::string found;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const int flags = last ? O_NONBLOCK : O_DIRECTORY;
        found = components[i];
        int opened = tarnwick::openAt(folderFd, found, flags);
        int error = errno;
        if (opened < 0 && error == ENOENT) {
            // Not there exactly: the one name equal to it under case folding, from the
            // folder's index (listed once, however many lines ask).
            const std::shared_ptr<const FolderNames> names = namesOf(folderFd);
            std::optional<std::string> match = names ? names->find(components[i]) : std::nullopt;
            if (!match && last && lastNameMatch && names)
                match = (*lastNameMatch)(components[i], *names);
            if (match && *match != components[i] && isSafePathComponent(*match)) {
                found = *match;
                opened = tarnwick::openAt(folderFd, found, flags);
                error = errno;
            }
        }
        if (opened < 0)
            return {std::nullopt, error == ELOOP || error == ENOTDIR ? ENOENT : error};
        current.reset(opened);
        folderFd = current.get();
        if (path.empty() || path.back() != '/')
            path += '/';
        path += found;
    }
    struct stat st {};
    if (::fstat(current.get(), &st) != 0)
        return {std::nullopt, errno};
    if (!S_ISREG(st.st_mode))
        return {std::nullopt, ENOENT};
    // Reads block normally from here on; O_NONBLOCK only kept a FIFO from hanging the open.
    const int flags = ::fcntl(current.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(current.get(), F_SETFL, flags & ~O_NONBLOCK);
    return {ContainedFile(current.release(), static_cast<std::uint64_t>(st.st_size), std::move(path), std::move(found)), 0};
}

std::optional<ContainedFile> openContainedFile(const std::string& folder, const std::vector<std::string>& components)
{
    return OpenFolder::open(folder, LinkPolicy::Follow)->openFile(components).file;
}

} // namespace tarnwick
