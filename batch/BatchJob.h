#pragma once
// The batch job: reads SourcePath and DestinationPath from the settings store,
// converts one file or a whole folder tree, and reports through a BatchReporter.

#include "batch/BatchReporter.h"

#include <atomic>

namespace tarnwick {

/// Runs one job to its end on the calling thread. `hasCanceled` is read before each
/// entry of a folder walk and once at the end; the job never writes it.
void runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled);

} // namespace tarnwick
