// Real failures through the real tarnwick-cli: writes past the file size limit, folders that
// become immutable, inputs that vanish or turn into FIFOs, hostile trees and names. Every case
// checks the exit status and final text, that a failed file leaves no output, and that every
// entry that existed before the run is byte-for-byte unchanged.
#include "ByteDiff.h"
#include "HardeningSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <optional>

namespace tarnwick::hardening {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

TEST(WriteFailsPartWay, EarlierOutputsStayWholeAndTheFailedOneIsRemoved)
{
    Sandbox box;
    const Entries inputs = {{"a.mbx", mailbox(3)}, {"b.mbx", mailbox(1000)}, {"c.mbx", mailbox(2)}, {"d.mbx", mailbox(4)}};
    for (const auto& [name, bytes] : inputs)
        box.write("src/" + name, bytes);
    box.write("dst/b.mbx", "an older file with the same name\n");
    const Entries before = tree(box.root);

    // SIGXFSZ is ignored, so the write past 32 KiB returns EFBIG after the first bytes went out.
    const RunResult run = box.convert("src", "dst", {.fileSizeLimit = 32 * 1024});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: Could not write to " + quoted(box / "dst/b_2.mbx") + ": File too large\n");
    Entries expected = {{"b.mbx", "an older file with the same name\n"}};
    for (const std::string& name : listing(box / "src")) {
        if (name == "b.mbx")
            break;
        expected[name] = inputs.at(name);
    }
    EXPECT_EQ(snapshot(box / "dst"), expected) << "outputs before b.mbx are whole, b_2.mbx and later ones absent";
    expectKept(before, box.root, "write fails part-way");
}

// A single mailbox into a new Maildir destination: a write that fails part way leaves
// no folder at that name (nor the staging it was filled in), and the run after it
// delivers every message there.
TEST(WriteFailsPartWay, ASingleMailboxsMaildirIsPlacedWholeOrNotAtAll)
{
    Sandbox box;
    const std::string input = mailbox(3) + "From a\nSubject: large\n\n" + std::string(64 * 1024, 'x') + "\n\n" + mailbox(2);
    box.write("In.mbx", input);
    box.mkdir("dst");
    const std::vector<std::string> args = withOptions({"--format", "maildir", "--no-toc", box / "In.mbx", box / "dst/md"});
    const RunResult failed = box.run(args, {.fileSizeLimit = 32 * 1024});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "Error: Could not write to " + quoted(box / "dst/md") + ": File too large\n"); // not where it was filled
    EXPECT_EQ(tree(box / "dst"), Entries{}) << "nothing of the failed run is left";

    const RunResult again = box.run(args);
    EXPECT_EQ(again.out, "Completed\n") << again.err;
    EXPECT_EQ(listing(box / "dst"), std::vector<std::string>{"md"});
    EXPECT_EQ(listing(box / "dst/md/cur").size(), 6u);
    EXPECT_SAME_BYTES(readFile(box / "In.mbx"), input);
}

// Runs while tarnwick-cli is held at its first status line, when its first output is claimed.
struct HeldCase {
    const char* name;
    std::string source, destination; // below the sandbox
    std::function<void()> atFirstStatus;
    std::string removed; // what atFirstStatus removes itself
    std::string out;
    Entries outputs;
};

void runHeld(const Sandbox& box, const HeldCase& held)
{
    box.mkdir(held.destination);
    Entries before = tree(box.root);
    before.erase(held.removed);
    std::optional<Watchdog> watchdog;
    const RunResult run
        = box.convert(held.source, held.destination, {.whileHeld = [&](pid_t) {
                          for (int i = 0; i < 30000 && fs::is_empty(box / held.destination); ++i) // claimed before its status
                              std::this_thread::sleep_for(std::chrono::milliseconds(1));
                          held.atFirstStatus();
                          // An input that became a FIFO must not block the run; if it does, let it go on.
                          watchdog.emplace([&] { releaseFifoReader(box / held.removed); });
                      }});
    EXPECT_FALSE(watchdog && watchdog->stop()) << held.name << ": blocked opening an input that had become a FIFO";
    setImmutable(box / held.destination, false);
    EXPECT_EQ(run.exitCode, held.out == "Completed" ? 0 : 1) << held.name;
    EXPECT_EQ(run.out, held.out + "\n") << held.name;
    EXPECT_EQ(snapshot(box / held.destination), held.outputs) << held.name;
    EXPECT_EQ(run.err.find("Processing", 1), std::string::npos) << held.name << ": the job goes on after a failure";
    expectKept(before, box.root, held.name);
}

TEST(InputChangesAfterTheWalk, EndsTheJobWithNoOutputForIt)
{
    Sandbox box;
    for (const char* name : {"one.mbx", "two.mbx", "three.mbx"})
        box.write(std::string("vanish/") + name, mailbox(2));
    box.write("fifo/one.mbx", mailbox(2));
    const std::string first = listing(box / "vanish")[0];
    const HeldCase cases[] = {
        {"input vanishes",
         "vanish",
         "dst1",
         [&] { ::unlink((box / ("vanish/" + first)).c_str()); },
         "vanish/" + first,
         "Error: " + quoted(box / ("vanish/" + first)) + " not found",
         {}},
        {"input replaced by a FIFO",
         "fifo/one.mbx",
         "dst2",
         [&] {
             ::unlink((box / "fifo/one.mbx").c_str());
             ASSERT_EQ(::mkfifo((box / "fifo/one.mbx").c_str(), 0644), 0);
         },
         "fifo/one.mbx",
         "Error: Nothing converted: " + quoted(box / "fifo/one.mbx") + " is not a regular file",
         {}},
    };
    for (const HeldCase& held : cases)
        runHeld(box, held);
}

// The immutable attribute binds root too, unlike permission bits.
TEST(ImmutableDestination, NextClaimFailsAndWhatCannotBeRemovedHoldsNoData)
{
    Sandbox box;
    if (const std::string reason = immutableUnsupported(box); !reason.empty())
        GTEST_SKIP() << reason;
    box.write("src/one.mbx", mailbox(2));
    box.write("src/two.mbx", mailbox(3));
    box.write("gone/gone.mbx", mailbox(2));
    const std::vector<std::string> order = listing(box / "src");
    const HeldCase cases[] = {
        // The finished output would be written beside its claim: that fails at once, and
        // the claim, which cannot be removed, stays empty.
        {"locked at the first file",
         "src",
         "dst1",
         [&] { ASSERT_EQ(setImmutable(box / "dst1", true), 0); },
         "",
         "Error: Could not create " + quoted(box / ("dst1/" + order[0])) + ": Operation not permitted",
         {{order[0], ""}}},
        // The failed file's claimed output cannot be removed: it must stay empty.
        {"locked and input vanishes",
         "gone/gone.mbx",
         "dst2",
         [&] {
             ::unlink((box / "gone/gone.mbx").c_str());
             ASSERT_EQ(setImmutable(box / "dst2", true), 0);
         },
         "gone/gone.mbx",
         "Error: " + quoted(box / "gone/gone.mbx") + " not found",
         {{"gone.mbx", ""}}},
    };
    for (const HeldCase& held : cases)
        runHeld(box, held);
}

TEST(HostileSources, TreeConvertsOnlyMailboxesAndTheRestFailsCleanly)
{
    Sandbox box;
    const std::string latin = "caf\xe9", broken = "\xff\xfe.mbx"; // not UTF-8
    box.write("src/In.mbx", mailbox(1));
    box.write("src/Out.mbx", mailbox(2));
    box.write("src/Folder.mbx/Inner.mbx", mailbox(3));
    box.write("src/" + broken, mailbox(4));
    box.write("src/" + latin + "/in\x80", mailbox(5));
    ASSERT_EQ(::mkfifo((box / "src/pipe.mbx").c_str(), 0644), 0);
    box.mkdir("src/sub");
    for (const auto& [target, link] : {std::pair{".", "src/self"}, {"..", "src/sub/up"}, {"b", "src/a"}, {"a", "src/b"}})
        ASSERT_EQ(::symlink(target, (box / link).c_str()), 0);
    box.write("dst-" + latin + "/Out.mbx/old", "old\n"); // a folder where an output name would go
    ASSERT_EQ(::mkfifo((box / "in.fifo").c_str(), 0644), 0);
    const std::string numbered = std::string(251, 'n') + ".mbx"; // taken, and "<stem>_2.mbx" is 257 bytes
    box.write("one/" + numbered, mailbox(1));
    box.write("dst/" + numbered, "already here\n");
    const std::string tooLong = "sub:" + std::string(248, 't') + ".mbx"; // 256 bytes once flattened
    box.write("flat/sub/" + tooLong.substr(4), mailbox(1));
    Entries before = tree(box.root);

    const RunResult run = box.convert("src", "dst-" + latin);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Completed\n");
    EXPECT_NE(run.err.find("Processing \"" + latin + "/in\x80\"..."), std::string::npos) << run.err;
    EXPECT_EQ(snapshot(box / ("dst-" + latin)),
              (Entries{{"Out.mbx", "/"},
                       {"Out.mbx/old", "old\n"},
                       {"In.mbx", mailbox(1)},
                       {"Out_2.mbx", mailbox(2)},
                       {"Folder.mbx:Inner.mbx", mailbox(3)},
                       {broken, mailbox(4)},
                       {latin + ":in\x80", mailbox(5)}}));
    expectKept(before, box.root, "hostile tree");

    // Single sources: each fails cleanly (a FIFO converts nothing) and leaves everything as it was.
    before = tree(box.root);
    const struct {
        std::string source, destination, out;
    } cases[] = {
        {box / "in.fifo", box / "dst-" + latin, "Error: Nothing converted: " + quoted(box / "in.fifo") + " is not a regular file"},
        {"/dev/zero", box / "zero.mbox", "Error: Could not open \"/dev/zero\": No such device"},
        {box / "src/Folder.mbx", box / "new.mbox",
         "Error: The destination folder " + quoted(box / "new.mbox") + " does not exist: create it first"},
        {box / "src/a", box / "dst-" + latin, "Error: Could not open " + quoted(box / "src/a") + ": Too many levels of symbolic links"},
        {box / ("nowhere-" + latin), box / "dst-" + latin, "Error: " + quoted(box / ("nowhere-" + latin)) + " not found"},
    };
    for (const auto& [source, destination, out] : cases) {
        std::optional<Watchdog> watchdog;
        const RunResult single = box.run(withOptions({source, destination}), {.whileHeld = [&]([[maybe_unused]] pid_t pid) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)                                // their runtimes reserve far more
                                             const rlimit limit{rlim_t{3} << 30, rlim_t{3} << 30}; // should a device be read after all
                                             ::prlimit(pid, RLIMIT_AS, &limit, nullptr);
#endif
                                             watchdog.emplace([&] { releaseFifoReader(source); });
                                         }});
        EXPECT_FALSE(watchdog && watchdog->stop()) << source << ": blocked opening a FIFO with no writer";
        EXPECT_EQ(single.exitCode, out == "Completed" ? 0 : 1) << source;
        EXPECT_EQ(single.out, out + "\n") << source;
        EXPECT_EQ(tree(box.root), before) << source << ": no output, nothing changed";
    }

    // Names too long for the file system are shortened, keeping the extension and a number.
    const struct {
        std::string source, written;
    } shortened[] = {
        {box / ("one/" + numbered), std::string(248, 'n') + "_1.mbx"}, // "<stem>_2.mbx" was too long
        {box / "flat", "sub:" + std::string(245, 't') + "_1.mbx"},
    };
    for (const auto& [source, written] : shortened) {
        const RunResult single = box.run(withOptions({source, box / "dst"}));
        EXPECT_EQ(single.out, "Completed\n") << source << single.err;
        EXPECT_SAME_BYTES(readFile(box / ("dst/" + written)), mailbox(1)) << source;
        EXPECT_NE(single.err.find("is too long for a file name here: written as '" + written + "'"), std::string::npos) << single.err;
    }
}

// The second run starts with the first and ends while the first is held at its first status line.
TEST(ConcurrentRuns, TwoRunsIntoOneDestinationLoseNothing)
{
    Sandbox box, secondRunner;
    constexpr int kFiles = 12;
    Entries inputs;
    for (int i = 0; i < kFiles; ++i)
        box.write("src/" + std::to_string(i) + ".mbx", inputs[std::to_string(i) + ".mbx"] = mailbox(10 + 40 * i));
    box.write("dst/3.mbx", "older 3\n");
    box.write("dst/5_2.mbx", "older 5_2\n");
    const Entries before = tree(box.root);

    RunResult second;
    const RunResult first = box.convert("src", "dst", {.whileHeld = [&](pid_t) {
                                            second = secondRunner.run(withOptions({box / "src", box / "dst"}));
                                        }});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(first.out, "Completed\n");
    EXPECT_EQ(second.out, "Completed\n");
    expectKept(before, box.root, "two runs");
    std::map<std::string, int> copies;
    const Entries outputs = snapshot(box / "dst");
    for (const auto& [name, bytes] : outputs)
        for (const auto& [input, inputBytes] : inputs)
            copies[input] += bytes == inputBytes;
    EXPECT_EQ(outputs.size(), 2u * kFiles + 2);
    for (const auto& [input, bytes] : inputs)
        EXPECT_EQ(copies[input], 2) << input << " must be there twice, whole, under names of its own";
}

// Every failure of one mailbox follows --keep-going, its output claim and its folder
// included: a deep Mac tree whose flat names outgrow the file system converts every
// mailbox under shortened names, and a folder that cannot take files fails only the
// mailboxes that go into it.
TEST(KeepGoing, ClaimAndFolderFailuresFailOneMailboxOnly)
{
    Sandbox box;
    box.write("mac/Eudora Settings", "settings");
    std::string folder = "mac/Mail Folder";
    for (int level = 1; level <= 50; ++level) {
        folder += "/Level " + std::to_string(level);
        box.write(folder + "/Box " + std::to_string(level), mailbox(1));
    }
    box.mkdir("flat");
    const RunResult flat = box.run({"--keep-going", "--no-crlf", "--no-convert-encodings", "--no-complement-dates", "--no-add-empty-lines",
                                    box / "mac", box / "flat"});
    EXPECT_EQ(flat.out, "Completed\n") << flat.err.substr(0, 2000);
    EXPECT_EQ(listing(box / "flat").size(), 50u);
    for (const std::string& name : listing(box / "flat")) {
        EXPECT_LE(name.size(), 255u);
        EXPECT_SAME_BYTES(readFile(box / ("flat/" + name)), mailbox(1)) << name;
    }
    std::size_t shortened = 0;
    for (std::size_t at = 0; (at = flat.err.find("is too long for a file name here", at)) != std::string::npos; ++at)
        ++shortened;
    EXPECT_GT(shortened, 20u);

    if (const std::string reason = immutableUnsupported(box); !reason.empty())
        GTEST_SKIP() << reason;
    box.write("win/Eudora.ini", "");
    box.write("win/In.mbx", mailbox(1));
    box.write("win/Work.fol/A.mbx", mailbox(2));
    box.write("win/Work.fol/B.mbx", mailbox(3));
    box.write("win/Zed.mbx", mailbox(4));
    for (const bool keepGoing : {true, false}) {
        const std::string destination = keepGoing ? "tree" : "tree-stops";
        box.mkdir(destination + "/Work");
        ASSERT_EQ(setImmutable(box / (destination + "/Work"), true), 0);
        std::vector<std::string> args = withOptions({box / "win", box / destination});
        args.insert(args.begin(), {"--layout", "tree"});
        if (keepGoing)
            args.insert(args.begin(), "--keep-going");
        const RunResult tree = box.run(args);
        setImmutable(box / (destination + "/Work"), false);
        EXPECT_EQ(tree.exitCode, 1);
        if (!keepGoing) {
            EXPECT_EQ(tree.out.rfind("Error: Could not create", 0), 0u) << tree.out;
            EXPECT_EQ(tree.err.find("Failed: "), std::string::npos) << tree.err;
            continue;
        }
        EXPECT_EQ(tree.out, "Error: 2 mailboxes could not be converted\n") << tree.err;
        EXPECT_NE(tree.err.find("Failed: Could not create " + quoted(box / (destination + "/Work/A.mbx")) + ": Operation not permitted"),
                  std::string::npos)
            << tree.err;
        EXPECT_NE(tree.err.find("Failed: Could not create " + quoted(box / (destination + "/Work/B.mbx"))), std::string::npos) << tree.err;
        EXPECT_EQ(snapshot(box / destination), (Entries{{"Work", "/"}, {"In.mbx", mailbox(1)}, {"Zed.mbx", mailbox(4)}}));
    }
}

} // namespace
} // namespace tarnwick::hardening
