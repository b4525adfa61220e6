// Paths: standardisation, and output names claimed exclusively (0644, a dangling
// link counts as taken) where only a taken name moves the search on.
#include "CaseName.h"
#include "batch/OutputNaming.h"
#include "batch/TocLookup.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

struct TempFolder {
    std::string path = [] {
        char pattern[] = "/tmp/tarnwick-batch.XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name) const { std::ofstream(*this / name) << "keep"; }
    std::string read(const std::string& name) const
    {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(*this / name).rdbuf()), {});
    }
};

TEST(Paths, StandardiseAndAbbreviate)
{
    TempFolder folder;
    std::filesystem::create_directories(folder / "real/sub");
    ASSERT_EQ(::symlink((folder / "real/sub").c_str(), (folder / "link").c_str()), 0);
    ::setenv("HOME", "/home/someone/", 1);
    const struct passwd* root = ::getpwnam("root");
    ASSERT_NE(root, nullptr);

    const auto S = standardizePath, A = abbreviateHomeFolder;
    const struct {
        std::string (*function)(std::string_view);
        std::string input, expected;
    } cases[] = {
        {S, "", ""},
        {S, "//", "/"},
        {S, "/a//b/./c/", "/a/b/c"},
        {S, "./", "."},
        {S, "a/../b", "a/../b"},
        {S, "/..", "/"},
        {S, "~/Mail//In", "/home/someone/Mail/In"},
        {S, "~root/x", root->pw_dir + std::string("/x")},
        {S, "~no-such-user-tarnwick/x", "~no-such-user-tarnwick/x"},
        {S, "a~/b", "a~/b"},
        {S, "/no-such-dir-tarnwick/b/../c", "/no-such-dir-tarnwick/c"},
        {S, "/no-such-dir-tarnwick/../../x", "/x"},
        {S, folder / "link/../sub/",
         std::filesystem::canonical(folder / "real/sub").string()}, // ".." goes to the real parent, through the link
        {S, "/bytes/\xff\xfe/./\xe9", "/bytes/\xff\xfe/\xe9"},
        {A, "/home/someone/", "~"},
        {A, "/home/someone/Mail", "~/Mail"},
        {A, "/home/someoneelse/Mail", "/home/someoneelse/Mail"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.function(c.input), c.expected) << (c.function == S ? "standardise " : "abbreviate ") << c.input;
}

// A name claimed where others are taken already.
struct ClaimCase {
    const char* name;
    std::vector<std::string> existing; // "@name": a link to the missing "nowhere"
    std::string wanted, expected;
};

void PrintTo(const ClaimCase& c, std::ostream* out) { *out << c.name; }

const ClaimCase kClaimCases[] = {
    {"gap is filled", {"In", "In_3"}, "In", "In_2"},
    {"decimal counter", {"In", "In_2", "In_3", "In_4", "In_5", "In_6", "In_7", "In_8", "In_9"}, "In", "In_10"},
    {"extension kept", {"Inbox.mbx"}, "Inbox.mbx", "Inbox_2.mbx"},
    {"deep name flattened", {}, "Sub/Deeper/Trash", "Sub:Deeper:Trash"},
    {"flattened and taken", {"Sub:In"}, "Sub/In", "Sub:In_2"},
    {"period in folder part starts extension", {"a.b:c"}, "a.b/c", "a_2.b:c"},
    {"last period splits", {"scratch..tiff"}, "scratch..tiff", "scratch._2.tiff"},
    {"leading period is no extension", {".hidden"}, ".hidden", ".hidden_2"},
    {"trailing period is kept", {"notes."}, "notes.", "notes._2"},
    {"dangling link is taken", {"@In"}, "In", "In_2"},
};

class ClaimedName : public testing::TestWithParam<ClaimCase> {
protected:
    void SetUp() override { previous_ = ::umask(022); }
    void TearDown() override { ::umask(previous_); }
    mode_t previous_ = 0;
};

TEST_P(ClaimedName, ChoosesFirstFreeNameAndCreatesIt)
{
    const ClaimCase& c = GetParam();
    TempFolder folder;
    for (const auto& name : c.existing)
        if (name[0] == '@')
            ASSERT_EQ(::symlink((folder / "nowhere").c_str(), (folder / name.substr(1)).c_str()), 0);
        else
            folder.write(name);
    const OutputClaim result = claimOutputFile(folder.path, c.wanted);
    ASSERT_TRUE(result.claimed());
    EXPECT_EQ(result.path, folder / c.expected);
    struct stat st {};
    ASSERT_EQ(::lstat(result.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_size == 0 && (st.st_mode & 07777) == 0600) << std::oct << st.st_mode;
    EXPECT_TRUE((result.identity == FileIdentity{st.st_dev, st.st_ino}));
    for (const auto& name : c.existing)
        EXPECT_TRUE(name[0] == '@' ? entryType(folder / name.substr(1)) == EntryType::SymbolicLink : folder.read(name) == "keep");
    EXPECT_EQ(entryType(folder / "nowhere"), EntryType::None) << "a link's target is never created";
}

INSTANTIATE_TEST_SUITE_P(Cases, ClaimedName, testing::ValuesIn(kClaimCases), testSupport::NamedByLabel());

// A folder that can take no file ends the search at once, not after endless tries.
TEST(GetUniquePath, FailureOtherThanTakenNameEndsAtOnce)
{
    TempFolder folder;
    folder.write("plain-file");
    std::string deepFolder = folder.path; // its path leaves no room for a name
    while (deepFolder.size() < 4090)
        deepFolder += "/" + std::string(std::min<std::size_t>(200, 4090 - deepFolder.size()), 'd');
    struct Case {
        std::string where, name;
        std::string failed; // the name the failure names
        int error;
    };
    std::vector<Case> cases = {{folder / "missing", "In", folder / "missing/In", ENOENT},
                               {folder / "plain-file", "In", folder / "plain-file/In", ENOTDIR},
                               {deepFolder, "In.mbx", deepFolder + "/In.mbx", ENAMETOOLONG}}; // no shortened name fits either
    if (::geteuid() != 0 && ::mkdir((folder / "read-only").c_str(), 0555) == 0)
        cases.push_back({folder / "read-only", "In", folder / "read-only/In", EACCES});
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const OutputClaim claim = claimOutputFile(c.where, c.name);
        EXPECT_FALSE(claim.claimed()) << c.where << " " << c.name.size();
        EXPECT_EQ(claim.path, c.failed) << c.where << " " << c.name.size();
        EXPECT_EQ(claim.error, c.error) << c.where << " " << c.name.size();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.where << " " << c.name.size();
    }
}

// A name too long for the file system, where others may be taken already.
std::vector<ClaimCase> tooLongCases()
{
    const std::string e = "\xc3\xa9"; // two bytes
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += e;
    return {
        {"cut and numbered", {}, std::string(300, 'n'), std::string(253, 'n') + "_1"},
        {"extension kept", {}, std::string(300, 'n') + ".mbx", std::string(249, 'n') + "_1.mbx"},
        {"flattened name cut", {}, "Folder/" + std::string(300, 'f') + ".mbx", "Folder:" + std::string(242, 'f') + "_1.mbx"},
        {"a cut name taken moves on", {std::string(249, 'n') + "_1.mbx"}, std::string(300, 'n') + ".mbx", std::string(249, 'n') + "_2.mbx"},
        {"numbered name too long", {std::string(254, 'n')}, std::string(254, 'n'), std::string(251, 'n') + "_1"},
        {"never inside a character", {}, accents + ".mbx", accents.substr(0, 248) + "_1.mbx"},
    };
}

class ShortenedName : public testing::TestWithParam<ClaimCase> {};

// A name too long for the file system is cut to fit, keeping its extension and a
// number that keeps it apart from other cut names, at a UTF-8 character boundary.
TEST_P(ShortenedName, TooLongNameIsShortenedAndLogged)
{
    const ClaimCase& c = GetParam();
    TempFolder folder;
    for (const auto& name : c.existing)
        folder.write(name);
    std::vector<std::string> logged;
    setLogSink([&](std::string_view line) { logged.emplace_back(line); });
    const OutputClaim claim = claimOutputFile(folder.path, c.wanted);
    setLogSink({});
    ASSERT_TRUE(claim.claimed()) << claim.error;
    EXPECT_EQ(claim.path, folder / c.expected);
    EXPECT_EQ(entryType(claim.path), EntryType::Regular);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("written as '" + c.expected + "'"), std::string::npos) << logged[0];
    for (const auto& name : c.existing)
        EXPECT_EQ(folder.read(name), "keep");
}

INSTANTIATE_TEST_SUITE_P(Cases, ShortenedName, testing::ValuesIn(tooLongCases()), testSupport::NamedByLabel());

// A folder of the tree layout whose name is taken by a file, or too long, is numbered
// or cut the same way each time, so that the mailboxes of one folder stay together.
TEST(CreateFolderPath, TakenOrTooLongFolderNamesStillLeadToOneFolder)
{
    TempFolder folder;
    folder.write("Notes.mbx");
    const std::string longName(300, 'w');
    for (int run = 0; run < 2; ++run) {
        const FolderPath made = createFolderPath(folder.path, {"Notes.mbx", longName});
        ASSERT_TRUE(made.failedPath.empty()) << made.failedPath << " " << made.error;
        EXPECT_EQ(made.path, folder / ("Notes_2.mbx/" + std::string(253, 'w') + "_1"));
        EXPECT_EQ(made.created.size(), run == 0 ? 2u : 0u);
    }
    EXPECT_EQ(folder.read("Notes.mbx"), "keep");
}

// The output folders of a job are held: a folder entered before and swapped for a link
// since is entered again as held, never through the link, and a folder already entered
// is neither made nor opened again (its creation is reported once).
TEST(OutputFolders, FoldersEnteredAreHeldAgainstLinksSwappedIn)
{
    TempFolder folder;
    std::filesystem::create_directories(folder / "dst");
    std::filesystem::create_directories(folder / "elsewhere");
    int error = 0;
    const std::shared_ptr<const FolderHandle> destination = FolderHandle::open(folder / "dst", error);
    ASSERT_TRUE(destination) << error;
    OutputFolders folders(destination);
    const FolderPath first = folders.enter({"A", "B"});
    ASSERT_TRUE(first.failedPath.empty()) << first.error;
    EXPECT_EQ(first.created, (std::vector<std::string>{folder / "dst/A", folder / "dst/A/B"}));
    // The destination and A swapped for links to another folder.
    std::filesystem::rename(folder / "dst", folder / "held");
    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), (folder / "dst").c_str()), 0);
    std::filesystem::rename(folder / "held/A", folder / "held/A-moved");
    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), (folder / "held/A").c_str()), 0);
    struct Step {
        std::vector<std::string> folders;
        std::string madeIn; // where the claim of "In" lands, below the sandbox
        std::size_t created;
    };
    const Step steps[] = {
        {{"A", "C"}, "held/A-moved/C/In", 1}, // A as entered before
        {{"A", "C"}, "held/A-moved/C/In_2", 0},
        {{"D"}, "held/D/In", 1},
        {{"A"}, "held/A_2/In", 1}, // entered anew: the name is a link now, so A_2
    };
    NameNumbers numbers;
    for (const Step& step : steps) {
        const FolderPath made = folders.enter(step.folders);
        ASSERT_TRUE(made.failedPath.empty() && made.folder) << made.failedPath << " " << made.error;
        EXPECT_EQ(made.created.size(), step.created) << step.madeIn;
        const OutputClaim claim = claimOutputFile(made.folder, "In", numbers);
        ASSERT_TRUE(claim.claimed()) << claim.error;
        EXPECT_EQ(entryType(folder / step.madeIn), EntryType::Regular) << step.madeIn << " " << claim.path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "elsewhere"));
}

// Names in another letter case are looked up in one listing per folder a walk is in, so
// that a folder of many mailboxes is not listed again for each: a name added after the
// listing is not seen while the walk stays below that folder, and is once it left.
TEST(FolderNameLookup, EachFolderOfTheWalkIsListedOnce)
{
    TempFolder folder;
    std::filesystem::create_directories(folder / "a/sub");
    std::filesystem::create_directories(folder / "b");
    std::ofstream(folder / "a/IN.TOC").close();
    FolderNameLookup names;
    const struct {
        std::string folder, name, added; // `added` is made before the lookup
        std::optional<std::string> found;
    } steps[] = {
        {folder / "a", "In.toc", "", "IN.TOC"},    {folder / "a", "Out.toc", "a/OUT.TOC", std::nullopt}, // listed already
        {folder / "a/sub", "x", "", std::nullopt}, {folder / "a", "Out.toc", "", std::nullopt},          // still on the path
        {folder / "b", "x", "", std::nullopt},     {folder / "a", "Out.toc", "", "OUT.TOC"},             // left, listed anew
    };
    for (const auto& step : steps) {
        if (!step.added.empty())
            std::ofstream(folder / step.added).close();
        EXPECT_EQ(names.find(step.folder, step.name), step.found) << step.folder << " " << step.name;
    }
}

// Many outputs of one name: each claim tries the number after the last one given, so
// the job's time grows with the number of outputs, not with its square.
TEST(GetUniquePath, OutputsOfOneNameAreNumberedOnFromTheLast)
{
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/tarnwick-numbers.XXXXXX";
    const std::string folder = ::mkdtemp(pattern.data());
    std::ofstream(folder + "/Same_5.mbx") << "keep"; // a name taken by someone else is passed over
    NameNumbers numbers;
    constexpr int kClaims = 4000;
    std::vector<std::string> names;
    for (int i = 0; i < kClaims; ++i) {
        const OutputClaim claim = claimOutputFile(folder, "Same.mbx", numbers);
        ASSERT_TRUE(claim.claimed()) << i;
        names.push_back(claim.path.substr(folder.size() + 1));
    }
    EXPECT_EQ(names[0], "Same.mbx");
    EXPECT_EQ(names[1], "Same_2.mbx");
    EXPECT_EQ(names[3], "Same_4.mbx");
    EXPECT_EQ(names[4], "Same_6.mbx");
    EXPECT_EQ(names.back(), "Same_" + std::to_string(kClaims + 1) + ".mbx");
    EXPECT_EQ(claimOutputFile(folder, "Other.mbx", numbers).path, folder + "/Other.mbx") << "each name has its own numbers";
    // A number freed again is not tried again: the next claim goes on from the last.
    std::filesystem::remove(folder + "/Same_2.mbx");
    EXPECT_EQ(claimOutputFile(folder, "Same.mbx", numbers).path, folder + "/Same_" + std::to_string(kClaims + 2) + ".mbx");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
} // namespace tarnwick

namespace tarnwick {
namespace {

// Only a mailbox extension stays last; any other period is part of the name.
TEST(RemovedMailboxName, KeepsOnlyAMailboxExtensionLast)
{
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"In.mbx", "In (removed in Eudora).mbx"},
        {"FAMILYHO.MBX", "FAMILYHO (removed in Eudora).MBX"},
        {"Work:Project Alpha.MBX", "Work:Project Alpha (removed in Eudora).MBX"},
        {"out.mbox", "out (removed in Eudora).mbox"},
        {"In", "In (removed in Eudora)"},
        {"Dr. Smith", "Dr. Smith (removed in Eudora)"},
        {"notes.txt", "notes.txt (removed in Eudora)"},
        {".mbx", ".mbx (removed in Eudora)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(removedMailboxName(c.name), c.expected) << c.name;
}

} // namespace
} // namespace tarnwick
