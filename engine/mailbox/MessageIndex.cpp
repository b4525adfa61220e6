#include "engine/mailbox/MessageIndex.h"

#include <algorithm>

namespace tarnwick {

MessageIndex inInputOrder(const MessageIndex& index)
{
    MessageIndex sorted = index;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const IndexedMessage& a, const IndexedMessage& b) { return a.offset < b.offset; });
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

} // namespace tarnwick
