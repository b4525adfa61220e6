// The mode table, the single-file mends and the command line itself.
#include "CliRunner.h"

#include <regex>

namespace tarnwick::test {
namespace {

const std::vector<std::string> kPlain = {"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines"};

std::vector<std::string> plainArgs(const std::string& source, const std::string& destination)
{
    std::vector<std::string> args = kPlain;
    args.push_back(source);
    args.push_back(destination);
    return args;
}

TEST(CliModeTable, ErrorsEndTheJobBeforeAnythingIsCreated)
{
    struct Case {
        const char* label;
        std::function<void(const Sandbox&)> setUp;
        std::string source;
        std::string destination;
        std::string expectedFinal; // "%S" stands for the sandbox's root
    };
    const std::vector<Case> cases = {
        {"missing source", [](const Sandbox&) {}, "missing", "dest", "Error: \"%S/missing\" not found"},
        {"folder, missing destination", [](const Sandbox& s) { s.mkdir("src"); }, "src", "dest",
         "Error: \"%S/dest\" not found"},
        {"folder, destination is a file",
         [](const Sandbox& s) {
             s.mkdir("src");
             s.write("dest", "keep");
         },
         "src", "dest", "Error: \"%S/dest\" is not a directory"},
        {"file, destination is a file",
         [](const Sandbox& s) {
             s.write("In", mailbox(1));
             s.write("dest", "keep");
         },
         "In", "dest", "Error: \"%S/dest\" already exists"},
        {"file, destination in a missing folder", [](const Sandbox& s) { s.write("In", mailbox(1)); }, "In",
         "no/such/out", "Error: Could not create \"%S/no/such/out\""},
        // The destination is created exclusively: a dangling link is never followed.
        {"file, destination is a dangling link",
         [](const Sandbox& s) {
             s.write("In", mailbox(1));
             ::symlink((s / "target").c_str(), (s / "dest").c_str());
         },
         "In", "dest", "Error: \"%S/dest\" already exists"},
        {"tilde and trailing slash are standardised", [](const Sandbox&) {}, "~/Mail//missing/", "dest",
         "Error: \"%S/home/Mail/missing\" not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox sandbox;
        c.setUp(sandbox);
        const auto before = sandbox.list("");
        const std::string source = c.source.front() == '~' ? c.source : sandbox / c.source;
        const RunResult result = sandbox.run(plainArgs(source, sandbox / c.destination));
        std::string expected = std::regex_replace(c.expectedFinal, std::regex("%S"), sandbox.root());
        EXPECT_EQ(result.finalText(), expected);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err.find("Processing"), std::string::npos) << result.err;
        auto after = sandbox.list("");
        after.erase("stdout.txt");
        after.erase("stderr.txt");
        EXPECT_EQ(after, before) << "nothing created or removed";
        EXPECT_FALSE(exists(sandbox / "target"));
        if (exists(sandbox / "dest") && std::string(c.label).find("is a file") != std::string::npos) {
            EXPECT_EQ(readFile(sandbox / "dest"), "keep");
        }
        EXPECT_TRUE(sandbox.list("config").empty()) << "the user's store is never written";
    }
}

TEST(CliModeTable, SingleFileConversions)
{
    const std::string input = mailbox(3);
    {
        SCOPED_TRACE("missing destination in an existing folder is created");
        Sandbox sandbox;
        sandbox.write("Mail/In", input);
        sandbox.mkdir("out");
        const RunResult result = sandbox.run(plainArgs(sandbox / "Mail/In", sandbox / "out/converted"));
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.finalText(), "Completed");
        EXPECT_NE(result.err.find("Processing \"In\"...\n"), std::string::npos) << result.err;
        EXPECT_EQ(readFile(sandbox / "out/converted"), input);
    }
    {
        SCOPED_TRACE("destination folder that holds In gets In_2");
        Sandbox sandbox;
        sandbox.write("In", input);
        sandbox.write("out/In", "keep");
        const RunResult result = sandbox.run(plainArgs(sandbox / "In", sandbox / "out/"));
        EXPECT_EQ(result.finalText(), "Completed");
        EXPECT_EQ(readFile(sandbox / "out/In"), "keep");
        EXPECT_EQ(readFile(sandbox / "out/In_2"), input);
    }
    {
        SCOPED_TRACE("a file that is no mailbox leaves no output");
        Sandbox sandbox;
        sandbox.write("notes.txt", "just some notes\n");
        sandbox.mkdir("out");
        const RunResult result = sandbox.run(plainArgs(sandbox / "notes.txt", sandbox / "out"));
        EXPECT_EQ(result.finalText(), "Completed");
        EXPECT_TRUE(sandbox.list("out").empty());
    }
    {
        SCOPED_TRACE("failed conversion removes its output");
        Sandbox sandbox;
        sandbox.write("In", mailbox(200));
        sandbox.mkdir("out");
        RunOptions options;
        options.fileSizeLimit = 4096;
        const RunResult result = sandbox.run(plainArgs(sandbox / "In", sandbox / "out"), options);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.finalText().rfind("Error: Could not write to \"" + sandbox / "out/In" + "\": ", 0), 0u) << result.out;
        EXPECT_TRUE(sandbox.list("out").empty());
    }
    {
        SCOPED_TRACE("no name can be claimed in the destination folder");
        Sandbox sandbox;
        const std::string longName(254, 'm');
        sandbox.write(longName, input);
        sandbox.write("out/" + longName, "keep");
        const RunResult result = sandbox.run(plainArgs(sandbox / longName, sandbox / "out"));
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.finalText(), "Error: Could not create \"" + sandbox / ("out/" + longName) + "\"");
        EXPECT_EQ(sandbox.list("out").size(), 1u);
    }
}

TEST(CliOptions, SettingsReachTheConversion)
{
    Sandbox sandbox;
    const std::string input = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: no date\n\nbody\n";
    sandbox.write("In", input);
    sandbox.mkdir("out");
    struct Case {
        const char* label;
        std::vector<std::string> options;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"all off", kPlain, {}, input},
        {"crlf", {"--no-convert-encodings", "--crlf", "--no-complement-dates", "--no-add-empty-lines"}, {},
         "From ???@??? Tue Apr 03 10:15:22 2001\r\nSubject: no date\r\n\r\nbody\r\n"},
        {"dates under TZ Paris", {"--no-convert-encodings", "--no-crlf", "--complement-dates", "--no-add-empty-lines"},
         {{"TZ", "Europe/Paris"}},
         "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: no date\nDate: Tue, 3 Apr 2001 10:15:22 +0200\n\nbody\n"},
        {"dates under TZ New York",
         {"--no-convert-encodings", "--no-crlf", "--complement-dates", "--no-add-empty-lines"},
         {{"TZ", "America/New_York"}},
         "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: no date\nDate: Tue, 3 Apr 2001 10:15:22 -0400\n\nbody\n"},
        {"empty lines", {"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--add-empty-lines"}, {},
         input + "\n"},
        {"last switch wins", {"--crlf", "--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines"},
         {}, input},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string output = "out/" + std::to_string(++n);
        std::vector<std::string> args = c.options;
        args.push_back(sandbox / "In");
        args.push_back(sandbox / output);
        RunOptions options;
        options.environment = c.environment;
        const RunResult result = sandbox.run(args, options);
        EXPECT_EQ(result.finalText(), "Completed") << result.err;
        EXPECT_EQ(readFile(sandbox / output), c.expected);
    }
    EXPECT_TRUE(sandbox.list("config").empty()) << "the user's store is never written";
}

// Unset options read the user's saved values; options override them for this run
// only, and the user's store is left as it was.
TEST(CliOptions, UserStoreIsReadNeverWritten)
{
    Sandbox sandbox;
    const std::string input = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: x\n\nbody\n";
    const std::string crlf = "From ???@??? Tue Apr 03 10:15:22 2001\r\nSubject: x\r\n\r\nbody\r\n";
    sandbox.write("In", input);
    const std::string store = "[General]\nConvertEncodings=bool:false\nConvertLineEndings=bool:true\n"
                              "ComplementDateHeaders=bool:false\nAddEmptyLines=bool:false\n"
                              "SourcePath=string:/nowhere\nDestinationPath=string:/nowhere\n";
    sandbox.write("config/Tarnwick/Tarnwick.conf", store);

    RunResult result = sandbox.run({sandbox / "In", sandbox / "saved"});
    EXPECT_EQ(result.finalText(), "Completed") << result.err;
    EXPECT_EQ(readFile(sandbox / "saved"), crlf) << "the saved ConvertLineEndings applies";

    result = sandbox.run({"--no-crlf", sandbox / "In", sandbox / "overridden"});
    EXPECT_EQ(result.finalText(), "Completed") << result.err;
    EXPECT_EQ(readFile(sandbox / "overridden"), input) << "the option wins over the saved value";

    EXPECT_EQ(readFile(sandbox / "config/Tarnwick/Tarnwick.conf"), store);
    EXPECT_EQ(sandbox.list("config/Tarnwick").size(), 1u);
}

TEST(CliOptions, UsageErrorsAndInformation)
{
    Sandbox sandbox;
    sandbox.write("In", mailbox(1));
    struct Case {
        const char* label;
        std::vector<std::string> args;
        int exitCode;
        std::string inOut; // expected in standard output
        std::string inErr; // expected in standard error
    };
    const std::string in = sandbox / "In";
    const std::string out = sandbox / "out";
    const std::vector<Case> cases = {
        {"help", {"--help"}, 0, "Usage: tarnwick-cli [OPTIONS] SOURCE DESTINATION", ""},
        {"version", {"--version"}, 0, "tarnwick-cli ", ""},
        {"no operands", {}, 2, "", "SOURCE and DESTINATION"},
        {"one operand", {in}, 2, "", "SOURCE and DESTINATION"},
        {"three operands", {in, out, out}, 2, "", "too many"},
        {"unknown option", {"--frobnicate", in, out}, 2, "", "unknown option '--frobnicate'"},
        {"missing argument", {in, out, "--charsets"}, 2, "", "needs an argument"},
        {"unknown encoding name", {"--source-encoding", "no-such-charset", in, out}, 2, "", "unknown encoding"},
        {"identifier too large", {"--source-encoding", "4294967297", in, out}, 2, "", "unknown encoding"},
        {"identifier not offered", {"--source-encoding", "2147483647", in, out}, 2, "", "unknown encoding"},
        {"known name", {"--source-encoding", "Shift_JIS", in, out}, 0, "Completed", ""},
        {"known alias", {"--source-encoding", "x-mac-japanese", in, out + "2"}, 0, "Completed", ""},
        {"identifier above 2^31", {"--source-encoding", "2147483649", in, out + "3"}, 0, "Completed", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const RunResult result = sandbox.run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.inOut), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.inErr), std::string::npos) << result.err;
        if (c.exitCode == 2) {
            EXPECT_TRUE(result.out.empty()) << "usage errors print nothing on standard output";
        }
    }
}

TEST(CliOptions, ListEncodingsInMenuOrder)
{
    Sandbox sandbox;
    const RunResult result = sandbox.run({"--list-encodings"});
    EXPECT_EQ(result.exitCode, 0);
    const std::regex line("([0-9]+)\t(.+)");
    std::vector<std::string> names;
    std::set<unsigned long> ids;
    std::size_t start = 0;
    while (start < result.out.size()) {
        const std::size_t end = result.out.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string text = result.out.substr(start, end - start);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        ids.insert(std::stoul(match[1]));
        names.push_back(match[2]);
        start = end + 1;
    }
    EXPECT_GT(names.size(), 10u);
    EXPECT_TRUE(ids.count(1) && ids.count(8) && ids.count(0x80000001ul)) << "ASCII, Shift_JIS and MacJapanese are offered";
    // Names are ASCII here, so byte order is code-unit order.
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << result.out;
}

} // namespace
} // namespace tarnwick::test
