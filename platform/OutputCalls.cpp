#include "platform/OutputCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace tarnwick {
namespace {

int systemOpen(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

OutputCalls& current()
{
    static OutputCalls calls = systemOutputCalls();
    return calls;
}

} // namespace

OutputCalls systemOutputCalls()
{
    return {systemOpen, ::writev, ::fsync, ::close, ::rename};
}

const OutputCalls& outputCalls()
{
    return current();
}

OutputCalls setOutputCalls(const OutputCalls& calls)
{
    const OutputCalls previous = current();
    current() = calls;
    return previous;
}

} // namespace tarnwick
