#pragma once
// The mbox file output's writing: whole messages collected in batches and written with
// one gathered write each, behind the mailbox pass on a writing thread.

#include "engine/attachments/MimeWriter.h"
#include "engine/mailbox/MessageBuffer.h"
#include "engine/output/MailboxOutput.h"
#include "platform/MappedFile.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick {

// The first capacity of a batch's buffer and of the buffer a message is collected in.
inline constexpr std::size_t kInitialBufferCapacity = 256 * 1024;
// Complete messages are written once this many bytes are pending: fewer hand-overs to
// the writing thread than at 256 KiB, and small enough to stay in the core's cache
// until that thread copies them (2 MiB and more measure slower).
inline constexpr std::uint64_t kBatchBytes = 512 * 1024;

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
    OutputBatch(MappedFile& input, MailboxOutput& output, std::uint64_t partStart)
        : input_(input), output_(output),
          marksMessages_(output.takesMessages()), slots_{Slot(kInitialBufferCapacity), Slot(kInitialBufferCapacity),
                                                         Slot(kInitialBufferCapacity), Slot(kInitialBufferCapacity)},
          releasedUpTo_(MappedFile::pageStartFrom(partStart))
    {}

    ~OutputBatch();

    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    std::uint64_t length() const { return length_; }
    bool empty() const { return length_ == 0; }

    /// Marks that a message begins at the batch's end (or `at`, a length of the batch
    /// or beyond it), for an output that takes messages; nothing for one that does not.
    void markMessage(const MessageHead& head) { markMessageAt(length_, head); }
    void markMessageAt(std::uint64_t at, const MessageHead& head)
    {
        if (marksMessages_)
            current().starts.push_back({at, head});
    }
    bool marksMessages() const { return marksMessages_; }

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
    void take(std::string& bytes);

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
    void takeFrom(std::uint64_t start, std::string& out);

    /// Writes the batch in flight, if any, and then this one, before returning. False
    /// when either write failed; the output's error says why.
    bool write();

    /// Lets the input's pages before `offset` go (see MappedFile::releaseBefore), back to
    /// where this pass's part begins: another pass may be reading the part before it.
    void releaseInputBefore(std::uint64_t offset) { input_.releaseBefore(offset, releasedUpTo_); }

    /// Hands the batch to the writing thread and starts an empty one. The input's pages
    /// before `consumed` are let go once it is written. False when a batch handed over
    /// before it failed.
    bool writeBehind(std::uint64_t consumed);

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
        std::vector<MessageStart> starts; // where messages begin, for an output that takes them
        std::uint64_t release = 0;        // input offset to let go once the slot is written behind
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

    void collectViews(Slot& slot);

    // Empties the slot; the storage of what it took is kept for the next takes, but
    // for storage of a large message, which goes.
    void clear(Slot& slot);

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
    bool startWriter();

    // Waits until every batch in flight is written, then lets their slots and the input
    // pages before them go. False when any write failed: a failed output takes no more
    // bytes.
    bool waitForWriter();

    // Lets the slots of the batches written behind go, oldest first, with the input pages
    // before them; with `waitForOne`, waits for the oldest batch in flight first. False
    // when a write failed.
    bool retireWritten(bool waitForOne);

    // Maps the input ahead of the pass, which has read up to `consumed` or a little
    // beyond: its page faults are then taken here, on the writing thread, which waits
    // for the pass most of the time, rather than on the pass's.
    void readAhead(std::uint64_t consumed);

    // Writes the batches handed over, in order. After a failed write the later ones are
    // only marked written: the output takes no more bytes.
    void writeLoop();

    static constexpr std::size_t kKeptTaken = 8;
    static constexpr std::size_t kKeptTakenCapacity = 2 * kBatchBytes;

    static constexpr std::size_t kSlots = 4;

    MappedFile& input_;
    MailboxOutput& output_;
    const bool marksMessages_;
    // The n-th batch handed to the writing thread is slot n % kSlots: they are taken in turn.
    Slot slots_[kSlots];
    std::vector<std::string> spareTaken_; // emptied storage of taken bytes, for take()
    unsigned active_ = 0;                 // the slot being collected; others may be in flight
    std::uint64_t length_ = 0;            // bytes in the slot being collected
    std::uint64_t releasedUpTo_;          // the input's pages before this are let go
    std::uint64_t retired_ = 0;           // batches written behind whose slots are free again
    std::thread writer_;                  // started at the first write behind
    std::mutex mutex_;
    std::condition_variable changed_;
    bool failed_ = false; // a write failed: nothing more is written
    // Guarded by mutex_:
    std::uint64_t submitted_ = 0;     // batches handed to the writing thread
    std::uint64_t written_ = 0;       // of those, the ones it is done with
    bool writeFailed_ = false;        // one of its writes failed
    std::uint64_t populatedUpTo_ = 0; // the writing thread's: how far it has mapped the input ahead
    bool quit_ = false;
};

// The output of a rebuilt message: what the batch holds goes first; small pieces are
// gathered so that a header line is not one system call.
class DirectSink : public ByteSink {
public:
    /// `head`, when given, marks the message's start before the first bytes written.
    DirectSink(OutputBatch& batch, MailboxOutput& output, const MessageHead* head = nullptr) : batch_(batch), output_(output), head_(head)
    {}

    bool write(std::string_view bytes) override;

    bool flush();

private:
    static constexpr std::size_t kGathered = 64 * 1024;
    bool writeBatch();

    OutputBatch& batch_;
    MailboxOutput& output_;
    const MessageHead* head_;
    std::string pending_;
};

} // namespace tarnwick
