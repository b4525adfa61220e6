#include "platform/Log.h"

#include "platform/Paths.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace tarnwick {
namespace {

std::mutex logMutex;
std::function<void(std::string_view)>& currentSink()
{
    static std::function<void(std::string_view)> sink;
    return sink;
}

} // namespace

void logMessage(std::string_view message)
{
    std::lock_guard lock(logMutex);
    if (auto& sink = currentSink()) {
        sink(message);
        return;
    }
    std::string line = "tarnwick[" + std::to_string(::getpid()) + "]: ";
    line.append(escapeControlCharacters(message)); // one line, whatever a file name holds
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void setLogSink(std::function<void(std::string_view)> sink)
{
    std::lock_guard lock(logMutex);
    currentSink() = std::move(sink);
}

} // namespace tarnwick
