#pragma once
// Opening a file by name strictly inside a folder, for names that come from untrusted
// mail: no component may leave the folder, and no symbolic link is ever followed.

#include "platform/MappedFile.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnwick {

/// A regular file opened read-only inside a folder. Move-only; closes on destruction.
class ContainedFile {
public:
    ContainedFile(int fd, std::uint64_t size, std::string path, std::string name);
    ~ContainedFile();
    ContainedFile(ContainedFile&& other) noexcept;
    ContainedFile& operator=(ContainedFile&& other) noexcept;
    ContainedFile(const ContainedFile&) = delete;
    ContainedFile& operator=(const ContainedFile&) = delete;

    /// The size when opened; reading stops there, so a file that grows adds nothing.
    std::uint64_t size() const { return size_; }
    /// The folder and the components as found on disk, joined with "/" (for messages).
    const std::string& path() const { return path_; }
    /// The file's own name as found on disk.
    const std::string& name() const { return name_; }

    /// Reads the next bytes into `buffer`, filling it unless the file ends first.
    /// Returns the count (0 at the end), or none with `error()` set on a read failure.
    std::optional<std::size_t> read(char* buffer, std::size_t length);
    /// Up to `length` bytes from the start of the file, without moving the read position.
    std::string leadingBytes(std::size_t length) const;
    int error() const { return error_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::string path_;
    std::string name_;
    int error_ = 0;
};

/// What opening a file inside a folder gave: the file, or the errno that says why not
/// (ENOENT when no entry has the name, nor exactly one under case folding).
struct ContainedLookup {
    std::optional<ContainedFile> file;
    int error = 0;
};

/// A folder's entry names, listed once, by exact name and by name under Unicode simple
/// case folding.
class FolderNames {
public:
    /// Lists the folder open at `folderFd` (which stays open and unmoved).
    explicit FolderNames(int folderFd);
    /// The entry named exactly `name`; else the one entry equal to it under case folding;
    /// none when there is no such entry, or two or more fold to it.
    std::optional<std::string> find(std::string_view name) const;
    /// Every entry equal to `name` under case folding (an exact one included).
    std::vector<std::string> foldedMatches(std::string_view name) const;
    bool contains(std::string_view name) const { return exact_.count(std::string(name)) != 0; }
    /// Every name, sorted bytewise.
    std::vector<std::string> sortedNames() const;
    /// Every name, in listing order.
    const std::vector<std::string>& names() const { return names_; }
    std::size_t size() const { return exact_.size(); }
    /// The errno of a failed listing; 0 when the folder was listed whole.
    int error() const { return error_; }

private:
    std::unordered_map<std::string, std::size_t> exact_; // name -> position in names_
    std::unordered_multimap<std::string, std::size_t> folded_;
    std::vector<std::string> names_;
    int error_ = 0;
};

/// The key two names share exactly when namesEqualFolded says they are equal.
std::string foldedNameKey(std::string_view name);

/// The name to take for a file's name that its folder does not hold, exactly or under
/// case folding: given the name wanted and the folder's names; none for no such name.
using LastNameMatch = std::function<std::optional<std::string>(std::string_view wanted, const FolderNames& names)>;

/// A folder held open for a whole job, so that files are opened relative to the folder
/// that was checked, never by a path that could be swapped for a link in the meantime.
/// Its names (and those of its sub-folders) are indexed on first need, once. Safe to
/// share between threads.
class OpenFolder {
public:
    /// Opens `path` as a folder; with LinkPolicy::Refuse, a link as its last component is
    /// refused. A folder that cannot be opened gives one whose lookups fail with its errno.
    static std::shared_ptr<const OpenFolder> open(const std::string& path, LinkPolicy links);
    /// Opens the entry `name` of `parentFd` as a folder, never following a link; none
    /// when it is no folder (or a link); one whose lookups fail with the errno when it
    /// is a folder that cannot be opened. `path` is what messages call it.
    static std::shared_ptr<const OpenFolder> openAt(int parentFd, const std::string& name, std::string path);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    const std::string& path() const { return path_; }
    /// The errno of the failed open; 0 when the folder is open.
    int error() const { return error_; }
    /// The open folder's descriptor; -1 when it could not be opened.
    int descriptor() const { return fd_; }
    /// This folder's names (empty for a folder that could not be opened).
    std::shared_ptr<const FolderNames> names() const;

    /// Opens the regular file that `components` (sub-folders, then the file's name) name
    /// below this folder, each component exactly, else by the one name equal to it under
    /// case folding. Never follows a symbolic link, never opens anything but a folder on
    /// the way and a regular file at the end; ENOENT for an unsafe component. When the
    /// last component is not found, `lastNameMatch` (if given) may name another entry.
    ContainedLookup openFile(const std::vector<std::string>& components, const LastNameMatch* lastNameMatch = nullptr) const;

private:
    OpenFolder(int fd, std::string path, int error);
    std::shared_ptr<const FolderNames> namesOf(int fd) const;

    int fd_;
    std::string path_;
    int error_;
    mutable std::mutex mutex_;
    // This folder's names and its sub-folders', by device and inode.
    mutable std::map<std::pair<dev_t, ino_t>, std::shared_ptr<const FolderNames>> names_;
};

/// Whether `component` can name an entry of a folder: not empty, not "." or "..", and
/// without "/" or a zero byte.
bool isSafePathComponent(std::string_view component);

/// Opens the regular file that `components` (sub-folders, then the file's name) name
/// below `folder`. Each component is first opened exactly; when absent, the one entry
/// whose name equals it under Unicode case folding is taken (none when two match).
/// Never follows a symbolic link below `folder`, never opens anything but a folder on
/// the way and a regular file at the end; none for an unsafe component.
/// Opens `folder` for this one lookup (see OpenFolder::openFile).
std::optional<ContainedFile> openContainedFile(const std::string& folder, const std::vector<std::string>& components);

/// Whether the two UTF-8 names are equal under Unicode simple case folding (invalid
/// bytes compare as themselves).
bool namesEqualFolded(std::string_view a, std::string_view b);

} // namespace tarnwick
