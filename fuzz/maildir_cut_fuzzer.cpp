// Fuzzes the cut of converted mbox bytes into Maildir messages and the reading of their
// status headers: every message lies inside the input, the messages and their separator
// lines give back the input from its first "From " line on, the info flags are in
// order (system flags, then keyword letters, each once), and at most 26 keywords get letters.

#include "FuzzSupport.h"

#include "engine/output/MaildirWriter.h"

#include <string>

using tarnwick::fuzz::ExactBytes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ExactBytes input(data, size);
    const std::string_view bytes(input.data(), size);
    std::vector<std::string> keywords;
    tarnwick::MarkTally tally;
    std::uint64_t leftOut = 0;
    std::size_t covered = std::string_view::npos;
    std::uint64_t messages = 0;
    const bool done = tarnwick::forEachMaildirMessage(bytes, keywords, tally, leftOut, [&](const tarnwick::MaildirMessage& message) {
        FUZZ_CHECK(message.bytes.data() >= bytes.data() && message.bytes.data() + message.bytes.size() <= bytes.data() + size);
        const auto start = static_cast<std::size_t>(message.bytes.data() - bytes.data());
        // Between the last message and this one: one separator line, whole.
        if (covered == std::string_view::npos)
            covered = bytes.substr(0, 5) == "From " ? 0 : bytes.find("\nFrom ") + 1;
        FUZZ_CHECK(start > covered && bytes.substr(covered, 5) == "From ");
        const std::string_view line = bytes.substr(covered, start - covered);
        FUZZ_CHECK(line.find('\n') == (start == size && line.back() != '\n' ? std::string_view::npos : line.size() - 1));
        covered = start + message.bytes.size();
        const std::string_view system = "DFPRS";
        std::size_t at = 0;
        for (std::size_t next = 0; at < message.flags.size() && message.flags[at] < 'a'; ++at) {
            const std::size_t where = system.find(message.flags[at], next);
            FUZZ_CHECK(where != std::string_view::npos);
            next = where + 1;
        }
        for (; at < message.flags.size(); ++at) {
            FUZZ_CHECK(message.flags[at] >= 'a' && message.flags[at] < 'a' + static_cast<int>(keywords.size()));
            FUZZ_CHECK(at + 1 == message.flags.size() || message.flags[at] < message.flags[at + 1]);
        }
        ++messages;
        return true;
    });
    FUZZ_CHECK(done);
    FUZZ_CHECK(tally.messages == messages);
    FUZZ_CHECK(keywords.size() <= tarnwick::kMaildirKeywordLetters);
    FUZZ_CHECK(messages == 0 || covered == size);
    tarnwick::readMessageMarks(bytes);
    return 0;
}
