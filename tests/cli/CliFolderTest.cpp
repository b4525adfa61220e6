// Folder mode: the walk, the destination inside the source, removal and cancellation.
#include "CliRunner.h"

#include <chrono>
#include <thread>

namespace tarnwick::test {
namespace {

TEST(CliFolderWalk, ConvertsEveryRegularFileFlatWithNamesAsBytes)
{
    Sandbox sandbox;
    const std::string folder = "Ordner\xe4", file = "Entw\xfc rfe\xff"; // not UTF-8
    const std::map<std::string, std::string> inputs
        = {{"In", mailbox(2)},      {"Sub/Out", mailbox(1, "\r\n")},   {"Sub/Deeper/Trash", mailbox(3, "\r")},
           {".hidden", mailbox(4)}, {folder + "/" + file, mailbox(5)}, {file, mailbox(6)},
           {"Empty", ""},           {"notes.txt", "not a mailbox\n"}};
    for (const auto& [name, bytes] : inputs)
        sandbox.write("src/" + name, bytes);
    sandbox.write("dest/" + file, "keep");
    sandbox.write("elsewhere/Secret", mailbox(1));
    sandbox.mkdir("src/EmptyFolder");
    ::mkfifo((sandbox / "src/fifo").c_str(), 0644);
    ::symlink((sandbox / "src/In").c_str(), (sandbox / "src/LinkToIn").c_str());
    ::symlink((sandbox / "elsewhere").c_str(), (sandbox / "src/LinkToFolder").c_str());

    const RunResult result = sandbox.convert("src", "dest");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Completed\n");
    for (const auto& [name, bytes] : inputs)
        EXPECT_NE(result.err.find("Processing \"" + name + "\"...\n"), std::string::npos) << name << " in " << result.err;
    // A mailbox whose lines end with CR alone comes out with LF: no mbox reader takes CR.
    const Entries expected = {{"In", mailbox(2)},       {"Sub:Out", mailbox(1, "\r\n")},   {"Sub:Deeper:Trash", mailbox(3)},
                              {".hidden", mailbox(4)},  {folder + ":" + file, mailbox(5)}, {file, "keep"},
                              {file + "_2", mailbox(6)}};
    EXPECT_EQ(snapshot(sandbox / "dest"), expected);
    EXPECT_EQ(result.err.find("Secret"), std::string::npos) << "a linked folder is not entered: " << result.err;
    for (const char* line : {"'LinkToIn' is a symbolic link: passed over\n", "'LinkToFolder' is a symbolic link: passed over\n",
                             "'fifo' is not a regular file: passed over\n"})
        EXPECT_NE(result.err.find(line), std::string::npos) << "links and special files are passed over, and said so: " << result.err;
    EXPECT_NE(result.err.find("\nLinks and special files passed over: 3\n"), std::string::npos) << result.err;
}

// The outputs of a job never become its inputs.
TEST(CliFolderWalk, DestinationInsideOrEqualToSource)
{
    Sandbox inside;
    for (const char* name : {"src/In", "src/Sub/Out", "src/converted/Old"})
        inside.write(name, mailbox(1));
    EXPECT_EQ(inside.convert("src", "src/converted").out, "Completed\n");
    EXPECT_EQ(snapshot(inside / "src/converted"), (Entries{{"Old", mailbox(1)}, {"In", mailbox(1)}, {"Sub:Out", mailbox(1)}}));

    // Long names fill the listing buffer soon: the folder is read in several parts
    // while the outputs appear in it.
    Sandbox same;
    Entries expected;
    for (int i = 100; i < 300; ++i) {
        const std::string name = std::string(240, 'm') + std::to_string(i);
        same.write("src/" + name, mailbox(1));
        expected[name] = expected[name + "_2"] = mailbox(1);
    }
    EXPECT_EQ(same.convert("src", "src").out, "Completed\n");
    EXPECT_EQ(snapshot(same / "src"), expected) << "destination is the source";
}

TEST(CliFolderRemoval, FirstFailureEndsTheJobAndRemovesItsOutput)
{
    Sandbox sandbox;
    for (const char* name : {"src/A", "src/B", "src/C"}) // listed before their sizes are chosen
        sandbox.write(name, "");
    const auto order = listing(sandbox / "src");
    for (int i = 0; i < 3; ++i)
        sandbox.write("src/" + order[i], mailbox(i == 1 ? 400 : 2)); // the second is larger than the limit
    sandbox.mkdir("dest");
    const RunResult result = sandbox.convert("src", "dest", {.fileSizeLimit = 8192});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out.rfind("Error: Could not write to \"" + sandbox / ("dest/" + order[1]) + "\": ", 0), 0u) << result.out;
    EXPECT_EQ(snapshot(sandbox / "dest"), (Entries{{order[0], mailbox(2)}})) << "the failed output removed, the third not started";
    EXPECT_EQ(result.err.find("Processing \"" + order[2] + "\""), std::string::npos);
    EXPECT_NE(result.err.find("\nLeft unconverted, the job stopped before them: " + order[2] + "\n"), std::string::npos) << result.err;
}

// The program is held at its first status line, just after it claimed its first
// output, and signalled there: the file under way is finished, no other begun, and
// the one left is named.
TEST(CliCancel, SignalStopsBetweenFiles)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        Sandbox sandbox;
        sandbox.write("src/A", mailbox(1));
        sandbox.write("src/B", mailbox(2));
        sandbox.mkdir("dest");
        const std::string first = listing(sandbox / "src")[0];
        const RunResult result = sandbox.convert("src", "dest", {.whileHeld = [&](pid_t pid) {
                                                     for (int i = 0; i < 30000 && std::filesystem::is_empty(sandbox / "dest"); ++i)
                                                         std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                                     ::kill(pid, signal);
                                                 }});
        EXPECT_EQ(result.exitCode, 130) << signal;
        EXPECT_EQ(result.out, "Canceled\n") << signal;
        EXPECT_EQ(snapshot(sandbox / "dest"), (Entries{{first, readFile(sandbox / ("src/" + first))}})) << signal;
        const std::string second = first == "A" ? "B" : "A";
        EXPECT_EQ(result.err,
                  "Processing \"" + first + "\"...\n" + first + " (messages: " + (first == "A" ? "1" : "2")
                      + ")\nMailboxes converted: 1, messages: " + (first == "A" ? "1" : "2")
                      + "\nLeft unconverted, the job stopped before them: " + second + "\nWritten:\n" + first + " -> " + first
                      + ": messages " + (first == "A" ? "1" : "2") + ", read 0, replied 0, forwarded 0, attachments 0\n")
            << signal;
    }
}

} // namespace
} // namespace tarnwick::test
