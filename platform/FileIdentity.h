#pragma once
// What tells one file from another.

#include <sys/types.h>

namespace tarnwick {

/// A file's device and inode numbers.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

} // namespace tarnwick
