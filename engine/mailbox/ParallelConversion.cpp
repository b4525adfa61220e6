#include "engine/mailbox/ParallelConversion.h"

#include "platform/Log.h"

#include <cstring>
#include <system_error>

namespace tarnwick {
namespace {

// Batches submitted and not yet delivered, and the bytes they hold. Past either the
// pass's thread converts a waiting batch itself (or waits), which keeps memory bounded
// and both cores busy when converting is the slower part. Below them the pass goes on
// scanning: when the pass is the slower part, the second thread catches up later.
constexpr std::size_t kBatchesInFlight = 8;
constexpr std::size_t kBytesInFlight = std::size_t{2} << 20;
// A batch larger than this (a large message) is converted in order after everything
// before it, so that memory holds one such message at a time, as without the second
// thread.
constexpr std::size_t kLargeBatchBytes = std::size_t{1} << 20;

} // namespace

ParallelConversion::ParallelConversion(const ConversionOptions& options, CharsetCandidates& candidates, MailboxContext& mailbox,
                                       UnconvertedCounts& counts, std::size_t batchBytes, Deliver deliver)
    : options_(options), candidates_(candidates), mailbox_(mailbox), counts_(counts), batchBytes_(batchBytes), deliver_(std::move(deliver))
{
    collecting_ = freshBatch();
}

ParallelConversion::~ParallelConversion()
{
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

bool ParallelConversion::finishMessage(std::uint64_t headerLength, std::uint64_t inputEnd, const MessageHead& head)
{
    MessageBatch& batch = *collecting_;
    batch.messages.push_back({messageStart_, batch.input.size() - messageStart_, headerLength, head});
    batch.inputEnd = inputEnd;
    messageStart_ = batch.input.size();
    if (batch.input.size() < batchBytes_)
        return true;
    return submit();
}

void ParallelConversion::note(std::string line) { collecting_->notes.push_back({collecting_->messages.size(), std::move(line)}); }

bool ParallelConversion::retireAll()
{
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (inFlight_.empty())
                return true;
        }
        if (!retire(true))
            return false;
    }
}

bool ParallelConversion::drain()
{
    if (!retireAll())
        return false;
    MessageBatch& batch = *collecting_;
    bool delivered = true;
    if (!batch.messages.empty()) {
        batch.start = mailbox_.automatic;
        convert(batch);
        delivered = deliverInOrder(batch);
    }
    // Everything before the message under way is logged: its own notes come next.
    for (const auto& [message, line] : batch.notes) {
        if (message >= batch.messages.size())
            logMessage(line);
    }
    batch.notes.clear();
    // The message under way moves to the front of the buffer.
    const std::size_t tail = batch.input.size() - messageStart_;
    if (tail > 0)
        std::memmove(batch.input.data(), batch.input.data() + messageStart_, tail);
    batch.input.truncate(tail);
    batch.messages.clear();
    messageStart_ = 0;
    return delivered;
}

void ParallelConversion::convert(MessageBatch& batch)
{
    batch.output.clear();
    batch.logLines.clear();
    batch.unconverted = {};
    batch.failure = nullptr;
    MailboxContext context{batch.start, UnconvertedReason::None};
    const std::string_view input = batch.input.view();
    // Room for the usual growth (new header lines, some characters in two or three
    // bytes), so that the output is rarely moved to larger storage as it grows. Storage
    // passes from batch to batch; it is enlarged with a margin, so that the next batches,
    // a few bytes larger or smaller, keep it rather than each taking fresh memory.
    if (batch.output.capacity() < input.size() + input.size() / 4 + 4096)
        batch.output.reserve(input.size() + input.size() / 2 + 4096);
    try {
        const LogCapture capture(batch.logLines);
        auto note = batch.notes.begin();
        for (std::size_t i = 0; i < batch.messages.size(); ++i) {
            for (; note != batch.notes.end() && note->first == i; ++note)
                batch.logLines.push_back(note->second);
            BatchedMessage& message = batch.messages[i];
            message.outputOffset = batch.output.size();
            const std::string_view bytes = input.substr(message.offset, message.length);
            if (convertMessageAppend(bytes, message.headerLength, options_, candidates_, context, batch.output))
                continue;
            batch.unconverted.add(context.lastReason);
            batch.output.append(bytes);
        }
    } catch (...) {
        batch.failure = std::current_exception();
    }
    batch.end = context;
}

bool ParallelConversion::submit()
{
    std::unique_ptr<MessageBatch> batch = std::move(collecting_);
    collecting_ = freshBatch();
    messageStart_ = 0;
    const bool large = batch->input.size() > kLargeBatchBytes;
    if (large || !candidates_.built() || workerFailed_ || (!worker_.joinable() && !startWorker())) {
        // In order, here, after everything before it.
        if (!retireAll())
            return false;
        batch->start = mailbox_.automatic;
        convert(*batch);
        const bool delivered = deliverInOrder(*batch);
        recycle(std::move(batch));
        return delivered;
    }
    {
        const std::lock_guard lock(mutex_);
        if (inFlight_.empty())
            delivered_ = mailbox_.automatic;
        inFlight_.push_back({std::move(batch), State::Queued});
    }
    changed_.notify_all();
    if (!retire(false))
        return false;
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (inFlight_.size() < kBatchesInFlight && bytesInFlight() < kBytesInFlight)
                return true;
        }
        if (!retire(true))
            return false;
    }
}

bool ParallelConversion::startWorker()
{
    try {
        worker_ = std::thread([this] { workLoop(); });
        return true;
    } catch (const std::system_error&) {
        workerFailed_ = true;
        return false;
    }
}

void ParallelConversion::workLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        MessageBatch* batch = nullptr;
        changed_.wait(lock, [this, &batch] { return quit_ || (batch = claim()) != nullptr; });
        if (quit_)
            return;
        lock.unlock();
        convert(*batch);
        lock.lock();
        markConverted(batch);
        changed_.notify_all();
    }
}

MessageBatch* ParallelConversion::claim()
{
    for (std::size_t i = 0; i < inFlight_.size(); ++i) {
        Entry& entry = inFlight_[i];
        if (entry.state != State::Queued)
            continue;
        entry.state = State::Converting;
        // The state the batch before it ends in when it is known, else the one it
        // started from: the state changes seldom, and a wrong guess is redone in order.
        if (i == 0)
            entry.batch->start = delivered_;
        else if (inFlight_[i - 1].state == State::Converted)
            entry.batch->start = inFlight_[i - 1].batch->end.automatic;
        else
            entry.batch->start = inFlight_[i - 1].batch->start;
        return entry.batch.get();
    }
    return nullptr;
}

void ParallelConversion::markConverted(MessageBatch* batch)
{
    for (Entry& entry : inFlight_) {
        if (entry.batch.get() == batch)
            entry.state = State::Converted;
    }
}

bool ParallelConversion::retire(bool wait)
{
    for (;;) {
        std::unique_ptr<MessageBatch> done;
        MessageBatch* mine = nullptr;
        {
            std::unique_lock lock(mutex_);
            if (inFlight_.empty())
                return true;
            if (inFlight_.front().state == State::Converted) {
                done = std::move(inFlight_.front().batch);
                inFlight_.pop_front();
            } else if (!wait) {
                return true;
            } else if ((mine = claim()) == nullptr) {
                changed_.wait(lock, [this] { return inFlight_.front().state == State::Converted; });
                continue;
            }
        }
        if (mine) {
            convert(*mine);
            {
                const std::lock_guard lock(mutex_);
                markConverted(mine);
            }
            changed_.notify_all();
            continue;
        }
        const bool delivered = deliverInOrder(*done);
        {
            const std::lock_guard lock(mutex_);
            delivered_ = mailbox_.automatic;
        }
        recycle(std::move(done));
        if (!delivered)
            return false;
        wait = false;
    }
}

bool ParallelConversion::deliverInOrder(MessageBatch& batch)
{
    if (batch.start != mailbox_.automatic) {
        batch.start = mailbox_.automatic;
        convert(batch);
    }
    if (batch.failure)
        std::rethrow_exception(batch.failure);
    for (const std::string& line : batch.logLines)
        logMessage(line);
    mailbox_ = batch.end;
    counts_ += batch.unconverted;
    return deliver_(batch);
}

std::size_t ParallelConversion::bytesInFlight() const
{
    std::size_t bytes = 0;
    for (const Entry& entry : inFlight_)
        bytes += entry.batch->input.size();
    return bytes;
}

std::unique_ptr<MessageBatch> ParallelConversion::freshBatch()
{
    if (spare_.empty())
        return std::make_unique<MessageBatch>(2 * batchBytes_);
    std::unique_ptr<MessageBatch> batch = std::move(spare_.back());
    spare_.pop_back();
    return batch;
}

void ParallelConversion::recycle(std::unique_ptr<MessageBatch> batch)
{
    // A batch that held a message far larger than a batch does not keep its memory.
    if (batch->input.capacity() > 8 * batchBytes_ || batch->output.capacity() > 8 * batchBytes_)
        return;
    batch->input.clear();
    batch->messages.clear();
    batch->output.clear();
    batch->logLines.clear();
    batch->notes.clear();
    spare_.push_back(std::move(batch));
}

} // namespace tarnwick
