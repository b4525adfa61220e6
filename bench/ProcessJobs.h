#pragma once
// Whole-process benchmarks: the tarnwick-cli executable against a reference command on
// the same corpus, as a user would run them, and the peak memory of extreme inputs.

#include <string>

namespace tarnwick::bench {

struct ProcessBenchOptions {
    std::string dir = "/tmp/twbench"; // corpora, outputs and a scratch settings home
    std::string cli;                  // the tarnwick-cli executable
    std::string generator;            // bench/gen_corpus.py
    std::uint64_t sizeMiB = 256;
    int runs = 5;
    std::string only; // --memory: the jobs whose label holds this (all when empty)
};

/// The job table: for each job, medians of `runs` alternating runs of ours and the
/// reference (each writing a fresh file), the ratio reference ÷ ours, the target and
/// both peak resident sets. Returns false when a command failed or a corpus could not be made.
bool runProcessJobs(const ProcessBenchOptions& options);

/// Peak resident set of tarnwick-cli on extreme inputs, each against the 64 MiB bound:
/// a 5 GiB sparse single-line mailbox (stream pass), 2 GiB single messages (explicit
/// and default options, Shift_JIS to ISO-2022-JP), a message of 52M tag pieces, and
/// 1 GiB headers, header fields, address fields and Content-Type fields. Only the
/// inputs whose labels contain options.only run when it is set.
bool runMemoryJobs(const ProcessBenchOptions& options);

} // namespace tarnwick::bench
