// The temporary files an interrupted run leaves: recognised by name, deleted only when no
// process holds them, and the empty claim of their output deleted with them only while it
// is still the file the run made.
#include "platform/OutputFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

TEST(TemporaryOutputNames, OursAndOnlyOurs)
{
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {".tarnwick-0123456789ab.part", true},
        {".tarnwick-0123456789ab-1f.part", true},
        {".tarnwick-0123456789ab-ffffffffffffffff.part", true},
        {".tarnwick-0123456789ab-1ffffffffffffffff.part", false}, // more digits than an inode has
        {".tarnwick-0123456789ab-.part", false},
        {".tarnwick-0123456789ab_1f.part", false},
        {".tarnwick-0123456789AB.part", false},
        {".tarnwick-0123456789a.part", false},
        {".tarnwick-0123456789ab-1F.part", false},
        {".tarnwick-0123456789ab.part.mbx", false},
        {"tarnwick-0123456789ab.part", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isTemporaryOutputName(c.name), c.ours) << c.name;
}

class LeftoverOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-leftover-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A run that claims "In.mbx", writes part of its output and is killed: what it leaves.
    std::string killedRun() const
    {
        std::ofstream(dir_ + "/In.mbx").close();
        const pid_t child = ::fork();
        if (child == 0) {
            OutputFile output;
            const bool written = output.create(dir_ + "/In.mbx", 0644) && output.write("From a\n");
            ::_exit(written ? 0 : 1); // no discard: as if killed
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
        for (const auto& entry : fs::directory_iterator(dir_))
            if (isTemporaryOutputName(entry.path().filename().string()))
                return entry.path().filename().string();
        ADD_FAILURE() << "no temporary file left";
        return {};
    }

    std::string dir_;
};

TEST_F(LeftoverOutput, TheClaimGoesWithItsTemporaryFileOnlyWhileItIsTheRunsOwn)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& dir)> after; // what happened since the run
        LeftoverOutcome outcome;
        bool claimRemoved;
    };
    const Case cases[] = {
        {"untouched", [](const std::string&) {}, LeftoverOutcome::Removed, true},
        {"written to since", [](const std::string& dir) { std::ofstream(dir + "/In.mbx") << "mail"; }, LeftoverOutcome::Removed, false},
        {"replaced by another empty file",
         [](const std::string& dir) {
             fs::rename(dir + "/In.mbx", dir + "/Other");
             std::ofstream(dir + "/In.mbx").close();
         },
         LeftoverOutcome::Removed, false},
        {"changed since (its permissions)", [](const std::string& dir) { ::chmod((dir + "/In.mbx").c_str(), 0644); },
         LeftoverOutcome::Removed, false},
    };
    for (const Case& c : cases) {
        const std::string part = killedRun();
        ASSERT_NE(part.find('-', 10), std::string::npos) << "the name carries the claim's inode: " << part;
        // A moment apart, so that a change made since shows in the file times.
        ::usleep(20000);
        c.after(dir_);
        int error = 0;
        std::string claim = "unset";
        EXPECT_EQ(removeLeftoverOutput(dir_, part, error, &claim), c.outcome) << c.name << " " << error;
        EXPECT_EQ(claim, c.claimRemoved ? "In.mbx" : "") << c.name;
        EXPECT_FALSE(fs::exists(dir_ + "/" + part)) << c.name;
        EXPECT_EQ(fs::exists(dir_ + "/In.mbx"), !c.claimRemoved) << c.name;
        fs::remove_all(dir_);
        fs::create_directory(dir_);
    }
}

TEST_F(LeftoverOutput, AHeldTemporaryFileAndItsClaimStay)
{
    const std::string part = killedRun();
    const int holder = ::open((dir_ + "/" + part).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0); // as a running conversion holds it
    int error = 0;
    std::string claim;
    EXPECT_EQ(removeLeftoverOutput(dir_, part, error, &claim), LeftoverOutcome::Held);
    ::close(holder);
    EXPECT_EQ(claim, "");
    EXPECT_TRUE(fs::exists(dir_ + "/" + part));
    EXPECT_TRUE(fs::exists(dir_ + "/In.mbx"));
}

} // namespace
} // namespace tarnwick
