// Output system calls through the output call table, beside output_failures_test: a write
// that makes no progress is a failure, not a loop or a silent gap; writes cut at any byte
// change nothing; a file system that cannot sync is no failure.
#include "engine/mailbox/MboxConverter.h"
#include "platform/OutputCalls.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

struct Faults {
    int failWrite = 0;       // this write (counted from 1) fails once with ENOSPC
    int zeroWrite = 0;       // this write writes nothing, once
    std::size_t shortBy = 0; // every write takes at most this many bytes (0: all)
    int failFsync = 0;       // the errno of a failing fsync, or 0
    int failClose = 0;       // the errno of a failing close (after the real close), or 0
    int failRename = 0;      // the errno of a failing rename, or 0
    int truncateInput = 0;   // before this write, the input file is cut to nothing
    int slowWrite = 0;       // every write first waits this many milliseconds
    int failUnnamed = 0;     // the errno of every creation of an unnamed file, or 0
};

Faults g_faults;
int g_writes = 0;
std::string g_input; // the file that truncateInput cuts

ssize_t faultyWritev(int fd, const iovec* vectors, int count)
{
    ++g_writes;
    if (g_writes == g_faults.truncateInput && ::truncate(g_input.c_str(), 0) != 0)
        std::abort();
    if (g_faults.slowWrite > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_faults.slowWrite));
    if (g_writes == g_faults.failWrite) {
        errno = ENOSPC;
        return -1;
    }
    if (g_writes == g_faults.zeroWrite)
        return 0;
    if (g_faults.shortBy == 0)
        return ::writev(fd, vectors, count);
    std::vector<iovec> cut;
    std::size_t left = g_faults.shortBy;
    for (int i = 0; i < count && left > 0; ++i) {
        cut.push_back({vectors[i].iov_base, std::min(vectors[i].iov_len, left)});
        left -= cut.back().iov_len;
    }
    return ::writev(fd, cut.data(), static_cast<int>(cut.size()));
}

int faultyFsync(int fd)
{
    if (g_faults.failFsync == 0)
        return ::fsync(fd);
    errno = g_faults.failFsync;
    return -1;
}

int faultyClose(int fd)
{
    const int result = ::close(fd);
    if (g_faults.failClose == 0 || result != 0)
        return result;
    errno = g_faults.failClose;
    return -1;
}

int faultyRename(int fromFolder, const char* from, int toFolder, const char* to)
{
    if (g_faults.failRename == 0)
        return ::renameat(fromFolder, from, toFolder, to);
    errno = g_faults.failRename;
    return -1;
}

int faultyOpenAt(int folder, const char* path, int flags, mode_t mode)
{
    if (g_faults.failUnnamed != 0 && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = g_faults.failUnnamed;
        return -1;
    }
    return ::openat(folder, path, flags, mode);
}

// Installs the faulty calls for its lifetime.
class InstalledFaults {
public:
    explicit InstalledFaults(const Faults& faults)
    {
        g_faults = faults;
        g_writes = 0;
        OutputCalls calls = systemOutputCalls();
        calls.writev = faultyWritev;
        calls.fsync = faultyFsync;
        calls.close = faultyClose;
        calls.renameAt = faultyRename;
        calls.openAt = faultyOpenAt;
        previous_ = setOutputCalls(calls);
    }
    ~InstalledFaults() { setOutputCalls(previous_); }
    InstalledFaults(const InstalledFaults&) = delete;
    InstalledFaults& operator=(const InstalledFaults&) = delete;

private:
    OutputCalls previous_;
};

using testSupport::readFile;

std::vector<std::string> names(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

// About 3 MiB in messages of 10 KiB: several gathered writes of the stream pass.
std::string largeMailbox()
{
    std::string bytes;
    for (int i = 0; bytes.size() < 3 * 1024 * 1024; ++i)
        bytes += "From a@b Tue Apr 03 10:15:22 2001\nSubject: " + std::to_string(i) + "\n\n"
            + std::string(10000, static_cast<char>('a' + i % 26)) + "\n";
    return bytes;
}

TEST(OutputFaults, NoProgressFailsAndCutWritesOrNoSyncChangeNothing)
{
    char pattern[] = "/tmp/tarnwick-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, in = dir + "/in", out = dir + "/out";
    const std::string input = largeMailbox();
    std::ofstream(in, std::ios::binary) << input;
    const struct {
        const char* name;
        Faults faults;
        std::string error; // empty: succeeds
    } cases[] = {
        {"a write makes no progress", {.zeroWrite = 2}, "Input/output error"},
        {"writes fall short inside a piece", {.shortBy = 4097}, ""},
        {"writes fall short by much", {.shortBy = 1000}, ""},
        {"fsync not supported", {.failFsync = EINVAL}, ""},
        // The pass runs ahead of a slow writing thread: batches wait for it in turn and
        // must still reach the file in order.
        {"writes are slow", {.slowWrite = 20}, ""},
    };
    ConversionOptions options;
    options.convertEncodings = false;
    options.putBackAttachments = false;
    for (const auto& c : cases) {
        std::ofstream(out, std::ios::binary | std::ios::trunc); // the claim
        ConversionResult result;
        {
            const InstalledFaults installed(c.faults);
            result = convertMbox(in, out, options);
        }
        EXPECT_EQ(result.succeeded, c.error.empty()) << c.name;
        EXPECT_EQ(result.errorText, c.error.empty() ? "" : "Could not write to \"" + out + "\": " + c.error) << c.name;
        EXPECT_SAME_BYTES(readFile(out), c.error.empty() ? input : "") << c.name << ": the output is whole or not there";
        EXPECT_EQ(names(dir), (std::vector<std::string>{"in", "out"})) << c.name << ": no temporary file is left";
        EXPECT_GT(g_writes, c.faults.failWrite + c.faults.zeroWrite > 0 ? 0 : 4) << c.name << ": several writes";
    }
    std::filesystem::remove_all(dir);
}

// Unchanged lines are written from the mapped input. Another program shortening the
// file under a write, whether the pass still reads (a large mailbox, cut at its second
// write) or has read it all (one write at the end), fails the file as a read: the
// output is removed and nothing else is left.
TEST(OutputFaults, InputCutUnderAWriteIsAReadFailure)
{
    char pattern[] = "/tmp/tarnwick-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, in = dir + "/in", out = dir + "/out";
    g_input = in;
    const struct {
        const char* name;
        std::string input;
        int truncateAt;
    } cases[] = {
        {"large mailbox, cut while the pass reads", largeMailbox(), 2},
        {"small mailbox, cut at its only write", "From a@b Tue Apr 03 10:15:22 2001\n\n" + std::string(20000, 'x') + "\n", 1},
    };
    ConversionOptions options;
    options.convertEncodings = false;
    options.putBackAttachments = false;
    for (const auto& c : cases) {
        std::ofstream(in, std::ios::binary | std::ios::trunc) << c.input;
        std::ofstream(out, std::ios::binary | std::ios::trunc); // the claim
        ConversionResult result;
        {
            const InstalledFaults installed({.truncateInput = c.truncateAt});
            result = convertMbox(in, out, options);
        }
        EXPECT_FALSE(result.succeeded) << c.name;
        EXPECT_EQ(result.errorText, "Could not read \"" + in + "\": it was shortened while being converted") << c.name;
        EXPECT_EQ(readFile(out), "") << c.name;
        EXPECT_EQ(names(dir), (std::vector<std::string>{"in", "out"})) << c.name;
    }
    std::filesystem::remove_all(dir);
}

// A message too large for memory goes on in a spool file beside the output. When that
// file cannot be made, what was meant for it is nowhere: the file fails, rather than
// write the rest of the message as if it were all.
TEST(OutputFaults, ASpoolFileThatCannotBeMadeFailsTheFile)
{
    char pattern[] = "/tmp/tarnwick-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, in = dir + "/in", out = dir + "/out";
    std::string input = "From a@b Tue Apr 03 10:15:22 2001\nSubject: large\n\n";
    while (input.size() < (5u << 20))
        input += "plain text line of the body\n";
    input += "\nFrom a@b Tue Apr 03 10:15:22 2001\nSubject: small\n\nbody\n";
    std::ofstream(in, std::ios::binary) << input;
    ConversionOptions options;
    options.convertEncodings = true;
    options.charsetNames = {"us-ascii", "utf-8"};
    options.putBackAttachments = false;
    for (const int error : {0, ENOSPC, EACCES}) {
        std::ofstream(out, std::ios::binary | std::ios::trunc); // the claim
        ConversionResult result;
        {
            const InstalledFaults installed({.failUnnamed = error});
            result = convertMbox(in, out, options);
        }
        EXPECT_EQ(result.succeeded, error == 0) << error;
        if (error == 0) {
            EXPECT_GT(readFile(out).size(), 5u << 20);
            continue;
        }
        EXPECT_EQ(result.errorText, "Could not write to \"" + dir + "/\": " + std::strerror(error)) << error;
        EXPECT_EQ(readFile(out).size(), 0u) << error << ": the output is left as the claim";
        EXPECT_EQ(names(dir), (std::vector<std::string>{"in", "out"})) << error;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace tarnwick
