// Real failures, not mocks, through the real tarnwick-cli and the batch job: writes
// that hit the file size limit, folders that become immutable, inputs that vanish or
// turn into FIFOs, hostile trees and names. Every case checks the final text and exit
// status, that a failed file leaves no output, and that every entry that existed
// before the job is byte-for-byte unchanged.

#include "HardeningSupport.h"

#include "platform/FileSystem.h"

#include <future>

namespace tarnwick::hardening {
namespace {

std::vector<std::string> withOptions(const std::vector<std::string>& operands)
{
    return withIdentityOptions(operands);
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// ---------------------------------------------------------------------------------
// A write that fails part-way: RLIMIT_FSIZE in the child, SIGXFSZ ignored, so the
// write returns EFBIG after the first bytes have gone to the file.

TEST(WriteFailsPartWay, SingleFileLeavesNoOutputAndKeepsTheTakenName)
{
    Sandbox box;
    const std::string big = mailbox(400); // ~55 KB, over the 16 KiB limit
    box.write("src/Inbox.mbx", big);
    box.write("dst/Inbox.mbx", "an older file with the same name\n");
    const auto before = snapshotTree(box.root());

    RunOptions options;
    options.fileSizeLimit = 16 * 1024;
    const RunResult run = box.run(withOptions({box / "src/Inbox.mbx", box / "dst"}), options);

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.finalText(), "Error: Could not write to " + quoted(box / "dst/Inbox_2.mbx") + ": File too large");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"Inbox.mbx"})) << "the partial Inbox_2.mbx must be removed";
    const auto after = snapshotTree(box.root());
    expectNothingLost(before, after, "write fails part-way, single file");
}

TEST(WriteFailsPartWay, FolderKeepsEarlierOutputsWholeAndStopsAtTheFailure)
{
    Sandbox box;
    const std::map<std::string, std::string> inputs = {
        {"a.mbx", mailbox(3)}, {"b.mbx", mailbox(600)}, {"c.mbx", mailbox(2)}, {"d.mbx", mailbox(4)}};
    for (const auto& [name, bytes] : inputs)
        box.write("src/" + name, bytes);
    box.mkdir("dst");
    const auto before = snapshotTree(box.root());

    RunOptions options;
    options.fileSizeLimit = 32 * 1024;
    const RunResult run = box.run(withOptions({box / "src", box / "dst"}), options);

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.finalText(), "Error: Could not write to " + quoted(box / "dst/b.mbx") + ": File too large");
    // The files that the walk yields before b.mbx are converted whole; b.mbx and the
    // rest leave nothing.
    std::set<std::string> expected;
    for (const std::string& name : listingOrder(box / "src")) {
        if (name == "b.mbx")
            break;
        expected.insert(name);
    }
    EXPECT_EQ(box.list("dst"), expected);
    for (const std::string& name : expected)
        EXPECT_EQ(readFile(box / ("dst/" + name)), inputs.at(name)) << name << " must be complete";
    expectNothingLost(before, snapshotTree(box.root()), "write fails part-way, folder");
}

// ---------------------------------------------------------------------------------
// The destination folder becomes immutable between two files (root is bound by the
// immutable attribute, unlike by permission bits).

class ImmutableDestination : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!immutableFoldersWork(box, reason))
            GTEST_SKIP() << reason;
    }
    Sandbox box;
};

TEST_F(ImmutableDestination, NextClaimFailsWithAClearErrorAndTheFirstOutputStays)
{
    box.write("src/one.mbx", mailbox(2));
    box.write("src/two.mbx", mailbox(3));
    box.mkdir("dst");
    const ImmutableGuard guard(box / "dst");
    const auto before = snapshotTree(box.root());

    setJobSettings(box / "src", box / "dst");
    HookReporter reporter;
    // The first file's output is claimed when its status arrives; lock the folder then.
    reporter.onStatus = [&](const std::string&) {
        if (reporter.statusTexts.size() == 1) {
            ASSERT_EQ(setImmutable(box / "dst", true), 0);
        }
    };
    const std::atomic<bool> canceled {false};
    runBatchJob(reporter, canceled);
    setImmutable(box / "dst", false);

    const std::vector<std::string> order = listingOrder(box / "src");
    EXPECT_EQ(reporter.finalCount, 1);
    EXPECT_EQ(reporter.finalTextSeen, "Error: Could not create " + quoted(box / ("dst/" + order[1])));
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {order[0]}));
    EXPECT_EQ(readFile(box / ("dst/" + order[0])), readFile(box / ("src/" + order[0])));
    expectNothingLost(before, snapshotTree(box.root()), "destination becomes immutable");
}

TEST_F(ImmutableDestination, FailedFileWhoseOutputCannotBeRemovedLeavesItEmpty)
{
    // The input vanishes after its output was claimed, and the folder is locked, so
    // the job cannot remove that output: what stays must hold no partial data.
    box.write("src/gone.mbx", mailbox(2));
    box.mkdir("dst");
    const ImmutableGuard guard(box / "dst");

    setJobSettings(box / "src/gone.mbx", box / "dst");
    HookReporter reporter;
    reporter.onStatus = [&](const std::string&) {
        ::unlink((box / "src/gone.mbx").c_str());
        ASSERT_EQ(setImmutable(box / "dst", true), 0);
    };
    const std::atomic<bool> canceled {false};
    runBatchJob(reporter, canceled);
    setImmutable(box / "dst", false);

    EXPECT_EQ(reporter.finalTextSeen, "Error: " + quoted(box / "src/gone.mbx") + " not found");
    for (const std::string& name : box.list("dst"))
        EXPECT_EQ(fileSize(box / ("dst/" + name)).value_or(1), 0u) << name << " holds partial output";
}

// ---------------------------------------------------------------------------------
// Inputs that change between the walk and the read.

TEST(InputChanges, VanishedInputEndsTheJobWithNotFoundAndNoOutput)
{
    Sandbox box;
    box.write("src/one.mbx", mailbox(2));
    box.write("src/two.mbx", mailbox(2));
    box.write("src/three.mbx", mailbox(2));
    box.mkdir("dst");
    const std::vector<std::string> order = listingOrder(box / "src");
    const auto before = snapshotTree(box.root());

    setJobSettings(box / "src", box / "dst");
    HookReporter reporter;
    reporter.onStatus = [&](const std::string& text) {
        if (text == "Processing " + quoted(order[1]) + "...")
            ::unlink((box / ("src/" + order[1])).c_str());
    };
    const std::atomic<bool> canceled {false};
    runBatchJob(reporter, canceled);

    EXPECT_EQ(reporter.finalTextSeen, "Error: " + quoted(box / ("src/" + order[1])) + " not found");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {order[0]}));
    EXPECT_EQ(reporter.statusTexts.size(), 2u) << "the third file must not be started";
    auto expectedAfter = before;
    expectedAfter.erase("/src/" + order[1]); // removed by the test itself
    expectNothingLost(expectedAfter, snapshotTree(box.root()), "input vanishes");
}

TEST(InputChanges, InputReplacedByAFifoDoesNotBlockTheJob)
{
    Sandbox box;
    box.write("src/one.mbx", mailbox(2));
    box.mkdir("dst");
    const std::string fifo = box / "src/one.mbx";

    setJobSettings(box / "src", box / "dst");
    HookReporter reporter;
    reporter.onStatus = [&](const std::string&) {
        ::unlink(fifo.c_str());
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    };
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread job([&] {
        const std::atomic<bool> canceled {false};
        runBatchJob(reporter, canceled);
        done.set_value();
    });
    const bool blocked = finished.wait_for(std::chrono::seconds(5)) != std::future_status::ready;
    if (blocked) {
        // Let the blocked open go on (it then reads end-of-file), so the test can end.
        while (finished.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            releaseFifoReader(fifo);
    }
    job.join();

    EXPECT_FALSE(blocked) << "the job blocked opening an input that had become a FIFO";
    EXPECT_EQ(reporter.finalCount, 1);
    EXPECT_TRUE(box.list("dst").empty()) << "no output may stay for an input that gave no mailbox";
}

// ---------------------------------------------------------------------------------
// Sources that are not regular files.

TEST(NonRegularSources, FifoGivenAsTheSingleSourceDoesNotHang)
{
    Sandbox box;
    box.mkdir("dst");
    box.write("dst/keep", "kept\n");
    ASSERT_EQ(::mkfifo((box / "in.fifo").c_str(), 0644), 0);
    const auto before = snapshotTree(box.root());

    bool hung = false;
    RunOptions options;
    options.whileRunning = [&](pid_t pid) {
        if (!exitsWithin(pid, std::chrono::seconds(5))) {
            hung = true;
            while (!exitsWithin(pid, std::chrono::milliseconds(100)))
                releaseFifoReader(box / "in.fifo");
        }
    };
    const RunResult run = box.run(withOptions({box / "in.fifo", box / "dst"}), options);

    EXPECT_FALSE(hung) << "tarnwick-cli blocked opening a FIFO with no writer";
    // Either nothing to convert ("Completed", exit 0) or a clear refusal (exit 1).
    EXPECT_TRUE((run.exitCode == 0 && run.finalText() == "Completed") || (run.exitCode == 1 && run.finalText().rfind("Error: ", 0) == 0))
        << run.exitCode << " " << run.finalText();
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"keep"}));
    expectNothingLost(before, snapshotTree(box.root()), "FIFO source");
}

TEST(NonRegularSources, EndlessDeviceAsTheSingleSourceFailsCleanly)
{
    if (kSanitizedBuild)
        GTEST_SKIP() << "needs an address-space limit, which the sanitizer runtimes cannot run under";
    Sandbox box;
    box.mkdir("dst");
    // /dev/zero never ends: reading it whole must stop with an error, not exhaust the
    // memory or abort. The limit keeps a failing run from taking the machine's memory.
    RunOptions options;
    options.addressSpaceLimit = rlim_t {3} << 30;
    const RunResult run = box.run(withOptions({"/dev/zero", box / "dst/out.mbox"}), options);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.finalText().rfind("Error: ", 0), 0u) << run.finalText();
    EXPECT_TRUE(box.list("dst").empty()) << "the claimed output must be removed";
}

TEST(NonRegularSources, FifosAndSocketsInAFolderArePassedOver)
{
    Sandbox box;
    box.write("src/real.mbx", mailbox(1));
    ASSERT_EQ(::mkfifo((box / "src/pipe.mbx").c_str(), 0644), 0);
    box.mkdir("dst");

    const RunResult run = box.run(withOptions({box / "src", box / "dst"}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.finalText(), "Completed");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"real.mbx"}));
}

TEST(NonRegularSources, DirectoriesNamedLikeMailboxes)
{
    Sandbox box;
    box.write("src/Folder.mbx/Inner.mbx", mailbox(1, "\n", " inner"));
    box.write("src/Out.mbx", mailbox(2));
    box.mkdir("dst/Out.mbx"); // a folder where the first output name would go
    box.write("dst/Out.mbx/old", "old\n");
    const auto before = snapshotTree(box.root());

    const RunResult folderRun = box.run(withOptions({box / "src", box / "dst"}));
    EXPECT_EQ(folderRun.exitCode, 0) << folderRun.out;
    EXPECT_EQ(folderRun.finalText(), "Completed");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"Out.mbx", "Out_2.mbx", "Folder.mbx:Inner.mbx"}));
    EXPECT_EQ(readFile(box / "dst/Out_2.mbx"), mailbox(2));
    EXPECT_EQ(readFile(box / "dst/Folder.mbx:Inner.mbx"), mailbox(1, "\n", " inner"));
    expectNothingLost(before, snapshotTree(box.root()), "directory named like a mailbox");

    // A folder as the source with a destination that is no folder yet is refused.
    const RunResult singleRun = box.run(withOptions({box / "src/Folder.mbx", box / "new.mbox"}));
    EXPECT_EQ(singleRun.exitCode, 1);
    EXPECT_EQ(singleRun.finalText(), "Error: " + quoted(box / "new.mbox") + " not found");
    EXPECT_FALSE(exists(box / "new.mbox"));
}

// ---------------------------------------------------------------------------------
// Symbolic-link loops: never followed by the walk; as the source they do not exist.

TEST(SymbolicLinks, LoopsInTheSourceTreeAreNotFollowed)
{
    Sandbox box;
    box.write("src/In.mbx", mailbox(1));
    box.mkdir("src/sub");
    ASSERT_EQ(::symlink(".", (box / "src/self").c_str()), 0);
    ASSERT_EQ(::symlink("..", (box / "src/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink("b", (box / "src/a").c_str()), 0);
    ASSERT_EQ(::symlink("a", (box / "src/b").c_str()), 0);
    box.mkdir("dst");
    const auto before = snapshotTree(box.root());

    bool hung = false;
    RunOptions options;
    options.whileRunning = [&](pid_t pid) {
        if (!exitsWithin(pid, std::chrono::seconds(20))) {
            hung = true;
            ::kill(pid, SIGKILL);
        }
    };
    const RunResult run = box.run(withOptions({box / "src", box / "dst"}), options);
    ASSERT_FALSE(hung) << "the walk followed a link loop";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.finalText(), "Completed");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"In.mbx"}));
    expectNothingLost(before, snapshotTree(box.root()), "link loop in the tree");

    const RunResult loopSource = box.run(withOptions({box / "src/a", box / "dst"}));
    EXPECT_EQ(loopSource.exitCode, 1);
    EXPECT_EQ(loopSource.finalText(), "Error: " + quoted(box / "src/a") + " not found");
    EXPECT_EQ(box.list("dst"), (std::set<std::string> {"In.mbx"}));
}

// ---------------------------------------------------------------------------------
// Names: bytes that are not UTF-8, and names at the 255-byte limit.

TEST(Names, BytesThatAreNotUtf8PassThroughUnchanged)
{
    Sandbox box;
    const std::string latin = "caf\xe9";     // ISO Latin 1 bytes
    const std::string broken = "\xff\xfe.mbx"; // never valid UTF-8
    box.write("src/" + broken, mailbox(1));
    box.write("src/" + latin + "/in\x80", mailbox(2));
    box.mkdir("dst-" + latin);
    const auto before = snapshotTree(box.root());

    const RunResult run = box.run(withOptions({box / "src", box / ("dst-" + latin)}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.finalText(), "Completed");
    EXPECT_EQ(box.list("dst-" + latin), (std::set<std::string> {broken, latin + ":in\x80"}));
    EXPECT_EQ(readFile(box / ("dst-" + latin + "/" + latin + ":in\x80")), mailbox(2));
    EXPECT_NE(run.err.find("Processing \"" + latin + "/in\x80\"..."), std::string::npos) << run.err;
    expectNothingLost(before, snapshotTree(box.root()), "non-UTF-8 names");

    // An error text carries the path's bytes as they are.
    const RunResult missing = box.run(withOptions({box / ("nowhere-" + latin), box / "dst"}));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.finalText(), "Error: " + quoted(box / ("nowhere-" + latin)) + " not found");
}

TEST(Names, NumberedNameBeyondTheLengthLimit)
{
    Sandbox box;
    const std::string longName = std::string(251, 'n') + ".mbx"; // 255 bytes
    box.write("src/" + longName, mailbox(1));
    box.write("dst/" + longName, "already here\n");
    const auto before = snapshotTree(box.root());

    // The plain name is taken and "<stem>_2.mbx" would be 257 bytes.
    const RunResult run = box.run(withOptions({box / ("src/" + longName), box / "dst"}));
    const auto after = snapshotTree(box.root());
    expectNothingLost(before, after, "255-byte name");
    const std::set<std::string> added = newEntries(before, after);
    if (run.exitCode == 0) {
        // A shortened numbered name is the other sound outcome.
        ASSERT_EQ(added.size(), 1u);
        EXPECT_LE(std::filesystem::path(*added.begin()).filename().string().size(), 255u);
        EXPECT_EQ(readFile(box.root() + *added.begin()), mailbox(1));
    } else {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.finalText(), "Error: Could not create " + quoted(box / ("dst/" + longName)));
        EXPECT_TRUE(added.empty());
    }
}

TEST(Names, FlattenedNameBeyondTheLengthLimitEndsTheJobCleanly)
{
    Sandbox box;
    const std::string fits = std::string(247, 'f') + ".mbx";  // "sub:" + 251 = 255 bytes
    const std::string toolong = std::string(248, 't') + ".mbx"; // "sub:" + 252 = 256 bytes
    box.write("src/sub/" + fits, mailbox(1));
    box.write("src/sub/" + toolong, mailbox(1));
    box.mkdir("dst");
    const auto before = snapshotTree(box.root());

    const RunResult run = box.run(withOptions({box / "src", box / "dst"}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.finalText(), "Error: Could not create " + quoted(box / ("dst/sub:" + toolong)));
    // Whatever came before the long name in the walk is complete; nothing else is there.
    for (const std::string& name : box.list("dst")) {
        EXPECT_EQ(name, "sub:" + fits);
        EXPECT_EQ(readFile(box / ("dst/" + name)), mailbox(1));
    }
    expectNothingLost(before, snapshotTree(box.root()), "flattened name too long");
}

// ---------------------------------------------------------------------------------
// Two runs into one destination at the same time.

TEST(ConcurrentRuns, TwoRunsClaimDifferentNamesAndLoseNothing)
{
    Sandbox box;
    constexpr int kFiles = 24;
    std::map<std::string, std::string> inputs;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "box" + std::to_string(i) + ".mbx";
        inputs[name] = mailbox(200 + 40 * i, "\n", " of " + name);
        box.write("src/" + name, inputs[name]);
    }
    box.write("dst/box3.mbx", "older box3\n");
    box.write("dst/box5_2.mbx", "older box5_2\n");
    const auto before = snapshotTree(box.root());

    const Spawned first = spawnCli(box, "first", withOptions({box / "src", box / "dst"}));
    const Spawned second = spawnCli(box, "second", withOptions({box / "src", box / "dst"}));
    const RunResult one = waitCli(first);
    const RunResult two = waitCli(second);
    EXPECT_EQ(one.exitCode, 0) << one.out;
    EXPECT_EQ(two.exitCode, 0) << two.out;
    EXPECT_EQ(one.finalText(), "Completed");
    EXPECT_EQ(two.finalText(), "Completed");

    const auto after = snapshotTree(box.root());
    expectNothingLost(before, after, "two concurrent runs");
    // Every input is there twice, whole, under names of its own.
    std::map<std::string, int> copies;
    std::size_t outputs = 0;
    for (const std::string& path : newEntries(before, after)) {
        if (path.rfind("/dst/", 0) != 0)
            continue;
        ++outputs;
        const std::string bytes = readFile(box.root() + path);
        bool matched = false;
        for (const auto& [name, input] : inputs) {
            if (bytes == input) {
                ++copies[name];
                matched = true;
            }
        }
        EXPECT_TRUE(matched) << path << " is not a whole copy of any input";
    }
    EXPECT_EQ(outputs, 2u * kFiles);
    for (const auto& [name, input] : inputs)
        EXPECT_EQ(copies[name], 2) << name;
}

} // namespace
} // namespace tarnwick::hardening
