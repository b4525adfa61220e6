#pragma once
// What tells one file from another.

#include <sys/types.h>

#include <optional>
#include <string>

namespace tarnwick {

/// A file's device and inode numbers.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

/// The identity of what is at a path, or the errno that says why there is none.
struct IdentityResult {
    std::optional<FileIdentity> identity;
    int error = 0;
};

/// The identity of the entry at `path` itself: a symbolic link is not followed.
IdentityResult identityAt(const std::string& path);

/// The identity of the file at `path`, a symbolic link followed.
IdentityResult identityFollowing(const std::string& path);

} // namespace tarnwick
