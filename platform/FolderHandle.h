#pragma once
// A destination folder held open by its descriptor for as long as outputs are made in
// it: every file and sub-folder is created, checked, renamed and removed relative to
// the descriptor, so that the folder's path swapped for a link (or moved) while a job
// runs cannot send anything elsewhere.

#include "platform/FileSystem.h"

#include <memory>
#include <string>

namespace tarnwick {

class FolderHandle {
public:
    /// Opens the folder at `path` (a link there is followed once, now: the folder the
    /// path names at this moment is the one held). None (with `error`) when it is no
    /// folder or cannot be opened.
    static std::shared_ptr<const FolderHandle> open(const std::string& path, int& error);

    /// Opens the sub-folder `name` of this folder, never following a link; none (with
    /// `error`: ENOTDIR for a file, ELOOP for a link) otherwise.
    std::shared_ptr<const FolderHandle> openFolder(const std::string& name, int& error) const;

    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    int descriptor() const { return fd_; }
    /// The path it was opened by, for messages.
    const std::string& path() const { return path_; }
    /// `name` below this folder, for messages.
    std::string pathOf(const std::string& name) const;

    /// createExclusively for the entry `name` of this folder (never through a link).
    CreateResult createFile(const std::string& name) const;
    /// createFolder for the entry `name` of this folder.
    CreateResult createFolder(const std::string& name) const;
    /// Removes the regular file `name` only while it is still the file `identity` names.
    bool removeFile(const std::string& name, const FileIdentity& identity) const;
    /// Removes the sub-folder `name` when it is empty (never through a link).
    bool removeEmptyFolder(const std::string& name) const;
    /// The type of the entry `name` itself (a link is not followed); None when absent.
    EntryType entryType(const std::string& name) const;

    /// Locks this folder (flock, exclusive, without waiting) for as long as it is open,
    /// then checks that it still is the entry `name` of `parent`. 0 when it is;
    /// EWOULDBLOCK when another holds the lock; ENOENT when the entry is gone or is
    /// another folder; another errno when this file system cannot lock it.
    int lockAsEntryOf(const FolderHandle& parent, const std::string& name) const;

private:
    FolderHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
};

} // namespace tarnwick
