// A 5 GiB sparse mailbox through tarnwick-cli: sizes and offsets past 4 GiB must stay
// 64-bit all the way. Slow (5 GiB written), so it runs only with TARNWICK_SLOW_TESTS=1.
#include "HardeningSupport.h"

#include <sys/statvfs.h>

namespace tarnwick::hardening {
namespace {

TEST(SparseInput, FiveGiBMailboxWithMessagesPastFourGiB)
{
    if (const char* slow = std::getenv("TARNWICK_SLOW_TESTS"); !slow || std::string(slow) != "1")
        GTEST_SKIP() << "writes 5 GiB; set TARNWICK_SLOW_TESTS=1 to run it";
    Sandbox box;
    struct statvfs space {};
    ASSERT_EQ(::statvfs(box.root.c_str(), &space), 0);
    if (static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize < (std::uint64_t{12} << 30))
        GTEST_SKIP() << "needs 12 GiB of free space for the input's blocks and the 5 GiB output";

    // A message every 256 MiB, then lines of 1 MiB of zero bytes (holes) ended by LF; the
    // last message starts at the 5 GiB mark.
    const int fd = ::open((box / "big.mbx").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    const auto put = [fd](const std::string& bytes, std::uint64_t at) {
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)), static_cast<ssize_t>(bytes.size()));
    };
    constexpr std::uint64_t kMiB = 1 << 20, kBlock = 256 * kMiB, kLast = 20 * kBlock;
    for (std::uint64_t start = 0; start < kLast; start += kBlock) {
        put("From s" + std::to_string(start) + " Mon Jan  1 00:00:00 2001\nSubject: x\n\n", start);
        for (std::uint64_t end = start + kMiB; end <= start + kBlock; end += kMiB)
            put("\n", end - 1);
    }
    const std::string last = "From last Tue Jan  2 00:00:00 2001\nSubject: after the 4 GiB mark\n\nlast body\n";
    put(last, kLast);
    ::close(fd);

    const RunResult run = box.convert("big.mbx", "big.mbox");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Completed\n");
    // Every line ends with LF and no option changes anything: the output is the input, byte for byte.
    EXPECT_EQ(fs::file_size(box / "big.mbox"), kLast + last.size());
    EXPECT_EQ(std::system(("cmp -s '" + box / "big.mbx" + "' '" + box / "big.mbox" + "'").c_str()), 0);
}

} // namespace
} // namespace tarnwick::hardening
