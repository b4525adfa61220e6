#include "engine/output/OutputBatch.h"

#include <algorithm>
#include <system_error>

namespace tarnwick {
namespace {

// How far ahead of a written batch's end the writing thread maps the input.
constexpr std::uint64_t kReadAhead = 4u << 20;

} // namespace

OutputBatch::~OutputBatch()
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

void OutputBatch::take(std::string& bytes)
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

void OutputBatch::takeFrom(std::uint64_t start, std::string& out)
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
    for (MessageStart& begins : slot.starts)
        begins.at = std::min(begins.at, start);
    length_ = start;
}

bool OutputBatch::write()
{
    if (!waitForWriter())
        return false;
    Slot& slot = current();
    if (empty() && slot.starts.empty())
        return true;
    collectViews(slot);
    failed_ = !output_.write(slot.views.data(), slot.views.size(), slot.starts.data(), slot.starts.size());
    clear(slot);
    length_ = 0;
    return !failed_;
}

bool OutputBatch::writeBehind(std::uint64_t consumed)
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

void OutputBatch::collectViews(Slot& slot)
{
    slot.views.clear();
    for (const Piece& piece : slot.pieces)
        slot.views.emplace_back(base(slot, piece) + piece.offset, static_cast<std::size_t>(piece.length));
}

void OutputBatch::clear(Slot& slot)
{
    slot.pieces.clear();
    slot.starts.clear();
    slot.bytes.clear();
    for (std::string& taken : slot.taken) {
        if (taken.capacity() <= kKeptTakenCapacity && spareTaken_.size() < kKeptTaken)
            spareTaken_.push_back(std::move(taken));
    }
    slot.taken.clear();
}

bool OutputBatch::startWriter()
{
    try {
        writer_ = std::thread([this] { writeLoop(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool OutputBatch::waitForWriter()
{
    while (retired_ < submitted_) {
        if (!retireWritten(true))
            return false;
    }
    return !failed_;
}

bool OutputBatch::retireWritten(bool waitForOne)
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

void OutputBatch::readAhead(std::uint64_t consumed)
{
    const std::uint64_t end = std::min(consumed + kReadAhead, input_.size());
    const std::uint64_t from = std::max(populatedUpTo_, consumed);
    if (from >= end)
        return;
    input_.populate(from, end);
    populatedUpTo_ = end;
}

void OutputBatch::writeLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return written_ < submitted_ || quit_; });
        if (written_ == submitted_)
            return;
        const Slot& slot = slots_[written_ % kSlots];
        const bool skip = writeFailed_;
        lock.unlock();
        const bool written = skip || output_.write(slot.views.data(), slot.views.size(), slot.starts.data(), slot.starts.size());
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

bool DirectSink::writeBatch()
{
    if (head_) {
        batch_.markMessage(*head_);
        head_ = nullptr;
    }
    return batch_.write();
}

bool DirectSink::write(std::string_view bytes)
{
    if (!writeBatch())
        return false;
    if (pending_.size() + bytes.size() <= kGathered) {
        pending_.append(bytes);
        return true;
    }
    return flush() && output_.write(bytes);
}

bool DirectSink::flush()
{
    if (!writeBatch())
        return false;
    const bool written = pending_.empty() || output_.write(pending_);
    pending_.clear();
    return written;
}

} // namespace tarnwick
