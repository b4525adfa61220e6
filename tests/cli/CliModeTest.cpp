// The mode table, options and the command line itself.
#include "CliRunner.h"

namespace tarnwick::test {
namespace {

// Every entry below the sandbox but the run's own output: a file's bytes, "/" for a
// folder, "->target" for a link.
std::map<std::string, std::string> snapshot(const Sandbox& sandbox)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox.root())) {
        const std::string name = entry.path().string().substr(sandbox.root().size() + 1);
        if (entry.is_symlink())
            entries[name] = "->" + std::filesystem::read_symlink(entry.path()).string();
        else if (name != "stdout.txt" && name != "stderr.txt")
            entries[name] = entry.is_directory() ? "/" : readFile(entry.path());
    }
    return entries;
}

TEST(CliModeTable, FileOrFolderIntoWhatIsThere)
{
    using Entries = std::map<std::string, std::string>; // as in snapshot()
    const std::string m = mailbox(1), longName(254, 'm');
    const struct { const char* label; Entries given; std::string source, destination, outText; Entries added; } cases[] = {
        {"missing source", {}, "missing", "dest", "Error: \"%S/missing\" not found", {}},
        {"tilde and trailing slash standardised", {}, "~/Mail//missing/", "dest", "Error: \"%S/home/Mail/missing\" not found", {}},
        {"folder, missing destination", {{"src", "/"}}, "src", "dest", "Error: \"%S/dest\" not found", {}},
        {"folder, destination is a file", {{"src", "/"}, {"dest", "keep"}}, "src", "dest", "Error: \"%S/dest\" is not a directory", {}},
        {"file, destination is a file", {{"In", m}, {"dest", "keep"}}, "In", "dest", "Error: \"%S/dest\" already exists", {}},
        {"file, destination a dangling link", {{"In", m}, {"dest", "->target"}}, "In", "dest", "Error: \"%S/dest\" already exists", {}},
        {"file, destination in a missing folder", {{"In", m}}, "In", "no/such", "Error: Could not create \"%S/no/such\"", {}},
        {"file, no name can be claimed", {{longName, m}, {"out", "/"}, {"out/" + longName, "keep"}}, longName, "out",
         "Error: Could not create \"%S/out/" + longName + "\"", {}},
        {"file, new name", {{"Mail", "/"}, {"Mail/In", m}}, "Mail/In", "Mail/converted", "Completed", {{"Mail/converted", m}}},
        {"file into a folder holding its name", {{"In", m}, {"out", "/"}, {"out/In", "keep"}}, "In", "out/", "Completed", {{"out/In_2", m}}},
        {"file that is no mailbox", {{"notes", "just notes\n"}, {"out", "/"}}, "notes", "out", "Completed", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox sandbox;
        for (const auto& [name, bytes] : c.given)
            if (bytes == "/")
                sandbox.mkdir(name);
            else if (bytes.rfind("->", 0) == 0)
                ASSERT_EQ(::symlink(bytes.substr(2).c_str(), (sandbox / name).c_str()), 0);
            else
                sandbox.write(name, bytes);
        auto expected = snapshot(sandbox);
        expected.insert(c.added.begin(), c.added.end());
        std::vector<std::string> args = kPlain;
        args.insert(args.end(), {c.source[0] == '~' ? c.source : sandbox / c.source, sandbox / c.destination});
        const RunResult result = sandbox.run(args);
        std::string outText = c.outText + "\n";
        if (const auto at = outText.find("%S"); at != std::string::npos)
            outText.replace(at, 2, sandbox.root());
        EXPECT_EQ(result.out, outText);
        EXPECT_EQ(result.exitCode, c.outText == "Completed" ? 0 : 1);
        EXPECT_EQ(result.err.find("Processing") != std::string::npos, c.outText == "Completed") << result.err;
        EXPECT_EQ(snapshot(sandbox), expected) << "only the output is added; the user's store is never written";
    }
}

// Options reach the conversion, unset ones read the user's saved values, and the
// user's store is left as it was.
TEST(CliOptions, SettingsReachTheConversion)
{
    Sandbox sandbox;
    const std::string from = "From ???@??? Tue Apr 03 10:15:22 2001", input = from + "\nSubject: x\n\nbody\n";
    const std::string dated = from + "\nSubject: x\nDate: Tue, 3 Apr 2001 10:15:22 ";
    sandbox.write("In", input);
    const std::string store = "[General]\nConvertEncodings=bool:false\nConvertLineEndings=bool:true\nComplementDateHeaders=bool:false\n"
                              "AddEmptyLines=bool:false\nSourcePath=string:/nowhere\nDestinationPath=string:/nowhere\n";
    sandbox.write("config/Tarnwick/Tarnwick.conf", store);
    const struct { const char* label; std::vector<std::string> options; std::string timeZone, expected; } cases[] = {
        {"saved values", {}, "", from + "\r\nSubject: x\r\n\r\nbody\r\n"},
        {"option wins over the saved value", {"--no-crlf"}, "", input},
        {"last switch wins", {"--crlf", "--no-crlf"}, "", input},
        {"dates in Paris", {"--no-crlf", "--complement-dates"}, "Europe/Paris", dated + "+0200\n\nbody\n"},
        {"dates in New York", {"--no-crlf", "--complement-dates"}, "America/New_York", dated + "-0400\n\nbody\n"},
        {"empty lines", {"--no-crlf", "--add-empty-lines"}, "", input + "\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string output = sandbox / std::to_string(++n);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {sandbox / "In", output});
        EXPECT_EQ(sandbox.run(args, {c.timeZone}).out, "Completed\n") << c.label;
        EXPECT_EQ(readFile(output), c.expected) << c.label;
    }
    EXPECT_EQ(readFile(sandbox / "config/Tarnwick/Tarnwick.conf"), store);
    EXPECT_EQ(sandbox.list("config/Tarnwick").size(), 1u);
}

TEST(CliOptions, ExitCodesAndUsageErrors)
{
    Sandbox sandbox;
    sandbox.write("In", mailbox(1));
    const std::string in = sandbox / "In", out = sandbox / "out";
    const struct { const char* label; std::vector<std::string> args; int exitCode; std::string inOut, inErr; } cases[] = {
        {"help", {"--help"}, 0, "Usage: tarnwick-cli [OPTIONS] SOURCE DESTINATION", ""},
        {"version", {"--version"}, 0, "tarnwick-cli ", ""},
        {"encodings in menu order", {"--list-encodings"}, 0, "\n2147483649\tJapanese (Mac OS)\n8\tJapanese (Shift JIS)\n", ""},
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
        const RunResult result = sandbox.run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.label << ": " << result.err;
        EXPECT_NE(result.out.find(c.inOut), std::string::npos) << c.label << ": " << result.out;
        EXPECT_NE(result.err.find(c.inErr), std::string::npos) << c.label << ": " << result.err;
        EXPECT_TRUE(c.exitCode != 2 || result.out.empty()) << c.label << ": usage errors print nothing on standard output";
    }
}

} // namespace
} // namespace tarnwick::test
