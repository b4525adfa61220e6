// Fuzzes the reader of Mac Eudora's indexes in AppleDouble files: no read outside the
// input, and every record list it gives lies in the TOCF resource it came from. The
// mailbox fit is the Windows index's (toc_index_fuzzer) and is checked here on the
// records read, against the second half of the input as a mailbox.

#include "FuzzSupport.h"

#include "batch/MacToc.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes file(data, size);
    const std::vector<tarnwick::MacToc> tocs = tarnwick::readMacTocs(file.view());
    // Each record takes 220 bytes of a resource that lies in the file; two resources of
    // the map may share their bytes, so the bound holds for each one.
    for (const tarnwick::MacToc& toc : tocs) {
        FUZZ_CHECK(toc.entries.size() * 220 <= size);
        for (const tarnwick::TocEntry& entry : toc.entries)
            FUZZ_CHECK(entry.status == tarnwick::kUnknownStatus);
    }
    const std::string_view mailbox = file.view().substr(size / 2);
    for (const tarnwick::MacToc& toc : tocs) {
        const tarnwick::TocFit fit = tarnwick::fitToc(toc.entries, mailbox);
        FUZZ_CHECK(fit.messages.has_value() == fit.problem.empty());
        if (fit.messages) {
            for (const tarnwick::IndexedMessage& message : *fit.messages)
                FUZZ_CHECK(message.offset + message.length <= mailbox.size());
        }
    }
    return 0;
}
