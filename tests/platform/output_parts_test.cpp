// What a conversion in parts needs from the platform: an unnamed file that leaves nothing
// in its folder, appended to an output in pieces (also while it grows) and cut back, and
// a log capture that keeps a bounded number of bytes, in order.
#include "ByteDiff.h"
#include "platform/Log.h"
#include "platform/OutputFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class OutputParts : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-parts-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        claimAgain();
    }
    // An empty claim at the final path, as a job makes it.
    void claimAgain()
    {
        std::ofstream claim(finalPath(), std::ios::trunc);
        claim.close();
        struct stat info {};
        ASSERT_EQ(::lstat(finalPath().c_str(), &info), 0);
        claim_ = FileIdentity{info.st_dev, info.st_ino};
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string finalPath() const { return dir_ + "/out.mbox"; }
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }
    std::string read() const { return (std::ostringstream() << std::ifstream(finalPath(), std::ios::binary).rdbuf()).str(); }

    std::string dir_;
    FileIdentity claim_{};
};

TEST_F(OutputParts, AnUnnamedPartIsAppendedInPiecesAndCutBack)
{
    std::string part;
    for (int i = 0; part.size() < (3u << 20); ++i)
        part += "line " + std::to_string(i) + "\n";
    const std::uint64_t size = part.size();
    const struct {
        const char* name;
        std::vector<std::uint64_t> ends; // appended [previous end, end) in turn
        std::uint64_t cutTo;             // then cut back to this many bytes of the part (or all)
    } cases[] = {
        {"whole", {size}, size},
        {"in pieces", {1, 4096, 4097, size / 2, size}, size},
        {"nothing", {}, 0},
        {"cut back to the head", {size / 3, size}, 0},
        {"cut back inside the part", {size}, 1000},
    };
    const std::string head = "From head\n";
    for (const auto& c : cases) {
        OutputFile output;
        ASSERT_TRUE(output.create(finalPath(), 0644)) << c.name;
        OutputFile unnamed;
        ASSERT_TRUE(unnamed.createUnnamed(finalPath())) << c.name;
        EXPECT_EQ(entries(), 2u) << c.name << ": the claim and the named temporary file only";
        ASSERT_TRUE(output.write(head));
        ASSERT_TRUE(unnamed.write(part));
        EXPECT_EQ(unnamed.settledSize(), size);
        std::uint64_t from = 0;
        for (const std::uint64_t end : c.ends) {
            ASSERT_TRUE(output.append(unnamed, from, end)) << c.name << " " << output.errorText();
            from = end;
        }
        EXPECT_EQ(output.size(), head.size() + from) << c.name;
        if (c.cutTo < from) {
            ASSERT_TRUE(output.truncate(head.size() + c.cutTo)) << c.name;
        }
        ASSERT_TRUE(output.write("tail\n")); // goes on where the cut ended
        unnamed.discard();
        ASSERT_TRUE(output.commit(claim_)) << c.name;
        EXPECT_SAME_BYTES(read(), head + part.substr(0, std::min(from, c.cutTo)) + "tail\n") << c.name;
        EXPECT_EQ(entries(), 1u) << c.name;
        claimAgain();
    }
}

TEST_F(OutputParts, CuttingBeyondWhatWasWrittenFails)
{
    OutputFile output;
    ASSERT_TRUE(output.create(finalPath(), 0644));
    ASSERT_TRUE(output.write("abc"));
    EXPECT_FALSE(output.truncate(4));
    EXPECT_TRUE(output.truncate(3));
    EXPECT_EQ(output.size(), 3u);
}

TEST(LogCaptureLimit, KeepsLinesInOrderUpToTheLimitAndNothingAfter)
{
    const struct {
        const char* name;
        std::vector<std::string> logged;
        std::size_t limit;
        std::vector<std::string> kept;
        bool overflowed;
    } cases[] = {
        {"within", {"one", "two"}, 10, {"one", "two"}, false},
        {"exactly at the limit", {"one", "two"}, 6, {"one", "two"}, false},
        {"a line too many", {"one", "two", "three"}, 7, {"one", "two"}, true},
        {"a short line after the overflow is dropped too", {"one", "three", "t"}, 6, {"one"}, true},
        {"empty lines count nothing", {"", "", "x"}, 1, {"", "", "x"}, false},
        {"nothing allowed", {"a"}, 0, {}, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> kept;
        bool overflowed = false;
        {
            const LogCapture capture(kept, c.limit, overflowed);
            for (const std::string& line : c.logged)
                logMessage(line);
        }
        EXPECT_EQ(kept, c.kept) << c.name;
        EXPECT_EQ(overflowed, c.overflowed) << c.name;
    }
}

} // namespace
} // namespace tarnwick
