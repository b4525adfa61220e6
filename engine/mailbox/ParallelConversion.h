#pragma once
// Collected messages converted on a second thread while the mailbox pass goes on, and
// handed back in mailbox order together with what converting them logged and counted:
// the same bytes, log lines and counts as converting them one after the other.

#include "engine/text/CharsetCandidates.h"
#include "engine/ConversionOptions.h"
#include "engine/mailbox/MessageBuffer.h"
#include "engine/message/MessageConverter.h"
#include "engine/output/MailboxOutput.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarnwick {

/// Where one collected message lies in its batch.
struct BatchedMessage {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::uint64_t headerLength = 0; // or kHeaderLengthNone
    MessageHead head;               // what the output learns of it
    std::size_t outputOffset = 0;   // where its result begins in the batch's output, once converted
};

/// Whole messages collected one after the other and, once converted, what they became.
struct MessageBatch {
    explicit MessageBatch(std::size_t capacity) : input(capacity) {}

    MessageBuffer input;                  // the messages, then the start of the next one
    std::vector<BatchedMessage> messages; // the finished ones
    std::uint64_t inputEnd = 0;           // the mailbox offset after the last finished message
    // Lines the pass logged for a message before its conversion (by its index), logged
    // in their place.
    std::vector<std::pair<std::size_t, std::string>> notes;

    // Filled by the conversion:
    std::string output;                // each message converted, or as collected when it is not
    std::vector<std::string> logLines; // logged while converting, in order
    UnconvertedCounts unconverted;     // messages left unconverted, by reason
    AutomaticSource start;             // the mailbox state the conversion began with
    MailboxContext end;                // the state after the last message
    std::exception_ptr failure;        // thrown by the conversion, rethrown in order
};

/// The conversion of a mailbox's messages in batches on two threads. The pass collects
/// each message at the end of collecting().input and calls finishMessage(); a full batch
/// goes to the second thread, and the pass's own thread converts one too when enough are
/// waiting. A converted batch is handed on (`deliver`) in mailbox order, its log lines
/// logged first and `mailbox` set to the state after it.
///
/// Converting a message depends on the messages before it only through the mailbox's
/// AutomaticSource (what ICU's detector confirmed). A batch converted before its
/// predecessor is done starts from the state that predecessor started from; when it
/// ends in another state, the batch is converted again in order, on the pass's thread.
/// Until the charset candidates are built (logging the names they leave out where the
/// first message needs them), batches are converted in order on the pass's thread.
class ParallelConversion {
public:
    /// Hands on a converted batch: its output (which it may swap away) and inputEnd.
    /// False stops the conversion (a write failed).
    using Deliver = std::function<bool(MessageBatch& batch)>;

    /// Messages left unconverted are counted in `counts` as their batch is delivered.
    ParallelConversion(const ConversionOptions& options, CharsetCandidates& candidates, MailboxContext& mailbox, UnconvertedCounts& counts,
                       std::size_t batchBytes, Deliver deliver);
    ~ParallelConversion();
    ParallelConversion(const ParallelConversion&) = delete;
    ParallelConversion& operator=(const ParallelConversion&) = delete;

    /// The batch being collected; the current message starts at messageStart().
    MessageBuffer& collecting() { return collecting_->input; }
    std::size_t messageStart() const { return messageStart_; }

    /// Ends the current message (collected from messageStart() to the end of the
    /// buffer), which the mailbox continues at `inputEnd`. False when a batch handed on
    /// could not be delivered.
    bool finishMessage(std::uint64_t headerLength, std::uint64_t inputEnd, const MessageHead& head = {});

    /// Keeps `line` to be logged just before what converting the current message logs.
    void note(std::string line);

    /// Converts and delivers every finished message; afterwards `mailbox` is the state
    /// after the last of them, and the current message begins the collecting buffer.
    bool drain();

private:
    enum class State { Queued, Converting, Converted };
    struct Entry {
        std::unique_ptr<MessageBatch> batch;
        State state = State::Queued;
    };

    // Converts the batch's messages from batch.start, capturing what they log.
    void convert(MessageBatch& batch);
    bool submit();
    bool startWorker();
    void workLoop();
    // Claims the oldest queued batch and sets the state it starts from (lock held);
    // null when none waits.
    MessageBatch* claim();
    void markConverted(MessageBatch* batch);
    // Delivers the converted batches at the front; with `wait`, the front one at least
    // (converting it here when nobody has). False when a delivery failed.
    bool retire(bool wait);
    bool retireAll();
    bool deliverInOrder(MessageBatch& batch);
    // The input bytes of the batches in flight (lock held).
    std::size_t bytesInFlight() const;
    std::unique_ptr<MessageBatch> freshBatch();
    void recycle(std::unique_ptr<MessageBatch> batch);

    const ConversionOptions& options_;
    CharsetCandidates& candidates_;
    MailboxContext& mailbox_;
    UnconvertedCounts& counts_;
    const std::size_t batchBytes_;
    const Deliver deliver_;
    std::unique_ptr<MessageBatch> collecting_;
    std::size_t messageStart_ = 0;
    std::vector<std::unique_ptr<MessageBatch>> spare_;
    bool workerFailed_ = false; // no thread could be started: everything in order here

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_:
    std::deque<Entry> inFlight_; // submitted, not yet delivered, in mailbox order
    AutomaticSource delivered_;  // the state after the last batch delivered
    bool quit_ = false;
};

} // namespace tarnwick
