#pragma once
// The growable byte buffer that collects one message at a time. Appends are inline
// and checked once; clear() keeps the storage for the next message.

#include <cstring>
#include <memory>
#include <string_view>

namespace tarnwick {

class MessageBuffer {
public:
    explicit MessageBuffer(std::size_t initialCapacity) { reserve(initialCapacity); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    std::string_view view() const { return {data_.get(), size_}; }
    char* data() { return data_.get(); }
    void clear() { size_ = 0; }
    /// Keeps the first `size` bytes (at most size()).
    void truncate(std::size_t size) { size_ = size; }

    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }

    void append(const char* bytes, std::size_t length)
    {
        if (length == 0) // memcpy must not see a null pointer, even for no bytes
            return;
        if (length > capacity_ - size_)
            grow(length);
        std::memcpy(data_.get() + size_, bytes, length);
        size_ += length;
    }

    /// Room for `length` more bytes at the end, to be filled and then kept with commit().
    char* reserveEnd(std::size_t length)
    {
        if (length > capacity_ - size_)
            grow(length);
        return data_.get() + size_;
    }

    /// Gives back storage above `capacity` (the contents must fit in it).
    void shrink(std::size_t capacity)
    {
        if (capacity_ > capacity && size_ <= capacity)
            reserve(capacity);
    }

    /// Keeps `length` bytes written at reserveEnd().
    void commit(std::size_t length) { size_ += length; }

    /// Line contents followed by a terminator of at most two bytes.
    void appendLine(const char* contents, std::size_t length, std::string_view terminator)
    {
        if (length + 2 > capacity_ - size_)
            grow(length + 2);
        char* out = data_.get() + size_;
        std::memcpy(out, contents, length);
        out[length] = terminator.size() > 0 ? terminator[0] : '\0';
        out[length + 1] = terminator.size() > 1 ? terminator[1] : '\0';
        size_ += length + terminator.size();
    }

private:
    void reserve(std::size_t capacity)
    {
        std::unique_ptr<char[]> bigger(new char[capacity]);
        if (size_ > 0)
            std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = capacity;
    }

    void grow(std::size_t extra)
    {
        std::size_t capacity = capacity_ * 2;
        if (capacity < size_ + extra)
            capacity = size_ + extra;
        reserve(capacity);
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace tarnwick
