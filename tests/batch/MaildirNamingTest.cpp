// Maildir folder names: a mailbox's extension left out, IMAP's modified UTF-7 (expected
// values from RFC 3501 and Python's UTF-16 and base64 codecs), Dovecot's Maildir++ form,
// claiming a Maildir folder that never takes an existing name, and the staging folders
// that killed jobs leave.
#include "batch/MaildirNaming.h"

#include "platform/FolderHandle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

namespace tarnwick {
namespace {

TEST(MaildirNaming, NamesAsDovecotReadsThem)
{
    const struct {
        const char* input;
        const char* expected;
    } utf7[] = {
        {"In", "In"},
        {"W\xC3\xB6rk & Play", "W&APY-rk &- Play"},
        {"~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
        {"Caf\xC3\xA9", "Caf&AOk-"},
        {"a\xF0\x9F\x98\x80"
         "b",
         "a&2D3eAA-b"},
        {"Tab\there", "Tab&AAk-here"},
        {"bad \xFF byte", "bad &,,0- byte"}, // U+FFFD
        {"cut \xE6\x97", "cut &,,3,,Q-"},    // two bytes that begin no whole character
        {"overlong \xC0\xAF", "overlong &,,3,,Q-"},
    };
    for (const auto& c : utf7)
        EXPECT_EQ(modifiedUtf7(c.input), c.expected) << c.input;

    EXPECT_EQ(maildirPlusName({"In"}), ".In");
    EXPECT_EQ(maildirPlusName({"Work", "Project Alpha"}), ".Work.Project Alpha");
    EXPECT_EQ(maildirPlusName({"v1.2", "a/b"}), ".v1_2.a_b");

    const struct {
        const char* input;
        const char* expected;
    } names[] = {
        {"In.mbx", "In"}, {"In.MBX", "In"}, {"In", "In"}, {".mbx", ".mbx"}, {"notes.txt", "notes.txt"}, {"a.Mbx", "a"},
    };
    for (const auto& c : names)
        EXPECT_EQ(mailFolderName(c.input), c.expected) << c.input;
}

TEST(MaildirNaming, ClaimsANewFolderInEitherForm)
{
    char pattern[] = "/tmp/tarnwick-maildir-names.XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    std::filesystem::create_directory(root + "/.In");
    std::ofstream(root + "/.In_2") << "a file";

    MaildirFolder plus;
    const MaildirClaim first = claimMaildir(root, {"In"}, false, plus);
    ASSERT_TRUE(first.claimed());
    EXPECT_EQ(first.path, root + "/.In_3");
    for (const char* part : {"/cur", "/new", "/tmp", "/.In_3/cur", "/.In_3/new", "/.In_3/tmp"})
        EXPECT_TRUE(std::filesystem::is_directory(root + part)) << part;
    EXPECT_EQ(std::ifstream(root + "/.In_2").get(), 'a');

    MaildirFolder nested;
    const MaildirClaim second = claimMaildir(root, {"Work", "Project Alpha"}, true, nested);
    ASSERT_TRUE(second.claimed());
    EXPECT_EQ(second.path, root + "/Work/Project Alpha");
    EXPECT_EQ(second.createdFolders, std::vector<std::string>{root + "/Work"});
    MaildirFolder again;
    EXPECT_EQ(claimMaildir(root, {"Work", "Project Alpha"}, true, again).path, root + "/Work/Project Alpha_2");

    // A file where a folder goes: the folder is numbered, as mbox outputs' folders are.
    std::ofstream(root + "/File") << "x";
    MaildirFolder beside;
    const MaildirClaim numbered = claimMaildir(root, {"File", "Inside"}, true, beside);
    ASSERT_TRUE(numbered.claimed());
    EXPECT_EQ(numbered.path, root + "/File_2/Inside");

    MaildirFolder blocked;
    const MaildirClaim failed = claimMaildir(root + "/File", {"Inside"}, false, blocked);
    EXPECT_FALSE(failed.claimed());
    EXPECT_EQ(failed.path, root + "/File");
    EXPECT_EQ(failed.error, ENOTDIR);
    std::filesystem::remove_all(root);
}

// A job's Maildirs are filled in a hidden folder of the destination's tmp/ and placed
// under their names (numbered when taken meanwhile) only when done; the staging folder,
// and a tmp/ made for it, go with the job.
TEST(MaildirNaming, PlacementStagesThenPlacesUnderAFreeName)
{
    char pattern[] = "/tmp/tarnwick-maildir-place.XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    for (const bool nested : {false, true}) {
        const std::string destination = root + (nested ? "/nested" : "/plus");
        std::filesystem::create_directory(destination);
        int error = 0;
        std::optional<std::string> staging;
        {
            const std::unique_ptr<MaildirPlacement> placement = MaildirPlacement::open(destination, error);
            ASSERT_TRUE(placement) << error;
            MaildirFolder folder;
            const MaildirClaim claim = placement->claim({"Work", "In"}, nested, folder);
            ASSERT_TRUE(claim.claimed()) << claim.error;
            staging = placement->stagingPath();
            EXPECT_EQ(claim.path.rfind(destination + "/tmp/" + kMaildirStagingPrefix, 0), 0u) << claim.path;
            EXPECT_EQ(folder.path(), claim.path);
            const std::string final = destination + (nested ? "/Work/In" : "/.Work.In");
            EXPECT_FALSE(std::filesystem::exists(final));
            ASSERT_TRUE(folder.deliver("Subject: x\n\n", "S", std::nullopt) && folder.finish());
            std::filesystem::create_directory(final); // taken while the mailbox was converted
            ASSERT_EQ(folder.place(), 0);
            const std::string numbered = destination + (nested ? "/Work/In_2" : "/.Work.In_2");
            EXPECT_EQ(folder.path(), numbered);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(numbered + "/cur"), std::filesystem::directory_iterator()), 1);
            EXPECT_FALSE(std::filesystem::exists(claim.path));
        }
        EXPECT_FALSE(std::filesystem::exists(*staging));
        EXPECT_EQ(std::filesystem::exists(destination + "/tmp"), !nested); // the Maildir++ root keeps its own
    }
    std::filesystem::remove_all(root);
}

std::map<std::string, LeftoverOutcome> outcomes(const FolderHandle& destination)
{
    std::map<std::string, LeftoverOutcome> found;
    for (const StagingLeftover& leftover : removeStagingLeftovers(destination))
        found[leftover.path] = leftover.outcome;
    return found;
}

// The staging folders in a destination's tmp/: a killed job's goes with all it holds
// (a link in it removed, not followed), a running job's (locked) stays, and nothing
// else in tmp/ is touched, whatever its name.
TEST(MaildirNaming, StagingOfAKilledJobGoesARunningJobsStays)
{
    char pattern[] = "/tmp/tarnwick-maildir-leftovers.XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    const std::string destination = root + "/dst";
    const std::string tmp = destination + "/tmp/";
    const std::string killed = tmp + ".tarnwick-k1lled";
    std::filesystem::create_directories(killed + "/1/cur");
    std::filesystem::create_directories(killed + "/2/tmp/deeper");
    std::ofstream(killed + "/1/cur/123.M1P2.host,S=10:2,S") << "Subject: x\n";
    std::ofstream(killed + "/2/tmp/deeper/spool") << "spool";
    std::filesystem::create_directories(root + "/outside");
    std::ofstream(root + "/outside/keep") << "keep";
    std::filesystem::create_directory_symlink(root + "/outside", killed + "/2/link");
    // Not staging folders: other names, a file, a link to a folder.
    const char* others[] = {".tarnwick-abc", ".tarnwick-ABCDEF", ".tarnwick-abcdefg", "tarnwick-abcdef", ".tarnwick-abc12!"};
    for (const char* name : others)
        std::filesystem::create_directories(tmp + name + "/cur");
    std::ofstream(tmp + ".tarnwick-f1le00") << "a file";
    std::filesystem::create_directory_symlink(root + "/outside", tmp + ".tarnwick-l1nk00");
    std::ofstream(tmp + "1234.M5P6.host") << "a message being delivered";

    int error = 0;
    std::unique_ptr<MaildirPlacement> running = MaildirPlacement::open(destination, error);
    ASSERT_TRUE(running) << error;
    auto folder = std::make_unique<MaildirFolder>();
    ASSERT_TRUE(running->claim({"In"}, false, *folder).claimed());
    ASSERT_TRUE(folder->deliver("Subject: x\n\n", "S", std::nullopt) && folder->finish());
    const std::string live = running->stagingPath();

    const std::shared_ptr<const FolderHandle> held = FolderHandle::open(destination, error);
    ASSERT_TRUE(held) << error;
    EXPECT_EQ(outcomes(*held), (std::map<std::string, LeftoverOutcome>{{killed, LeftoverOutcome::Removed}, {live, LeftoverOutcome::Held}}));
    EXPECT_FALSE(std::filesystem::exists(killed));
    EXPECT_TRUE(std::filesystem::is_directory(folder->path() + "/cur")) << "the running job's Maildir stays";
    EXPECT_EQ(std::ifstream(root + "/outside/keep").get(), 'k');
    for (const char* name : others)
        EXPECT_TRUE(std::filesystem::is_directory(tmp + name + "/cur")) << name;
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp + ".tarnwick-f1le00"));
    EXPECT_TRUE(std::filesystem::is_symlink(tmp + ".tarnwick-l1nk00"));
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp + "1234.M5P6.host"));
    EXPECT_EQ(std::ifstream(root + "/outside/keep").get(), 'k');

    // That job ends without placing its Maildir, as a killed one would: its staging
    // folder is then no longer held, and goes.
    folder.reset();
    running.reset();
    ASSERT_TRUE(std::filesystem::exists(live));
    EXPECT_EQ(outcomes(*held), (std::map<std::string, LeftoverOutcome>{{live, LeftoverOutcome::Removed}}));
    EXPECT_FALSE(std::filesystem::exists(live));
    std::filesystem::remove_all(root);
}

// A tmp/ that held nothing but a killed job's staging folder goes with it, as that job
// would have removed the tmp/ it made; a Maildir root's own tmp/, or one holding
// anything else, stays.
TEST(MaildirNaming, ATmpMadeOnlyForStagingGoesWithIt)
{
    const struct {
        const char* name;
        bool maildirRoot; // cur/ beside tmp/
        bool otherEntry;  // tmp/ holds a file of its own too
        bool tmpStays;
    } cases[] = {
        {"nested tree", false, false, false},
        {"Maildir++ root", true, false, true},
        {"tmp/ holding a file of its own", false, true, true},
    };
    for (const auto& c : cases) {
        char pattern[] = "/tmp/tarnwick-maildir-tmp.XXXXXX";
        const std::string destination = ::mkdtemp(pattern);
        std::filesystem::create_directories(destination + "/tmp/.tarnwick-k1lled/1/cur");
        if (c.maildirRoot)
            std::filesystem::create_directory(destination + "/cur");
        if (c.otherEntry)
            std::ofstream(destination + "/tmp/1234.M5P6.host") << "x";
        int error = 0;
        const std::shared_ptr<const FolderHandle> held = FolderHandle::open(destination, error);
        ASSERT_TRUE(held) << error;
        EXPECT_EQ(outcomes(*held),
                  (std::map<std::string, LeftoverOutcome>{{destination + "/tmp/.tarnwick-k1lled", LeftoverOutcome::Removed}}))
            << c.name;
        EXPECT_EQ(std::filesystem::exists(destination + "/tmp"), c.tmpStays) << c.name;
        std::filesystem::remove_all(destination);
    }
}

} // namespace
} // namespace tarnwick
