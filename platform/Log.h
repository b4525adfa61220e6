#pragma once
// The platform log: one line on stderr, "tarnwick[PID]: message". Diagnostics the user
// does not need go here, unlocalised; logging never stops a job.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

void logMessage(std::string_view message);

/// Redirects log lines (tests capture them); an empty function restores stderr.
void setLogSink(std::function<void(std::string_view message)> sink);

/// While one is alive, each line logged on the thread that made it is also handed to
/// `copy`, one line as stderr shows it (control characters escaped) without the
/// "tarnwick[PID]: " prefix; where the line goes otherwise does not change. The
/// innermost copy of a thread receives it.
class LogCopy {
public:
    explicit LogCopy(std::function<void(std::string_view line)> copy);
    ~LogCopy();
    LogCopy(const LogCopy&) = delete;
    LogCopy& operator=(const LogCopy&) = delete;

private:
    friend void logMessage(std::string_view message);
    std::function<void(std::string_view line)> copy_;
    LogCopy* outer_;
};

/// While one is alive, each line logged on the thread that made it is appended to
/// `lines`, as given, and goes nowhere else (no sink, no stderr, no LogCopy), so that
/// work done on another thread can log it later, in its place, with logMessage. The
/// innermost capture of a thread receives it.
class LogCapture {
public:
    explicit LogCapture(std::vector<std::string>& lines);
    /// A capture that keeps at most `maxBytes` bytes of lines: a line past that is
    /// dropped and `overflowed` set (the work whose lines they were must then be done
    /// again where its lines can be logged as they come).
    LogCapture(std::vector<std::string>& lines, std::size_t maxBytes, bool& overflowed);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

private:
    friend void logMessage(std::string_view message);
    std::vector<std::string>& lines_;
    std::size_t bytesLeft_ = static_cast<std::size_t>(-1);
    bool* overflowed_ = nullptr;
    LogCapture* outer_;
};

} // namespace tarnwick
