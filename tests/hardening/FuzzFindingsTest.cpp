// The faults the fuzzers found, replayed end to end through tarnwick-cli against outputs
// written by hand; under the sanitizer builds they also show the memory faults themselves.
#include "ByteDiff.h"
#include "HardeningSupport.h"

namespace tarnwick::hardening {
namespace {

TEST(FuzzFindings, ConvertAsExpected)
{
    const struct {
        const char* name;
        std::string input;
        std::vector<std::string> options;
        std::string expected;
    } findings[] = {
        // An empty line to add while the only line has no terminator: nothing is added.
        {"null-terminator-append",
         "From x",
         {"--convert-encodings", "--add-empty-lines", "--charsets", "utf-8", "--source-encoding", "utf-8"},
         "From x"},
        // The first candidate fails after the Content-Type line went in; the second one's
        // header must end with the empty line's own terminator, and the empty line stays.
        {"header-terminator-after-replace",
         "From a\n\n<x-flowed>caf\xe9</x-flowed>\n",
         {"--convert-encodings", "--eudora-tags", "--source-encoding", "windows-1252", "--charsets", "iso-2022-jp, utf-8"},
         "From a\nContent-Type: text/plain; format=flowed; charset=utf-8\n\ncaf\xc3\xa9\n"},
    };
    for (const auto& finding : findings) {
        Sandbox box;
        box.write("in.mbx", finding.input);
        std::vector<std::string> args = withOptions(finding.options);
        args.insert(args.end(), {box / "in.mbx", box / "out.mbox"});
        const RunResult run = box.run(args);
        EXPECT_EQ(run.exitCode, 0) << finding.name << run.err;
        EXPECT_EQ(run.out, "Completed\n") << finding.name;
        EXPECT_SAME_BYTES(readFile(box / "out.mbox"), finding.expected) << finding.name;
    }
}

} // namespace
} // namespace tarnwick::hardening
