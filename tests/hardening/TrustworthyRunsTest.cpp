// Runs that must end in a clear result and lose nothing, whatever the process is handed:
// unreadable folders, closed or broken standard streams, signals, file size and descriptor
// limits, links swapped in under a run, hostile names, unusable encodings and settings.
#include "ByteDiff.h"
#include "HardeningSupport.h"

#include <pwd.h>
#include <sys/stat.h>

#include <iterator>
#include <map>

namespace tarnwick::hardening {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// A large mailbox: the pass writes it in many batches.
std::string bigMailbox() { return mailbox(40000); }

std::optional<std::pair<uid_t, gid_t>> nobody()
{
    const passwd* entry = ::getpwnam("nobody");
    if (::geteuid() != 0 || !entry)
        return std::nullopt;
    return std::pair{entry->pw_uid, entry->pw_gid};
}

// A folder that cannot be listed ends the job with its name and the reason; what was
// converted before it stays, and the job never says Completed.
TEST(UnreadableFolders, EndTheJobNamingTheFolder)
{
    const auto user = nobody();
    if (!user)
        GTEST_SKIP() << "needs root, to run the conversion as user nobody (permission bits do not bind root)";
    struct Case {
        const char* name;
        std::function<void(const Sandbox&)> prepare;
        std::string failedFolder; // below the sandbox
    };
    const Case cases[] = {
        {"a subfolder without permissions",
         [](const Sandbox& box) {
             box.write("src/noread/y.mbx", mailbox(1));
             ::chmod((box / "src/noread").c_str(), 0);
         },
         "src/noread"},
        {"the source can be entered but not listed", [](const Sandbox& box) { ::chmod((box / "src").c_str(), 0300); }, "src"},
    };
    for (const Case& c : cases) {
        Sandbox box;
        box.write("src/a.mbx", mailbox(2));
        box.mkdir("dst");
        ::chmod(box.root.c_str(), 0755);
        ASSERT_EQ(::chown((box / "dst").c_str(), user->first, user->second), 0);
        c.prepare(box);
        RunOptions options;
        options.user = user;
        const RunResult run = box.convert("src", "dst", options);
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_EQ(run.out, "Error: Could not read folder " + quoted(box / c.failedFolder) + ": Permission denied\n") << c.name;
    }
}

// With keep going, a sub-folder that cannot be opened is one failure among others:
// named in the summary and the result, and the mailboxes beside and after it converted.
TEST(UnreadableFolders, KeepGoingConvertsTheRest)
{
    const auto user = nobody();
    if (!user)
        GTEST_SKIP() << "needs root, to run the conversion as user nobody (permission bits do not bind root)";
    Sandbox box;
    box.write("src/a.mbx", mailbox(2));
    box.write("src/noread/y.mbx", mailbox(1));
    box.write("src/z/b.mbx", mailbox(3));
    box.mkdir("dst");
    ::chmod(box.root.c_str(), 0755);
    ASSERT_EQ(::chown((box / "dst").c_str(), user->first, user->second), 0);
    ::chmod((box / "src/noread").c_str(), 0);
    RunOptions options;
    options.user = user;
    const RunResult run = box.run(
        {"--keep-going", "--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines", box / "src", box / "dst"},
        options);
    const std::string failure = "Could not read folder " + quoted(box / "src/noread") + ": Permission denied";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: " + failure + "\n");
    EXPECT_NE(run.err.find("\nFailed: " + failure + "\n"), std::string::npos) << run.err;
    EXPECT_EQ(snapshot(box / "dst"), (Entries{{"a.mbx", mailbox(2)}, {"z:b.mbx", mailbox(3)}}));
}

TEST(UnreadableFolders, TooManyOpenFilesInADeepTree)
{
    Sandbox box;
    std::string deep = "src";
    for (int level = 0; level < 30; ++level)
        deep += "/d";
    box.write(deep + "/deep.mbx", mailbox(1));
    box.mkdir("dst");
    RunOptions options;
    options.openFilesLimit = 20;
    const RunResult run = box.convert("src", "dst", options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.rfind("Error: Could not read folder \"" + box / "src/d/d", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(": Too many open files\n"), std::string::npos) << run.out;
}

// An attachment folder holds no mail: one that cannot be read is named in the log and the
// files its mail names are counted as missing; the mail converts and the job completes.
TEST(UnreadableFolders, AnAttachmentFolderIsPassedOverAndItsFilesCountMissing)
{
    const auto user = nobody();
    if (!user)
        GTEST_SKIP() << "needs root, to run the conversion as user nobody (permission bits do not bind root)";
    const std::string message = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: s\n\nbody\n"
                                "Attachment Converted: \"c:\\eudora\\attach\\a.txt\"\n\n";
    for (const mode_t mode : {0000, 0300}) { // neither opened nor listed; entered but not listed
        Sandbox box;
        box.write("src/Eudora.ini", "[Settings]\n");
        box.write("src/In.mbx", message);
        box.write("src/attach/a.txt", "not for the output");
        box.mkdir("dst");
        ::chmod(box.root.c_str(), 0755);
        ASSERT_EQ(::chown((box / "dst").c_str(), user->first, user->second), 0);
        ::chmod((box / "src/attach").c_str(), mode);
        RunOptions options;
        options.user = user;
        const RunResult run = box.convert("src", "dst", options);
        EXPECT_EQ(run.exitCode, 0) << mode << run.err;
        EXPECT_EQ(run.out, "Completed\n") << mode;
        EXPECT_NE(run.err.find("The attachment folder 'attach' could not be read: Permission denied; its files are not put back\n"),
                  std::string::npos)
            << mode << run.err;
        EXPECT_NE(run.err.find("Attachments put back: 0, missing: 1"), std::string::npos) << mode << run.err;
        EXPECT_EQ(snapshot(box / "dst"), (Entries{{"In.mbx", message}})) << mode;
    }
}

// Standard streams the program is handed: none may stop a conversion or reach an output.
TEST(StandardStreams, ClosedOrBrokenStandardErrorLeavesTheOutputWhole)
{
    Sandbox box;
    // MacJapanese with no-break spaces: their replacement is logged once per message.
    std::string input;
    for (int i = 0; i < 200; ++i)
        input += "From a\nSubject: s\n\nx\xa0y\n\n";
    box.write("in.mbx", input);
    const std::vector<std::string> options
        = {"--convert-encodings", "--source-encoding", "x-mac-japanese",        "--charsets",          "utf-8",
           "--replace-nbsp",      "--no-crlf",         "--no-complement-dates", "--no-add-empty-lines"};
    auto run = [&](const std::string& output, RunOptions::StandardError standardError) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {box / "in.mbx", box / output});
        RunOptions runOptions;
        runOptions.standardError = standardError;
        return box.run(args, runOptions);
    };
    const RunResult reference = run("reference.mbox", RunOptions::StandardError::Pipe);
    ASSERT_EQ(reference.out, "Completed\n");
    ASSERT_NE(reference.err.find("NBSP (U+00A0) replaced"), std::string::npos) << reference.err;
    const std::string expected = readFile(box / "reference.mbox");
    ASSERT_EQ(expected.rfind("From a\n", 0), 0u);
    for (const auto& [name, standardError] :
         {std::pair{"closed.mbox", RunOptions::StandardError::Closed}, std::pair{"broken.mbox", RunOptions::StandardError::Broken}}) {
        const RunResult result = run(name, standardError);
        EXPECT_EQ(result.exitCode, 0) << name;
        EXPECT_EQ(result.out, "Completed\n") << name;
        EXPECT_SAME_BYTES(readFile(box / name), expected) << name << ": log lines went into the output or it was cut";
    }
}

// With SIGXFSZ at its default the process would die mid-file and leave it cut.
TEST(Signals, FileSizeLimitIsAFailedWriteAndTheOutputIsRemoved)
{
    Sandbox box;
    box.write("src/big.mbx", bigMailbox());
    box.mkdir("dst");
    RunOptions options;
    options.fileSizeLimit = 64 * 1024;
    options.fileSizeSignal = true;
    const RunResult run = box.convert("src", "dst", options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: Could not write to " + quoted(box / "dst/big.mbx") + ": File too large\n");
    EXPECT_EQ(snapshot(box / "dst"), Entries{});
}

// A run killed while it writes leaves its temporary file and the empty claim of the
// output's name; the next run into the folder deletes both, names both, and writes the
// output under its own name. Held at its first line on standard error (with --quiet, a
// line the conversion logs), the first run has made both.
TEST(Signals, AKilledRunsTemporaryFileAndClaimAreDeletedByTheNextRun)
{
    struct Case {
        const char* name;
        std::vector<std::string> layout;
        std::string input;  // below src/
        std::string folder; // where its output goes, below the sandbox
    };
    const Case cases[] = {
        {"flat", {}, "nb.mbx", "dst"},
        {"tree", {"--layout", "tree"}, "Sub/nb.mbx", "dst/Sub"},
    };
    std::string input;
    for (int i = 0; i < 50; ++i)
        input += "From a\nSubject: s\n\nx\xa0y\n\n";
    const std::vector<std::string> options
        = {"--convert-encodings", "--source-encoding", "x-mac-japanese",        "--charsets",          "utf-8",
           "--replace-nbsp",      "--no-crlf",         "--no-complement-dates", "--no-add-empty-lines"};
    for (const Case& c : cases) {
        Sandbox box;
        box.write("src/" + c.input, input);
        box.mkdir("dst");
        auto run = [&](std::vector<std::string> extra, const RunOptions& runOptions) {
            extra.insert(extra.begin(), options.begin(), options.end());
            extra.insert(extra.end(), c.layout.begin(), c.layout.end());
            extra.insert(extra.end(), {box / "src", box / "dst"});
            return box.run(extra, runOptions);
        };
        const std::string folder = box / c.folder;
        RunOptions killed;
        killed.whileHeld = [&](pid_t pid) {
            for (int i = 0; i < 30000 && (!fs::is_directory(folder) || listing(folder).size() < 2); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ::kill(pid, SIGKILL);
        };
        const RunResult first = run({"--quiet"}, killed);
        std::vector<std::string> left = listing(folder);
        std::sort(left.begin(), left.end());
        ASSERT_EQ(left.size(), 2u) << c.name << first.err;
        ASSERT_EQ(left[1], "nb.mbx") << c.name;
        ASSERT_EQ(fs::file_size(folder + "/nb.mbx"), 0u) << c.name;
        ASSERT_EQ(left[0].rfind(".tarnwick-", 0), 0u) << c.name;

        const RunResult again = run({}, {});
        EXPECT_EQ(again.out, "Completed\n") << c.name;
        EXPECT_NE(again.err.find("'" + folder + "/nb.mbx' was left by an interrupted run: deleted"), std::string::npos)
            << c.name << again.err;
        EXPECT_NE(again.err.find("Temporary files of an interrupted run, deleted: " + folder + "/nb.mbx, " + folder + "/" + left[0]),
                  std::string::npos)
            << c.name << again.err;
        EXPECT_EQ(listing(folder), std::vector<std::string>{"nb.mbx"}) << c.name;
        EXPECT_NE(fs::file_size(folder + "/nb.mbx"), 0u) << c.name;
    }
}

// Waits until `signal` is no longer pending for process `pid` (its handler has run or is
// running), as /proc reports it; a process that has gone counts as delivered.
void waitUntilDelivered(pid_t pid, int signal)
{
    const unsigned long long bit = 1ull << (signal - 1);
    auto pending = [&] {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        unsigned long long mask = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
                mask |= std::stoull(line.substr(7), nullptr, 16);
        }
        return (mask & bit) != 0;
    };
    for (int i = 0; i < 30000 && pending(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The first SIGINT, SIGTERM or SIGHUP finishes the file under way; a second one abandons
// it at once. The signals arrive while the program is held at its first status line.
TEST(Signals, OneSignalFinishesTheFileTwoStopAtOnce)
{
    const struct {
        const char* name;
        std::vector<int> signals;
        bool outputKept;
    } cases[] = {
        {"SIGINT", {SIGINT}, true},
        {"SIGTERM", {SIGTERM}, true},
        {"SIGHUP", {SIGHUP}, true},
        {"SIGINT twice", {SIGINT, SIGINT}, false},
        {"SIGHUP then SIGTERM", {SIGHUP, SIGTERM}, false},
    };
    for (const auto& c : cases) {
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer's runtime keeps one pending slot per signal for a thread waiting
        // in write(), so there two SIGINTs reach the program as one.
        if (c.signals.size() == 2 && c.signals[0] == c.signals[1])
            continue;
#endif
        Sandbox box;
        box.write("src/one.mbx", bigMailbox());
        box.write("src/two.mbx", bigMailbox());
        box.mkdir("dst");
        RunOptions options;
        options.whileHeld = [&](pid_t pid) {
            for (int i = 0; i < 30000 && fs::is_empty(box / "dst"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (const int signal : c.signals) {
                ::kill(pid, signal);
                // A second SIGINT sent while the first is still pending would merge with it;
                // a sanitizer's runtime may hold a delivered signal a little before its handler runs.
                waitUntilDelivered(pid, signal);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        };
        const RunResult run = box.convert("src", "dst", options);
        EXPECT_EQ(run.exitCode, 130) << c.name;
        EXPECT_EQ(run.out, "Canceled\n") << c.name;
        const std::string first = listing(box / "src")[0];
        EXPECT_EQ(snapshot(box / "dst"), (c.outputKept ? Entries{{first, bigMailbox()}} : Entries{})) << c.name;
    }
}

// The claimed output swapped for a link before the write: the link's target is never
// written, and the run fails.
// Once the run has put something into dst, dst moves to held and a link to elsewhere
// takes its name: what the run writes after must still land in the folder it holds.
void swapDestinationForLink(const Sandbox& box)
{
    for (int i = 0; i < 30000 && fs::is_empty(box / "dst"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(::rename((box / "dst").c_str(), (box / "held").c_str()), 0);
    ASSERT_EQ(::symlink((box / "elsewhere").c_str(), (box / "dst").c_str()), 0);
}

TEST(Hijack, ClaimReplacedByALinkIsNeverWrittenThrough)
{
    Sandbox box;
    box.write("src/one.mbx", mailbox(3));
    box.write("victim", "precious\n");
    box.mkdir("dst");
    RunOptions options;
    options.whileHeld = [&](pid_t) {
        for (int i = 0; i < 30000 && fs::is_empty(box / "dst"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::unlink((box / "dst/one.mbx").c_str());
        ASSERT_EQ(::symlink((box / "victim").c_str(), (box / "dst/one.mbx").c_str()), 0);
    };
    const RunResult run = box.convert("src", "dst", options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: Could not write to " + quoted(box / "dst/one.mbx") + ": File exists\n");
    EXPECT_EQ(readFile(box / "victim"), "precious\n");
    EXPECT_EQ(snapshot(box / "dst"), (Entries{{"one.mbx", "->" + box / "victim"}})) << "no temporary file is left";
}

// The destination folder swapped for a link while the job runs: every output, the one
// under way and those after it, still goes into the folder the job began with, and
// nothing into the link's target.
TEST(Hijack, DestinationReplacedByALinkKeepsEveryOutputInTheFolderHeld)
{
    struct Case {
        const char* name;
        std::vector<std::string> layout;
        std::vector<std::string> inputs; // below src/, two mailboxes, then a third
        Entries expected;                // in the folder held
    };
    const std::string one = mailbox(1), two = mailbox(2), three = mailbox(3);
    const Case cases[] = {
        {"flat", {}, {"one.mbx", "two.mbx", "three.mbx"}, {{"one.mbx", one}, {"two.mbx", two}, {"three.mbx", three}}},
        {"tree",
         {"--layout", "tree"},
         {"A/one.mbx", "B/two.mbx", "C/three.mbx"},
         {{"A", "/"}, {"A/one.mbx", one}, {"B", "/"}, {"B/two.mbx", two}, {"C", "/"}, {"C/three.mbx", three}}},
    };
    for (const Case& c : cases) {
        Sandbox box;
        box.write("src/" + c.inputs[0], one);
        box.write("src/" + c.inputs[1], two);
        box.write("src/" + c.inputs[2], three);
        box.mkdir("dst");
        box.mkdir("elsewhere");
        RunOptions options;
        options.whileHeld = [&](pid_t) { swapDestinationForLink(box); };
        std::vector<std::string> args = c.layout;
        args.insert(args.end(), {box / "src", box / "dst"});
        const RunResult run = box.run(withOptions(args), options);
        EXPECT_EQ(run.exitCode, 0) << c.name << run.err;
        EXPECT_EQ(run.out, "Completed\n") << c.name;
        EXPECT_EQ(snapshot(box / "held"), c.expected) << c.name;
        EXPECT_EQ(snapshot(box / "elsewhere"), Entries{}) << c.name;
    }
}

// The messages of each Maildir below `root`: the folder that holds cur/, and how many
// files its cur/ holds.
std::map<std::string, std::size_t> maildirMessages(const std::string& root)
{
    std::map<std::string, std::size_t> counts;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_directory() && entry.path().filename() == "cur" && entry.path().parent_path() != fs::path(root))
            counts[entry.path().parent_path().string().substr(root.size() + 1)]
                = static_cast<std::size_t>(std::distance(fs::directory_iterator(entry.path()), fs::directory_iterator()));
    }
    return counts;
}

// The same for Maildir output: the destination swapped for a link after the first
// mailbox's Maildir was made; every Maildir, that one and those after it, is filled and
// placed in the folder the job began with, nothing in the link's target.
TEST(Hijack, MaildirDestinationReplacedByALinkKeepsEveryMailboxInTheFolderHeld)
{
    struct Case {
        const char* name;
        std::vector<std::string> layout;
        std::vector<std::string> inputs; // below src/: one, two and three messages
        std::map<std::string, std::size_t> expected;
    };
    const Case cases[] = {
        {"Maildir++", {"--format", "maildir"}, {"one.mbx", "two.mbx", "three.mbx"}, {{".one", 1}, {".two", 2}, {".three", 3}}},
        {"nested",
         {"--format", "maildir", "--layout", "tree"},
         {"A/one.mbx", "B/two.mbx", "C/three.mbx"},
         {{"A/one", 1}, {"B/two", 2}, {"C/three", 3}}},
    };
    for (const Case& c : cases) {
        Sandbox box;
        for (int i = 0; i < 3; ++i)
            box.write("src/" + c.inputs[i], mailbox(i + 1));
        box.mkdir("dst");
        box.mkdir("elsewhere");
        RunOptions options;
        options.whileHeld = [&](pid_t) { swapDestinationForLink(box); };
        std::vector<std::string> args = c.layout;
        args.insert(args.end(), {box / "src", box / "dst"});
        const RunResult run = box.run(withOptions(args), options);
        EXPECT_EQ(run.exitCode, 0) << c.name << run.err;
        EXPECT_EQ(run.out, "Completed\n") << c.name;
        EXPECT_EQ(maildirMessages(box / "held"), c.expected) << c.name;
        EXPECT_EQ(snapshot(box / "elsewhere"), Entries{}) << c.name;
    }
}

// The staging folders of Maildir runs in `tmp` (a destination's tmp/).
std::vector<std::string> stagingFolders(const std::string& tmp)
{
    std::vector<std::string> found;
    for (const std::string& name : fs::is_directory(tmp) ? listing(tmp) : std::vector<std::string>{})
        if (name.rfind(".tarnwick-", 0) == 0)
            found.push_back(tmp + "/" + name);
    return found;
}

// A Maildir run killed part way leaves no Maildir that looks finished, a single
// mailbox's own destination included: only its staging folder in tmp/. A run into the
// same destination while the first still runs leaves that folder alone; the first run
// after the kill (Maildir or mbox files) removes it, says so once, and delivers every
// message. The first run is held at its first log line (--quiet), its first Maildir
// staged by then.
TEST(Signals, AKilledMaildirRunsStagingGoesWithTheNextRunNotWhileItRuns)
{
    struct Case {
        const char* name;
        std::string source, destination;             // below the sandbox, for the killed run and the one after
        std::string other, otherDestination;         // for the run while the first still runs
        std::string againFormat;                     // of the run after the kill
        std::string placed;                          // below dst: what that run writes, and the killed one did not
        std::map<std::string, std::size_t> expected; // the Maildirs below dst at the end
        bool tmpStays;                               // a Maildir++ root's own; the one made only for staging goes
    };
    const Case cases[] = {
        {"folder", "src", "dst", "live", "dst", "maildir", ".In", {{".In", 50}, {".Other", 2}}, true},
        {"single mailbox", "src/In.mbx", "dst/md", "live/Other.mbx", "dst/other", "maildir", "md", {{"md", 50}, {"other", 2}}, false},
        {"folder, then mbox files", "src", "dst", "live", "dst", "mbox", "In.mbx", {{".Other", 2}}, true},
    };
    std::string input;
    for (int i = 0; i < 50; ++i)
        input += "From a\nSubject: s\n\nx\xa0y\n\n";
    const std::vector<std::string> options
        = {"--no-toc", "--convert-encodings", "--source-encoding", "x-mac-japanese", "--charsets", "utf-8", "--replace-nbsp", "--quiet"};
    for (const Case& c : cases) {
        Sandbox box;
        box.write("src/In.mbx", input);
        box.write("live/Other.mbx", mailbox(2));
        box.mkdir("dst");
        auto run = [&](const std::string& source, const std::string& destination, const RunOptions& runOptions,
                       const std::string& format = "maildir") {
            std::vector<std::string> args = options;
            args.insert(args.end(), {"--format", format, box / source, box / destination});
            return box.run(args, runOptions);
        };
        std::vector<std::string> staged;
        RunResult live;
        RunOptions killed;
        killed.whileHeld = [&](pid_t pid) {
            for (int i = 0; i < 30000 && (stagingFolders(box / "dst/tmp").empty() || listing(stagingFolders(box / "dst/tmp")[0]).empty());
                 ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            staged = stagingFolders(box / "dst/tmp");
            live = run(c.other, c.otherDestination, {});
            ::kill(pid, SIGKILL);
        };
        run(c.source, c.destination, killed);
        ASSERT_EQ(staged.size(), 1u) << c.name;
        EXPECT_EQ(live.out, "Completed\n") << c.name << live.err;
        EXPECT_NE(live.err.find("'" + staged[0] + "' is being written by another conversion: left alone"), std::string::npos)
            << c.name << live.err;
        EXPECT_EQ(stagingFolders(box / "dst/tmp"), staged) << c.name << ": the running job's staging folder stays";
        EXPECT_FALSE(fs::exists(box / ("dst/" + c.placed))) << c.name << ": the killed run placed its Maildir";

        const RunResult again = run(c.source, c.destination, {}, c.againFormat);
        EXPECT_EQ(again.out, "Completed\n") << c.name << again.err;
        const std::string said = "'" + staged[0] + "' was left by an interrupted run: deleted";
        const std::size_t first = again.err.find(said);
        EXPECT_NE(first, std::string::npos) << c.name << again.err;
        EXPECT_EQ(again.err.find(said, first + 1), std::string::npos) << c.name << ": said more than once";
        EXPECT_EQ(stagingFolders(box / "dst/tmp"), std::vector<std::string>{}) << c.name;
        EXPECT_EQ(maildirMessages(box / "dst"), c.expected) << c.name;
        EXPECT_TRUE(fs::exists(box / ("dst/" + c.placed))) << c.name;
        EXPECT_EQ(fs::exists(box / "dst/tmp"), c.tmpStays) << c.name;
    }
}

// A message too large for memory is collected in a spool file beside its output: in the
// folder held too, so the destination moved away meanwhile does not fail it.
TEST(Hijack, DestinationMovedAwayStillTakesALargeMessagesSpool)
{
    Sandbox box;
    std::string large = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: large\n\n";
    while (large.size() < (5u << 20))
        large += "plain text line of the body\n";
    box.write("src/large.mbx", large + "\n");
    box.mkdir("dst");
    RunOptions options;
    options.whileHeld = [&](pid_t) {
        for (int i = 0; i < 30000 && fs::is_empty(box / "dst"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(::rename((box / "dst").c_str(), (box / "held").c_str()), 0);
    };
    const RunResult run = box.run({"--no-crlf", "--no-complement-dates", box / "src", box / "dst"}, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Completed\n");
    EXPECT_EQ(listing(box / "held"), std::vector<std::string>{"large.mbx"});
    EXPECT_GT(fs::file_size(box / "held/large.mbx"), 5u << 20);
}

// The same for a single mailbox converted into a new file: its folder is held.
TEST(Hijack, FolderOfASingleOutputReplacedByALinkKeepsTheOutputThere)
{
    // An mbox file, and a new Maildir (made in the staging folder of the folder held).
    for (const bool maildir : {false, true}) {
        Sandbox box;
        box.write("src/one.mbx", mailbox(2));
        box.mkdir("dst");
        box.mkdir("elsewhere");
        RunOptions options;
        options.whileHeld = [&](pid_t) { swapDestinationForLink(box); };
        const std::vector<std::string> format = maildir ? std::vector<std::string>{"--format", "maildir"} : std::vector<std::string>{};
        std::vector<std::string> args = withOptions(format);
        args.insert(args.end(), {box / "src/one.mbx", box / (maildir ? "dst/md" : "dst/out.mbox")});
        const RunResult run = box.run(args, options);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "Completed\n");
        if (maildir)
            EXPECT_EQ(maildirMessages(box / "held"), (std::map<std::string, std::size_t>{{"md", 2}}));
        else
            EXPECT_EQ(snapshot(box / "held"), (Entries{{"out.mbox", mailbox(2)}}));
        EXPECT_EQ(snapshot(box / "elsewhere"), Entries{}) << maildir;
    }
}

// An input of a tree replaced by a link after the walk listed it: not followed.
TEST(Hijack, InputReplacedByALinkAfterTheWalkIsNotFollowed)
{
    Sandbox box;
    box.write("src/one.mbx", mailbox(1));
    box.write("secret/mail", mailbox(7));
    box.mkdir("dst");
    RunOptions options;
    options.whileHeld = [&](pid_t) {
        for (int i = 0; i < 30000 && fs::is_empty(box / "dst"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::unlink((box / "src/one.mbx").c_str());
        ASSERT_EQ(::symlink((box / "secret/mail").c_str(), (box / "src/one.mbx").c_str()), 0);
    };
    const RunResult run = box.convert("src", "dst", options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: Could not open " + quoted(box / "src/one.mbx") + ": Too many levels of symbolic links\n");
    EXPECT_EQ(snapshot(box / "dst"), Entries{});
}

TEST(Outputs, NeverMoreReadableThanTheirSource)
{
    Sandbox box;
    const std::pair<const char*, mode_t> cases[] = {{"private.mbx", 0600}, {"group.mbx", 0640}, {"open.mbx", 0644}, {"exec.mbx", 0755}};
    for (const auto& [name, mode] : cases) {
        box.write(std::string("src/") + name, mailbox(1));
        ::chmod((box / (std::string("src/") + name)).c_str(), mode);
    }
    box.mkdir("dst");
    const mode_t previous = ::umask(022); // inherited by the program
    const RunResult run = box.convert("src", "dst");
    ::umask(previous);
    EXPECT_EQ(run.out, "Completed\n");
    for (const auto& [name, mode] : cases) {
        struct stat info {};
        ASSERT_EQ(::stat((box / (std::string("dst/") + name)).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 07777, mode & 0644) << name;
    }
}

// Control characters in names are escaped in status, log and result lines.
TEST(Names, ControlCharactersCannotForgeLines)
{
    Sandbox box;
    const std::string forged = "x\nCompleted\n\x1b[2J";
    box.write("src/" + forged, mailbox(1));
    ASSERT_EQ(::symlink("nowhere", (box / "src/link\r").c_str()), 0);
    box.mkdir("dst");
    const RunResult run = box.convert("src", "dst");
    EXPECT_EQ(run.out, "Completed\n");
    EXPECT_NE(run.err.find("Processing \"x\\nCompleted\\n\\x1b[2J\"...\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'link\\r' is a symbolic link: passed over\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    const RunResult missing = box.convert("none\n", "dst");
    EXPECT_EQ(missing.out, "Error: " + quoted(box / "none\\n") + " not found\n");
}

// A mailbox encoding whose bytes do not read ASCII as ASCII is refused before anything is
// created; one that is not available here is said once, and the messages are copied.
TEST(Encodings, StoredMailboxEncodingRefusedOrWarnedOnce)
{
    Sandbox box;
    box.write("src/a.mbx", mailbox(2));
    box.write("src/b.mbx", mailbox(2));
    box.mkdir("dst");
    const std::vector<std::string> args = withOptions({"--convert-encodings", box / "src", box / "dst"});
    box.write("config/Tarnwick/Tarnwick.conf", "[General]\nMboxEncoding=int:10\n"); // UTF-16
    RunResult run = box.run(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Error: \"Unicode (UTF-16)\" cannot be the mailbox encoding: it does not read ASCII as ASCII\n");
    EXPECT_EQ(run.err.find("Processing"), std::string::npos);
    EXPECT_EQ(snapshot(box / "dst"), Entries{});

    box.write("config/Tarnwick/Tarnwick.conf", "[General]\nMboxEncoding=int:2147483647\nCharsetNames=array:1:utf-8\n");
    run = box.run(args);
    EXPECT_EQ(run.out, "Completed\n");
    const std::string warning = "The mailbox encoding 2147483647 is not available: messages are copied unconverted\n";
    const std::size_t at = run.err.find(warning);
    EXPECT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(warning, at + 1), std::string::npos) << "one warning per job: " << run.err;
    EXPECT_EQ(snapshot(box / "dst"), (Entries{{"a.mbx", mailbox(2)}, {"b.mbx", mailbox(2)}}));
}

// A FIFO as the settings file would block the program for ever.
TEST(Settings, SettingsFileThatIsNoRegularFileIsIgnored)
{
    Sandbox box;
    box.write("in.mbx", mailbox(1));
    box.mkdir("config/Tarnwick");
    const std::string fifo = box / "config/Tarnwick/Tarnwick.conf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    RunResult run;
    {
        Watchdog watchdog([&] { releaseFifoReader(fifo); });
        run = box.convert("in.mbx", "out.mbox");
        EXPECT_FALSE(watchdog.stop()) << "blocked reading a FIFO as settings";
    }
    EXPECT_EQ(run.out, "Completed\n");
    EXPECT_NE(run.err.find("'" + fifo + "' is not a regular file: settings not read\n"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(box / "out.mbox"), mailbox(1));
}

} // namespace
} // namespace tarnwick::hardening
