#pragma once
// The mailbox pass: one pass over a mapped mailbox that finds its messages, mends their
// lines and headers, has them converted and hands them to the mbox output's batches.

#include "engine/attachments/AttachmentTally.h"
#include "engine/attachments/Reattachment.h"
#include "engine/ByteRange.h"
#include "engine/ConversionOptions.h"
#include "engine/mailbox/LineScanner.h"
#include "engine/mailbox/MboxConverter.h"
#include "engine/mailbox/MessageBuffer.h"
#include "engine/mailbox/ParallelConversion.h"
#include "engine/output/MailboxOutput.h"
#include "engine/output/OutputBatch.h"
#include "engine/output/StatusHeaders.h"
#include "platform/MappedFile.h"
#include "platform/SpoolFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::string_view kSeparatorPrefix = "From ";

// The message being collected: the end of a buffer from `start` on. The buffer is the
// pass's own, or the batch that ParallelConversion collects (the messages before this
// one in it stay as they are).
class MessageTail {
public:
    void attach(MessageBuffer& buffer, std::size_t start)
    {
        buffer_ = &buffer;
        start_ = start;
    }

    std::size_t size() const { return buffer_->size() - start_; }
    std::string_view view() const { return buffer_->view().substr(start_); }
    void clear() { buffer_->truncate(start_); }
    void append(std::string_view bytes) { buffer_->append(bytes); }
    void append(const char* bytes, std::size_t length) { buffer_->append(bytes, length); }
    void appendLine(const char* contents, std::size_t length, std::string_view terminator)
    {
        buffer_->appendLine(contents, length, terminator);
    }

    void shrink(std::size_t capacity)
    {
        if (start_ == 0)
            buffer_->shrink(capacity);
    }

private:
    MessageBuffer* buffer_ = nullptr;
    std::size_t start_ = 0;
};

/// What the pass needs to convert messages on two threads (ParallelConversion).
struct ParallelSetup {
    CharsetCandidates* candidates = nullptr; // none: every message through `convert`, in order
    std::size_t batchBytes = 0;
    UnconvertedCounts* counts = nullptr; // with candidates: what the batches leave unconverted is added here
    bool secondThread = true;            // false: the pass converts every message itself, in order
};

// The per-message conversion with convertMessage and convertLargeMessage over a charset
// candidate list, counting the messages it leaves unconverted.
struct CandidateConversion {
    CandidateConversion(const ConversionOptions& options, CharsetCandidates& candidates, std::size_t batchBytes, bool secondThread = true)
        : convert([this, &options, &candidates](std::string_view message, std::uint64_t headerLength, MailboxContext& mailbox,
                                                std::string& result) {
              if (convertMessage(message, headerLength, options, candidates, mailbox, result))
                  return true;
              counts.add(mailbox.lastReason);
              return false;
          }),
          convertLarge([this, &options, &candidates](std::uint64_t size, const MessageReader& read, std::uint64_t headerLength,
                                                     MailboxContext& mailbox, const std::function<bool(std::string_view)>& write) {
              const LargeMessageOutcome outcome = convertMessage(read, size, headerLength, options, candidates, mailbox, write);
              // Written unconverted like a small message that convertMessage leaves, and counted alike.
              if (outcome == LargeMessageOutcome::Unconverted)
                  counts.add(mailbox.lastReason);
              return outcome;
          }),
          parallel{&candidates, std::max<std::size_t>(batchBytes, 1), &counts, secondThread}
    {}
    CandidateConversion(const CandidateConversion&) = delete;
    CandidateConversion& operator=(const CandidateConversion&) = delete;

    // Messages the pass converts in order itself (a large one, one with attachments) are
    // counted here, the batches' as they are delivered.
    UnconvertedCounts counts;
    const MessageConversion convert;
    const LargeMessageConversion convertLarge;
    const ParallelSetup parallel;
};

// One call's pass over the input. Without encoding conversion the lines go straight
// into the output batch; with it, each message is first collected whole in `message_`
// for the hand-over, and its result joins the batch.
class StreamPass {
public:
    StreamPass(const std::string& inputPath, const std::string& outputPath, MappedFile& input, MailboxOutput& output,
               const ConversionOptions& options, const MessageConversion& convert, const LargeMessageConversion& convertLarge,
               const ParallelSetup& parallel, std::uint64_t partStart = 0);

    // Goes over the input from `from` up to `to` and writes everything, the message
    // under way at `to` finished there. `to` is the input's end, or a line that begins a
    // message (a split point); the pass may go on from there later, with the state it
    // had at that line. False when a write failed; the output's error says why.
    // `progress`, when set, hears how far the pass has read each time it has passed
    // another kProgressStep bytes.
    bool run(const std::function<void(std::uint64_t, std::uint64_t)>& progress, std::uint64_t from, std::uint64_t to);

    /// Makes the pass begin at a split point (see findSplitPoint) with the state that the
    /// one pass over the whole input has there, but Automatic's memory: the output
    /// terminator and the mailbox's origin, both set by the input's first line (whose
    /// terminator is `firstTerminator`). The index records before it are passed over when
    /// the pass looks at its first line, as the one pass does there.
    void beginAtSplit(std::string_view firstTerminator);

    /// Makes the pass go on at `from`, a line start anywhere in the input, as at the start
    /// of a message: run() then converts the range [from, to) after others, in any
    /// order. A range that does not begin with a "From " line is one message, after a
    /// separator line and an empty header written here.
    void beginRange(std::uint64_t from, std::uint64_t to);

    /// What the mailbox carries from message to message for Automatic, as the messages
    /// written so far left it.
    const AutomaticSource& automaticState() const { return mailbox_.automatic; }

    /// Calls `onChange` once, at the end of the first message after which automaticState()
    /// is not `expected` (a split's second part, begun in that state, is then of no use).
    void watchAutomaticState(const AutomaticSource& expected, std::function<void()> onChange)
    {
        watchedState_ = expected;
        onAutomaticChange_ = std::move(onChange);
    }

    const AttachmentTally& attachmentTally() const { return tally_; }
    /// The messages written so far.
    std::uint64_t messages() const { return messages_; }
    /// Why the spool file of a large message could not be written, or empty.
    const std::string& spoolError() const { return spoolError_; }
    /// The attachment file whose read failed, or empty.
    const std::string& readFailure() const { return readFailure_; }
    int readError() const { return readError_; }

private:
    // A line longer than this is scanned, and without encoding conversion written, in
    // pieces of this size whose pages are let go behind the pass, so that memory stays
    // bounded however long a line is.
    static constexpr std::uint64_t kLongLineChunk = 4u << 20;
    // A message is written before its end once this many of its bytes are pending, so a
    // long message does not pile up in memory either. Attachments are put back only into
    // messages up to this size: rebuilding one needs the whole message.
    static constexpr std::uint64_t kPendingBytesBound = 8u << 20;
    // With encoding conversion, a message above this goes to a spool file and is converted
    // from there in two streaming passes: decoded and re-encoded whole, a message needs
    // several times its size in memory.
    static constexpr std::uint64_t kSpoolBound = 4u << 20;
    // A spooled message goes to its spool file in writes of about this size.
    static constexpr std::size_t kSpillStep = 1u << 20;

    // The first terminator of the input becomes the output's, except that CR alone,
    // which no mbox reader accepts, becomes LF when mending is on.
    void setInputTerminator(std::string_view terminator);

    // Takes a header line of the message under way (the empty line that ends the header
    // included): false when the line is left out of the output, a stale length field or
    // a blank status header that the record's replaces.
    bool keepHeaderLine(const char* contents, std::uint64_t length);

    // Once the line that ends before `position` is in: a message without encoding
    // conversion is written in part when it grows past kPendingBytesBound; a spooled
    // one lets go of the input behind it.
    void boundPendingMessage(std::uint64_t position);

    // A Content-Length: or Lines: header line, or a continuation line of one.
    bool isDroppedHeaderLine(const char* contents, std::uint64_t length);

    void setTerminator(std::string_view terminator);

    // The line that starts at `position`. A long line is scanned in chunks whose pages
    // are let go as the scan passes them.
    LineBounds lineAt(std::uint64_t position);

    std::uint64_t messageLength() const
    {
        return options_.convertEncodings ? spool_.size() + message_.size() : messageWritten_ + batch_.length() - messageStart_;
    }

    void appendBytes(std::string_view bytes);

    // With encoding conversion, a message past kSpoolBound goes on in a spool file
    // rather than in memory; it is converted from there in two streaming passes.
    void spillIfLarge();

    void appendLine(std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t lineEnd);

    // A long line goes out in chunks, each written at once with what is pending before
    // it. The line's output is its contents and the output terminator, as for any other line.
    void appendLongLine(std::uint64_t start, std::uint64_t contentsEnd);

    // A possible attachment line of the current message, unless part of the message is
    // already written: then the files cannot be put back, and the log says so.
    void noteAttachmentLine(std::uint64_t length);

    // Writes what is pending, the current message's bytes so far included (a message
    // is then split between two writes). Nothing before `consumed` is read again.
    void writePartOfMessage(std::uint64_t consumed);

    // The end of the block of body lines that starts at `position`, or `position` when
    // fewer than 64 bytes are left (the lines are then taken one at a time).
    std::uint64_t bodyBlockEnd(std::uint64_t position) const;

    // Walks the body lines from `position` (a line start in a message body) up to the
    // next "From " line, attachment line, `blockEnd` or a line that reaches past the
    // last whole 64 bytes of the block; returns where it stopped (a line start). For each
    // line, onLine(start, contentsEnd, end, endsAsOutput) is called, endsAsOutput telling
    // whether its terminator is already the output terminator. The line breaks are found
    // 64 bytes at a time, independently of where lines start, so that finding one line's
    // end does not wait for the one before.
    template <typename OnLine> std::uint64_t walkBodyLines(std::uint64_t position, std::uint64_t blockEnd, OnLine&& onLine);

    // Copies the body lines of one block (see walkBodyLines) into the output batch. Each
    // line becomes its contents and the output terminator, exactly as appendLine writes
    // it (runs of lines that already end so are written from the input), and no body
    // line changes any other state of the pass.
    std::uint64_t copyBodyLines(std::uint64_t position);

    // copyBodyLines with encoding conversion: the lines go into the message being
    // collected, each its contents and the output terminator as appendLine collects it;
    // runs of lines that already end so are copied at once.
    std::uint64_t collectBodyLines(std::uint64_t position);

    // Whether the line's own terminator is the output terminator (then the line can be
    // written as it stands).
    bool hasOutputTerminator(std::uint64_t contentsEnd, std::uint64_t lineEnd) const;

    // Whether `start` lies inside an indexed message, after its first byte. Records
    // before `start` are passed over for good: the pass only moves forward.
    bool insideIndexedMessage(std::uint64_t start);

    // The record of the message that starts at `start`, if the index has one.
    void startRecord(std::uint64_t start);

    void appendStatusLines();

    void appendDateLine();

    // What the output learns of the message whose separator line is [start, start +
    // length) (length 0: a stretch of input without one), and, when its lines go
    // straight into the batch, the mark of its start there.
    void beginHead(std::uint64_t start, std::uint64_t length);

    // Completes the collected message (finishMessageBytes), then tells a watcher of
    // Automatic's memory when it changed.
    bool finishMessage(std::uint64_t next);

    // Completes the collected message (empty line, conversion) and writes the batch once
    // it is large enough. `next` is where the following message starts; nothing before
    // it is read again once the batch is written.
    bool finishMessageBytes(std::uint64_t next);

    // Converts and writes every message before the current one, which then begins the
    // collecting buffer; `mailbox_` is then the state after them.
    bool drainPipeline();

    // Reads the spooled head of the message back in front of its tail.
    bool unspool();

    enum class SpooledOutcome { Written, InMemory, Failed };

    // A message collected in the spool file: converted from there in two streaming
    // passes when convertLarge_ can, else read back into memory for the usual way.
    SpooledOutcome finishSpooled();

    // Writes a message whose attachment lines name files: everything before it first,
    // then the rebuilt message straight to the output, files streamed. Unchanged (the
    // message still collected as before) when no file was found.
    ReattachOutcome finishWithAttachments();

    // What the rebuilding of a message left to do: an unchanged message goes back into
    // the batch, a written one is followed by its empty line, a failed read is kept.
    ReattachOutcome settleReattached(const ReattachResult& result, DirectSink& sink);

    const std::string inputPath_;
    MappedFile& input_;
    const std::string_view bytes_;
    MailboxOutput& output_;
    const ConversionOptions& options_;
    const MessageConversion& convert_;

    char terminatorBytes_[2] = {};
    std::string_view terminator_{terminatorBytes_, 0}; // 0 bytes while open, else 1 or 2 of terminatorBytes_
    bool terminatorOpen_ = true;
    OutputBatch batch_;
    std::uint64_t messageStart_ = 0;   // where the current message begins in the batch
    std::uint64_t messageWritten_ = 0; // bytes of the current message already written (long lines)
    bool writeFailed_ = false;
    bool splitBySize_ = false;              // the current message was first written in part for its size
    std::uint64_t lostAttachmentLines_ = 0; // attachment lines of the message met after part of it was written
    MessageBuffer ownMessage_;              // where message_ is collected when it is not in a batch
    MessageTail message_;                   // the message (or its tail, when spooled), with encoding conversion only
    SpoolFile spool_;                       // the head of a message too large for memory
    std::string spoolDirectory_;            // where the spool file is made: the output's folder
    bool spoolFailed_ = false;
    std::string spoolError_;
    std::string spoolBuffer_; // the block last read back from the spool file
    const LargeMessageConversion& convertLarge_;
    std::string converted_;
    std::string dateLine_;
    bool inHeaders_ = false;
    bool droppingField_ = false;
    bool dateSatisfied_ = true;
    MailboxContext mailbox_;
    std::uint64_t headerLength_ = kHeaderLengthNone;
    ByteRange separator_;
    MessageHead head_;                       // of the message under way
    std::uint64_t limit_ = 0;                // where the run under way ends
    std::size_t nextRecord_ = 0;             // first index record that ends after the current line
    const IndexedMessage* record_ = nullptr; // the current message's record, if any
    PresentStatusHeaders presentStatus_;
    std::string statusLines_;
    std::vector<ByteRange> attachmentLines_; // body lines of this message that may be attachment lines
    std::string collected_;                  // such a message taken back out of the batch
    AttachmentTally tally_;
    std::uint64_t messages_ = 0;
    std::string readFailure_; // the attachment file that could not be read
    int readError_ = 0;
    UnconvertedCounts* counts_ = nullptr; // the counts that `convert_` adds to, when the pass knows them
    AutomaticSource watchedState_;
    std::function<void()> onAutomaticChange_;
    std::optional<ParallelConversion> pipeline_; // last: its thread ends before the rest goes
};

} // namespace tarnwick
