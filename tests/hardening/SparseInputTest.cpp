// A 5 GiB sparse mailbox through tarnwick-cli: sizes and offsets past 4 GiB must stay
// 64-bit all the way. Slow (5 GiB written), so it runs only with TARNWICK_SLOW_TESTS=1.

#include "HardeningSupport.h"

#include <sys/statvfs.h>

namespace tarnwick::hardening {
namespace {

constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kBlock = 256 * kMiB;
constexpr int kBlocks = 20; // 5 GiB

void pwriteAll(int fd, const std::string& bytes, std::uint64_t offset)
{
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
}

// Every 256 MiB a message begins; between them are lines of 1 MiB of zero bytes (the
// holes), each ended by LF. The last message starts at the 5 GiB mark.
std::uint64_t writeSparseMailbox(const std::string& path, std::string& lastMessage)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    EXPECT_GE(fd, 0);
    for (int k = 0; k < kBlocks; ++k) {
        const std::uint64_t start = static_cast<std::uint64_t>(k) * kBlock;
        pwriteAll(fd, "From s" + std::to_string(k) + " Mon Jan  1 00:00:00 2001\nSubject: " + std::to_string(k) + "\n\n", start);
        for (std::uint64_t end = start + kMiB; end <= start + kBlock; end += kMiB)
            pwriteAll(fd, "\n", end - 1);
    }
    const std::uint64_t lastStart = static_cast<std::uint64_t>(kBlocks) * kBlock;
    lastMessage = "From last Tue Jan  2 00:00:00 2001\nSubject: after the 4 GiB mark\n\nlast body\n";
    pwriteAll(fd, lastMessage, lastStart);
    ::close(fd);
    return lastStart + lastMessage.size();
}

// Compares two files in 8 MiB steps; the first differing offset, or none.
std::optional<std::uint64_t> firstDifference(const std::string& a, const std::string& b)
{
    const int fa = ::open(a.c_str(), O_RDONLY);
    const int fb = ::open(b.c_str(), O_RDONLY);
    std::vector<char> ba(8 * kMiB), bb(8 * kMiB);
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> difference;
    for (;;) {
        const ssize_t na = ::read(fa, ba.data(), ba.size());
        ssize_t nb = 0;
        while (nb < na) {
            const ssize_t n = ::read(fb, bb.data() + nb, static_cast<std::size_t>(na - nb));
            if (n <= 0)
                break;
            nb += n;
        }
        if (na <= 0 || nb != na || std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) {
            if (na > 0 || ::read(fb, bb.data(), 1) > 0)
                difference = offset;
            break;
        }
        offset += static_cast<std::uint64_t>(na);
    }
    ::close(fa);
    ::close(fb);
    return difference;
}

TEST(SparseInput, FiveGiBMailboxWithMessagesPastFourGiB)
{
    if (const char* slow = std::getenv("TARNWICK_SLOW_TESTS"); !slow || std::string(slow) != "1")
        GTEST_SKIP() << "writes 5 GiB; set TARNWICK_SLOW_TESTS=1 to run it";
    Sandbox box;
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(box.root().c_str(), &fs), 0);
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < 12 * 1024 * kMiB)
        GTEST_SKIP() << "needs 12 GiB of free space for the input's blocks and the 5 GiB output";

    std::string lastMessage;
    const std::uint64_t size = writeSparseMailbox(box / "big.mbx", lastMessage);
    ASSERT_GT(size, 5 * 1024 * kMiB);
    box.mkdir("dst");

    const RunResult run = box.run(withIdentityOptions({box / "big.mbx", box / "dst/big.mbox"}));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.finalText(), "Completed");
    // Every line already ends with LF and no option changes anything: the output is the
    // input, byte for byte, its last message 5 GiB in.
    EXPECT_EQ(fileSize(box / "dst/big.mbox").value_or(0), size);
    EXPECT_EQ(firstDifference(box / "big.mbx", box / "dst/big.mbox"), std::nullopt);
}

} // namespace
} // namespace tarnwick::hardening
