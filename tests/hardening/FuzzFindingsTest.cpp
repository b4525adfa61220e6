// The faults the fuzzers found (inputs saved under fuzz/crashes), replayed end to end
// through tarnwick-cli with the output written by hand. Under the sanitizer builds
// they also show the memory faults themselves.

#include "HardeningSupport.h"

namespace tarnwick::hardening {
namespace {

struct Finding {
    const char* name;
    std::string input;
    std::vector<std::string> options;
    std::string expected;
};

TEST(FuzzFindings, ConvertAsExpected)
{
    const std::vector<Finding> findings = {
        // An added empty line while the terminator is still open (one line, no
        // terminator): nothing is added, the line is written as it stands.
        {"null-terminator-append", "From x", {"--convert-encodings", "--add-empty-lines", "--charsets", "utf-8", "--source-encoding", "utf-8"}, "From x"},
        // The first candidate cannot hold the message after the Content-Type line was
        // inserted; the second must get a header that ends with the empty line's own
        // terminator, and the empty line must stay.
        {"header-terminator-after-replace", "From a\n\n<x-flowed>caf\xe9</x-flowed>\n",
         {"--convert-encodings", "--eudora-tags", "--source-encoding", "windows-1252", "--charsets", "iso-2022-jp, utf-8"},
         "From a\nContent-Type: text/plain; format=flowed; charset=utf-8\n\ncaf\xc3\xa9\n"},
    };
    for (const Finding& finding : findings) {
        SCOPED_TRACE(finding.name);
        Sandbox box;
        box.write("in.mbx", finding.input);
        std::vector<std::string> args = identityOptions();
        args.insert(args.end(), finding.options.begin(), finding.options.end());
        args.push_back(box / "in.mbx");
        args.push_back(box / "out.mbox");
        const RunResult run = box.run(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.finalText(), "Completed");
        EXPECT_EQ(readFile(box / "out.mbox"), finding.expected);
    }
}

} // namespace
} // namespace tarnwick::hardening
