#pragma once
// File system operations over byte-string paths: existence and type tests, sizes,
// removal, exclusive creation and a deep folder walk. Paths are never decoded.

#include "platform/FileIdentity.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

enum class EntryType { None, Regular, Directory, SymbolicLink, Other };

/// The type of what `path` names, following symbolic links (never SymbolicLink);
/// None when nothing exists there (a dangling link included).
EntryType targetType(const std::string& path);

/// What stat() says of `path`: its type (following links), or the errno of the
/// failure (type None).
struct TargetStatus {
    EntryType type = EntryType::None;
    int error = 0;
};
TargetStatus targetStatus(const std::string& path);

/// The type of the entry itself (a symbolic link is not followed); None when absent.
EntryType entryType(const std::string& path);

/// The size in bytes of the entry at `path`, not following a link; none when absent.
std::optional<std::uint64_t> fileSize(const std::string& path);

/// Removes the entry at `path` (not a folder). The result may be ignored.
bool removeFile(const std::string& path);

/// Removes the regular file at `path` only while it is still the file `identity`
/// names; anything put there since (a link, another file) is left alone.
bool removeFile(const std::string& path, const FileIdentity& identity);

/// The outcome of createExclusively: `error` is 0 when the file was created, else the
/// errno of the failure.
struct CreateResult {
    int error = 0;
    FileIdentity identity = {}; // the created file's
    bool created() const { return error == 0; }
};

/// Creates an empty file at `path` with open(O_WRONLY|O_CREAT|O_TRUNC|O_EXCL, 0600) and
/// closes it: the claim on a name that a finished output replaces. Creates nothing when the path is empty (ENOENT), longer than PATH_MAX
/// with its terminating zero (ENAMETOOLONG), holds a zero byte (EINVAL), or when open
/// fails (anything at the path, a dangling link included, makes it fail with EEXIST).
CreateResult createExclusively(const std::string& path);

/// Creates a folder at `path` with mkdir(path, 0755). Fails with EEXIST when anything,
/// a link included, is there already; with the errors of createExclusively for the path.
CreateResult createFolder(const std::string& path);

/// A deep walk below a folder, one entry at a time, in the order the file system
/// lists them: a folder is yielded and then descended into; hidden entries are
/// included; symbolic links are yielded but never followed. Memory holds one open
/// folder per level of depth, never a list of entries. A folder that cannot be
/// opened or listed (no permission, too many open files, a read error) ends the
/// walk: next() returns false and error() says which folder and why. A folder that
/// vanished since it was listed is passed over.
class DirectoryWalker {
public:
    explicit DirectoryWalker(const std::string& root);
    ~DirectoryWalker();
    DirectoryWalker(const DirectoryWalker&) = delete;
    DirectoryWalker& operator=(const DirectoryWalker&) = delete;

    /// Folders with this identity are yielded but not descended into.
    void skipSubtree(dev_t device, ino_t inode);

    /// A folder below the root that cannot be opened or listed, and for whose relative
    /// name `passOver` says true, is noted (unreadable()) and passed over rather than
    /// ending the walk.
    void passOverUnreadable(std::function<bool(const std::string& relativeName)> passOver);

    /// A folder passed over because it could not be read, and why.
    struct Unreadable {
        std::string folder; // relative to the root
        int error = 0;
    };
    /// The folders passed over since the last call, in walk order.
    std::vector<Unreadable> takeUnreadable() { return std::exchange(unreadable_, {}); }

    /// Moves to the next entry; false at the end or after a failure.
    bool next();

    /// The errno of the failure that ended the walk; 0 when none did.
    int error() const { return error_; }
    /// The folder that could not be opened or listed, relative to the root ("" for
    /// the root itself); meaningful when error() is not 0.
    const std::string& failedFolder() const { return failedFolder_; }

    /// The current entry's path relative to the root ("Sub/In").
    const std::string& relativeName() const { return relativeName_; }
    /// The current entry's own type (from the listing, or lstat when it has none).
    EntryType type() const { return type_; }
    /// The current entry's inode number (its device is the folder's, except for
    /// mount points, which are folders).
    ino_t inode() const { return inode_; }

private:
    struct Level {
        void* dir;              // DIR*
        std::size_t nameLength; // length of relativeName_ for this folder's prefix
    };

    void descendIntoCurrent();
    void closeLevel();
    void failAt(std::string folder, int error);
    void failFolder(const std::string& folder, int error);

    std::vector<Level> levels_;
    std::vector<std::pair<dev_t, ino_t>> skipped_;
    std::function<bool(const std::string&)> passOver_;
    std::vector<Unreadable> unreadable_;
    std::string relativeName_;
    EntryType type_ = EntryType::None;
    ino_t inode_ = 0;
    bool pendingDescend_ = false;
    int error_ = 0;
    std::string failedFolder_;
};

} // namespace tarnwick
