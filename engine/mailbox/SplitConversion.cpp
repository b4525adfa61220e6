#include "engine/mailbox/SplitConversion.h"

#include "engine/mailbox/LineScanner.h"
#include "engine/mailbox/SeparatorDate.h"
#include "platform/Log.h"
#include "platform/MappedReadGuard.h"

#include <algorithm>
#include <system_error>

namespace tarnwick {
namespace {

// Lines a second part may log before it is given up for the one pass: they wait in
// memory until the first part is done.
constexpr std::size_t kSplitLogBytes = 4u << 20;
// While the second part runs, what it has written is appended in steps of at least this
// size, looked at this often; once less is left, the part writes to the output itself.
constexpr std::uint64_t kAppendStep = 8u << 20;
constexpr std::chrono::milliseconds kAppendWait{2};
// Whether the second part converts its messages on a thread of its own too, as the
// first part does (see ParallelConversion). The two parts already keep both cores busy,
// and without it the part needs less memory; measured with bench/ --jobs.
constexpr bool kSecondPartOnTwoThreads = false;

// Where the second part of a split conversion begins: the first line at or after
// `from` that the pass would take as the start of a message (a "From " line that no
// indexed message holds), or 0 when there is none. A line begins after LF, or after a
// CR that no LF follows.
std::uint64_t findSplitPoint(std::string_view bytes, std::uint64_t from, const MessageIndex& index, bool separatorForm)
{
    std::size_t record = 0; // the first record that ends after the line looked at
    for (std::size_t at = std::max<std::uint64_t>(from, 1); (at = bytes.find(kSeparatorPrefix, at)) != std::string_view::npos; ++at) {
        if (bytes[at - 1] != '\n' && bytes[at - 1] != '\r')
            continue;
        while (record < index.size() && index[record].offset + index[record].length <= at)
            ++record;
        if (record < index.size() && index[record].offset < at)
            continue;
        if (separatorForm) {
            const std::size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
            if (!hasSeparatorDate(bytes.substr(at, end - at)))
                continue;
        }
        return at;
    }
    return 0;
}

} // namespace

SecondPart::SecondPart(const std::string& inputPath, const std::string& outputPath, MappedFile& input, const ConversionOptions& options,
                       const CharsetCandidates& candidates, std::size_t batchBytes, std::uint64_t start, std::string_view firstTerminator)
    : inputPath_(inputPath), outputPath_(outputPath), input_(input), options_(options), candidates_(candidates.names()),
      conversion_(options, candidates_, batchBytes, kSecondPartOnTwoThreads), start_(start), firstTerminator_(firstTerminator)
{}

bool SecondPart::start(const std::atomic<bool>* stop, const FolderHandle* folder)
{
    if (!file_.createUnnamed(outputPath_, folder))
        return false;
    file_.stopWhen(stop, &abandon_);
    try {
        thread_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool SecondPart::beganAsAfter(const AutomaticSource& before, const CharsetCandidates& candidates)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return begun_ || done_; });
    return begun_ && before == startState_ && (candidates.built() || buildLog_.empty());
}

bool SecondPart::waitFor(std::chrono::milliseconds time)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, time, [this] { return done_; });
}

void SecondPart::work()
{
    {
        const LogCapture capture(log_, kSplitLogBytes, logOverflowed_);
        try {
            if (options_.convertEncodings) {
                // Built here, rather than where a message first needs it: what building
                // logs is the first part's to log, or (when it converted nothing) a
                // reason to give this part up.
                const LogCapture building(buildLog_);
                candidates_.pairs();
            }
            StreamPass pass(inputPath_, outputPath_, input_, output_, options_, conversion_.convert, conversion_.convertLarge,
                            conversion_.parallel, start_);
            pass.beginAtSplit(firstTerminator_);
            {
                const std::lock_guard lock(mutex_);
                startState_ = pass.automaticState();
                begun_ = true;
            }
            changed_.notify_all();
            const auto progress = [this](std::uint64_t done, std::uint64_t) { progress_.store(done - start_, std::memory_order_relaxed); };
            const GuardedRun run
                = guardMappedReads(input_.bytes(), [&pass, &progress, this] { return pass.run(progress, start_, input_.size()); });
            succeeded_ = run.result && !run.faulted && pass.readFailure().empty() && pass.spoolError().empty();
            messages_ = pass.messages();
            tally_ = pass.attachmentTally();
        } catch (const std::exception&) {
            succeeded_ = false; // done again in the one pass, which reports it
        }
    }
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
}

std::string_view firstLineTerminator(std::string_view bytes)
{
    const std::uint64_t firstBreak
        = static_cast<std::uint64_t>(lineScanner::findLineBreak(bytes.data(), bytes.data() + bytes.size()) - bytes.data());
    if (firstBreak >= bytes.size())
        return {};
    const std::uint64_t firstEnd
        = bytes[firstBreak] == '\r' && firstBreak + 1 < bytes.size() && bytes[firstBreak + 1] == '\n' ? firstBreak + 2 : firstBreak + 1;
    return bytes.substr(firstBreak, firstEnd - firstBreak);
}

std::uint64_t splitPoint(const MappedFile& input, const ConversionOptions& options, const CharsetCandidates* candidates,
                         const ConversionControl& control, std::string_view& firstTerminator)
{
    const std::string_view bytes = input.bytes();
    if (!candidates || control.splitBytes == 0 || bytes.size() < control.splitBytes || !input.isMapped()
        || std::thread::hardware_concurrency() < control.splitCores)
        return 0;
    firstTerminator = firstLineTerminator(bytes);
    if (firstTerminator.empty())
        return 0;
    const std::uint64_t firstEnd = static_cast<std::uint64_t>(firstTerminator.data() + firstTerminator.size() - bytes.data());
    const std::uint64_t from = std::max(control.splitFrom.value_or(bytes.size() / 2), firstEnd);
    return from < bytes.size() ? findSplitPoint(bytes, from, options.messageIndex, options.separatorsOfEudorasForm) : 0;
}

bool takeSecondPart(SecondPart& second, const SecondPartContext& context, std::uint64_t& reported, bool& cutFailed)
{
    OutputFile& output = context.output;
    const std::uint64_t before = output.size();
    bool joined = second.beganAsAfter(context.pass.automaticState(), context.candidates);
    std::uint64_t appended = 0;
    bool takenOver = false;
    for (bool ended = false; joined && !ended;) {
        ended = second.waitFor(kAppendWait);
        if (!takenOver) {
            const std::uint64_t ready = second.file().settledSize();
            if (ready - appended < kAppendStep) {
                joined = output.takeOver(second.file(), appended);
                takenOver = true;
            } else {
                joined = output.append(second.file(), appended, ready);
                appended = ready;
            }
        }
        const std::uint64_t done = context.split + second.progress();
        if (context.control.progress && done >= reported + kProgressStep) {
            reported = done;
            context.control.progress(done, context.inputSize);
        }
    }
    if (joined)
        second.join();
    else
        second.abandon();
    joined = joined && second.succeeded();
    cutFailed = !joined && output.size() != before && !output.truncate(before);
    return joined;
}

} // namespace tarnwick
