// Every malformed-mailbox quirk listed in docs/INPUT-QUIRKS.md, through tarnwick-cli:
// tests/data/quirks/<quirk>.mbx converts to exactly <quirk>.expected (written by hand),
// or leaves no output when there is no .expected file, and the job always completes.
#include "ByteDiff.h"
#include "HardeningSupport.h"

namespace tarnwick::hardening {
namespace {

using Names = std::vector<std::string>;
const Names kDates = {"--complement-dates"};
const Names kTags = {"--convert-encodings", "--eudora-tags", "--source-encoding", "iso-8859-1", "--charsets", "us-ascii, utf-8"};

// The options on top of the identity options, and the quirks run with them.
const std::vector<std::pair<Names, Names>> kGroups = {
    {{},
     {"mixed-line-endings", "missing-final-terminator", "cr-only-line-endings", "lf-cr-pairs", "not-a-mailbox", "leading-blank-line",
      "lowercase-separator", "empty-file", "nul-bytes-in-lines"}},
    {{"--add-empty-lines"}, {"separator-only-no-terminator"}},
    {{"--complement-dates", "--add-empty-lines"}, {"unescaped-from-in-body"}},
    {kDates,
     {"separator-without-date", "padded-day-and-remote-from", "wrong-weekday", "date-header-variants", "no-blank-line-after-headers"}},
    {kTags, {"unclosed-eudora-tag", "unknown-tag-charset", "trailer-block", "undecoded-multipart"}},
    {{"--convert-encodings", "--eudora-tags", "--source-encoding", "utf-8", "--charsets", "utf-8"}, {"undecodable-message"}},
};

TEST(InputQuirks, EachDocumentedQuirkConvertsAsDocumented)
{
    ::setenv("TZ", "Europe/Paris", 1); // the expected Date lines carry +0100 (winter)
    const std::string quirks = std::string(TARNWICK_TEST_DATA_DIR) + "/quirks/";
    const std::string doc = readFile(std::string(TARNWICK_SOURCE_DIR) + "/docs/INPUT-QUIRKS.md");
    std::set<std::string> tested;
    for (const auto& [options, names] : kGroups) {
        for (const std::string& name : names) {
            tested.insert(name + ".mbx");
            EXPECT_NE(doc.find("`" + name + "`"), std::string::npos) << name << " is not described in docs/INPUT-QUIRKS.md";
            const std::string input = quirks + name + ".mbx", expected = quirks + name + ".expected";
            const std::string bytes = readFile(input);
            Sandbox box;
            Names args = withOptions(options);
            args.insert(args.end(), {input, box / "out.mbox"});
            const RunResult run = box.run(args);
            // A skipped input that is the job's only source ends it with the reason.
            const bool skipped = !fs::exists(expected);
            EXPECT_EQ(run.exitCode, skipped ? 1 : 0) << name << run.err;
            if (skipped)
                EXPECT_TRUE(run.out.starts_with("Error: Nothing converted: \"")
                            && run.out.find("/" + name + ".mbx\" is ") != std::string::npos)
                    << name << ": " << run.out;
            else
                EXPECT_EQ(run.out, "Completed\n") << name;
            if (fs::exists(expected))
                EXPECT_SAME_BYTES(readFile(box / "out.mbox"), readFile(expected)) << name;
            else
                EXPECT_FALSE(fs::exists(box / "out.mbox")) << name << ": a skipped input must leave no output";
            EXPECT_SAME_BYTES(readFile(input), bytes) << name;
        }
    }
    for (const std::string& file : listing(quirks))
        EXPECT_TRUE(file.ends_with(".expected") || tested.count(file)) << file << " has no test case";
}

} // namespace
} // namespace tarnwick::hardening
