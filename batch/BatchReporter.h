#pragma once
// How a batch job talks to its front end. The window posts both calls to its UI
// thread (queued, in posting order); the command line prints them.

#include "batch/JobSummary.h"

#include <string>

namespace tarnwick {

class BatchReporter {
public:
    virtual ~BatchReporter() = default;
    /// "Processing \"%1\"...", once before each file.
    virtual void statusText(const std::string& text) = 0;
    /// What the job did, once, just before the final text (also after a failure).
    virtual void summary(const JobSummary& summary) { (void)summary; }
    /// "Completed", "Canceled" or "Error: %1": exactly once, as the job's last act.
    virtual void finalText(const std::string& text) = 0;
};

} // namespace tarnwick
