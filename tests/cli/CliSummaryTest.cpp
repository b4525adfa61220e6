// The job's summary, --keep-going and --quiet through the real binary.
#include "ByteDiff.h"
#include "CaseName.h"
#include "CliRunner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarnwick::test {
namespace {

bool has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

const std::string kSeparator = "From ???@??? Tue Apr 03 10:15:22 2001\n";

TEST(CliSummary, CountsMailboxesMessagesAndWhatWasLeft)
{
    Sandbox sandbox;
    // One Shift_JIS message no ASCII charset holds, one with a lead byte and no trail,
    // one with a header field over 1 MiB (written as it is).
    const std::string longField = "Subject: " + std::string(std::size_t{1} << 20, 'x') + "\x82\xa0\n";
    sandbox.write("src/Japan.mbx",
                  kSeparator + "Subject: a\n\n\x82\xa0\n\n" + kSeparator + "Subject: b\n\nbad \x81\n\n" + kSeparator + longField
                      + "\nplain\n\n" + kSeparator + "Subject: c\n\nplain\n");
    sandbox.write("src/In.mbx", mailbox(4));
    sandbox.write("src/notes.txt", "hello\n");
    sandbox.mkdir("dest");
    const RunResult run
        = sandbox.run({"--no-toc", "--source-encoding", "shift_jis", "--charsets", "us-ascii", sandbox / "src", sandbox / "dest"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Completed\n");
    const struct {
        const char* line;
    } expected[] = {
        {"Japan.mbx (messages: 4, left unconverted: 3)"},
        {"In.mbx (messages: 4)"},
        {"Mailboxes converted: 2, messages: 8"},
        {"Messages left unconverted, no charset in the list fits: 1"},
        {"Messages left unconverted, not valid in the source encoding: 1"},
        {"Messages left unconverted, a header field is too long to convert: 1"},
        {"Message left unconverted: a header field is too long to convert"},
        {"Not a mailbox, not converted: notes.txt"},
    };
    for (const auto& c : expected)
        EXPECT_TRUE(has(run.err, c.line)) << c.line << " in:\n" << run.err;
    // Its text stays in Shift_JIS (the line ends are the job's).
    EXPECT_NE(readFile(sandbox / "dest/Japan.mbx").find(longField.substr(0, longField.size() - 1)), std::string::npos);
    // The summary comes after every file line.
    EXPECT_GT(run.err.find("Mailboxes converted"), run.err.rfind("Processing"));
}

// Writes past the file size limit fail: the large mailbox fails, the small one fits.
struct KeepGoingCase {
    const char* name;
    bool keepGoing;
};

void PrintTo(const KeepGoingCase& c, std::ostream* out) { *out << c.name; }

class CliKeepGoing : public testing::TestWithParam<KeepGoingCase> {};

TEST_P(CliKeepGoing, ListsEveryFailureAndConvertsTheRest)
{
    const KeepGoingCase& c = GetParam();
    Sandbox sandbox;
    sandbox.write("src/A.mbx", mailbox(400));
    sandbox.write("src/B.mbx", mailbox(400));
    sandbox.write("src/small.mbx", mailbox(1));
    sandbox.mkdir("dest");
    std::vector<std::string> args
        = {"--no-toc",      "--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines",
           sandbox / "src", sandbox / "dest"};
    if (c.keepGoing)
        args.insert(args.begin(), "--keep-going");
    RunOptions limited;
    limited.fileSizeLimit = 4096;
    const RunResult run = sandbox.run(args, limited);
    EXPECT_EQ(run.exitCode, 1) << c.name;
    EXPECT_EQ(run.out.rfind("Error: ", 0), 0u) << c.name << ": " << run.out;
    std::size_t failed = 0;
    for (std::size_t at = 0; (at = run.err.find("\nFailed: ", at)) != std::string::npos; ++at)
        ++failed;
    if (c.keepGoing) {
        EXPECT_EQ(failed, 2u) << c.name << ":\n" << run.err;
        EXPECT_EQ(run.out, "Error: 2 mailboxes could not be converted\n") << c.name;
        EXPECT_SAME_BYTES(readFile(sandbox / "dest/small.mbx"), mailbox(1)) << c.name;
        EXPECT_FALSE(std::filesystem::exists(sandbox / "dest/A.mbx")) << c.name;
    } else {
        EXPECT_EQ(failed, 0u) << c.name << ":\n" << run.err;
        EXPECT_EQ(listing(sandbox / "dest").size(), std::filesystem::exists(sandbox / "dest/small.mbx") ? 1u : 0u) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliKeepGoing,
                         testing::Values(KeepGoingCase{"stops at the first failure", false}, KeepGoingCase{"keeps going", true}),
                         testSupport::NamedByLabel());

TEST(CliSummary, QuietLeavesOnlyTheResult)
{
    Sandbox sandbox;
    sandbox.write("src/In.mbx", mailbox(2));
    sandbox.mkdir("dest");
    const RunResult loud = sandbox.run({"--no-toc", sandbox / "src", sandbox / "dest"});
    EXPECT_TRUE(has(loud.err, "In.mbx (messages: 2)")) << loud.err;
    for (const char* flag : {"--quiet"}) {
        sandbox.mkdir(std::string("quiet") + flag);
        const RunResult quiet = sandbox.run({flag, "--no-toc", sandbox / "src", sandbox / (std::string("quiet") + flag)});
        EXPECT_EQ(quiet.out, "Completed\n") << flag;
        EXPECT_EQ(quiet.err, "") << flag;
    }
}

// Temporary files of ours (an interrupted run's, or a running one's) are never taken for
// mailboxes: an unheld one is deleted, a held one left alone, and the summary names both.
namespace fs = std::filesystem;

TEST(CliSummary, OurTemporaryFilesAreNeverInputAndLeftoversAreCleanedUp)
{
    for (const bool intoSource : {true, false}) {
        Sandbox sandbox;
        sandbox.write("src/In.mbx", mailbox(2));
        const std::string leftover = ".tarnwick-0123456789ab.part";
        const std::string held = ".tarnwick-ba9876543210.part";
        const std::string where = intoSource ? "src" : "dest";
        sandbox.mkdir("dest");
        sandbox.write(where + "/" + leftover, mailbox(3)); // a killed run's unfinished output
        sandbox.write(where + "/" + held, mailbox(1));
        sandbox.write(where + "/.tarnwick-xyz.part", mailbox(1)); // not one of our names: a mailbox
        const int holder = ::open((sandbox / (where + "/" + held)).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX), 0); // as a running conversion holds it
        const RunResult run = sandbox.run({sandbox / "src", sandbox / (intoSource ? "src" : "dest")});
        ::close(holder);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "Completed\n") << intoSource;
        const std::string folder = sandbox / where;
        EXPECT_FALSE(fs::exists(folder + "/" + leftover)) << intoSource;
        EXPECT_TRUE(fs::exists(folder + "/" + held)) << intoSource;
        EXPECT_TRUE(has(run.err, "Temporary files of an interrupted run, deleted: " + folder + "/" + leftover)) << run.err;
        EXPECT_TRUE(has(run.err, "Temporary files of a conversion still running, left alone: " + folder + "/" + held)) << run.err;
        EXPECT_TRUE(has(run.err, intoSource ? "Mailboxes converted: 2, messages: 3" : "Mailboxes converted: 1, messages: 2")) << run.err;
        for (const std::string& name : listing(sandbox / "dest"))
            EXPECT_EQ(name.find("0123456789ab"), std::string::npos) << "no output made from a leftover: " << name;
        for (const std::string& name : listing(sandbox / "src"))
            EXPECT_EQ(name.find("0123456789ab.part_"), std::string::npos) << "no output made from a leftover: " << name;
    }
}

} // namespace
} // namespace tarnwick::test
