#pragma once
// A large mailbox converted in two parts at the same time: the second part on a thread
// of its own into an unnamed file, appended to the output when the first part ends in
// the state the second began in.

#include "engine/mailbox/StreamPass.h"
#include "platform/OutputFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick {

// The second part of a split conversion: from the split point to the input's end,
// converted on a thread of its own into an unnamed file in the output's folder, its
// log lines kept, with a candidate list, counts and attachment tally of its own, and
// beginning with the state the one pass has at the split point, except that Automatic's
// memory is the one the mailbox starts with. The caller takes its output only when the
// first part ends in that state; otherwise, and whenever this part fails, the first
// part's pass goes on over the rest itself, so that everything happens as in one pass.
class SecondPart {
public:
    SecondPart(const std::string& inputPath, const std::string& outputPath, MappedFile& input, const ConversionOptions& options,
               const CharsetCandidates& candidates, std::size_t batchBytes, std::uint64_t start, std::string_view firstTerminator);

    ~SecondPart() { abandon(); }
    SecondPart(const SecondPart&) = delete;
    SecondPart& operator=(const SecondPart&) = delete;

    /// Creates the unnamed file and starts the thread. False when either cannot be: the
    /// conversion is then not split.
    bool start(const std::atomic<bool>* stop, const FolderHandle* folder);

    /// Makes the part stop at its next write.
    void giveUp() { abandon_ = true; }

    /// Makes the part stop at its next write and waits for its thread.
    void abandon()
    {
        giveUp();
        join();
    }

    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    /// Waits until the part has begun its pass (or ended), then tells whether it began
    /// as the one pass would go on after a first part that ended with Automatic's memory
    /// `before`, given `candidates` (the job's list, which this part leaves alone): built
    /// by then, or building it logs nothing.
    bool beganAsAfter(const AutomaticSource& before, const CharsetCandidates& candidates);

    /// Waits up to `time` for the part to end; true when it has.
    bool waitFor(std::chrono::milliseconds time);

    /// Once joined: whether the part converted all of its input, its lines all kept.
    bool succeeded() const { return succeeded_ && !logOverflowed_; }

    /// How far the part has read past its start.
    std::uint64_t progress() const { return progress_.load(std::memory_order_relaxed); }

    OutputFile& file() { return file_; }
    const std::vector<std::string>& log() const { return log_; }
    std::uint64_t messages() const { return messages_; }
    const AttachmentTally& attachments() const { return tally_; }
    const UnconvertedCounts& unconverted() const { return conversion_.counts; }

private:
    void work();

    const std::string& inputPath_;
    const std::string& outputPath_;
    MappedFile& input_;
    const ConversionOptions& options_;
    CharsetCandidates candidates_;
    CandidateConversion conversion_;
    const std::uint64_t start_;
    const std::string firstTerminator_; // a copy: the input may vanish under this thread before its reads are guarded
    OutputFile file_;
    MboxFileOutput output_{file_};
    std::atomic<bool> abandon_ = false;
    std::atomic<std::uint64_t> progress_ = 0;
    // Written by the thread; read once it is joined, or (what begun_ covers) once it has begun:
    std::vector<std::string> log_;
    bool logOverflowed_ = false;
    std::vector<std::string> buildLog_;
    AutomaticSource startState_;
    bool succeeded_ = false;
    std::uint64_t messages_ = 0;
    AttachmentTally tally_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_:
    bool begun_ = false;
    bool done_ = false;
};

/// The terminator of the input's first line, or empty when it has none.
std::string_view firstLineTerminator(std::string_view bytes);

/// Where a split conversion's second part begins, or 0 when the conversion is not split:
/// with a candidate list, a mapped input at least control.splitBytes large, enough cores,
/// a first line that has a terminator, and a split point. `firstTerminator` is set to the
/// first line's terminator.
std::uint64_t splitPoint(const MappedFile& input, const ConversionOptions& options, const CharsetCandidates* candidates,
                         const ConversionControl& control, std::string_view& firstTerminator);

/// What takeSecondPart works with: the first part's pass, which ended at `split`, and
/// the output it wrote.
struct SecondPartContext {
    StreamPass& pass;
    OutputFile& output;
    const CharsetCandidates& candidates; // the job's list
    std::uint64_t split;
    std::uint64_t inputSize;
    const ConversionControl& control;
};

/// Once the first part is done: appends the second part's output as it is written (once
/// it is known that the part began in the state the first part ended in) and, once the
/// append has caught up, lets the part write to the output itself; then waits for it.
/// True when the part's output is kept. Otherwise what it added is cut off again
/// (`cutFailed` when that failed: the output's error says why), and the one pass goes on
/// over its input. `reported`: the progress reported so far, from this thread alone.
bool takeSecondPart(SecondPart& second, const SecondPartContext& context, std::uint64_t& reported, bool& cutFailed);

} // namespace tarnwick
