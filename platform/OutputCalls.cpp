#include "platform/OutputCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace tarnwick {
namespace {

int systemOpenAt(int folderFd, const char* path, int flags, mode_t mode) { return ::openat(folderFd, path, flags, mode); }

OutputCalls& current()
{
    static OutputCalls calls = systemOutputCalls();
    return calls;
}

ssize_t systemCopyFileRange(int fromFd, off_t* fromOffset, int toFd, off_t* toOffset, size_t length, unsigned int flags)
{
    return ::copy_file_range(fromFd, fromOffset, toFd, toOffset, length, flags);
}

} // namespace

OutputCalls systemOutputCalls() { return {systemOpenAt, ::writev, ::fsync, ::close, ::renameat, systemCopyFileRange}; }

const OutputCalls& outputCalls() { return current(); }

OutputCalls setOutputCalls(const OutputCalls& calls)
{
    const OutputCalls previous = current();
    current() = calls;
    return previous;
}

} // namespace tarnwick
