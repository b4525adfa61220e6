#pragma once
// The progress line of tarnwick-cli on a terminal: files done of found, the bytes of
// the current mailbox, a rate and the time left for it, redrawn in place on standard
// error at most a few times a second. Never drawn where standard error is no terminal.

#include "batch/BatchReporter.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tarnwick::cli {

/// The text of the progress line for `progress` at `rate` bytes per second (0: not
/// known yet), cut to fewer than `width` bytes.
std::string progressText(const JobProgress& progress, double rate, std::size_t width);

class ConsoleProgress {
public:
    using Clock = std::chrono::steady_clock;

    /// `stream` is standard error; `shown` false draws nothing at all.
    ConsoleProgress(std::FILE* stream, bool shown);

    /// Redraws the line when the last drawing is at least kInterval old, or the file
    /// changed.
    void update(const JobProgress& progress);
    /// Takes the line away, so that a line written next starts at the left edge; the
    /// next update draws it again.
    void clear();
    /// Writes `line` (and a newline) on a line of its own, the progress line taken away first.
    void writeLine(const std::string& line);
    /// Whether the line is drawn at all.
    bool shown() const { return shown_; }

    static constexpr std::chrono::milliseconds kInterval{250};

private:
    std::mutex mutex_; // log lines may be written from another thread
    std::FILE* stream_;
    bool shown_;
    bool drawn_ = false;
    JobProgress last_;
    Clock::time_point lastDraw_{};
    // The rate: bytes read since the job's first byte, over the time since then.
    Clock::time_point started_{};
    std::uint64_t bytesBefore_ = 0; // of the files done
    std::uint64_t file_ = 0;
};

} // namespace tarnwick::cli
