// Fuzzes the mailbox index reader and its fit against a mailbox: no read outside
// either input, and an index that is accepted describes messages that lie in the
// mailbox, apart, each starting at a "From " line, in any order.
// The first byte picks the mode: raw index bytes, or records built from the input
// (so that most runs reach the fit check instead of failing on the size).

#include "FuzzSupport.h"

#include "batch/TocIndex.h"

#include <string>

namespace {

using tarnwick::fuzz::ExactBytes;
using tarnwick::fuzz::Picker;

std::string builtIndex(Picker& pick, std::size_t mailboxSize)
{
    const std::size_t count = pick.byte() % 12;
    std::string bytes(104 + count * 218, '\0');
    bytes[102] = static_cast<char>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 104 + i * 218;
        const std::uint8_t shape = pick.byte();
        // Small offsets and lengths near the mailbox's size, now and then anything.
        const std::uint32_t offset = shape & 1 ? static_cast<std::uint32_t>(pick.u64()) : pick.byte() % (mailboxSize + 2);
        const std::uint32_t length = shape & 2 ? static_cast<std::uint32_t>(pick.u64()) : pick.byte() % (mailboxSize + 2);
        for (int k = 0; k < 4; ++k) {
            bytes[at + k] = static_cast<char>(offset >> (8 * k));
            bytes[at + 4 + k] = static_cast<char>(length >> (8 * k));
        }
        bytes[at + 12] = static_cast<char>(pick.byte());
        bytes[at + 16] = static_cast<char>(pick.byte());
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Picker pick(data, size);
    const std::uint8_t mode = pick.byte();
    std::string index;
    if (mode & 1) {
        const std::size_t indexSize = (static_cast<std::size_t>(pick.byte()) << 8 | pick.byte()) % (pick.size() + 1);
        index.assign(reinterpret_cast<const char*>(pick.data()), indexSize);
        for (std::size_t i = 0; i < indexSize; ++i)
            pick.byte();
    }
    const std::size_t mailboxSize = pick.size() / 2;
    const ExactBytes mailbox(pick.data() + pick.size() - mailboxSize, mailboxSize);
    if (!(mode & 1))
        index = builtIndex(pick, mailboxSize);

    const ExactBytes indexBytes(reinterpret_cast<const std::uint8_t*>(index.data()), index.size());
    const tarnwick::TocReading reading = tarnwick::readToc(indexBytes.view());
    FUZZ_CHECK(reading.entries.has_value() == reading.problem.empty());
    if (!reading.entries)
        return 0;
    const tarnwick::TocFit fit = tarnwick::fitToc(*reading.entries, mailbox.view());
    FUZZ_CHECK(fit.messages.has_value() == fit.problem.empty());
    if (!fit.messages)
        return 0;
    FUZZ_CHECK(fit.messages->size() == reading.entries->size());
    // In input order: inside the mailbox, apart, each at a "From " line.
    tarnwick::MessageIndex sorted = tarnwick::inInputOrder(*fit.messages);
    std::uint64_t previousEnd = 0;
    for (const tarnwick::IndexedMessage& message : sorted) {
        FUZZ_CHECK(message.length > 0);
        FUZZ_CHECK(message.offset >= previousEnd);
        FUZZ_CHECK(message.offset + message.length <= mailboxSize);
        FUZZ_CHECK(mailbox.view().substr(message.offset, 5) == "From ");
        FUZZ_CHECK(message.facts.priority <= 5);
        FUZZ_CHECK(!message.facts.replied || message.facts.read);
        FUZZ_CHECK(!(message.facts.draft && message.facts.sent));
        previousEnd = message.offset + message.length;
    }
    // What the records leave uncovered lies between them and adds up to the rest.
    std::uint64_t covered = 0;
    for (const tarnwick::IndexedMessage& message : sorted)
        covered += message.length;
    std::uint64_t uncovered = 0;
    for (const tarnwick::InputRange& range : tarnwick::unindexedRanges(*fit.messages, mailboxSize)) {
        FUZZ_CHECK(range.begin < range.end);
        uncovered += range.end - range.begin;
    }
    FUZZ_CHECK(covered + uncovered == mailboxSize);
    return 0;
}
