#include "engine/mailbox/MboxConverter.h"

#include "engine/mailbox/SplitConversion.h"
#include "engine/mailbox/StreamPass.h"
#include "engine/output/MailboxOutput.h"
#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MappedFile.h"
#include "platform/MappedReadGuard.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace tarnwick {
namespace {

ConversionResult failure(std::string text)
{
    ConversionResult failed;
    failed.succeeded = false;
    failed.errorText = std::move(text);
    return failed;
}

// The parts of the input that a conversion with `options` writes, in order, or none
// when it writes the whole input as it lies (no index; or the messages in input order
// with every stretch between them beginning at a "From " line, kept inside). Indexed
// messages come in the order the index lists them, contiguous ones joined; the input
// they leave uncovered, kept inside, stays in place when they are in input order and
// follows them otherwise.
std::optional<std::vector<InputRange>> convertedRanges(const ConversionOptions& options, std::string_view bytes)
{
    const MessageIndex& index = options.messageIndex;
    if (index.empty())
        return std::nullopt;
    const std::uint64_t size = bytes.size();
    const std::vector<InputRange> uncovered = unindexedRanges(index, size);
    if (options.unindexed == UnindexedInput::Only) {
        // Alone, a blank stretch (line ends left between messages) is no message.
        std::vector<InputRange> alone;
        for (const InputRange& range : uncovered)
            if (!isBlankInput(bytes.substr(range.begin, range.end - range.begin)))
                alone.push_back(range);
        return alone;
    }
    std::vector<InputRange> ranges;
    ranges.reserve(index.size() + uncovered.size());
    for (const IndexedMessage& message : index) {
        const std::uint64_t begin = std::min(message.offset, size);
        const std::uint64_t end = begin + std::min(message.length, size - begin);
        if (begin == end)
            continue;
        if (!ranges.empty() && ranges.back().end == begin)
            ranges.back().end = end;
        else
            ranges.push_back({begin, end});
    }
    if (options.unindexed == UnindexedInput::Inside) {
        const bool sorted = std::is_sorted(index.begin(), index.end(),
                                           [](const IndexedMessage& x, const IndexedMessage& y) { return x.offset < y.offset; });
        const bool separated = std::all_of(uncovered.begin(), uncovered.end(), [bytes](const InputRange& range) {
            return bytes.substr(range.begin, kSeparatorPrefix.size()) == kSeparatorPrefix;
        });
        if (sorted && separated)
            return std::nullopt;
        // In input order, the uncovered input stays where it is, each stretch a part of
        // its own; else it follows the indexed messages.
        ranges.insert(ranges.end(), uncovered.begin(), uncovered.end());
        if (sorted)
            std::stable_sort(ranges.begin(), ranges.end(), [](const InputRange& x, const InputRange& y) { return x.begin < y.begin; });
    }
    return ranges;
}

// The options the pass runs with: the index as the pass looks records up in it, in input
// order, and none for the unindexed input alone. None when `options` are those already.
std::optional<ConversionOptions> inPassOrder(const ConversionOptions& options)
{
    std::optional<ConversionOptions> ordered;
    if (options.unindexed == UnindexedInput::Only) {
        ordered.emplace(options);
        ordered->messageIndex.clear();
    } else if (!std::is_sorted(options.messageIndex.begin(), options.messageIndex.end(),
                               [](const IndexedMessage& a, const IndexedMessage& b) { return a.offset < b.offset; })) {
        ordered.emplace(options);
        ordered->messageIndex = inInputOrder(options.messageIndex);
    }
    return ordered;
}

// Each part as the pass would go on at its first line, in the order given; progress
// counts the parts' bytes.
GuardedRun runRanges(StreamPass& pass, std::string_view bytes, const std::vector<InputRange>& ranges, std::uint64_t rangeBytes,
                     const ConversionControl& control)
{
    if (const std::string_view first = firstLineTerminator(bytes); !first.empty())
        pass.beginAtSplit(first);
    std::uint64_t before = 0; // bytes of the parts done
    std::uint64_t partBegin = 0;
    std::function<void(std::uint64_t, std::uint64_t)> partProgress;
    if (control.progress) {
        partProgress = [&](std::uint64_t done, std::uint64_t) { control.progress(before + done - partBegin, rangeBytes); };
    }
    return guardMappedReads(bytes, [&pass, &partProgress, &ranges, &before, &partBegin] {
        for (const InputRange& range : ranges) {
            partBegin = range.begin;
            pass.beginRange(range.begin, range.end);
            if (!pass.run(partProgress, range.begin, range.end))
                return false;
            before += range.end - range.begin;
        }
        return true;
    });
}

// What a pass run left to report once the output is settled.
struct PassOutcome {
    GuardedRun run;
    ConversionResult result;
    std::string attachmentReadFailure;
    int attachmentReadError = 0;
    std::string spoolError;
};

// The whole input in one pass, or in two parts at the same time when it is large
// (see SecondPart): the first part up to the split point on this thread, then the
// second part's output taken, or the rest done by the first part's pass after all.
PassOutcome runWhole(StreamPass& pass, std::string_view bytes, OutputFile* output, const ConversionControl& control,
                     const ParallelSetup& parallel, std::optional<SecondPart>& second, std::uint64_t split)
{
    PassOutcome outcome;
    // Progress is reported from this thread alone: while the parts run, as the sum of
    // how far each has read.
    std::function<void(std::uint64_t, std::uint64_t)> progress = control.progress;
    std::uint64_t reported = 0;
    if (second && control.progress) {
        progress = [&](std::uint64_t done, std::uint64_t) {
            reported = done + (second ? second->progress() : 0);
            control.progress(reported, bytes.size());
        };
    }
    GuardedRun& run = outcome.run;
    run = guardMappedReads(bytes, [&pass, &progress, &bytes, split] { return pass.run(progress, 0, split > 0 ? split : bytes.size()); });
    if (!second)
        return outcome;
    if (!run.result || run.faulted) {
        second->abandon(); // the first part's failure ends the conversion
        return outcome;
    }
    bool cutFailed = false;
    const SecondPartContext context{pass, *output, *parallel.candidates, split, bytes.size(), control};
    if (takeSecondPart(*second, context, reported, cutFailed)) {
        for (const std::string& line : second->log())
            logMessage(line);
        outcome.result.attachments.add(second->attachments());
        outcome.result.messages += second->messages();
        *parallel.counts += second->unconverted();
        outcome.result.parts = 2;
    } else if (cutFailed) {
        run.result = false; // the output's error says why
    } else {
        // Done again by the one pass, from where the second part began.
        pass.watchAutomaticState({}, {});
        second.reset();
        run = guardMappedReads(bytes, [&pass, &progress, &bytes, split] { return pass.run(progress, split, bytes.size()); });
    }
    return outcome;
}

// What a conversion converts of its input: the parts when not the whole input (see
// convertedRanges), and the options the pass runs with when not the caller's.
struct InputPlan {
    std::optional<std::vector<InputRange>> ranges;
    std::uint64_t rangeBytes = 0;
    std::optional<ConversionOptions> ordered;
};

// Runs the pass (or the passes) over the input into `destination`'s output.
PassOutcome convertInto(const std::string& inputPath, MappedFile& input, OutputDestination& destination, const ConversionOptions& options,
                        const MessageConversion& convert, const LargeMessageConversion& convertLarge, const ConversionControl& control,
                        const ParallelSetup& parallel, const InputPlan& plan)
{
    MailboxOutput& output = destination.output();
    const std::string& outputPath = destination.spoolPath();
    std::string_view firstTerminator;
    // Only an mbox file takes a second part's output appended.
    std::uint64_t split = plan.ranges || !output.file() ? 0 : splitPoint(input, options, parallel.candidates, control, firstTerminator);
    StreamPass pass(inputPath, outputPath, input, output, options, convert, convertLarge, parallel);
    std::optional<SecondPart> second;
    if (split > 0) {
        second.emplace(inputPath, outputPath, input, options, *parallel.candidates, parallel.batchBytes, split, firstTerminator);
        if (!second->start(control.stop, control.outputFolder)) {
            second.reset();
            split = 0;
        } else {
            // The state the second part begins in (see StreamPass::beginAtSplit).
            AutomaticSource secondStart = pass.automaticState();
            secondStart.origin = originOfMailbox(firstTerminator);
            pass.watchAutomaticState(secondStart, [&second] { second->giveUp(); });
        }
    }
    PassOutcome outcome;
    if (plan.ranges)
        outcome.run = runRanges(pass, input.bytes(), *plan.ranges, plan.rangeBytes, control);
    else
        outcome = runWhole(pass, input.bytes(), output.file(), control, parallel, second, split);
    // The first part's attachments first, then what a second part added.
    AttachmentTally attachments = pass.attachmentTally();
    attachments.add(outcome.result.attachments);
    outcome.result.attachments = std::move(attachments);
    outcome.result.messages += pass.messages();
    outcome.attachmentReadFailure = pass.readFailure();
    outcome.attachmentReadError = pass.readError();
    outcome.spoolError = pass.spoolError();
    return outcome;
}

// The conversion's result once the pass is done: its failures in the order the user
// must learn of them, else the output finished (an mbox file committed over its claim).
ConversionResult settle(PassOutcome& outcome, const std::string& inputPath, OutputDestination& destination)
{
    const GuardedRun& run = outcome.run;
    const auto failed = [&destination](std::string text) {
        destination.discard();
        return failure(std::move(text));
    };
    // Runs of unchanged lines are written straight from the mapped input: a write that
    // met pages the file no longer has (another program shortened it) failed to read the
    // input, not to write the output.
    if (run.faulted || (!run.result && destination.output().error() == EFAULT))
        return failed(translate("Could not read \"%1\": it was shortened while being converted", {inputPath}));
    if (!outcome.spoolError.empty()) {
        const std::string& path = destination.spoolPath();
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        return failed(translate("Could not write to \"%1\": %2", {folder.empty() ? "." : folder, outcome.spoolError}));
    }
    if (!outcome.attachmentReadFailure.empty())
        return failed(
            translate("Could not read \"%1\": %2", {outcome.attachmentReadFailure, systemErrorText(outcome.attachmentReadError)}));
    // A failing fsync or close can report a write that the kernel deferred: that too is
    // a write failure.
    if (!run.result)
        return failed(translate("Could not write to \"%1\": %2", {destination.name(), destination.output().errorText()}));
    if (!destination.finish())
        return failed(translate("Could not write to \"%1\": %2", {destination.name(), destination.errorText()}));
    return outcome.result;
}

// The input's parts to convert, or none; `skipped` set when there is nothing to convert.
InputPlan planInput(const std::string& inputPath, const ConversionOptions& options, std::string_view bytes,
                    std::optional<ConversionResult>& skipped)
{
    InputPlan plan;
    if (bytes.empty()) {
        skipped.emplace();
        return plan;
    }
    plan.ranges = convertedRanges(options, bytes);
    for (const InputRange& range : plan.ranges.value_or(std::vector<InputRange>{}))
        plan.rangeBytes += range.end - range.begin;
    if (plan.ranges && plan.rangeBytes == 0) {
        skipped.emplace();
        return plan;
    }
    plan.ordered = inPassOrder(options);
    if (!plan.ranges && !bytes.starts_with(kSeparatorPrefix)) {
        logMessage(formatMessage("'%1' is not Mbox format", {inputPath}));
        skipped.emplace();
        skipped->notMailbox = true;
    }
    return plan;
}

ConversionResult convertMailbox(const std::string& inputPath, OutputDestination& destination, const ConversionOptions& options,
                                const MessageConversion& convert, const LargeMessageConversion& convertLarge,
                                const ConversionControl& control, const ParallelSetup& parallel)
{
    MappedFile input;
    if (!input.open(inputPath, control.inputLinks)) {
        if (input.error() == ENOENT)
            return failure(translate("\"%1\" not found", {inputPath}));
        return failure(translate("Could not open \"%1\": %2", {inputPath, systemErrorText(input.error())}));
    }
    std::optional<ConversionResult> skipped;
    const InputPlan plan = planInput(inputPath, options, input.bytes(), skipped);
    if (skipped)
        return *skipped;
    if (!destination.open(input, control))
        return failure(destination.errorText());
    PassOutcome outcome;
    try {
        outcome = convertInto(inputPath, input, destination, plan.ordered ? *plan.ordered : options, convert, convertLarge, control,
                              parallel, plan);
    } catch (const std::bad_alloc&) {
        destination.discard();
        return failure(translate("Could not convert \"%1\": not enough memory", {inputPath}));
    } catch (const std::exception& error) {
        destination.discard();
        return failure(translate("Could not convert \"%1\": %2", {inputPath, error.what()}));
    }
    return settle(outcome, inputPath, destination);
}

// The mbox file: a temporary file beside the claim, renamed over it when complete.
class MboxFileDestination final : public OutputDestination {
public:
    explicit MboxFileDestination(const std::string& path) : path_(path) {}

    bool open(const MappedFile& input, const ConversionControl& control) override
    {
        // The claim: the empty file that reserves the output's name until the finished
        // output is renamed over it.
        claim_ = control.claim;
        if (!claim_) {
            const IdentityResult found = identityAt(path_);
            if (!found.identity) {
                error_ = translate("Could not create \"%1\": %2", {path_, systemErrorText(found.error)});
                return false;
            }
            claim_ = found.identity;
        }
        // Never more readable than its source.
        if (!file_.create(path_, input.permissions(), control.outputFolder)) {
            error_ = translate("Could not create \"%1\": %2", {path_, file_.errorText()});
            return false;
        }
        file_.stopWhen(control.stop);
        return true;
    }

    MailboxOutput& output() override { return output_; }
    bool finish() override { return file_.commit(*claim_); }
    void discard() override { file_.discard(); }
    const std::string& spoolPath() const override { return path_; }
    const std::string& name() const override { return path_; }
    std::string errorText() const override { return error_.empty() ? file_.errorText() : error_; }

private:
    const std::string& path_;
    std::optional<FileIdentity> claim_;
    OutputFile file_;
    MboxFileOutput output_{file_};
    std::string error_;
};

ConversionResult convertMailbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                                const MessageConversion& convert, const LargeMessageConversion& convertLarge,
                                const ConversionControl& control, const ParallelSetup& parallel)
{
    MboxFileDestination destination(outputPath);
    return convertMailbox(inputPath, destination, options, convert, convertLarge, control, parallel);
}

} // namespace

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const MessageConversion& convert, const ConversionControl& control)
{
    return convertMailbox(inputPath, outputPath, options, convert, LargeMessageConversion(), control, {});
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const MessageConversion& convert, const LargeMessageConversion& convertLarge, const ConversionControl& control)
{
    return convertMailbox(inputPath, outputPath, options, convert, convertLarge, control, {});
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control)
{
    CandidateConversion conversion(options, candidates, control.conversionBatchBytes);
    ConversionResult result
        = convertMailbox(inputPath, outputPath, options, conversion.convert, conversion.convertLarge, control, conversion.parallel);
    result.unconverted = conversion.counts;
    return result;
}

ConversionResult convertMailboxInto(const std::string& inputPath, OutputDestination& destination, const ConversionOptions& options,
                                    CharsetCandidates& candidates, const ConversionControl& control)
{
    CandidateConversion conversion(options, candidates, control.conversionBatchBytes);
    ConversionResult result
        = convertMailbox(inputPath, destination, options, conversion.convert, conversion.convertLarge, control, conversion.parallel);
    result.unconverted = conversion.counts;
    return result;
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const ConversionControl& control)
{
    CharsetCandidates candidates(options.charsetNames);
    return convertMbox(inputPath, outputPath, options, candidates, control);
}

} // namespace tarnwick