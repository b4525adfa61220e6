#pragma once
// The batch job: reads SourcePath and DestinationPath from the settings store,
// converts one file or a whole folder tree, and reports through a BatchReporter.

#include "batch/BatchReporter.h"

#include <atomic>

namespace tarnwick {

/// How a job ended; the final text says the same to the user.
enum class JobOutcome { Completed, Canceled, Failed };

/// Runs one job to its end on the calling thread. `hasCanceled` is read before each
/// entry of a folder walk and once at the end; the job never writes it.
JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled);

/// The same, and once `stopsAtOnce` is true the file under way is abandoned at its
/// next write (its output removed) and the job ends "Canceled".
JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled, const std::atomic<bool>& stopsAtOnce);

} // namespace tarnwick
