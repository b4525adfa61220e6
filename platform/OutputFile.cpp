#include "platform/OutputFile.h"

#include "platform/OutputCalls.h"
#include "platform/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

namespace tarnwick {
namespace {

// Pieces per gathered write (well below IOV_MAX).
constexpr std::size_t kMaxPieces = 256;
const std::string kCurrentFolder = ".";
// Names tried before giving up when every one is taken (practically never).
constexpr int kTemporaryAttempts = 64;
// Write-back to the disk is started whenever this many bytes were written since the
// last start, so that the disk works while the pass goes on and commit()'s fsync has
// little left to wait for.
constexpr std::uint64_t kWriteBackStep = 8u << 20;
// A part's file is appended to the output in steps of this size (the stop flag is
// looked at between them).
constexpr std::size_t kAppendStep = 8u << 20;

// Writes every byte of the vectors, retrying interrupted and short writes; adds the
// bytes written to `written`.
bool writeVectors(int fd, iovec* next, std::size_t count, int& error, std::uint64_t& written)
{
    while (count > 0) {
        const ssize_t result = outputCalls().writev(fd, next, static_cast<int>(count));
        if (result < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        if (result == 0) { // no progress on a non-empty write: never loop on it
            error = EIO;
            return false;
        }
        written += static_cast<std::uint64_t>(result);
        auto left = static_cast<std::size_t>(result);
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

// A new temporary name; with `claim`, it carries the claim's inode number.
std::string temporaryName(std::optional<ino_t> claim)
{
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // Still unique enough with the exclusive creation retried on a clash.
        const auto seed = static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(&random));
        std::memcpy(random, &seed, std::min(sizeof seed, sizeof random));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(kTemporaryPrefix);
    for (const unsigned char byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0xF];
    }
    if (claim) {
        char digits[2 + 2 * sizeof(std::uint64_t)];
        std::snprintf(digits, sizeof digits, "-%llx", static_cast<unsigned long long>(*claim));
        name += digits;
    }
    name += kTemporarySuffix;
    return name;
}

} // namespace

std::string systemErrorText(int error)
{
    char buffer[256];
    // GNU strerror_r returns the text (possibly not in `buffer`); thread-safe unlike strerror.
    return ::strerror_r(error, buffer, sizeof buffer);
}

OutputFile::~OutputFile()
{
    discard();
    holdFolder(nullptr);
}

namespace {

constexpr std::size_t kRandomDigits = 12;
constexpr std::size_t kMostInodeDigits = 16;

bool isHexDigits(std::string_view digits)
{
    return std::all_of(digits.begin(), digits.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The claim's inode number a temporary name carries; none when it carries none.
std::optional<ino_t> claimInode(std::string_view name)
{
    const std::size_t start = kTemporaryPrefix.size() + kRandomDigits + 1;
    if (name.size() <= start + kTemporarySuffix.size() || name[start - 1] != '-')
        return std::nullopt;
    const std::string_view digits = name.substr(start, name.size() - start - kTemporarySuffix.size());
    std::uint64_t inode = 0;
    for (const char c : digits)
        inode = inode * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    return static_cast<ino_t>(inode);
}

bool notAfter(const timespec& a, const timespec& b) { return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec); }

// Deletes the claim whose inode the temporary file `part` (its status) named: the empty
// regular file of that inode in the folder, unchanged since the temporary file was.
// Its name; empty when there is none.
std::string removeClaimOf(int folderFd, const struct stat& part, ino_t inode)
{
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return {};
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return {};
    }
    std::string removed;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_ino != inode || isTemporaryOutputName(entry->d_name))
            continue;
        struct stat claim {};
        if (::fstatat(folderFd, entry->d_name, &claim, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(claim.st_mode) && claim.st_size == 0
            && claim.st_ino == inode && claim.st_dev == part.st_dev && notAfter(claim.st_ctim, part.st_ctim)
            && ::unlinkat(folderFd, entry->d_name, 0) == 0)
            removed = entry->d_name;
        break;
    }
    ::closedir(dir);
    return removed;
}

} // namespace

bool isTemporaryOutputName(std::string_view name)
{
    if (name.size() < kTemporaryPrefix.size() + kRandomDigits + kTemporarySuffix.size() || !name.starts_with(kTemporaryPrefix)
        || !name.ends_with(kTemporarySuffix))
        return false;
    std::string_view middle = name.substr(kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    if (!isHexDigits(middle.substr(0, kRandomDigits)))
        return false;
    middle.remove_prefix(kRandomDigits);
    if (middle.empty())
        return true;
    // The claim's inode: "-" and 1 to 16 digits.
    return middle[0] == '-' && middle.size() >= 2 && middle.size() <= kMostInodeDigits + 1 && isHexDigits(middle.substr(1));
}

LeftoverOutcome removeLeftoverOutput(const std::string& folder, const std::string& name, int& error, std::string* claimRemoved)
{
    error = 0;
    if (!isTemporaryOutputName(name))
        return LeftoverOutcome::Kept;
    const int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        error = errno;
        return LeftoverOutcome::Kept;
    }
    LeftoverOutcome outcome = LeftoverOutcome::Kept;
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        if (errno == EWOULDBLOCK)
            outcome = LeftoverOutcome::Held;
    } else {
        // Still the file checked (not replaced since), and still not held: deleted.
        struct stat now {};
        if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev
            && ::unlinkat(folderFd, name.c_str(), 0) == 0)
            outcome = LeftoverOutcome::Removed;
        else
            error = errno;
    }
    if (outcome == LeftoverOutcome::Removed) {
        if (const std::optional<ino_t> inode = claimInode(name)) {
            std::string claim = removeClaimOf(folderFd, st, *inode);
            if (claimRemoved)
                *claimRemoved = std::move(claim);
        }
    }
    if (fd >= 0)
        ::close(fd);
    ::close(folderFd);
    return outcome;
}

void OutputFile::holdFolder(const FolderHandle* folder)
{
    if (folderFd_ >= 0)
        ::close(folderFd_);
    folderFd_ = folder ? ::fcntl(folder->descriptor(), F_DUPFD_CLOEXEC, 0) : -1;
}

int OutputFile::folderDescriptor() const { return folderFd_ >= 0 ? folderFd_ : AT_FDCWD; }

bool OutputFile::create(const std::string& finalPath, mode_t mode, const FolderHandle* folder)
{
    discard();
    error_ = 0;
    holdFolder(folder);
    if (folder && folderFd_ < 0) {
        error_ = errno;
        return false;
    }
    const std::string parent = folder ? std::string() : parentPath(finalPath);
    const std::string finalName = folder ? fileName(finalPath) : finalPath;
    // The name carries the claim's inode, so that a later run can delete the claim of
    // an output whose run was killed along with its temporary file.
    std::optional<ino_t> claim;
    if (struct stat st{};
        ::fstatat(folderDescriptor(), finalName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        claim = st.st_ino;
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        std::string path = folder ? temporaryName(claim) : joinPath(parent.empty() ? kCurrentFolder : parent, temporaryName(claim));
        int fd;
        do {
            fd = outputCalls().openAt(folderDescriptor(), path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            // Held while it is written: a later run deletes it only once no process holds it.
            ::flock(fd, LOCK_EX | LOCK_NB);
            fd_ = fd;
            written_ = 0;
            settled_.store(0, std::memory_order_release);
            writeBackStart_ = 0;
            writeBack_ = true;
            temporaryPath_ = std::move(path);
            finalPath_ = finalName;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    error_ = errno;
    return false;
}

bool OutputFile::write(std::initializer_list<std::string_view> pieces) { return write(pieces.begin(), pieces.size()); }

bool OutputFile::write(const std::string_view* pieces, std::size_t count)
{
    const std::lock_guard lock(redirectMutex_);
    if (!redirect_)
        return writeHere(pieces, count);
    if (stopped()) {
        error_ = ECANCELED;
        return false;
    }
    const bool written = redirect_->writeHere(pieces, count);
    if (!written)
        error_ = redirect_->error_;
    return written;
}

bool OutputFile::takeOver(OutputFile& part, std::uint64_t from)
{
    const std::lock_guard lock(part.redirectMutex_);
    if (!append(part, from, part.written_))
        return false;
    part.redirect_ = this;
    return true;
}

bool OutputFile::writeHere(const std::string_view* pieces, std::size_t count)
{
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    if (stopped()) {
        error_ = ECANCELED;
        return false;
    }
    iovec vectors[kMaxPieces];
    std::size_t used = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (pieces[i].empty())
            continue;
        if (used == kMaxPieces) {
            const bool written = writeVectors(fd_, vectors, used, error_, written_);
            settled_.store(written_, std::memory_order_release);
            if (!written)
                return false;
            used = 0;
        }
        vectors[used].iov_base = const_cast<char*>(pieces[i].data());
        vectors[used].iov_len = pieces[i].size();
        ++used;
    }
    const bool written = writeVectors(fd_, vectors, used, error_, written_);
    settled_.store(written_, std::memory_order_release);
    if (!written)
        return false;
    startWriteBack();
    return true;
}

bool OutputFile::stopped() const
{
    return (stop_ && stop_->load(std::memory_order_relaxed)) || (alsoStop_ && alsoStop_->load(std::memory_order_relaxed));
}

void OutputFile::startWriteBack()
{
    if (writeBack_ && written_ - writeBackStart_ >= kWriteBackStep) {
        // Only a start: it does not wait for the disk, and whatever fails shows at fsync.
        ::sync_file_range(fd_, static_cast<off_t>(writeBackStart_), static_cast<off_t>(written_ - writeBackStart_), SYNC_FILE_RANGE_WRITE);
        writeBackStart_ = written_;
    }
}

bool OutputFile::createUnnamed(const std::string& finalPath, const FolderHandle* held)
{
    discard();
    error_ = 0;
    holdFolder(held);
    const std::string parent = held ? std::string() : parentPath(finalPath);
    const std::string& folder = parent.empty() ? kCurrentFolder : parent;
    const int folderFd = held ? held->descriptor() : AT_FDCWD;
    int fd;
    do {
        fd = outputCalls().openAt(folderFd, folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    fd_ = fd;
    written_ = 0;
    settled_.store(0, std::memory_order_release);
    writeBackStart_ = 0;
    // Its bytes are read back soon and then dropped: writing them to the disk would only
    // make the close wait for it.
    writeBack_ = false;
    redirect_ = nullptr;
    finalPath_.clear();
    return true;
}

bool OutputFile::append(const OutputFile& part, std::uint64_t start, std::uint64_t to)
{
    if (fd_ < 0 || part.fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    auto from = static_cast<off_t>(start);
    const auto end = static_cast<off_t>(to);
    // In the kernel, without a copy through this process where the file systems allow it.
    bool copyInKernel = true;
    while (from < end && copyInKernel) {
        if (stopped()) {
            error_ = ECANCELED;
            return false;
        }
        const auto length = static_cast<std::size_t>(std::min<off_t>(end - from, off_t{kAppendStep}));
        const ssize_t copied = outputCalls().copyFileRange(part.fd_, &from, fd_, nullptr, length, 0);
        if (copied > 0) {
            written_ += static_cast<std::uint64_t>(copied);
            settled_.store(written_, std::memory_order_release);
            startWriteBack();
            continue;
        }
        if (copied < 0 && errno == EINTR)
            continue;
        // Not between these files (another file system, an old kernel): read and write.
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            copyInKernel = false;
            break;
        }
        error_ = copied < 0 ? errno : EIO;
        return false;
    }
    std::string buffer;
    while (from < end) {
        buffer.resize(static_cast<std::size_t>(std::min<off_t>(end - from, off_t{kAppendStep})));
        const ssize_t count = ::pread(part.fd_, buffer.data(), buffer.size(), from);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error_ = count < 0 ? errno : EIO;
            return false;
        }
        from += count;
        if (!write(std::string_view(buffer.data(), static_cast<std::size_t>(count))))
            return false;
    }
    return true;
}

bool OutputFile::truncate(std::uint64_t size)
{
    if (fd_ < 0 || size > written_) {
        error_ = fd_ < 0 ? EBADF : EINVAL;
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 || ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    written_ = size;
    settled_.store(written_, std::memory_order_release);
    writeBackStart_ = std::min(writeBackStart_, size);
    return true;
}

bool OutputFile::commit(const FileIdentity& claim)
{
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    // A failing fsync or close can report a write that the kernel deferred (NFS,
    // quotas): either is a failed write.
    int result = outputCalls().fsync(fd_);
    if (result != 0 && errno != EINVAL) { // EINVAL: a file that cannot be synced
        error_ = errno;
        discard();
        return false;
    }
    result = outputCalls().close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR) {
        error_ = errno;
        discard();
        return false;
    }
    // The rename replaces whatever is at the final path without following it; it must
    // be our claim, not a link or another run's output put there after it went. The
    // claim is an empty regular file with the identity it was created with (the type
    // is tested too: a freed inode number is soon given to the next new entry).
    struct stat atFinal {};
    if (::fstatat(folderDescriptor(), finalPath_.c_str(), &atFinal, AT_SYMLINK_NOFOLLOW) != 0) {
        error_ = errno;
        discard();
        return false;
    }
    if (!S_ISREG(atFinal.st_mode) || atFinal.st_size != 0 || FileIdentity{atFinal.st_dev, atFinal.st_ino} != claim) {
        error_ = EEXIST;
        discard();
        return false;
    }
    if (outputCalls().renameAt(folderDescriptor(), temporaryPath_.c_str(), folderDescriptor(), finalPath_.c_str()) != 0) {
        error_ = errno;
        discard();
        return false;
    }
    temporaryPath_.clear();
    return true;
}

void OutputFile::discard()
{
    if (fd_ >= 0)
        outputCalls().close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty())
        ::unlinkat(folderDescriptor(), temporaryPath_.c_str(), 0);
    temporaryPath_.clear();
}

std::string OutputFile::errorText() const { return systemErrorText(error_); }

} // namespace tarnwick
