// Failures of the output's own system calls, injected through the OutputCalls table while
// every other call still reaches the kernel: a write that fails once, short writes, a
// failing fsync, close or rename. Each failure must end in the file's error with nothing
// of the output left; short writes alone must still give every byte.
#include "ByteDiff.h"
#include "engine/mailbox/MboxConverter.h"
#include "platform/OutputCalls.h"

#include <gtest/gtest.h>

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

// What the injected calls do; plain globals, as the table holds plain function pointers.
struct Injection {
    int failingWrite = 0; // the n-th writev (1-based) fails with `writeError`; 0: none
    int writeError = 0;
    bool shortWrites = false; // every writev writes at most half of its first vector (at least 1 byte)
    int fsyncError = 0, closeError = 0, renameError = 0;
    int writes = 0;
};
Injection injection;

ssize_t injectedWritev(int fd, const iovec* vectors, int count)
{
    ++injection.writes;
    if (injection.writes == injection.failingWrite) {
        errno = injection.writeError;
        return -1;
    }
    if (injection.shortWrites && count > 0 && vectors[0].iov_len > 0)
        return ::write(fd, vectors[0].iov_base, std::max<std::size_t>(1, vectors[0].iov_len / 2));
    return ::writev(fd, vectors, count);
}

int injectedFsync(int fd)
{
    if (injection.fsyncError != 0) {
        errno = injection.fsyncError;
        return -1;
    }
    return ::fsync(fd);
}

int injectedClose(int fd)
{
    const int result = ::close(fd); // the descriptor is gone either way, as on Linux
    if (injection.closeError != 0) {
        errno = injection.closeError;
        return -1;
    }
    return result;
}

int injectedRename(int fromFolder, const char* from, int toFolder, const char* to)
{
    if (injection.renameError != 0) {
        errno = injection.renameError;
        return -1;
    }
    return ::renameat(fromFolder, from, toFolder, to);
}

class OutputFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-output-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        OutputCalls calls = systemOutputCalls();
        calls.writev = injectedWritev;
        calls.fsync = injectedFsync;
        calls.close = injectedClose;
        calls.renameAt = injectedRename;
        previous_ = setOutputCalls(calls);
    }
    void TearDown() override
    {
        setOutputCalls(previous_);
        injection = {};
        std::filesystem::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    static std::string read(const std::string& file)
    {
        return (std::ostringstream() << std::ifstream(file, std::ios::binary).rdbuf()).str();
    }

    // A mailbox of about 2 MiB: many batches, so many writes.
    static std::string input()
    {
        std::string bytes;
        for (int message = 0; bytes.size() < (4u << 20); ++message)
            bytes += "From s\nSubject: " + std::to_string(message) + "\n\n" + std::string(message % 700, 'x') + "\n";
        return bytes;
    }

    ConversionResult convertWith(const Injection& with)
    {
        std::ofstream(path("in"), std::ios::binary) << input();
        std::ofstream(path("out"), std::ios::binary); // the claim
        injection = with;
        return convertMbox(path("in"), path("out"), ConversionOptions{});
    }

    std::string dir_;
    OutputCalls previous_{};
};

TEST_F(OutputFailures, EachFailureIsTheFilesErrorAndLeavesNoOutput)
{
    const struct {
        const char* label;
        Injection injection;
        const char* reason;
    } cases[] = {
        {"first write fails", {.failingWrite = 1, .writeError = ENOSPC}, "No space left on device"},
        {"one later write fails once", {.failingWrite = 3, .writeError = ENOSPC}, "No space left on device"},
        {"short writes, then one fails", {.failingWrite = 5, .writeError = EIO, .shortWrites = true}, "Input/output error"},
        {"fsync fails", {.fsyncError = EIO}, "Input/output error"},
        {"close fails", {.closeError = EDQUOT}, "Disk quota exceeded"},
        {"rename fails", {.renameError = EXDEV}, "Invalid cross-device link"},
    };
    for (const auto& c : cases) {
        const ConversionResult result = convertWith(c.injection);
        EXPECT_FALSE(result.succeeded) << c.label;
        EXPECT_EQ(result.errorText, "Could not write to \"" + path("out") + "\": " + c.reason) << c.label;
        EXPECT_EQ(read(path("out")), "") << c.label << ": the claim is left as it was";
        EXPECT_EQ(names(), (std::vector<std::string>{"in", "out"})) << c.label << ": no temporary file is left";
        EXPECT_GE(injection.writes, c.injection.failingWrite) << c.label;
    }
}

TEST_F(OutputFailures, ShortWritesAloneStillWriteEveryByteInOrder)
{
    const ConversionResult result = convertWith({.shortWrites = true});
    EXPECT_TRUE(result.succeeded) << result.errorText;
    EXPECT_GT(injection.writes, 100) << "the writes were cut short many times";
    EXPECT_SAME_BYTES(read(path("out")), input()) << "a short write must go on from where it stopped";
    EXPECT_EQ(names(), (std::vector<std::string>{"in", "out"}));
}

} // namespace
} // namespace tarnwick
