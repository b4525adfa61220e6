// Every malformed-mailbox quirk listed in docs/INPUT-QUIRKS.md, through tarnwick-cli:
// tests/data/quirks/<quirk>.mbx converts to exactly <quirk>.expected (written by hand),
// or leaves no output when there is no .expected file, and the job always completes.

#include "HardeningSupport.h"

namespace tarnwick::hardening {
namespace {

const std::string kQuirks = std::string(TARNWICK_TEST_DATA_DIR) + "/quirks/";

struct Quirk {
    const char* name;
    std::vector<std::string> options; // on top of the identity options
};

const std::vector<std::string> kDates = {"--complement-dates"};
const std::vector<std::string> kTags = {"--convert-encodings", "--eudora-tags", "--source-encoding", "iso-8859-1",
                                        "--charsets", "us-ascii, utf-8"};

const Quirk kCases[] = {
    {"mixed-line-endings", {}},
    {"missing-final-terminator", {}},
    {"cr-only-line-endings", {}},
    {"lf-cr-pairs", {}},
    {"not-a-mailbox", {}},
    {"leading-blank-line", {}},
    {"lowercase-separator", {}},
    {"empty-file", {}},
    {"separator-only-no-terminator", {"--add-empty-lines"}},
    {"nul-bytes-in-lines", {}},
    {"unescaped-from-in-body", {"--complement-dates", "--add-empty-lines"}},
    {"separator-without-date", kDates},
    {"padded-day-and-remote-from", kDates},
    {"wrong-weekday", kDates},
    {"date-header-variants", kDates},
    {"no-blank-line-after-headers", kDates},
    {"unclosed-eudora-tag", kTags},
    {"unknown-tag-charset", kTags},
    {"trailer-block", kTags},
    {"undecodable-message", {"--convert-encodings", "--eudora-tags", "--source-encoding", "utf-8", "--charsets", "utf-8"}},
};

TEST(InputQuirks, EachQuirkConvertsAsDocumented)
{
    for (const Quirk& quirk : kCases) {
        SCOPED_TRACE(quirk.name);
        const std::string input = kQuirks + quirk.name + ".mbx";
        const std::string expectedPath = kQuirks + quirk.name + ".expected";
        ASSERT_TRUE(exists(input));
        const std::uint64_t inputChecksum = checksumFile(input);

        Sandbox box;
        std::vector<std::string> args = identityOptions();
        args.insert(args.end(), quirk.options.begin(), quirk.options.end());
        args.push_back(input);
        args.push_back(box / "out.mbox");
        RunOptions options;
        options.environment = {{"TZ", "Europe/Paris"}}; // Date lines carry +0100 (winter)
        const RunResult run = box.run(args, options);

        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(run.finalText(), "Completed");
        if (exists(expectedPath))
            EXPECT_EQ(readFile(box / "out.mbox"), readFile(expectedPath));
        else
            EXPECT_FALSE(exists(box / "out.mbox")) << "a skipped input must leave no output";
        EXPECT_EQ(checksumFile(input), inputChecksum);
    }
}

TEST(InputQuirks, EveryFixtureIsDocumentedAndTested)
{
    const std::string doc = readFile(std::string(TARNWICK_SOURCE_DIR) + "/docs/INPUT-QUIRKS.md");
    std::set<std::string> tested;
    for (const Quirk& quirk : kCases)
        tested.insert(quirk.name);
    for (const std::string& file : listingOrder(kQuirks)) {
        if (file.size() < 4 || file.substr(file.size() - 4) != ".mbx")
            continue;
        const std::string name = file.substr(0, file.size() - 4);
        EXPECT_TRUE(tested.count(name)) << name << " has a fixture but no test case";
        EXPECT_NE(doc.find("`" + name + "`"), std::string::npos) << name << " is not described in docs/INPUT-QUIRKS.md";
    }
}

} // namespace
} // namespace tarnwick::hardening
