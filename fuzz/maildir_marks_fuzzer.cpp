// Fuzzes the reading of a Maildir message's status headers: the header read in pieces
// (of a size taken from the input's first byte) gives the marks of reading it whole,
// and the info flags made from them are in order (system flags, then keyword letters,
// each once), at most 26 keywords getting letters.

#include "FuzzSupport.h"

#include "engine/output/MaildirWriter.h"

#include <string>

using tarnwick::fuzz::ExactBytes;

namespace {

bool sameMarks(const tarnwick::MessageMarks& a, const tarnwick::MessageMarks& b)
{
    return a.seen == b.seen && a.answered == b.answered && a.forwarded == b.forwarded && a.flagged == b.flagged && a.draft == b.draft
        && a.keywords == b.keywords;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = data[0] % 64 + 1;
    const ExactBytes input(data + 1, size - 1);
    const std::string_view bytes(input.data(), size - 1);
    const tarnwick::MessageMarks whole = tarnwick::readMessageMarks(bytes);
    tarnwick::MarkReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        reader.feed(bytes.substr(at, piece));
    FUZZ_CHECK(sameMarks(reader.finish(), whole));

    std::vector<std::string> keywords;
    std::uint64_t leftOut = 0;
    for (int round = 0; round < 2; ++round) {
        const std::string flags = tarnwick::maildirFlags(whole, keywords, leftOut);
        const std::string_view system = "DFPRS";
        std::size_t at = 0;
        for (std::size_t next = 0; at < flags.size() && flags[at] < 'a'; ++at) {
            const std::size_t where = system.find(flags[at], next);
            FUZZ_CHECK(where != std::string_view::npos);
            next = where + 1;
        }
        for (; at < flags.size(); ++at) {
            FUZZ_CHECK(flags[at] >= 'a' && flags[at] < 'a' + static_cast<int>(keywords.size()));
            FUZZ_CHECK(at + 1 == flags.size() || flags[at] < flags[at + 1]);
        }
    }
    FUZZ_CHECK(keywords.size() <= tarnwick::kMaildirKeywordLetters);
    return 0;
}
