#pragma once
// The system calls through which an output file is created, written, made durable,
// closed and given its final name. They go through this one table so that tests can
// make any of them fail for real (a write that fails once, a short write, a failing
// close) while the rest still reaches the kernel.

#include <sys/types.h>
#include <sys/uio.h>

namespace tarnwick {

struct OutputCalls {
    // openat and renameat: a folder descriptor (or AT_FDCWD) and a path relative to it.
    int (*openAt)(int folderFd, const char* path, int flags, mode_t mode);
    ssize_t (*writev)(int fd, const iovec* vectors, int count);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*renameAt)(int fromFolderFd, const char* from, int toFolderFd, const char* to);
    ssize_t (*copyFileRange)(int fromFd, off_t* fromOffset, int toFd, off_t* toOffset, size_t length, unsigned int flags);
};

/// The calls in use: the system's own unless a test installed others.
const OutputCalls& outputCalls();

/// The system's own calls.
OutputCalls systemOutputCalls();

/// Installs `calls` for every output written from now on and returns the ones it
/// replaces. For tests; call it while no job runs.
OutputCalls setOutputCalls(const OutputCalls& calls);

} // namespace tarnwick
