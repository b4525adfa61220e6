#include "engine/mailbox/MboxConverter.h"
#include "engine/message/MessageDecoder.h"

#include "engine/attachments/AttachmentLine.h"
#include "engine/ByteRange.h"
#include "engine/mailbox/LineScanner.h"
#include "engine/mailbox/MessageBuffer.h"
#include "engine/message/MessageConverter.h"
#include "engine/mailbox/ParallelConversion.h"
#include "engine/attachments/Reattachment.h"
#include "engine/mailbox/SeparatorDate.h"
#include "engine/output/StatusHeaders.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MappedFile.h"
#include "platform/MappedReadGuard.h"
#include "platform/OutputFile.h"
#include "platform/SpoolFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::string_view kSeparatorPrefix = "From ";
// The separator line written before input that does not begin with one of its own (a
// stretch of a mailbox's unindexed input that starts inside a message): Eudora's form,
// with no sender and no time known.
constexpr std::string_view kFragmentSeparator = "From ???@??? Thu Jan  1 00:00:00 1970";
constexpr std::size_t kInitialBufferCapacity = 256 * 1024;
// Complete messages are written once this many bytes are pending: fewer hand-overs to
// the writing thread than at 256 KiB, and small enough to stay in the core's cache
// until that thread copies them (2 MiB and more measure slower).
constexpr std::uint64_t kBatchBytes = 512 * 1024;
// A line longer than this is scanned, and without encoding conversion written, in
// pieces of this size whose pages are let go behind the pass, so that memory stays
// bounded however long a line is.
constexpr std::uint64_t kLongLineChunk = 4u << 20;
// A message is written before its end once this many of its bytes are pending, so a
// long message does not pile up in memory either. Attachments are put back only into
// messages up to this size: rebuilding one needs the whole message.
constexpr std::uint64_t kPendingBytesBound = 8u << 20;
// With encoding conversion, a message above this goes to a spool file and is converted
// from there in two streaming passes: decoded and re-encoded whole, a message needs
// several times its size in memory.
constexpr std::uint64_t kSpoolBound = 4u << 20;
// A spooled message goes to its spool file in writes of about this size.
constexpr std::size_t kSpillStep = 1u << 20;
// How far ahead of a written batch's end the writing thread maps the input.
constexpr std::uint64_t kReadAhead = 4u << 20;
// Body lines are copied in blocks of at most this much input (see copyBodyLines).
constexpr std::uint64_t kBodyBlock = 64u << 10;
// How far ahead of the body scan the input is asked into the cache.
constexpr std::uint64_t kPrefetchDistance = 2048;

bool isSeparator(const char* contents, std::uint64_t length)
{
    return length >= 5 && contents[0] == 'F' && contents[1] == 'r' && contents[2] == 'o' && contents[3] == 'm'
        && contents[4] == ' ';
}

// A body line that names an attachment file. Only these lines make a message go
// through the rebuilding with its files; the cheap test rules out nearly every line.
bool isAttachmentLine(const char* contents, std::uint64_t length)
{
    return mayBeAttachmentLine(contents, static_cast<std::size_t>(length))
        && parseAttachmentLine(std::string_view(contents, static_cast<std::size_t>(length))).has_value();
}

bool startsWithName(const char* contents, std::uint64_t length, std::string_view lowerName)
{
    if (length < lowerName.size())
        return false;
    for (std::size_t i = 0; i < lowerName.size(); ++i) {
        const char c = contents[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lowerName[i])
            return false;
    }
    return true;
}

// Eudora keeps the Content-Length: and Lines: of the mail as it arrived, before it
// decoded the body; readers that trust them cut the mailbox in the wrong places.
bool isStaleLengthHeader(const char* contents, std::uint64_t length)
{
    return startsWithName(contents, length, "content-length:") || startsWithName(contents, length, "lines:");
}

// "Date:" in any ASCII letter case; independent of the C locale.
bool isDateHeader(const char* contents, std::uint64_t length)
{
    return length >= 5 && (contents[0] | 0x20) == 'd' && (contents[1] | 0x20) == 'a' && (contents[2] | 0x20) == 't'
        && (contents[3] | 0x20) == 'e' && contents[4] == ':';
}

// Whole messages waiting to be written. The kernel's cost per write call (and per
// partly written page) is what limits a stream pass, so complete messages are collected
// up to kBatchBytes and written with one gathered write; a message is never split
// between two batches except by a short write. Pieces are spans of the input (runs of
// lines whose terminator already is the output terminator, written without copying)
// or spans of the batch's own bytes (everything that had to be rewritten).
//
// A full batch of whole messages is written behind the pass (writeBehind): a second
// thread copies it into the file while the pass collects the next one, so the copy into
// the page cache overlaps the scan on a second core. Up to kSlots - 1 batches are in
// flight, written in the order they were handed over, so that the pass seldom waits when
// the writing thread has to share a core for a while; memory stays kSlots batches.
// Every other write first waits for all of them, so the bytes keep their order. A failed
// write behind is reported by the next write or wait.
class OutputBatch {
public:
    /// `partStart`: where the part of the input that this batch's pass reads begins.
    OutputBatch(MappedFile& input, OutputFile& output, std::uint64_t partStart)
        : input_(input), output_(output),
          slots_{Slot(kInitialBufferCapacity), Slot(kInitialBufferCapacity), Slot(kInitialBufferCapacity),
                 Slot(kInitialBufferCapacity)},
          releasedUpTo_(MappedFile::pageStartFrom(partStart))
    {
    }

    ~OutputBatch()
    {
        if (!writer_.joinable())
            return;
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }

    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    std::uint64_t length() const { return length_; }
    bool empty() const { return length_ == 0; }

    void appendInput(std::uint64_t offset, std::uint64_t length)
    {
        std::vector<Piece>& pieces = current().pieces;
        if (!pieces.empty() && pieces.back().source == Source::Input && pieces.back().offset + pieces.back().length == offset)
            pieces.back().length += length;
        else
            pieces.push_back({offset, length, Source::Input});
        length_ += length;
    }

    /// Appends `bytes`, taking them over without a copy (`bytes` then gets emptied
    /// storage that an earlier batch took, for its next use).
    void take(std::string& bytes)
    {
        if (bytes.empty())
            return;
        Slot& slot = current();
        std::string storage;
        if (!spareTaken_.empty()) {
            storage = std::move(spareTaken_.back());
            spareTaken_.pop_back();
        }
        const auto index = static_cast<std::uint32_t>(slot.taken.size());
        slot.taken.push_back(std::move(bytes));
        bytes = std::move(storage);
        bytes.clear();
        slot.pieces.push_back({0, slot.taken.back().size(), Source::Taken, index});
        length_ += slot.taken.back().size();
    }

    void append(std::string_view bytes)
    {
        if (bytes.empty())
            return;
        MessageBuffer& own = current().bytes;
        const std::size_t at = own.size();
        own.append(bytes);
        addBytesPiece(at, bytes.size());
    }

    /// Room for `length` rewritten bytes, to be kept with commitBytes().
    char* reserveBytes(std::size_t length) { return current().bytes.reserveEnd(length); }

    void commitBytes(std::size_t length)
    {
        if (length == 0)
            return;
        MessageBuffer& own = current().bytes;
        const std::size_t at = own.size();
        own.commit(length);
        addBytesPiece(at, length);
    }

    void appendLine(const char* contents, std::size_t length, std::string_view terminator)
    {
        MessageBuffer& own = current().bytes;
        const std::size_t at = own.size();
        own.appendLine(contents, length, terminator);
        addBytesPiece(at, length + terminator.size());
    }

    /// Moves the bytes from `start` (a length of the batch) to its end into `out`.
    void takeFrom(std::uint64_t start, std::string& out)
    {
        out.clear();
        Slot& slot = current();
        std::uint64_t position = 0;
        std::size_t kept = 0;
        for (Piece& piece : slot.pieces) {
            const std::uint64_t end = position + piece.length;
            if (end > start) {
                const std::uint64_t skip = start > position ? start - position : 0;
                out.append(base(slot, piece) + piece.offset + skip, static_cast<std::size_t>(piece.length - skip));
                piece.length = skip;
            }
            if (piece.length > 0)
                ++kept;
            position = end;
        }
        slot.pieces.resize(kept);
        length_ = start;
    }

    /// Writes the batch in flight, if any, and then this one, before returning. False
    /// when either write failed; the output's error says why.
    bool write()
    {
        if (!waitForWriter())
            return false;
        if (empty())
            return true;
        Slot& slot = current();
        collectViews(slot);
        failed_ = !output_.write(slot.views.data(), slot.views.size());
        clear(slot);
        length_ = 0;
        return !failed_;
    }

    /// Lets the input's pages before `offset` go (see MappedFile::releaseBefore), back to
    /// where this pass's part begins: another pass may be reading the part before it.
    void releaseInputBefore(std::uint64_t offset) { input_.releaseBefore(offset, releasedUpTo_); }

    /// Hands the batch to the writing thread and starts an empty one. The input's pages
    /// before `consumed` are let go once it is written. False when a batch handed over
    /// before it failed.
    bool writeBehind(std::uint64_t consumed)
    {
        if (!writer_.joinable() && !startWriter()) {
            const bool written = write();
            releaseInputBefore(consumed);
            return written;
        }
        // The next slot to collect in must be free: wait for the oldest batch in flight
        // when every other slot holds one.
        if (!retireWritten(submitted_ - retired_ == kSlots - 1))
            return false;
        Slot& slot = current();
        slot.release = consumed;
        collectViews(slot);
        {
            const std::lock_guard lock(mutex_);
            ++submitted_;
        }
        changed_.notify_all();
        active_ = (active_ + 1) % kSlots;
        length_ = 0;
        return true;
    }

private:
    // Where a piece's bytes are: the input, the batch's bytes, or bytes it took over.
    enum class Source : std::uint8_t { Input, Own, Taken };

    struct Piece {
        std::uint64_t offset;
        std::uint64_t length;
        Source source;
        std::uint32_t taken = 0; // which of the slot's taken strings, for Source::Taken
    };

    struct Slot {
        explicit Slot(std::size_t capacity) : bytes(capacity) {}
        MessageBuffer bytes;
        std::vector<std::string> taken;
        std::vector<Piece> pieces;
        std::vector<std::string_view> views;
        std::uint64_t release = 0; // input offset to let go once the slot is written behind
    };

    Slot& current() { return slots_[active_]; }

    const char* base(const Slot& slot, const Piece& piece) const
    {
        switch (piece.source) {
        case Source::Input:
            return input_.bytes().data();
        case Source::Own:
            return slot.bytes.view().data();
        case Source::Taken:
            break;
        }
        return slot.taken[piece.taken].data();
    }

    void collectViews(Slot& slot)
    {
        slot.views.clear();
        for (const Piece& piece : slot.pieces)
            slot.views.emplace_back(base(slot, piece) + piece.offset, static_cast<std::size_t>(piece.length));
    }

    // Empties the slot; the storage of what it took is kept for the next takes, but
    // for storage of a large message, which goes.
    void clear(Slot& slot)
    {
        slot.pieces.clear();
        slot.bytes.clear();
        for (std::string& taken : slot.taken) {
            if (taken.capacity() <= kKeptTakenCapacity && spareTaken_.size() < kKeptTaken)
                spareTaken_.push_back(std::move(taken));
        }
        slot.taken.clear();
    }

    void addBytesPiece(std::size_t at, std::size_t length)
    {
        std::vector<Piece>& pieces = current().pieces;
        if (!pieces.empty() && pieces.back().source == Source::Own && pieces.back().offset + pieces.back().length == at)
            pieces.back().length += length;
        else
            pieces.push_back({at, length, Source::Own});
        length_ += length;
    }

    // False (the pass then writes itself) when no thread can be started.
    bool startWriter()
    {
        try {
            writer_ = std::thread([this] { writeLoop(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    // Waits until every batch in flight is written, then lets their slots and the input
    // pages before them go. False when any write failed: a failed output takes no more
    // bytes.
    bool waitForWriter()
    {
        while (retired_ < submitted_) {
            if (!retireWritten(true))
                return false;
        }
        return !failed_;
    }

    // Lets the slots of the batches written behind go, oldest first, with the input pages
    // before them; with `waitForOne`, waits for the oldest batch in flight first. False
    // when a write failed.
    bool retireWritten(bool waitForOne)
    {
        if (failed_)
            return false;
        std::uint64_t written;
        {
            std::unique_lock lock(mutex_);
            if (waitForOne)
                changed_.wait(lock, [this] { return written_ > retired_; });
            written = written_;
            failed_ = writeFailed_;
        }
        if (failed_)
            return false;
        for (; retired_ < written; ++retired_) {
            Slot& slot = slots_[retired_ % kSlots];
            clear(slot);
            releaseInputBefore(slot.release);
        }
        return true;
    }

    // Maps the input ahead of the pass, which has read up to `consumed` or a little
    // beyond: its page faults are then taken here, on the writing thread, which waits
    // for the pass most of the time, rather than on the pass's.
    void readAhead(std::uint64_t consumed)
    {
        const std::uint64_t end = std::min(consumed + kReadAhead, input_.size());
        const std::uint64_t from = std::max(populatedUpTo_, consumed);
        if (from >= end)
            return;
        input_.populate(from, end);
        populatedUpTo_ = end;
    }

    // Writes the batches handed over, in order. After a failed write the later ones are
    // only marked written: the output takes no more bytes.
    void writeLoop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return written_ < submitted_ || quit_; });
            if (written_ == submitted_)
                return;
            const Slot& slot = slots_[written_ % kSlots];
            const bool skip = writeFailed_;
            lock.unlock();
            const bool written = skip || output_.write(slot.views.data(), slot.views.size());
            const std::uint64_t consumed = slot.release;
            lock.lock();
            writeFailed_ = writeFailed_ || !written;
            ++written_;
            changed_.notify_all();
            lock.unlock();
            readAhead(consumed);
            lock.lock();
        }
    }

    static constexpr std::size_t kKeptTaken = 8;
    static constexpr std::size_t kKeptTakenCapacity = 2 * kBatchBytes;

    static constexpr std::size_t kSlots = 4;

    MappedFile& input_;
    OutputFile& output_;
    // The n-th batch handed to the writing thread is slot n % kSlots: they are taken in turn.
    Slot slots_[kSlots];
    std::vector<std::string> spareTaken_; // emptied storage of taken bytes, for take()
    unsigned active_ = 0;        // the slot being collected; others may be in flight
    std::uint64_t length_ = 0;   // bytes in the slot being collected
    std::uint64_t releasedUpTo_; // the input's pages before this are let go
    std::uint64_t retired_ = 0;  // batches written behind whose slots are free again
    std::thread writer_;         // started at the first write behind
    std::mutex mutex_;
    std::condition_variable changed_;
    bool failed_ = false;        // a write failed: nothing more is written
    // Guarded by mutex_:
    std::uint64_t submitted_ = 0; // batches handed to the writing thread
    std::uint64_t written_ = 0;   // of those, the ones it is done with
    bool writeFailed_ = false;    // one of its writes failed
    std::uint64_t populatedUpTo_ = 0; // the writing thread's: how far it has mapped the input ahead
    bool quit_ = false;
};

// The output of a rebuilt message: what the batch holds goes first; small pieces are
// gathered so that a header line is not one system call.
class DirectSink : public ByteSink {
public:
    DirectSink(OutputBatch& batch, OutputFile& output) : batch_(batch), output_(output) {}

    bool write(std::string_view bytes) override
    {
        if (!batch_.write())
            return false;
        if (pending_.size() + bytes.size() <= kGathered) {
            pending_.append(bytes);
            return true;
        }
        return flush() && output_.write(bytes);
    }

    bool flush()
    {
        if (!batch_.write())
            return false;
        const bool written = pending_.empty() || output_.write(pending_);
        pending_.clear();
        return written;
    }

private:
    static constexpr std::size_t kGathered = 64 * 1024;
    OutputBatch& batch_;
    OutputFile& output_;
    std::string pending_;
};

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
    UnconvertedCounts* counts = nullptr;     // with candidates: what the batches leave unconverted is added here
    bool secondThread = true;                // false: the pass converts every message itself, in order
};

// One call's pass over the input. Without encoding conversion the lines go straight
// into the output batch; with it, each message is first collected whole in `message_`
// for the hand-over, and its result joins the batch.
class StreamPass {
public:
    StreamPass(const std::string& inputPath, const std::string& outputPath, MappedFile& input, OutputFile& output,
               const ConversionOptions& options, const MessageConversion& convert,
               const LargeMessageConversion& convertLarge, const ParallelSetup& parallel, std::uint64_t partStart = 0)
        : inputPath_(inputPath), input_(input), bytes_(input.bytes()), output_(output), options_(options), convert_(convert),
          batch_(input, output, partStart),
          ownMessage_(options.convertEncodings && !(parallel.candidates && parallel.secondThread) ? kInitialBufferCapacity : 0),
          spoolDirectory_(outputPath.substr(0, outputPath.find_last_of('/') + 1)), convertLarge_(convertLarge)
    {
        mailbox_.automatic.family = &familyForLanguage(options.language);
        if (options_.convertEncodings && parallel.candidates && parallel.secondThread) {
            pipeline_.emplace(options_, *parallel.candidates, mailbox_, *parallel.counts, parallel.batchBytes,
                              [this](MessageBatch& batch) {
                batch_.take(batch.output);
                if (batch_.length() < kBatchBytes)
                    return true;
                return batch_.writeBehind(batch.inputEnd);
            });
            message_.attach(pipeline_->collecting(), pipeline_->messageStart());
        } else {
            message_.attach(ownMessage_, 0);
        }
        if (options_.convertEncodings && parallel.candidates)
            counts_ = parallel.counts;
        if (options_.crlfLineEndings)
            setTerminator("\r\n");
        else if (options_.lfLineEndings)
            setTerminator("\n");
        dateSatisfied_ = !options_.complementDateHeaders;
    }

    // Goes over the input from `from` up to `to` and writes everything, the message
    // under way at `to` finished there. `to` is the input's end, or a line that begins a
    // message (a split point); the pass may go on from there later, with the state it
    // had at that line. False when a write failed; the output's error says why.
    // `progress`, when set, hears how far the pass has read each time it has passed
    // another kProgressStep bytes.
    bool run(const std::function<void(std::uint64_t, std::uint64_t)>& progress, std::uint64_t from, std::uint64_t to)
    {
        const std::uint64_t n = to;
        limit_ = to;
        const char* const data = bytes_.data();
        std::uint64_t position = from;
        std::uint64_t nextProgress = progress ? from + kProgressStep : std::numeric_limits<std::uint64_t>::max();
        while (position < n) {
            if (position >= nextProgress) {
                progress(position, n);
                nextProgress = position + kProgressStep;
            }
            if (!inHeaders_ && headerLength_ != kHeaderLengthNone && !terminatorOpen_) {
                position = options_.convertEncodings ? collectBodyLines(position) : copyBodyLines(position);
                if (position == n)
                    break;
            }
            const auto [start, contentsEnd, lineEnd] = lineAt(position);
            if (terminatorOpen_ && lineEnd > contentsEnd)
                setInputTerminator(bytes_.substr(contentsEnd, lineEnd - contentsEnd));
            if (start == 0)
                mailbox_.automatic.origin = originOfMailbox(bytes_.substr(contentsEnd, lineEnd - contentsEnd));

            const char* const contents = data + start;
            const std::uint64_t length = contentsEnd - start;
            const bool fromLine = isSeparator(contents, length);
            const bool separator = fromLine && (!options_.separatorsOfEudorasForm || start == 0
                                                || hasSeparatorDate(std::string_view(contents, length)));
            if (separator && !insideIndexedMessage(start)) {
                if (messageLength() > 0 && !finishMessage(start))
                    return false;
                dateSatisfied_ = !options_.complementDateHeaders;
                droppingField_ = false;
                separator_ = ByteRange {start, length};
                inHeaders_ = true;
                headerLength_ = kHeaderLengthNone;
                startRecord(start);
            } else if (!inHeaders_) {
                if (headerLength_ == kHeaderLengthNone)
                    headerLength_ = messageLength();
                if (options_.putBackAttachments && isAttachmentLine(contents, length))
                    noteAttachmentLine(length);
            } else if (length == 0) {
                if (!dateSatisfied_)
                    appendDateLine();
                if (record_)
                    appendStatusLines();
                inHeaders_ = false;
            } else if (options_.dropStaleLengths && isDroppedHeaderLine(contents, length)) {
                position = lineEnd;
                continue;
            } else {
                if (!dateSatisfied_ && isDateHeader(contents, length))
                    dateSatisfied_ = true;
                // A blank status header gives way to the one the record gives.
                if (record_ && noteStatusHeader(std::string_view(contents, length), options_.extraStatusHeaders, presentStatus_)) {
                    position = lineEnd;
                    continue;
                }
            }
            // A "From " line inside a message that the index bounds, or not of the
            // separator's form where only that starts a message, is body text.
            if (fromLine && start != separator_.location)
                appendBytes(">");
            appendLine(start, contentsEnd, lineEnd);
            position = lineEnd;
            if (!options_.convertEncodings && batch_.length() - messageStart_ >= kPendingBytesBound) {
                // Too large to be rebuilt in bounded memory: its attachments stay as lines.
                lostAttachmentLines_ += attachmentLines_.size();
                attachmentLines_.clear();
                splitBySize_ = splitBySize_ || messageWritten_ == 0;
                writePartOfMessage(position);
            } else if (spool_.size() > 0) {
                batch_.releaseInputBefore(position); // what is spooled is not read from the input again
            }
            if (writeFailed_)
                return false;
        }
        if (messageLength() > 0 && !finishMessage(n))
            return false;
        if (pipeline_ && !drainPipeline())
            return false;
        // Everything is written: the next message, if the pass goes on, begins the batch.
        messageStart_ = 0;
        return batch_.write();
    }

    /// Makes the pass begin at a split point (see findSplitPoint) with the state that the
    /// one pass over the whole input has there, but Automatic's memory: the output
    /// terminator and the mailbox's origin, both set by the input's first line (whose
    /// terminator is `firstTerminator`). The index records before it are passed over when
    /// the pass looks at its first line, as the one pass does there.
    void beginAtSplit(std::string_view firstTerminator)
    {
        if (terminatorOpen_)
            setInputTerminator(firstTerminator);
        mailbox_.automatic.origin = originOfMailbox(firstTerminator);
    }

    /// Makes the pass go on at `from`, a line start anywhere in the input, as at the start
    /// of a message: run() then converts the range [from, to) after others, in any
    /// order. A range that does not begin with a "From " line is one message, after a
    /// separator line and an empty header written here.
    void beginRange(std::uint64_t from, std::uint64_t to)
    {
        const MessageIndex& index = options_.messageIndex;
        nextRecord_ = static_cast<std::size_t>(
            std::partition_point(index.begin(), index.end(),
                                 [from](const IndexedMessage& m) { return m.offset + m.length <= from; })
            - index.begin());
        if (from >= to || (to - from >= kSeparatorPrefix.size() && bytes_.substr(from, kSeparatorPrefix.size()) == kSeparatorPrefix))
            return;
        if (terminatorOpen_)
            setTerminator("\n");
        record_ = nullptr;
        presentStatus_ = {};
        separator_ = ByteRange{from, 0};
        dateSatisfied_ = true;
        droppingField_ = false;
        appendBytes(kFragmentSeparator);
        appendBytes(terminator_);
        appendBytes(terminator_);
        inHeaders_ = false;
        headerLength_ = kHeaderLengthNone;
    }

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
    // The first terminator of the input becomes the output's, except that CR alone,
    // which no mbox reader accepts, becomes LF when mending is on.
    void setInputTerminator(std::string_view terminator)
    {
        setTerminator(options_.mendCROnlyLineEndings && terminator == "\r" ? std::string_view("\n") : terminator);
    }

    // A Content-Length: or Lines: header line, or a continuation line of one.
    bool isDroppedHeaderLine(const char* contents, std::uint64_t length)
    {
        if (contents[0] == ' ' || contents[0] == '\t')
            return droppingField_;
        droppingField_ = isStaleLengthHeader(contents, length);
        return droppingField_;
    }

    void setTerminator(std::string_view terminator)
    {
        std::memcpy(terminatorBytes_, terminator.data(), terminator.size());
        terminator_ = std::string_view(terminatorBytes_, terminator.size());
        terminatorOpen_ = false;
    }

    // The line that starts at `position`. A long line is scanned in chunks whose pages
    // are let go as the scan passes them.
    LineBounds lineAt(std::uint64_t position)
    {
        const std::uint64_t n = limit_;
        const char* const b = bytes_.data();
        std::uint64_t t = position;
        for (;;) {
            const std::uint64_t limit = n - t > kLongLineChunk ? t + kLongLineChunk : n;
            t = static_cast<std::uint64_t>(lineScanner::findLineBreak(b + t, b + limit) - b);
            if (t < limit || limit == n)
                break;
            input_.dropPages(t - kLongLineChunk, t);
        }
        LineBounds line{position, t, n};
        if (t < n)
            line.end = (b[t] == '\r' && t + 1 < n && b[t + 1] == '\n') ? t + 2 : t + 1;
        return line;
    }

    std::uint64_t messageLength() const
    {
        return options_.convertEncodings ? spool_.size() + message_.size()
                                         : messageWritten_ + batch_.length() - messageStart_;
    }

    void appendBytes(std::string_view bytes)
    {
        if (options_.convertEncodings) {
            message_.append(bytes);
            spillIfLarge();
        } else {
            batch_.append(bytes);
        }
    }

    // With encoding conversion, a message past kSpoolBound goes on in a spool file
    // rather than in memory; it is converted from there in two streaming passes.
    void spillIfLarge()
    {
        if (message_.size() < kSpillStep || (spool_.size() == 0 && message_.size() < kSpoolBound))
            return;
        if (!spool_.append(spoolDirectory_, message_.view()))
            spoolFailed_ = true;
        message_.clear();
    }

    void appendLine(std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t lineEnd)
    {
        const char* const contents = bytes_.data() + start;
        const auto length = static_cast<std::size_t>(contentsEnd - start);
        if (options_.convertEncodings) {
            if (length > kLongLineChunk) {
                for (std::size_t at = 0; at < length; at += kLongLineChunk) {
                    message_.append(contents + at, std::min<std::size_t>(kLongLineChunk, length - at));
                    spillIfLarge();
                    input_.dropPages(start, start + at);
                }
                appendBytes(terminator_);
                input_.dropPages(start, contentsEnd);
            } else {
                message_.appendLine(contents, length, terminator_);
                spillIfLarge();
            }
        } else if (length > kLongLineChunk && attachmentLines_.empty())
            appendLongLine(start, contentsEnd);
        else if (hasOutputTerminator(contentsEnd, lineEnd))
            batch_.appendInput(start, lineEnd - start);
        else
            batch_.appendLine(contents, length, terminator_);
    }

    // A long line goes out in chunks, each written at once with what is pending before
    // it. The line's output is its contents and the output terminator, as for any other line.
    void appendLongLine(std::uint64_t start, std::uint64_t contentsEnd)
    {
        for (std::uint64_t at = start; at < contentsEnd && !writeFailed_;) {
            const std::uint64_t length = std::min(kLongLineChunk, contentsEnd - at);
            batch_.appendInput(at, length);
            at += length;
            writePartOfMessage(at);
            input_.dropPages(start, at);
        }
        batch_.append(terminator_);
    }

    // A possible attachment line of the current message, unless part of the message is
    // already written: then the files cannot be put back, and the log says so.
    void noteAttachmentLine(std::uint64_t length)
    {
        if (messageWritten_ == 0)
            attachmentLines_.push_back({messageLength(), length});
        else
            ++lostAttachmentLines_;
    }

    // Writes what is pending, the current message's bytes so far included (a message
    // is then split between two writes). Nothing before `consumed` is read again.
    void writePartOfMessage(std::uint64_t consumed)
    {
        messageWritten_ += batch_.length() - messageStart_;
        messageStart_ = 0;
        if (!batch_.write())
            writeFailed_ = true;
        batch_.releaseInputBefore(consumed);
    }

    // The end of the block of body lines that starts at `position`, or `position` when
    // fewer than 64 bytes are left (the lines are then taken one at a time).
    std::uint64_t bodyBlockEnd(std::uint64_t position) const
    {
        const std::uint64_t n = limit_;
        const std::uint64_t blockEnd = n - position > kBodyBlock ? position + kBodyBlock : n;
        return blockEnd - position < 64 ? position : blockEnd;
    }

    // Walks the body lines from `position` (a line start in a message body) up to the
    // next "From " line, attachment line, `blockEnd` or a line that reaches past the
    // last whole 64 bytes of the block; returns where it stopped (a line start). For each
    // line, onLine(start, contentsEnd, end, endsAsOutput) is called, endsAsOutput telling
    // whether its terminator is already the output terminator. The line breaks are found
    // 64 bytes at a time, independently of where lines start, so that finding one line's
    // end does not wait for the one before.
    template <typename OnLine>
    std::uint64_t walkBodyLines(std::uint64_t position, std::uint64_t blockEnd, OnLine&& onLine)
    {
        const char* const b = bytes_.data();
        const std::uint64_t n = bytes_.size();
        const std::size_t terminatorLength = terminator_.size();
        const char t0 = terminatorBytes_[0];
        const char t1 = terminatorBytes_[1];
        const std::uint64_t lastChunk = blockEnd - 64; // the last chunk start whose 64 bytes are in the block
        std::uint64_t chunk = position;
        std::uint64_t breaks = lineScanner::lineBreakMask64(b + chunk); // of [chunk, chunk + 64), none before p
        std::uint64_t p = position;
        for (;;) {
            if (n - p >= 5 && b[p] == 'F' && std::memcmp(b + p, "From ", 5) == 0)
                return p;
            while (breaks == 0) {
                if (chunk + 64 > lastChunk)
                    return p;
                chunk += 64;
                __builtin_prefetch(b + std::min(chunk + kPrefetchDistance, n - 1));
                breaks = lineScanner::lineBreakMask64(b + chunk);
                if (p > chunk) // the LF of a CR LF that ended the chunk before
                    breaks &= ~std::uint64_t{0} << (p - chunk);
            }
            const std::uint64_t t = chunk + static_cast<std::uint64_t>(__builtin_ctzll(breaks));
            if (options_.putBackAttachments && isAttachmentLine(b + p, static_cast<std::size_t>(t - p)))
                return p;
            breaks &= breaks - 1;
            std::uint64_t next = t + 1;
            if (b[t] == '\r' && next < n && b[next] == '\n') {
                if (next < chunk + 64)
                    breaks &= breaks - 1; // that LF's bit
                ++next;
            }
            onLine(p, t, next, next - t == terminatorLength && b[t] == t0 && (terminatorLength == 1 || b[t + 1] == t1));
            p = next;
        }
    }

    // Copies the body lines of one block (see walkBodyLines) into the output batch. Each
    // line becomes its contents and the output terminator, exactly as appendLine writes
    // it (runs of lines that already end so are written from the input), and no body
    // line changes any other state of the pass.
    std::uint64_t copyBodyLines(std::uint64_t position)
    {
        const std::uint64_t blockEnd = bodyBlockEnd(position);
        if (blockEnd == position)
            return position;
        const char* const b = bytes_.data();
        const std::uint64_t n = bytes_.size();
        const std::size_t terminatorLength = terminator_.size();
        const char t0 = terminatorBytes_[0];
        const char t1 = terminatorBytes_[1];
        // Every line grows by at most one byte (CR or LF to CR LF); 32 bytes of slack for
        // the wide copies, which may store up to 31 bytes past a line.
        char* out = batch_.reserveBytes(2 * static_cast<std::size_t>(blockEnd - position) + 32);
        // Pending is either the run [kept, p) of lines written from the input or the
        // rewritten bytes [copied, out), never both.
        char* copied = out;
        std::uint64_t kept = position;
        const std::uint64_t p = walkBodyLines(position, blockEnd, [&](std::uint64_t start, std::uint64_t contentsEnd,
                                                                      std::uint64_t end, bool endsAsOutput) {
            if (endsAsOutput) {
                if (out != copied) { // the run starts here, where the last rewritten line ended
                    batch_.commitBytes(static_cast<std::size_t>(out - copied));
                    copied = out;
                }
                return;
            }
            if (kept < start)
                batch_.appendInput(kept, start - kept);
            kept = end;
            const auto length = static_cast<std::size_t>(contentsEnd - start);
            if (n - start >= length + 32) {
                // Whole 16-byte loads, never past the input: cheaper than a call for the
                // usual short line.
                for (std::size_t at = 0; at < length; at += 32) {
                    std::memcpy(out + at, b + start + at, 16);
                    std::memcpy(out + at + 16, b + start + at + 16, 16);
                }
            } else {
                std::memcpy(out, b + start, length);
            }
            out += length;
            out[0] = t0;
            out[1] = t1;
            out += terminatorLength;
        });
        if (out != copied)
            batch_.commitBytes(static_cast<std::size_t>(out - copied));
        else if (kept < p)
            batch_.appendInput(kept, p - kept);
        return p;
    }

    // copyBodyLines with encoding conversion: the lines go into the message being
    // collected, each its contents and the output terminator as appendLine collects it;
    // runs of lines that already end so are copied at once.
    std::uint64_t collectBodyLines(std::uint64_t position)
    {
        const std::uint64_t blockEnd = bodyBlockEnd(position);
        if (blockEnd == position)
            return position;
        const char* const b = bytes_.data();
        std::uint64_t kept = position; // the run of lines not yet collected: [kept, p)
        const std::uint64_t p = walkBodyLines(position, blockEnd, [&](std::uint64_t start, std::uint64_t contentsEnd,
                                                                      std::uint64_t end, bool endsAsOutput) {
            if (endsAsOutput)
                return;
            message_.append(b + kept, static_cast<std::size_t>(start - kept));
            message_.appendLine(b + start, static_cast<std::size_t>(contentsEnd - start), terminator_);
            kept = end;
        });
        message_.append(b + kept, static_cast<std::size_t>(p - kept));
        spillIfLarge();
        if (spool_.size() > 0)
            batch_.releaseInputBefore(p); // what is spooled is not read from the input again
        return p;
    }

    // Whether the line's own terminator is the output terminator (then the line can be
    // written as it stands).
    bool hasOutputTerminator(std::uint64_t contentsEnd, std::uint64_t lineEnd) const
    {
        const std::uint64_t length = lineEnd - contentsEnd;
        if (length == 0 || length != terminator_.size())
            return false;
        const char* const terminator = bytes_.data() + contentsEnd;
        return terminator[0] == terminatorBytes_[0] && (length == 1 || terminator[1] == terminatorBytes_[1]);
    }

    // Whether `start` lies inside an indexed message, after its first byte. Records
    // before `start` are passed over for good: the pass only moves forward.
    bool insideIndexedMessage(std::uint64_t start)
    {
        const MessageIndex& index = options_.messageIndex;
        while (nextRecord_ < index.size() && index[nextRecord_].offset + index[nextRecord_].length <= start)
            ++nextRecord_;
        return nextRecord_ < index.size() && index[nextRecord_].offset < start;
    }

    // The record of the message that starts at `start`, if the index has one.
    void startRecord(std::uint64_t start)
    {
        const MessageIndex& index = options_.messageIndex;
        record_ = nextRecord_ < index.size() && index[nextRecord_].offset == start ? &index[nextRecord_] : nullptr;
        presentStatus_ = {};
    }

    void appendStatusLines()
    {
        statusLines_.clear();
        appendStatusHeaders(record_->facts, presentStatus_, options_.extraStatusHeaders, terminator_, statusLines_);
        appendBytes(statusLines_);
    }

    void appendDateLine()
    {
        const std::string_view separator = bytes_.substr(separator_.location, separator_.length);
        dateLine_.assign("Date: ");
        if (!appendSeparatorDate(separator, dateLine_))
            return;
        dateLine_.append(terminator_);
        appendBytes(dateLine_);
    }

    // Completes the collected message (finishMessageBytes), then tells a watcher of
    // Automatic's memory when it changed.
    bool finishMessage(std::uint64_t next)
    {
        const bool finished = finishMessageBytes(next);
        if (onAutomaticChange_ && mailbox_.automatic != watchedState_) {
            onAutomaticChange_();
            onAutomaticChange_ = nullptr;
        }
        return finished;
    }

    // Completes the collected message (empty line, conversion) and writes the batch once
    // it is large enough. `next` is where the following message starts; nothing before
    // it is read again once the batch is written.
    bool finishMessageBytes(std::uint64_t next)
    {
        ++messages_;
        // Collected whole for encoding conversion, a message over the bound would have to
        // be rebuilt in memory that grows with it.
        const bool tooLarge = messageWritten_ == 0 && messageLength() > kPendingBytesBound;
        if ((!attachmentLines_.empty() || lostAttachmentLines_ > 0) && (messageWritten_ > 0 || tooLarge)) {
            // Part of the message went out already (a long line, or more than 8 MiB), or it
            // is too large: it cannot be rebuilt.
            if (pipeline_ && !drainPipeline()) // the line follows those of the messages before
                return false;
            const std::string at = std::to_string(separator_.location);
            logMessage(splitBySize_ || tooLarge ? formatMessage("Attachments not put back into the message at byte %1: it is over 8 MiB", {at})
                                    : formatMessage("Attachments not put back into the message at byte %1: it holds a line over 4 MiB", {at}));
            // Their files are not in the output: counted with the missing ones.
            tally_.missing += attachmentLines_.size() + lostAttachmentLines_;
            attachmentLines_.clear();
        }
        lostAttachmentLines_ = 0;
        // The ways below write the message themselves, after everything before it.
        if (pipeline_ && spool_.size() > 0 && !drainPipeline())
            return false;
        // Putting attachments back needs the whole message in memory.
        if (!attachmentLines_.empty() && spool_.size() > 0 && !unspool())
            return false;
        if (!attachmentLines_.empty()) {
            const ReattachOutcome outcome = finishWithAttachments();
            attachmentLines_.clear();
            if (outcome == ReattachOutcome::Written) {
                messageStart_ = batch_.length();
                batch_.releaseInputBefore(next);
                return true;
            }
            if (outcome != ReattachOutcome::Unchanged)
                return false;
        }
        if (options_.addEmptyLines)
            appendBytes(terminator_);
        if (options_.convertEncodings && spool_.size() > 0) {
            if (pipeline_ && !drainPipeline())
                return false;
            const SpooledOutcome spooled = finishSpooled();
            if (spooled == SpooledOutcome::Failed)
                return false;
            if (spooled == SpooledOutcome::Written) {
                messageStart_ = batch_.length();
                batch_.releaseInputBefore(next);
                return true;
            }
        }
        if (pipeline_) {
            messageWritten_ = 0;
            splitBySize_ = false;
            const bool handedOn = pipeline_->finishMessage(headerLength_, next);
            message_.attach(pipeline_->collecting(), pipeline_->messageStart());
            return handedOn;
        }
        if (options_.convertEncodings) {
            if (convert_(message_.view(), headerLength_, mailbox_, converted_))
                batch_.append(converted_);
            else
                batch_.append(message_.view());
            message_.clear();
        }
        messageStart_ = batch_.length();
        messageWritten_ = 0;
        splitBySize_ = false;
        if (batch_.length() < kBatchBytes)
            return true;
        messageStart_ = 0;
        return batch_.writeBehind(next);
    }

    // Converts and writes every message before the current one, which then begins the
    // collecting buffer; `mailbox_` is then the state after them.
    bool drainPipeline()
    {
        const bool drained = pipeline_->drain();
        message_.attach(pipeline_->collecting(), pipeline_->messageStart());
        return drained;
    }

    // Reads the spooled head of the message back in front of its tail.
    bool unspool()
    {
        const std::string tail(message_.view());
        message_.clear();
        for (std::uint64_t at = 0; at < spool_.size(); at += kLongLineChunk) {
            const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kLongLineChunk, spool_.size() - at));
            const std::string_view bytes = spool_.read(at, length, spoolBuffer_);
            if (bytes.size() != length) {
                spoolError_ = spool_.errorText();
                return false;
            }
            message_.append(bytes);
        }
        message_.append(tail);
        spool_.clear();
        return true;
    }

    enum class SpooledOutcome { Written, InMemory, Failed };

    // A message collected in the spool file: converted from there in two streaming
    // passes when convertLarge_ can, else read back into memory for the usual way.
    SpooledOutcome finishSpooled()
    {
        if (spoolFailed_ || !spool_.append(spoolDirectory_, message_.view())) {
            spoolError_ = spool_.errorText();
            return SpooledOutcome::Failed;
        }
        message_.clear();
        bool readFailed = false;
        const MessageReader read = [this, &readFailed](std::uint64_t offset, std::size_t length) {
            const std::string_view bytes = spool_.read(offset, length, spoolBuffer_);
            if (bytes.size() != length) {
                // Never hand on fewer bytes than asked: the pass goes on over spaces and fails below.
                readFailed = true;
                spoolBuffer_.assign(length, ' ');
                return std::string_view(spoolBuffer_);
            }
            return bytes;
        };
        LargeMessageOutcome outcome = LargeMessageOutcome::NeedsWholeMessage;
        if (convertLarge_ && attachmentLines_.empty()) {
            if (!batch_.write())
                return SpooledOutcome::Failed;
            outcome = convertLarge_(spool_.size(), read, headerLength_, mailbox_,
                                    [this](std::string_view bytes) { return output_.write({bytes}); });
        }
        switch (outcome) {
        case LargeMessageOutcome::Converted:
            break;
        case LargeMessageOutcome::Unconverted:
            for (std::uint64_t at = 0; at < spool_.size() && !readFailed; at += kLongLineChunk) {
                const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kLongLineChunk, spool_.size() - at));
                if (!output_.write({read(at, length)}))
                    return SpooledOutcome::Failed;
            }
            break;
        case LargeMessageOutcome::WriteFailed:
            return SpooledOutcome::Failed;
        case LargeMessageOutcome::NeedsWholeMessage:
            // Not one for the large path (attachment lines to put back, or no large path
            // at all): memory grows with this message.
            if (readFailed || !unspool()) {
                spoolError_ = spool_.errorText();
                return SpooledOutcome::Failed;
            }
            return SpooledOutcome::InMemory;
        }
        if (readFailed) {
            spoolError_ = spool_.errorText();
            return SpooledOutcome::Failed;
        }
        spool_.clear();
        message_.shrink(kInitialBufferCapacity);
        return SpooledOutcome::Written;
    }

    // Writes a message whose attachment lines name files: everything before it first,
    // then the rebuilt message straight to the output, files streamed. Unchanged (the
    // message still collected as before) when no file was found.
    ReattachOutcome finishWithAttachments()
    {
        std::string_view message = message_.view();
        if (!options_.convertEncodings) {
            batch_.takeFrom(messageStart_, collected_);
            message = collected_;
        }
        DirectSink sink(batch_, output_);
        // The text is converted before it is known whether the message can be rebuilt;
        // when it cannot, the whole message is converted again the usual way, so this
        // attempt must leave no trace: its log lines wait, and the mailbox state and the
        // counts it changed are put back.
        std::vector<std::string> attemptLog;
        std::optional<MailboxContext> mailboxBefore;
        UnconvertedCounts countsBefore;
        const TextConversion convertText = [&](std::string_view text, std::uint64_t length, std::string& result) {
            mailboxBefore = mailbox_;
            if (counts_)
                countsBefore = *counts_;
            const LogCapture capture(attemptLog);
            return convert_(text, length, mailbox_, result);
        };
        // With Automatic, names in attachment lines are taken in the mailbox's legacy encoding.
        const EncodingId namesEncoding = options_.sourceEncoding == kEncodingAutomatic
            ? mailbox_.automatic.family->primary(mailbox_.automatic.origin)
            : options_.sourceEncoding;
        // A subject in a log line reads as the converted message does: in the message's
        // own encoding. Chosen without the detector's memory of earlier messages, which
        // the pass does not have yet when the messages are converted on another thread.
        const std::function<EncodingId()> subjectEncoding = [&] {
            return messageEncoding(message, headerLength_, options_,
                                   AutomaticSource{mailbox_.automatic.origin, mailbox_.automatic.family, nullptr});
        };
        const ReattachmentContext context{options_.attachmentFolders, namesEncoding, terminator_,
                                          options_.convertEncodings ? &convertText : nullptr, tally_, &subjectEncoding};
        ReattachResult result;
        if (pipeline_) {
            // Only a message with a file found is written here, after everything before
            // it; of the others, only the missing files are logged, in their place.
            std::vector<std::string> missing;
            std::optional<AttachmentLookup> found;
            {
                const LogCapture capture(missing);
                found = lookUpAttachments(message, headerLength_, attachmentLines_, context);
            }
            if (found->parts.empty()) {
                for (std::string& line : missing)
                    pipeline_->note(std::move(line));
                return ReattachOutcome::Unchanged;
            }
            if (!drainPipeline())
                return ReattachOutcome::WriteFailed;
            for (const std::string& line : missing)
                logMessage(line);
            message = message_.view(); // moved to the front of the buffer
            result = writeWithAttachments(message, headerLength_, *found, context, sink);
        } else {
            result = writeWithAttachments(message, headerLength_, attachmentLines_, context, sink);
        }
        if (result.outcome == ReattachOutcome::Unchanged && mailboxBefore) {
            mailbox_ = *mailboxBefore;
            if (counts_)
                *counts_ = countsBefore;
        } else {
            for (const std::string& line : attemptLog)
                logMessage(line);
        }
        switch (result.outcome) {
        case ReattachOutcome::Unchanged:
            if (!options_.convertEncodings)
                batch_.append(collected_);
            break;
        case ReattachOutcome::Written:
            message_.clear();
            if (!(options_.addEmptyLines ? sink.write(terminator_) && sink.flush() : sink.flush()))
                return ReattachOutcome::WriteFailed;
            break;
        case ReattachOutcome::ReadFailed:
            readFailure_ = result.failedPath;
            readError_ = result.error;
            break;
        case ReattachOutcome::WriteFailed:
            break;
        }
        return result.outcome;
    }

    const std::string inputPath_;
    MappedFile& input_;
    const std::string_view bytes_;
    OutputFile& output_;
    const ConversionOptions& options_;
    const MessageConversion& convert_;

    char terminatorBytes_[2] = {};
    std::string_view terminator_{terminatorBytes_, 0}; // 0 bytes while open, else 1 or 2 of terminatorBytes_
    bool terminatorOpen_ = true;
    OutputBatch batch_;
    std::uint64_t messageStart_ = 0; // where the current message begins in the batch
    std::uint64_t messageWritten_ = 0; // bytes of the current message already written (long lines)
    bool writeFailed_ = false;
    bool splitBySize_ = false;     // the current message was first written in part for its size
    std::uint64_t lostAttachmentLines_ = 0; // attachment lines of the message met after part of it was written
    MessageBuffer ownMessage_;       // where message_ is collected when it is not in a batch
    MessageTail message_;            // the message (or its tail, when spooled), with encoding conversion only
    SpoolFile spool_;                // the head of a message too large for memory
    std::string spoolDirectory_;     // where the spool file is made: the output's folder
    bool spoolFailed_ = false;
    std::string spoolError_;
    std::string spoolBuffer_;        // the block last read back from the spool file
    const LargeMessageConversion& convertLarge_;
    std::string converted_;
    std::string dateLine_;
    bool inHeaders_ = false;
    bool droppingField_ = false;
    bool dateSatisfied_ = true;
    MailboxContext mailbox_;
    std::uint64_t headerLength_ = kHeaderLengthNone;
    ByteRange separator_;
    std::uint64_t limit_ = 0;                 // where the run under way ends
    std::size_t nextRecord_ = 0;              // first index record that ends after the current line
    const IndexedMessage* record_ = nullptr;  // the current message's record, if any
    PresentStatusHeaders presentStatus_;
    std::string statusLines_;
    std::vector<ByteRange> attachmentLines_; // body lines of this message that may be attachment lines
    std::string collected_;                  // such a message taken back out of the batch
    AttachmentTally tally_;
    std::uint64_t messages_ = 0;
    std::string readFailure_;                // the attachment file that could not be read
    int readError_ = 0;
    UnconvertedCounts* counts_ = nullptr;        // the counts that `convert_` adds to, when the pass knows them
    AutomaticSource watchedState_;
    std::function<void()> onAutomaticChange_;
    std::optional<ParallelConversion> pipeline_; // last: its thread ends before the rest goes
};


// The per-message conversion with convertMessage and convertLargeMessage over a charset
// candidate list, counting the messages it leaves unconverted.
struct CandidateConversion {
    CandidateConversion(const ConversionOptions& options, CharsetCandidates& candidates, std::size_t batchBytes,
                        bool secondThread = true)
        : convert([this, &options, &candidates](std::string_view message, std::uint64_t headerLength,
                                                MailboxContext& mailbox, std::string& result) {
              if (convertMessage(message, headerLength, options, candidates, mailbox, result))
                  return true;
              counts.add(mailbox.lastReason);
              return false;
          }),
          convertLarge([this, &options, &candidates](std::uint64_t size, const MessageReader& read,
                                                     std::uint64_t headerLength, MailboxContext& mailbox,
                                                     const std::function<bool(std::string_view)>& write) {
              const LargeMessageOutcome outcome =
                  convertLargeMessage(size, read, headerLength, options, candidates, mailbox, write);
              // Written unconverted like a small message that convertMessage leaves, and counted alike.
              if (outcome == LargeMessageOutcome::Unconverted)
                  counts.add(mailbox.lastReason);
              return outcome;
          }),
          parallel{&candidates, std::max<std::size_t>(batchBytes, 1), &counts, secondThread}
    {
    }
    CandidateConversion(const CandidateConversion&) = delete;
    CandidateConversion& operator=(const CandidateConversion&) = delete;

    // Messages the pass converts in order itself (a large one, one with attachments) are
    // counted here, the batches' as they are delivered.
    UnconvertedCounts counts;
    const MessageConversion convert;
    const LargeMessageConversion convertLarge;
    const ParallelSetup parallel;
};

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

// The second part of a split conversion: from the split point to the input's end,
// converted on a thread of its own into an unnamed file in the output's folder, its
// log lines kept, with a candidate list, counts and attachment tally of its own, and
// beginning with the state the one pass has at the split point, except that Automatic's
// memory is the one the mailbox starts with. The caller takes its output only when the
// first part ends in that state; otherwise, and whenever this part fails, the first
// part's pass goes on over the rest itself, so that everything happens as in one pass.
class SecondPart {
public:
    SecondPart(const std::string& inputPath, const std::string& outputPath, MappedFile& input,
               const ConversionOptions& options, const CharsetCandidates& candidates, std::size_t batchBytes,
               std::uint64_t start, std::string_view firstTerminator)
        : inputPath_(inputPath), outputPath_(outputPath), input_(input), options_(options),
          candidates_(candidates.names()), conversion_(options, candidates_, batchBytes, kSecondPartOnTwoThreads), start_(start),
          firstTerminator_(firstTerminator)
    {
    }

    ~SecondPart() { abandon(); }
    SecondPart(const SecondPart&) = delete;
    SecondPart& operator=(const SecondPart&) = delete;

    /// Creates the unnamed file and starts the thread. False when either cannot be: the
    /// conversion is then not split.
    bool start(const std::atomic<bool>* stop, const FolderHandle* folder)
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
    bool beganAsAfter(const AutomaticSource& before, const CharsetCandidates& candidates)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return begun_ || done_; });
        return begun_ && before == startState_ && (candidates.built() || buildLog_.empty());
    }

    /// Waits up to `time` for the part to end; true when it has.
    bool waitFor(std::chrono::milliseconds time)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, time, [this] { return done_; });
    }

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
    void work()
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
                StreamPass pass(inputPath_, outputPath_, input_, file_, options_, conversion_.convert,
                                conversion_.convertLarge, conversion_.parallel, start_);
                pass.beginAtSplit(firstTerminator_);
                {
                    const std::lock_guard lock(mutex_);
                    startState_ = pass.automaticState();
                    begun_ = true;
                }
                changed_.notify_all();
                const auto progress = [this](std::uint64_t done, std::uint64_t) {
                    progress_.store(done - start_, std::memory_order_relaxed);
                };
                const GuardedRun run = guardMappedReads(input_.bytes(), [&pass, &progress, this] {
                    return pass.run(progress, start_, input_.size());
                });
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

    const std::string& inputPath_;
    const std::string& outputPath_;
    MappedFile& input_;
    const ConversionOptions& options_;
    CharsetCandidates candidates_;
    CandidateConversion conversion_;
    const std::uint64_t start_;
    const std::string firstTerminator_; // a copy: the input may vanish under this thread before its reads are guarded
    OutputFile file_;
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

// The terminator of the input's first line, or empty when it has none.
std::string_view firstLineTerminator(std::string_view bytes)
{
    const std::uint64_t firstBreak = static_cast<std::uint64_t>(
        lineScanner::findLineBreak(bytes.data(), bytes.data() + bytes.size()) - bytes.data());
    if (firstBreak >= bytes.size())
        return {};
    const std::uint64_t firstEnd = bytes[firstBreak] == '\r' && firstBreak + 1 < bytes.size() && bytes[firstBreak + 1] == '\n'
        ? firstBreak + 2
        : firstBreak + 1;
    return bytes.substr(firstBreak, firstEnd - firstBreak);
}

// Where a split conversion's second part begins, or 0 when the conversion is not split:
// with a candidate list, a mapped input at least control.splitBytes large, enough cores,
// a first line that has a terminator, and a split point.
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
        const bool sorted = std::is_sorted(index.begin(), index.end(), [](const IndexedMessage& x, const IndexedMessage& y) {
            return x.offset < y.offset;
        });
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

ConversionResult convertMailbox(const std::string& inputPath, const std::string& outputPath,
                                const ConversionOptions& options, const MessageConversion& convert,
                                const LargeMessageConversion& convertLarge, const ConversionControl& control,
                                const ParallelSetup& parallel)
{
    auto failure = [](std::string text) {
        ConversionResult failed;
        failed.succeeded = false;
        failed.errorText = std::move(text);
        return failed;
    };
    MappedFile input;
    if (!input.open(inputPath, control.inputLinks)) {
        if (input.error() == ENOENT)
            return failure(translate("\"%1\" not found", {inputPath}));
        return failure(translate("Could not open \"%1\": %2", {inputPath, systemErrorText(input.error())}));
    }
    const std::string_view bytes = input.bytes();
    if (bytes.empty())
        return {};
    // The parts converted when not the whole input, and the index as the pass looks
    // records up in it: in input order, none for the unindexed input alone.
    const std::optional<std::vector<InputRange>> ranges = convertedRanges(options, bytes);
    std::uint64_t rangeBytes = 0;
    for (const InputRange& range : ranges.value_or(std::vector<InputRange>{}))
        rangeBytes += range.end - range.begin;
    if (ranges && rangeBytes == 0)
        return {};
    std::optional<ConversionOptions> ordered;
    if (options.unindexed == UnindexedInput::Only) {
        ordered.emplace(options);
        ordered->messageIndex.clear();
    } else if (!std::is_sorted(options.messageIndex.begin(), options.messageIndex.end(),
                               [](const IndexedMessage& a, const IndexedMessage& b) { return a.offset < b.offset; })) {
        ordered.emplace(options);
        ordered->messageIndex = inInputOrder(options.messageIndex);
    }
    const ConversionOptions& passOptions = ordered ? *ordered : options;
    if (!ranges && (bytes.size() < kSeparatorPrefix.size() || bytes.substr(0, kSeparatorPrefix.size()) != kSeparatorPrefix)) {
        logMessage(formatMessage("'%1' is not Mbox format", {inputPath}));
        ConversionResult skipped;
        skipped.notMailbox = true;
        return skipped;
    }

    // The claim: the empty file that reserves the output's name until the finished
    // output is renamed over it.
    std::optional<FileIdentity> claim = control.claim;
    if (struct stat info {}; !claim) {
        if (::lstat(outputPath.c_str(), &info) != 0)
            return failure(translate("Could not create \"%1\": %2", {outputPath, systemErrorText(errno)}));
        claim = FileIdentity{info.st_dev, info.st_ino};
    }
    OutputFile output;
    // Never more readable than its source.
    if (!output.create(outputPath, input.permissions(), control.outputFolder))
        return failure(translate("Could not create \"%1\": %2", {outputPath, output.errorText()}));
    output.stopWhen(control.stop);

    // Running out of memory, or any other exception, fails this file alone: the job
    // removes its output and goes on with the next.
    GuardedRun run;
    ConversionResult result;
    std::string attachmentReadFailure;
    int attachmentReadError = 0;
    std::string spoolError;
    try {
        std::string_view firstTerminator;
        std::uint64_t split = ranges ? 0 : splitPoint(input, passOptions, parallel.candidates, control, firstTerminator);
        StreamPass pass(inputPath, outputPath, input, output, passOptions, convert, convertLarge, parallel);
        std::optional<SecondPart> second;
        ConversionResult extra; // what the second part adds, when its output is taken
        if (split > 0) {
            second.emplace(inputPath, outputPath, input, passOptions, *parallel.candidates, parallel.batchBytes, split,
                           firstTerminator);
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
        if (ranges) {
            // Each part as the pass would go on at its first line, in the order given;
            // progress counts the parts' bytes.
            if (const std::string_view first = firstLineTerminator(bytes); !first.empty())
                pass.beginAtSplit(first);
            std::uint64_t before = 0;     // bytes of the parts done
            std::uint64_t partBegin = 0;
            std::function<void(std::uint64_t, std::uint64_t)> partProgress;
            if (control.progress) {
                partProgress = [&](std::uint64_t done, std::uint64_t) {
                    control.progress(before + done - partBegin, rangeBytes);
                };
            }
            run = guardMappedReads(bytes, [&pass, &partProgress, &ranges, &before, &partBegin] {
                for (const InputRange& range : *ranges) {
                    partBegin = range.begin;
                    pass.beginRange(range.begin, range.end);
                    if (!pass.run(partProgress, range.begin, range.end))
                        return false;
                    before += range.end - range.begin;
                }
                return true;
            });
        } else {
            run = guardMappedReads(bytes, [&pass, &progress, &bytes, split] {
                return pass.run(progress, 0, split > 0 ? split : bytes.size());
            });
        }
        if (second && (!run.result || run.faulted)) {
            second->abandon(); // the first part's failure ends the conversion
        } else if (second) {
            // The second part's output is appended as it is written, once it is known that
            // the part began in the state the first part ended in; once the append has
            // caught up, the part writes to the output itself. When the part fails after
            // all, what it added is cut off again and the one pass goes on over its input.
            const std::uint64_t before = output.size();
            bool joined = second->beganAsAfter(pass.automaticState(), *parallel.candidates);
            std::uint64_t appended = 0;
            bool takenOver = false;
            for (bool ended = false; joined && !ended;) {
                ended = second->waitFor(kAppendWait);
                if (!takenOver) {
                    const std::uint64_t ready = second->file().settledSize();
                    if (ready - appended < kAppendStep) {
                        joined = output.takeOver(second->file(), appended);
                        takenOver = true;
                    } else {
                        joined = output.append(second->file(), appended, ready);
                        appended = ready;
                    }
                }
                const std::uint64_t done = split + second->progress();
                if (control.progress && done >= reported + kProgressStep) {
                    reported = done;
                    control.progress(done, bytes.size());
                }
            }
            if (joined)
                second->join();
            else
                second->abandon();
            joined = joined && second->succeeded();
            if (!joined && output.size() != before && !output.truncate(before))
                run.result = false; // the output's error says why
            if (joined) {
                for (const std::string& line : second->log())
                    logMessage(line);
                extra.attachments.add(second->attachments());
                extra.messages += second->messages();
                parallel.counts->undecodable += second->unconverted().undecodable;
                parallel.counts->unfitting += second->unconverted().unfitting;
                result.parts = 2;
            } else if (run.result) {
                // Done again by the one pass, from where the second part began.
                pass.watchAutomaticState({}, {});
                second.reset();
                run = guardMappedReads(bytes, [&pass, &progress, &bytes, split] {
                    return pass.run(progress, split, bytes.size());
                });
            }
        }
        result.attachments = pass.attachmentTally();
        result.attachments.add(extra.attachments);
        result.messages = pass.messages() + extra.messages;

        attachmentReadFailure = pass.readFailure();
        attachmentReadError = pass.readError();
        spoolError = pass.spoolError();
    } catch (const std::bad_alloc&) {
        output.discard();
        return failure(translate("Could not convert \"%1\": not enough memory", {inputPath}));
    } catch (const std::exception& error) {
        output.discard();
        return failure(translate("Could not convert \"%1\": %2", {inputPath, error.what()}));
    }
    // Runs of unchanged lines are written straight from the mapped input: a write that
    // met pages the file no longer has (another program shortened it) failed to read the
    // input, not to write the output.
    if (run.faulted || (!run.result && output.error() == EFAULT))
        return failure(translate("Could not read \"%1\": it was shortened while being converted", {inputPath}));
    if (!spoolError.empty()) {
        const std::string folder = outputPath.substr(0, outputPath.find_last_of('/') + 1);
        return failure(translate("Could not write to \"%1\": %2", {folder.empty() ? "." : folder, spoolError}));
    }
    if (!attachmentReadFailure.empty())
        return failure(translate("Could not read \"%1\": %2", {attachmentReadFailure, systemErrorText(attachmentReadError)}));
    // A failing fsync or close can report a write that the kernel deferred: that too is
    // a write failure.
    if (!run.result || !output.commit(*claim))
        return failure(translate("Could not write to \"%1\": %2", {outputPath, output.errorText()}));
    return result;
}

} // namespace

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options, const MessageConversion& convert,
                             const ConversionControl& control)
{
    return convertMailbox(inputPath, outputPath, options, convert, LargeMessageConversion(), control, {});
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options, const MessageConversion& convert,
                             const LargeMessageConversion& convertLarge, const ConversionControl& control)
{
    return convertMailbox(inputPath, outputPath, options, convert, convertLarge, control, {});
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options, CharsetCandidates& candidates,
                             const ConversionControl& control)
{
    CandidateConversion conversion(options, candidates, control.conversionBatchBytes);
    ConversionResult result = convertMailbox(inputPath, outputPath, options, conversion.convert,
                                             conversion.convertLarge, control, conversion.parallel);
    result.unconverted = conversion.counts;
    return result;
}

ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options, const ConversionControl& control)
{
    CharsetCandidates candidates(options.charsetNames);
    return convertMbox(inputPath, outputPath, options, candidates, control);
}

} // namespace tarnwick
