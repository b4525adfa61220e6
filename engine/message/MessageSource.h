#pragma once
// A message's bytes that every stage of the conversion can read again: in memory while
// the message fits there (one block, the bytes themselves), else through a reader (the
// spool file) a block at a time. SourceBytes gives the tag walk its searches over them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace tarnwick {

/// Reads `length` bytes at `offset` of a message kept outside memory; the view is
/// valid until the next call.
using MessageReader = std::function<std::string_view(std::uint64_t offset, std::size_t length)>;

/// The block size a spooled message is read in.
inline constexpr std::size_t kMessageBlock = std::size_t{1} << 20;

class MessageSource {
public:
    /// The message in memory: one block, every view stays valid.
    explicit MessageSource(std::string_view bytes) : bytes_(bytes), size_(bytes.size()), blockSize_(std::max<std::size_t>(bytes.size(), 1))
    {}
    /// A message of `size` bytes read through `read` in blocks of `blockSize` (> 0).
    MessageSource(const MessageReader& read, std::uint64_t size, std::size_t blockSize) : read_(&read), size_(size), blockSize_(blockSize)
    {}

    bool inMemory() const { return read_ == nullptr; }
    /// All of the bytes (in memory only).
    std::string_view bytes() const { return bytes_; }
    std::uint64_t size() const { return size_; }
    /// The most bytes read at once.
    std::size_t blockSize() const { return blockSize_; }
    /// Bytes [offset, offset + length), length at most blockSize(); a read view is valid
    /// until the next read.
    std::string_view read(std::uint64_t offset, std::size_t length) const
    {
        return read_ ? (*read_)(offset, length) : bytes_.substr(static_cast<std::size_t>(offset), length);
    }

private:
    std::string_view bytes_;
    const MessageReader* read_ = nullptr;
    std::uint64_t size_;
    std::size_t blockSize_;
};

/// The bytes of a source as the tag scanner and the body cutter read them (see
/// MemoryBytes): in memory they are searched in place; read through a reader, the
/// block last looked at is kept and searches go block by block.
class SourceBytes {
public:
    explicit SourceBytes(const MessageSource& source)
        : source_(&source), memory_(source.inMemory() ? source.bytes() : std::string_view()), inMemory_(source.inMemory()),
          size_(static_cast<std::size_t>(source.size()))
    {}

    std::size_t size() const { return size_; }
    char at(std::size_t offset)
    {
        if (inMemory_)
            return memory_[offset];
        load(offset);
        return block_[offset - blockStart_];
    }
    std::size_t find(char c, std::size_t from, std::size_t end = std::string_view::npos);
    std::size_t find(std::string_view needle, std::size_t from, std::size_t end = std::string_view::npos);
    /// Whether the bytes at `offset` are `text` (false when they run past the end).
    bool matches(std::size_t offset, std::string_view text);
    void copy(std::size_t offset, std::size_t length, std::string& out);

private:
    void load(std::size_t offset);

    const MessageSource* source_;
    std::string_view memory_;
    bool inMemory_;
    std::size_t size_;
    std::size_t blockStart_ = 0;
    std::string block_;
};

} // namespace tarnwick
