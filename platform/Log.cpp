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

thread_local LogCopy* threadCopy = nullptr;
thread_local LogCapture* threadCapture = nullptr;

} // namespace

void logMessage(std::string_view message)
{
    if (LogCapture* const capture = threadCapture) {
        if (capture->overflowed_ && (*capture->overflowed_ || message.size() > capture->bytesLeft_)) {
            *capture->overflowed_ = true; // and nothing after it either: the lines kept stay in order
            return;
        }
        capture->bytesLeft_ -= message.size();
        capture->lines_.emplace_back(message);
        return;
    }
    {
        std::lock_guard lock(logMutex);
        if (auto& sink = currentSink()) {
            sink(message);
        } else {
            std::string line = "tarnwick[" + std::to_string(::getpid()) + "]: ";
            line.append(escapeControlCharacters(message)); // one line, whatever a file name holds
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        }
    }
    // Outside the lock: the copy may take its time (a front end queues the line).
    if (threadCopy)
        threadCopy->copy_(escapeControlCharacters(message));
}

LogCopy::LogCopy(std::function<void(std::string_view)> copy) : copy_(std::move(copy)), outer_(threadCopy) { threadCopy = this; }

LogCopy::~LogCopy() { threadCopy = outer_; }

LogCapture::LogCapture(std::vector<std::string>& lines) : lines_(lines), outer_(threadCapture) { threadCapture = this; }

LogCapture::LogCapture(std::vector<std::string>& lines, std::size_t maxBytes, bool& overflowed)
    : lines_(lines), bytesLeft_(maxBytes), overflowed_(&overflowed), outer_(threadCapture)
{
    threadCapture = this;
}

LogCapture::~LogCapture() { threadCapture = outer_; }

void setLogSink(std::function<void(std::string_view)> sink)
{
    std::lock_guard lock(logMutex);
    currentSink() = std::move(sink);
}

} // namespace tarnwick
