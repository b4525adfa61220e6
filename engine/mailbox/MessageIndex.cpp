#include "engine/mailbox/MessageIndex.h"

#include <algorithm>

namespace tarnwick {

MessageIndex inInputOrder(const MessageIndex& index)
{
    MessageIndex sorted = index;
    std::stable_sort(sorted.begin(), sorted.end(), [](const IndexedMessage& a, const IndexedMessage& b) { return a.offset < b.offset; });
    return sorted;
}

std::vector<InputRange> unindexedRanges(const MessageIndex& index, std::uint64_t size)
{
    std::vector<InputRange> ranges;
    std::uint64_t covered = 0; // the input before it is covered or already listed
    for (const IndexedMessage& message : inInputOrder(index)) {
        const std::uint64_t begin = std::min(message.offset, size);
        if (begin > covered)
            ranges.push_back({covered, begin});
        covered = std::max(covered, begin + std::min(message.length, size - begin));
    }
    if (covered < size)
        ranges.push_back({covered, size});
    return ranges;
}

bool isBlankInput(std::string_view stretch) { return stretch.find_first_not_of(" \t\r\n") == std::string_view::npos; }

std::uint64_t unindexedMessageCount(std::string_view input, const MessageIndex& index)
{
    constexpr std::string_view kFrom = "From ";
    std::uint64_t count = 0;
    for (const InputRange& range : unindexedRanges(index, input.size())) {
        const std::string_view stretch = input.substr(range.begin, range.end - range.begin);
        if (isBlankInput(stretch))
            continue;
        if (!stretch.starts_with(kFrom))
            ++count; // kept as one message after a separator line of our own
        for (std::size_t at = stretch.find(kFrom); at != std::string_view::npos; at = stretch.find(kFrom, at + 1))
            if (at == 0 || stretch[at - 1] == '\n' || stretch[at - 1] == '\r')
                ++count;
    }
    return count;
}

} // namespace tarnwick
