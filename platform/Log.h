#pragma once
// The platform log: one line on stderr, "tarnwick[PID]: message". Diagnostics the user
// does not need go here, unlocalised; logging never stops a job.

#include <functional>
#include <string_view>

namespace tarnwick {

void logMessage(std::string_view message);

/// Redirects log lines (tests capture them); an empty function restores stderr.
void setLogSink(std::function<void(std::string_view message)> sink);

} // namespace tarnwick
