// The mode table, options and the command line itself.
#include "ByteDiff.h"
#include "CaseName.h"
#include "CliRunner.h"

#include <regex>

namespace tarnwick::test {
namespace {

// A source and a destination as the user gives them, with what is there already.
struct ModeCase {
    const char* name;
    Entries given;
    std::string source, destination, outText;
    Entries added;
};

void PrintTo(const ModeCase& c, std::ostream* out) { *out << c.name; }

std::vector<ModeCase> modeCases()
{
    const std::string m = mailbox(1), longName(254, 'm');
    return {
        {"missing source", {}, "missing", "dest", "Error: \"%S/missing\" not found", {}},
        {"tilde and trailing slash standardised", {}, "~/Mail//missing/", "dest", "Error: \"%S/home/Mail/missing\" not found", {}},
        {"folder, missing destination",
         {{"src/In", m}},
         "src",
         "dest",
         "Error: The destination folder \"%S/dest\" does not exist: create it first",
         {}},
        {"folder, destination is a file", {{"src/In", m}, {"dest", "keep"}}, "src", "dest", "Error: \"%S/dest\" is not a directory", {}},
        {"file, destination is a file", {{"In", m}, {"dest", "keep"}}, "In", "dest", "Error: \"%S/dest\" already exists", {}},
        {"file, destination a dangling link", {{"In", m}, {"dest", "->target"}}, "In", "dest", "Error: \"%S/dest\" already exists", {}},
        {"file, destination in a missing folder",
         {{"In", m}},
         "In",
         "no/such",
         "Error: Could not create \"%S/no/such\": No such file or directory",
         {}},
        {"file, numbered name too long",
         {{longName, m}, {"out/" + longName, "keep"}},
         longName,
         "out",
         "Completed",
         {{"out/" + std::string(251, 'm') + "_1", m}}}, // shortened to fit, and numbered
        {"file, missing folder typed with a trailing slash",
         {{"In", m}},
         "In",
         "newdir/",
         "Error: The destination folder \"%S/newdir\" does not exist: create it first",
         {}},
        {"file, a file typed with a trailing slash",
         {{"In", m}, {"dest", "keep"}},
         "In",
         "dest/",
         "Error: \"%S/dest\" is not a directory",
         {}},
        {"file, new name", {{"Mail/In", m}}, "Mail/In", "Mail/converted", "Completed", {{"Mail/converted", m}}},
        {"file into a folder holding its name", {{"In", m}, {"out/In", "keep"}}, "In", "out/", "Completed", {{"out/In_2", m}}},
    };
}

class CliModeTable : public testing::TestWithParam<ModeCase> {};

TEST_P(CliModeTable, FileOrFolderIntoWhatIsThere)
{
    const ModeCase& c = GetParam();
    Sandbox sandbox;
    for (const auto& [name, bytes] : c.given)
        if (bytes.rfind("->", 0) == 0)
            ASSERT_EQ(::symlink(bytes.substr(2).c_str(), (sandbox / name).c_str()), 0);
        else
            sandbox.write(name, bytes);
    Entries expected = snapshot(sandbox.root);
    expected.insert(c.added.begin(), c.added.end());
    const RunResult result = sandbox.convert(c.source, c.destination);
    EXPECT_EQ(result.out, std::regex_replace(c.outText, std::regex("%S"), sandbox.root) + "\n");
    EXPECT_EQ(result.exitCode, c.outText == "Completed" ? 0 : 1);
    EXPECT_EQ(result.err.find("Processing") != std::string::npos, c.outText == "Completed") << result.err;
    EXPECT_EQ(snapshot(sandbox.root), expected) << "only the output is added; the user's store is never written";
}

INSTANTIATE_TEST_SUITE_P(Cases, CliModeTable, testing::ValuesIn(modeCases()), testSupport::NamedByLabel());

// Options reach the conversion over the user's saved values, which are left as they were.
TEST(CliOptions, SettingsReachTheConversion)
{
    Sandbox sandbox;
    const std::string from = "From ???@??? Tue Apr 03 10:15:22 2001", input = from + "\nSubject: x\n\nbody\n";
    sandbox.write("In", input);
    const std::string store = "[General]\nConvertEncodings=bool:false\nConvertLineEndings=bool:true\nComplementDateHeaders=bool:false\n"
                              "AddEmptyLines=bool:false\nSourcePath=string:/nowhere\nDestinationPath=string:/nowhere\n";
    sandbox.write("config/Tarnwick/Tarnwick.conf", store);
    ::setenv("TZ", "America/New_York", 1); // passed on to the program
    const struct {
        std::vector<std::string> options;
        std::string expected;
    } cases[] = {
        {{}, from + "\r\nSubject: x\r\n\r\nbody\r\n"}, // the saved values
        {{"--no-crlf"}, input},
        {{"--crlf", "--no-crlf"}, input},
        {{"--no-crlf", "--complement-dates"}, from + "\nSubject: x\nDate: Tue, 3 Apr 2001 10:15:22 -0400\n\nbody\n"},
        {{"--no-crlf", "--add-empty-lines"}, input + "\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {sandbox / "In", sandbox / "out"});
        EXPECT_EQ(sandbox.run(args).out, "Completed\n") << testing::PrintToString(c.options);
        EXPECT_SAME_BYTES(readFile(sandbox / "out"), c.expected) << testing::PrintToString(c.options);
        std::filesystem::remove(sandbox / "out");
    }
    EXPECT_EQ(snapshot(sandbox / "config"), (Entries{{"Tarnwick", "/"}, {"Tarnwick/Tarnwick.conf", store}}));
}

TEST(CliOptions, ExitCodesAndUsageErrors)
{
    Sandbox sandbox;
    sandbox.write("In", mailbox(1));
    const std::string in = sandbox / "In", out = sandbox / "out";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string inOut, inErr;
    } cases[] = {
        {{"--help"}, 0, "Usage: tarnwick-cli [OPTIONS] SOURCE DESTINATION", ""},
        {{"--list-encodings"}, 0, "\n2147483649\tJapanese (Mac OS)\n8\tJapanese (Shift JIS)\n", ""}, // menu order
        {{in}, 2, "", "SOURCE and DESTINATION"},
        {{in, out, out}, 2, "", "too many"},
        {{"--frobnicate", in, out}, 2, "", "unknown option '--frobnicate'"},
        {{in, out, "--charsets"}, 2, "", "needs an argument"},
        {{"--source-encoding", "no-such-charset", in, out}, 2, "", "unknown encoding"},
        {{"--source-encoding", "4294967297", in, out}, 2, "", "unknown encoding"},           // above 32 bits
        {{"--source-encoding", "2147483647", in, out}, 2, "", "unknown encoding"},           // not offered
        {{"--source-encoding", "18446744073709551624", in, out}, 2, "", "unknown encoding"}, // 2^64 + 8 must not wrap to 8
        {{"--attachments-folder", "", in, out}, 2, "", "needs a folder"},
        {{"--source-encoding", "utf-16", in, out}, 2, "", "does not read ASCII as ASCII"}, // no "From " lines out
        {{"--source-encoding", "utf-16le", in, out}, 2, "", "does not read ASCII as ASCII"},
        {{"--charsets", "utf-16, no-such-charset", in, out}, 2, "", "names no usable charset"},
        {{"--charsets", "", in, out}, 2, "", "names no usable charset"},
        {{"--source-encoding", "x-mac-japanese", in, out}, 0, "Completed", ""},
        {{"--source-encoding", "auto", in, out + "4"}, 0, "Completed", ""},
        {{"--source-encoding", "0", in, out + "5"}, 0, "Completed", ""},
        {{"--source-encoding", "2147483649", in, out + "2"}, 0, "Completed", ""},
        {{"--charsets", "no-such-charset, utf-8", in, out + "3"}, 0, "Completed", ""},
    };
    for (const auto& c : cases) {
        const RunResult r = sandbox.run(c.args);
        EXPECT_TRUE(r.exitCode == c.exitCode && r.out.find(c.inOut) != std::string::npos && r.err.find(c.inErr) != std::string::npos
                    && (c.exitCode != 2 || r.out.empty())) // usage errors print nothing on standard output
            << testing::PrintToString(c.args) << " exit " << r.exitCode << "\nout: " << r.out << "\nerr: " << r.err;
    }
}

} // namespace
} // namespace tarnwick::test
