// --format maildir from the command line: where each mailbox's Maildir goes (a new
// destination name, Maildir++ beside what is there, nested with --layout tree), line
// ends (LF unless --crlf on the same line, whatever the saved value), a mailbox with
// no message leaves no folder, and the destination inside the source is never walked.
#include "ByteDiff.h"
#include "CaseName.h"
#include "CliRunner.h"

namespace tarnwick::test {
namespace {

// The Maildir folders below `root` (those holding cur/), with the bytes of their messages.
Entries maildirs(const std::string& root)
{
    Entries found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_directory() || entry.path().filename() != "cur")
            continue;
        std::string messages;
        std::vector<std::string> names;
        for (const auto& message : std::filesystem::directory_iterator(entry.path()))
            names.push_back(message.path().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            messages += "[" + readFile(name) + "]";
        const std::string folder = entry.path().parent_path().string();
        found[folder == root ? "." : folder.substr(root.size() + 1)] = messages;
    }
    return found;
}

// Where a mailbox's Maildir goes, its line ends, and what was there before.
struct MaildirCase {
    const char* name;
    Entries given;
    std::vector<std::string> args;
    std::string source, destination;
    Entries expected;
};

void PrintTo(const MaildirCase& c, std::ostream* out) { *out << c.name; }

std::vector<MaildirCase> maildirCases()
{
    const std::string crlf = mailbox(1, "\r\n");
    return {
        {"file, new name", {{"In", crlf}}, {}, "In", "md", {{"md", "[Subject: x\n\nBody\n\n]"}}},
        {"file into a folder holding its name",
         {{"In.mbx", crlf}, {"out/.In/x", "keep"}},
         {},
         "In.mbx",
         "out",
         {{"out", ""}, {"out/.In_2", "[Subject: x\n\nBody\n\n]"}}},
        {"CR LF asked for", {{"In", crlf}}, {"--crlf"}, "In", "md", {{"md", "[Subject: x\r\n\r\nBody\r\n\r\n]"}}},
        {"folder, Maildir++",
         {{"src/In.mbx", crlf}, {"src/Sub/Old", mailbox(2)}, {"src/Empty", ""}, {"out/keep", "k"}},
         {},
         "src",
         "out",
         {{"out", ""}, {"out/.In", "[Subject: x\n\nBody\n\n]"}, {"out/.Sub.Old", "[Subject: x\n\nBody\n\n][Subject: x\n\nBody\n\n]"}}},
        {"folder, nested",
         {{"src/Sub/Old", mailbox(1)}},
         {"--layout", "tree"},
         "src",
         "out",
         {{"out/Sub/Old", "[Subject: x\n\nBody\n\n]"}}},
        {"destination inside the source",
         {{"src/In", mailbox(1)}},
         {},
         "src",
         "src/out",
         {{"src/out", ""}, {"src/out/.In", "[Subject: x\n\nBody\n\n]"}}},
    };
}

class CliMaildirPlacing : public testing::TestWithParam<MaildirCase> {};

TEST_P(CliMaildirPlacing, WhereEachMailboxGoesAndItsLineEnds)
{
    const MaildirCase& c = GetParam();
    Sandbox sandbox;
    sandbox.mkdir("out");
    sandbox.mkdir("src/out");
    // A saved CR LF setting does not reach a Maildir unless the line asks for it.
    sandbox.write("config/Tarnwick/Tarnwick.conf",
                  "[General]\nConvertLineEndings=bool:true\nConvertEncodings=bool:false\n"
                  "ComplementDateHeaders=bool:false\n");
    for (const auto& [name, bytes] : c.given)
        sandbox.write(name, bytes);
    std::vector<std::string> args = {"--format", "maildir", "--no-toc"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {sandbox / c.source, sandbox / c.destination});
    const RunResult result = sandbox.run(args);
    EXPECT_EQ(result.out, "Completed\n") << result.err;
    EXPECT_EQ(maildirs(sandbox.root), c.expected);
    for (const auto& [name, bytes] : c.given)
        EXPECT_SAME_BYTES(readFile(sandbox / name), bytes) << name; // inputs and what was there stay as they were
}

INSTANTIATE_TEST_SUITE_P(Cases, CliMaildirPlacing, testing::ValuesIn(maildirCases()), testSupport::NamedByLabel());

TEST(CliMaildir, UnknownFormatRefused)
{
    Sandbox sandbox;
    sandbox.write("In", mailbox(1));
    const RunResult bad = sandbox.run({"--format", "mbx", sandbox / "In", sandbox / "out"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown format 'mbx' (mbox or maildir)"), std::string::npos) << bad.err;
}

TEST(CliThunderbirdLayout, LocalFoldersWithSbdFolders)
{
    Sandbox sandbox;
    sandbox.write("config/Tarnwick/Tarnwick.conf",
                  "[General]\nConvertLineEndings=bool:true\nConvertEncodings=bool:false\n"
                  "ComplementDateHeaders=bool:false\nAddEmptyLines=bool:false\n");
    sandbox.write("src/In.mbx", mailbox(1, "\r\n"));
    sandbox.write("src/Work/Projects/Alpha", mailbox(2));
    sandbox.write("src/Work.mbx", mailbox(1));
    sandbox.mkdir("out");
    const RunResult result = sandbox.run({"--layout", "thunderbird", "--no-toc", sandbox / "src", sandbox / "out"});
    EXPECT_EQ(result.out, "Completed\n") << result.err;
    const std::string one = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: x\n\nBody\n\n";
    // Every folder a NAME.sbd beside its mailbox NAME (empty where Eudora had none), no
    // extensions, LF line ends although CR LF is saved.
    EXPECT_EQ(snapshot(sandbox / "out"),
              (Entries{{"In", one},
                       {"Work", one},
                       {"Work.sbd", "/"},
                       {"Work.sbd/Projects", ""},
                       {"Work.sbd/Projects.sbd", "/"},
                       {"Work.sbd/Projects.sbd/Alpha", one + one}}));
}

} // namespace
} // namespace tarnwick::test
