// Every long option of the command line, taken from the parser's own table, checked end
// to end: giving it must do exactly what saving its one setting in the user's settings
// file does, for both forms of a switch. The setting each option must change is spelled
// out here, not taken from the table, so an option wired to the wrong setting fails; an
// option added to the table without a row here fails too.
#include "ByteDiff.h"
#include "CaseName.h"
#include "CliRunner.h"

#include "cli/CommandLine.h"

#include <algorithm>
#include <regex>
#include <set>

namespace tarnwick::test {
namespace {

const std::string kFrom = "From ???@??? Tue Apr 03 10:15:22 2001";

// A message with one header line more, one body line.
std::string message(const std::string& header, const std::string& body, const std::string& eol = "\n")
{
    return kFrom + eol + "Subject: x" + eol + header + (header.empty() ? "" : eol) + eol + body + eol;
}

// An index of one read record for a mailbox of `size` bytes.
std::string oneRecordToc(std::size_t size)
{
    std::string toc(104 + 218, '\0');
    toc[102] = 1;
    for (int i = 0; i < 4; ++i)
        toc[104 + 4 + i] = static_cast<char>(size >> (8 * i));
    toc[104 + 12] = 1;
    toc[104 + 16] = 3;
    return toc;
}

// One mailbox for each setting, each written differently when that setting alone
// changes from the base values below.
Entries sourceTree()
{
    const std::string indexed = message("", "indexed");
    return {
        {"src/Encodings", message("Content-Type: text/plain; charset=utf-8", "caf\xc3\xa9")},
        {"src/Tags", message("Date: Tue, 3 Apr 2001 10:15:22 +0200", "<x-flowed>Hello</x-flowed>")},
        {"src/Rich", message("", "<x-rich><bold>Hello</bold></x-rich>")},
        {"src/LineEnds", message("", "body")},
        {"src/Dates", message("", "no date")},
        {"src/Nbsp",
         message("Content-Type: text/plain; charset=x-mac-japanese",
                 "a\xa0"
                 "b")},
        {"src/Attach", message("", "body\nAttachment Converted: \"c:\\eudora\\attach\\a.txt\"")},
        {"src/Headers", message("", "body").insert(kFrom.size() + 1, "Comments: caf\xc3\xa9\n")},
        {"src/Lengths", message("Content-Length: 5\nLines: 1", "body")},
        {"src/MendCR", message("", "body", "\r")},
        {"src/In.mbx", indexed},
        {"src/In.toc", oneRecordToc(indexed.size())},
        {"src/Kept.mbx", indexed + message("", "removed in Eudora")},
        {"src/Kept.toc", oneRecordToc(indexed.size())},
        {"src/Sub/Box", message("", "in a folder")},
        {"src/Sjis", message("", "\x93\xfa\x96\x7b")},
        {"src/TextFile", message("", "body\nAttachment Converted: \"c:\\eudora\\attach\\recipe.txt\"")},
        {"files1/a.txt", "first folder\n"},
        {"files2/a.txt", "second folder\n"},
        {"files1/recipe.txt", "cr\xe8me\n"},
        {"files2/recipe.txt", "cr\xe8me\n"},
    };
}

// Two mailboxes too large for the file size limit: the second is tried only when the
// job goes on past the first failure.
Entries failingTree()
{
    std::string big;
    while (big.size() < 6000)
        big += message("", std::string(70, 'x'));
    return {{"src/Big1", big}, {"src/Big2", big}, {"src/Small", message("", "small")}};
}

enum class Scenario { Mailboxes, Failures };

struct Row {
    std::vector<std::string> names;           // the long options this row covers
    std::string key;                          // the one setting they must change
    std::string base, other;                  // its two values, as the settings file holds them
    std::vector<std::string> toOther, toBase; // arguments giving each value (toBase may be empty)
    Scenario scenario = Scenario::Mailboxes;
};

std::vector<Row> rows(const std::string& root)
{
    auto on = [](const std::string& name, const std::string& key) {
        return Row{{name, "no-" + name}, key, "bool:true", "bool:false", {"--no-" + name}, {"--" + name}};
    };
    auto off = [](const std::string& name, const std::string& key) {
        return Row{{name, "no-" + name}, key, "bool:false", "bool:true", {"--" + name}, {"--no-" + name}};
    };
    return {
        on("convert-encodings", "ConvertEncodings"),
        on("eudora-tags", "ProcessEudoraTags"),
        off("crlf", "ConvertLineEndings"),
        on("complement-dates", "ComplementDateHeaders"),
        off("add-empty-lines", "AddEmptyLines"),
        on("replace-nbsp", "ReplaceNBSPWithSpaceInMacJapanese"),
        on("attachments", "PutBackAttachments"),
        on("toc", "UseEudoraRecords"),
        on("encode-headers", "EncodeHeaders"),
        on("drop-stale-lengths", "DropStaleLengths"),
        on("mend-cr", "MendCROnlyLineEndings"),
        on("rich-text", "ConvertRichText"),
        on("label-text-attachments", "LabelTextAttachments"),
        {{"layout"}, "OutputLayout", "string:flat", "string:tree", {"--layout", "tree"}, {"--layout", "flat"}},
        {{"layout"}, "OutputLayout", "string:flat", "string:thunderbird", {"--layout", "thunderbird"}, {"--layout", "flat"}},
        {{"removed-messages"},
         "RemovedMessages",
         "string:apart",
         "string:omit",
         {"--removed-messages", "omit"},
         {"--removed-messages", "apart"}},
        {{"removed-messages"},
         "RemovedMessages",
         "string:apart",
         "string:inside",
         {"--removed-messages", "inside"},
         {"--removed-messages", "apart"}},
        {{"format"}, "OutputFormat", "string:mbox", "string:maildir", {"--format", "maildir"}, {"--format", "mbox"}},
        {{"charsets"},
         "CharsetNames",
         "array:2:iso-8859-1,utf-8",
         "array:1:utf-8",
         {"--charsets", "utf-8"},
         {"--charsets", "iso-8859-1, utf-8"}},
        {{"source-encoding"}, "MboxEncoding", "int:0", "int:8", {"--source-encoding", "shift_jis"}, {"--source-encoding", "auto"}},
        {{"attachments-folder"},
         "AttachmentFolders",
         "array:1:" + root + "/files1",
         "array:1:" + root + "/files2",
         {"--attachments-folder", root + "/files2"},
         {"--attachments-folder", root + "/files1"}},
        {{"keep-going"}, "KeepGoing", "bool:false", "bool:true", {"--keep-going"}, {}, Scenario::Failures},
    };
}

// Long options that set nothing but what this run prints.
const std::set<std::string> kNotSettings = {"help", "version", "list-encodings", "quiet"};

// Long options of the upload into an IMAP account: each fills its own field of the
// parsed command line (a run needs a server; the upload's own tests have one).
const std::set<std::string> kUploadOptions = {"imap", "imap-ca", "imap-plain", "imap-connections"};

// Converts into a Thunderbird profile's Local Folders (checked against fake profiles
// in CliIntoThunderbirdTest).
const std::set<std::string> kPlacementOptions = {"into-thunderbird", "thunderbird-profile"};

// What a run leaves: the destination's files, the result line and exit code, and the
// status lines with the process id taken out.
struct Seen {
    Entries written;
    RunResult run;
    bool operator==(const Seen& other) const
    {
        return written == other.written && run.exitCode == other.run.exitCode && run.out == other.run.out && run.err == other.run.err;
    }
};

class SwitchRunner {
public:
    SwitchRunner(Scenario scenario) : scenario_(scenario)
    {
        for (const auto& [name, bytes] : scenario == Scenario::Mailboxes ? sourceTree() : failingTree())
            sandbox_.write(name, bytes);
        for (const Row& row : rows(sandbox_.root))
            base_[row.key] = row.base;
    }

    const Sandbox& sandbox() const { return sandbox_; }

    /// A run with the base settings but `changed` (key, value) saved, and `args` given.
    Seen run(const std::pair<std::string, std::string>& changed, const std::vector<std::string>& args)
    {
        std::string store = "[General]\n";
        for (const auto& [key, value] : base_)
            store += key + "=\"" + (key == changed.first ? changed.second : value) + "\"\n"; // quoted as QSettings writes lists
        sandbox_.write("config/Tarnwick/Tarnwick.conf", store);
        std::filesystem::remove_all(sandbox_ / "out");
        sandbox_.mkdir("out");
        std::vector<std::string> all = args;
        all.insert(all.end(), {sandbox_ / "src", sandbox_ / "out"});
        RunOptions options;
        if (scenario_ == Scenario::Failures)
            options.fileSizeLimit = 4096;
        Seen seen{{}, sandbox_.run(all, options)};
        // Maildir file names hold the time of delivery, the process and a random part.
        for (auto& [name, bytes] : snapshot(sandbox_ / "out"))
            seen.written[std::regex_replace(name, std::regex("[0-9]+\\.M[0-9]+P[0-9]+R[0-9a-f]+Q"), "#.M#P#R#Q")] = bytes;
        seen.run.err = std::regex_replace(seen.run.err, std::regex("tarnwick\\[[0-9]+\\]"), "tarnwick[]");
        return seen;
    }

private:
    Scenario scenario_;
    Sandbox sandbox_;
    std::map<std::string, std::string> base_;
};

// Where two runs part: exit codes, result lines, status lines, then the first file that
// differs with the offset of its first differing byte.
std::string difference(const Seen& a, const Seen& b)
{
    if (a.run.exitCode != b.run.exitCode)
        return "exit " + std::to_string(a.run.exitCode) + " and " + std::to_string(b.run.exitCode);
    if (a.run.out != b.run.out)
        return "standard output: " + testSupport::byteDifference(a.run.out, b.run.out);
    if (a.run.err != b.run.err)
        return "standard error: " + testSupport::byteDifference(a.run.err, b.run.err);
    for (const auto& [name, bytes] : a.written) {
        const auto other = b.written.find(name);
        if (other == b.written.end())
            return name + " written by the first run only";
        if (other->second != bytes)
            return name + ": " + testSupport::byteDifference(bytes, other->second);
    }
    for (const auto& [name, bytes] : b.written)
        if (!a.written.count(name))
            return name + " written by the second run only";
    return "the same";
}

TEST(CliSwitches, EveryOptionOfTheTableHasARowHere)
{
    std::set<std::string> covered = kNotSettings;
    covered.insert(kUploadOptions.begin(), kUploadOptions.end());
    covered.insert(kPlacementOptions.begin(), kPlacementOptions.end());
    for (const Row& row : rows("/x"))
        covered.insert(row.names.begin(), row.names.end());
    const std::vector<std::string> known = cli::longOptionNames();
    for (const std::string& name : known)
        EXPECT_TRUE(covered.count(name)) << "--" << name << " has no check here";
    for (const std::string& name : covered)
        EXPECT_TRUE(std::find(known.begin(), known.end(), name) != known.end()) << "--" << name << " is not an option";
    for (const cli::Switch& entry : cli::switches())
        EXPECT_EQ("no-" + std::string(entry.name), entry.negated);
}

// The rows as cases of their own, each named after its arguments to the other value
// ("--layout tree" gives LayoutTree), with one runner and one base run per scenario
// shared by them all.
class CliSwitchRow : public testing::TestWithParam<std::size_t> {
protected:
    static void TearDownTestSuite() { shared().clear(); }

    struct Scene {
        std::unique_ptr<SwitchRunner> runner;
        Seen base;
    };
    static std::map<Scenario, Scene>& shared()
    {
        static std::map<Scenario, Scene> scenes;
        return scenes;
    }
    static Scene& scene(Scenario scenario)
    {
        Scene& scene = shared()[scenario];
        if (!scene.runner) {
            scene.runner = std::make_unique<SwitchRunner>(scenario);
            scene.base = scene.runner->run({}, {});
        }
        return scene;
    }
};

std::string rowName(const testing::TestParamInfo<std::size_t>& info)
{
    const std::vector<Row> all = rows("");
    std::string arguments;
    for (const std::string& argument : all[info.param].toOther)
        arguments += argument + " ";
    return testSupport::caseName(arguments);
}

// Each option, in each of its forms, against the same setting saved: the same files,
// result and status lines; and the setting's two values give different ones, so the
// comparison can fail.
TEST_P(CliSwitchRow, EachOptionChangesExactlyItsOwnSetting)
{
    const Row row = rows(scene(Scenario::Mailboxes).runner->sandbox().root)[GetParam()];
    SwitchRunner& runner = *scene(row.scenario).runner;
    const Seen& base = scene(row.scenario).base;
    const Seen other = runner.run({row.key, row.other}, {});
    EXPECT_FALSE(other == base) << "the two values of " << row.key << " give the same run";
    const Seen given = runner.run({}, row.toOther);
    EXPECT_TRUE(given == other) << testing::PrintToString(row.toOther) << " is not " << row.key << "=" << row.other << ": "
                                << difference(given, other);
    if (row.toBase.empty())
        return;
    const Seen back = runner.run({row.key, row.other}, row.toBase);
    EXPECT_TRUE(back == base) << testing::PrintToString(row.toBase) << " is not " << row.key << "=" << row.base << ": "
                              << difference(back, base);
}

INSTANTIATE_TEST_SUITE_P(Rows, CliSwitchRow, testing::Range(std::size_t{0}, rows("").size()), rowName);

// The options that set nothing: each prints what it names and converts nothing.
TEST(CliSwitches, OptionsThatSetNothing)
{
    SwitchRunner runner(Scenario::Mailboxes);
    const Seen plain = runner.run({}, {});
    const struct {
        std::string name;
        std::string inOut;
        bool converts;
    } cases[] = {
        {"help", "Usage: tarnwick-cli [OPTIONS] SOURCE DESTINATION\n", false},
        {"version", "tarnwick-cli ", false},
        {"list-encodings", "\tJapanese (Shift JIS)\n", false},
        {"quiet", "Completed\n", true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(kNotSettings.count(c.name)) << c.name;
        const Seen seen = runner.run({}, {"--" + c.name});
        EXPECT_NE(seen.run.out.find(c.inOut), std::string::npos) << c.name << ": " << seen.run.out;
        EXPECT_EQ(seen.run.exitCode, 0) << c.name;
        EXPECT_EQ(seen.written, c.converts ? plain.written : Entries{}) << c.name;
        if (c.name == "quiet") {
            EXPECT_EQ(seen.run.err.find("Processing"), std::string::npos) << seen.run.err;
            EXPECT_NE(plain.run.err.find("Processing"), std::string::npos) << plain.run.err;
        }
    }
}

// The command line "tarnwick-cli ARGS src", parsed.
cli::ParseResult parseWithSource(std::vector<std::string> args)
{
    args.insert(args.begin(), "tarnwick-cli");
    args.push_back("src");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return cli::parseCommandLine(static_cast<int>(args.size()), argv.data());
}

// Each upload option alone sets its own field, and no setting.
TEST(CliSwitches, UploadOptionsFillTheirOwnFields)
{
    const struct {
        std::string name;
        std::vector<std::string> args;
        std::string address, caFile;
        bool plain;
        unsigned connections = 0;
    } cases[] = {
        {"imap", {"--imap", "imaps://u@h/F"}, "imaps://u@h/F", "", false},
        {"imap-ca", {"--imap", "imap://u@h/F", "--imap-ca", "/ca.pem"}, "imap://u@h/F", "/ca.pem", false},
        {"imap-plain", {"--imap", "imap://u@h/F", "--imap-plain"}, "imap://u@h/F", "", true},
        {"imap-connections", {"--imap", "imaps://u@h/F", "--imap-connections", "10"}, "imaps://u@h/F", "", false, 10},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(kUploadOptions.count(c.name)) << c.name;
        const cli::ParseResult parsed = parseWithSource(c.args);
        ASSERT_TRUE(parsed.commandLine) << c.name << ": " << parsed.error;
        EXPECT_EQ(parsed.commandLine->imapAddress, c.address) << c.name;
        EXPECT_EQ(parsed.commandLine->imapCaFile, c.caFile) << c.name;
        EXPECT_EQ(parsed.commandLine->imapPlain, c.plain) << c.name;
        EXPECT_EQ(parsed.commandLine->imapConnections, c.connections) << c.name;
        EXPECT_TRUE(parsed.commandLine->settings.empty()) << c.name;
        EXPECT_FALSE(parsed.commandLine->quiet) << c.name;
        EXPECT_EQ(parsed.commandLine->operands, std::vector<std::string>{"src"}) << c.name;
    }
}

// --imap-connections takes 1 to 10, and only with --imap.
TEST(CliSwitches, ConnectionCountsOutsideOneToTenAreUsageErrors)
{
    const struct {
        std::vector<std::string> args;
        std::string error; // empty: accepted
    } cases[] = {
        {{"--imap", "imaps://u@h/F", "--imap-connections", "1"}, ""},
        {{"--imap", "imaps://u@h/F", "--imap-connections", "0"}, "from 1 to 10"},
        {{"--imap", "imaps://u@h/F", "--imap-connections", "11"}, "from 1 to 10"},
        {{"--imap", "imaps://u@h/F", "--imap-connections", "-1"}, "from 1 to 10"},
        {{"--imap", "imaps://u@h/F", "--imap-connections", "4x"}, "from 1 to 10"},
        {{"--imap", "imaps://u@h/F", "--imap-connections", ""}, "from 1 to 10"},
        {{"--imap", "imaps://u@h/F", "--imap-connections", "007"}, "from 1 to 10"},
        {{"--imap-connections", "3", "dest"}, "go with --imap"},
    };
    for (const auto& c : cases) {
        const cli::ParseResult parsed = parseWithSource(c.args);
        EXPECT_EQ(parsed.commandLine.has_value(), c.error.empty()) << c.args.back();
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
}

} // namespace
} // namespace tarnwick::test
