#pragma once
// How a batch job talks to its front end. The window posts every call to its UI
// thread (queued, in posting order); the command line prints the texts.

#include "batch/JobSummary.h"
#include "platform/MaildirFolder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

/// How far a job has come, in what it knows for sure.
struct JobProgress {
    std::uint64_t file = 0;      ///< the file under way, from 1 (0 before the first)
    std::uint64_t files = 0;     ///< the files the job will take up, 1 for a single file; 0 when not known
    std::uint64_t bytesDone = 0; ///< how far the file under way has been read
    std::uint64_t bytes = 0;     ///< that file's size; 0 when not known
};

class BatchReporter {
public:
    virtual ~BatchReporter() = default;
    /// "Processing \"%1\"...", once before each file.
    virtual void statusText(const std::string& text) = 0;
    /// Where the job is: just after each status text, when a file is done, and while a
    /// large file converts at most every 100 ms. The command line draws it on a terminal only.
    virtual void progress(const JobProgress& progress) { (void)progress; }
    /// A line the job logged (also on stderr as ever), control characters escaped.
    virtual void logLine(const std::string& line) { (void)line; }
    /// What the job did, once, just before the final text (also after a failure).
    virtual void summary(const JobSummary& summary) { (void)summary; }
    /// A Maildir++ folder begun in the job's staging folder at `stagedPath`, for the
    /// mailbox at `path` (its folders, then its name); it is moved to its place when the
    /// mailbox is done, before the next begins. A receiver returned takes its messages in
    /// place of its cur/ (on the job's thread), until the folder is finished or discarded.
    virtual MessageReceiver* maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path)
    {
        (void)stagedPath, (void)path;
        return nullptr;
    }
    /// "Completed", "Canceled" or "Error: %1": exactly once, as the job's last act.
    virtual void finalText(const std::string& text) = 0;
};

} // namespace tarnwick
