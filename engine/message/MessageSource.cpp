#include "engine/message/MessageSource.h"

namespace tarnwick {

void SourceBytes::load(std::size_t offset)
{
    if (offset >= blockStart_ && offset < blockStart_ + block_.size())
        return;
    blockStart_ = offset;
    // A copy: the reader's view ends with the next read, which another stage may make.
    block_.assign(source_->read(offset, std::min(size_ - offset, source_->blockSize())));
}

std::size_t SourceBytes::find(char c, std::size_t from, std::size_t end)
{
    end = std::min(end, size_);
    if (inMemory_) {
        const std::size_t found = from < end ? memory_.substr(0, end).find(c, from) : std::string_view::npos;
        return found;
    }
    for (std::size_t at = from; at < end;) {
        load(at);
        const std::size_t stop = std::min(end, blockStart_ + block_.size());
        if (const void* found = std::memchr(block_.data() + (at - blockStart_), c, stop - at))
            return blockStart_ + static_cast<std::size_t>(static_cast<const char*>(found) - block_.data());
        at = stop;
    }
    return std::string_view::npos;
}

std::size_t SourceBytes::find(std::string_view needle, std::size_t from, std::size_t end)
{
    end = std::min(end, size_);
    if (inMemory_)
        return from <= end ? memory_.substr(0, end).find(needle, from) : std::string_view::npos;
    for (std::size_t at = from; at < end && end - at >= needle.size();) {
        load(at);
        const std::size_t stop = std::min(end, blockStart_ + block_.size());
        const std::string_view held = std::string_view(block_).substr(at - blockStart_, stop - at);
        if (const std::size_t found = held.find(needle); found != std::string_view::npos)
            return at + found;
        // A match that runs past the block held.
        for (std::size_t p = stop - std::min(stop - at, needle.size() - 1); p < stop; ++p) {
            if (end - p >= needle.size() && matches(p, needle))
                return p;
        }
        at = stop;
    }
    return std::string_view::npos;
}

bool SourceBytes::matches(std::size_t offset, std::string_view text)
{
    if (offset > size_ || size_ - offset < text.size())
        return false;
    if (inMemory_)
        return memory_.substr(offset, text.size()) == text;
    if (text.empty())
        return true;
    load(offset);
    if (offset + text.size() <= blockStart_ + block_.size())
        return std::string_view(block_).substr(offset - blockStart_, text.size()) == text;
    for (std::size_t done = 0; done < text.size();) {
        const std::size_t next = std::min(text.size(), done + source_->blockSize());
        if (source_->read(offset + done, next - done) != text.substr(done, next - done))
            return false;
        done = next;
    }
    return true;
}

void SourceBytes::copy(std::size_t offset, std::size_t length, std::string& out)
{
    out.clear();
    if (inMemory_) {
        out.assign(memory_.substr(offset, length));
        return;
    }
    for (std::size_t done = 0; done < length;) {
        const std::size_t next = std::min(length, done + source_->blockSize());
        out.append(source_->read(offset + done, next - done));
        done = next;
    }
}

} // namespace tarnwick
