// Folder mode: the walk, flattened and numbered names, removals, the destination
// inside the source, byte names and cancellation.
#include "CliRunner.h"

#include <chrono>
#include <thread>

namespace tarnwick::test {
namespace {

const std::vector<std::string> kPlain = {"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines"};

RunResult convert(const Sandbox& sandbox, const std::string& source, const std::string& destination, const RunOptions& options = {})
{
    std::vector<std::string> args = kPlain;
    args.push_back(sandbox / source);
    args.push_back(sandbox / destination);
    return sandbox.run(args, options);
}

TEST(CliFolderWalk, ConvertsEveryRegularFileFlat)
{
    Sandbox sandbox;
    sandbox.write("src/In", mailbox(2));
    sandbox.write("src/Sub/Out", mailbox(1, "\r\n"));
    sandbox.write("src/Sub/Deeper/Trash", mailbox(3, "\r"));
    sandbox.write("src/.hidden", mailbox(1));
    sandbox.write("src/Empty", "");
    sandbox.write("src/notes.txt", "not a mailbox\n");
    sandbox.mkdir("src/EmptyFolder");
    ::symlink((sandbox / "src/In").c_str(), (sandbox / "src/LinkToIn").c_str());
    sandbox.write("elsewhere/Secret", mailbox(1));
    ::symlink((sandbox / "elsewhere").c_str(), (sandbox / "src/LinkToFolder").c_str());
    sandbox.mkdir("dest");

    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.finalText(), "Completed");
    EXPECT_EQ(result.out, "Completed\n") << "the final text is the only line on standard output";
    const std::set<std::string> expected = {"In", "Sub:Out", "Sub:Deeper:Trash", ".hidden"};
    EXPECT_EQ(sandbox.list("dest"), expected);
    EXPECT_EQ(readFile(sandbox / "dest/In"), mailbox(2));
    EXPECT_EQ(readFile(sandbox / "dest/Sub:Out"), mailbox(1, "\r\n"));
    EXPECT_EQ(readFile(sandbox / "dest/Sub:Deeper:Trash"), mailbox(3, "\r"));
    for (const char* status : {"Processing \"In\"...\n", "Processing \"Sub/Out\"...\n", "Processing \"Sub/Deeper/Trash\"...\n",
             "Processing \"Empty\"...\n", "Processing \"notes.txt\"...\n"})
        EXPECT_NE(result.err.find(status), std::string::npos) << status << " in " << result.err;
    EXPECT_EQ(result.err.find("Link"), std::string::npos) << "links are passed over without a message";
    EXPECT_EQ(result.err.find("Secret"), std::string::npos) << "a linked folder is not entered";
}

TEST(CliFolderWalk, EmptySourceFolderCompletesWithNothing)
{
    Sandbox sandbox;
    sandbox.mkdir("src");
    sandbox.mkdir("dest");
    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.finalText(), "Completed");
    EXPECT_TRUE(sandbox.list("dest").empty());
}

TEST(CliFolderWalk, NamesAreBytesEndToEnd)
{
    Sandbox sandbox;
    const std::string folder = "Ordner\xe4";       // Latin-1, not UTF-8
    const std::string file = "Entw\xfc rfe\xff";   // invalid UTF-8
    sandbox.write("src/" + folder + "/" + file, mailbox(1));
    sandbox.write("src/" + file, mailbox(2));
    sandbox.write("dest/" + file, "keep");
    sandbox.mkdir("dest");
    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.finalText(), "Completed");
    const std::set<std::string> expected = {file, file + "_2", folder + ":" + file};
    EXPECT_EQ(sandbox.list("dest"), expected);
    EXPECT_EQ(readFile(sandbox / ("dest/" + folder + ":" + file)), mailbox(1));
    EXPECT_EQ(readFile(sandbox / ("dest/" + file + "_2")), mailbox(2));
    EXPECT_NE(result.err.find("Processing \"" + folder + "/" + file + "\"..."), std::string::npos);
}

TEST(CliFolderNaming, TakenNamesAreNumbered)
{
    Sandbox sandbox;
    sandbox.write("src/In", mailbox(1));
    sandbox.write("src/Inbox.mbx", mailbox(1));
    sandbox.write("src/Sub/In", mailbox(1));
    sandbox.write("dest/In", "keep");
    sandbox.write("dest/In_3", "keep");
    sandbox.write("dest/Inbox.mbx", "keep");
    sandbox.write("dest/Sub:In", "keep");
    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.finalText(), "Completed");
    const std::set<std::string> expected = {"In", "In_2", "In_3", "Inbox.mbx", "Inbox_2.mbx", "Sub:In", "Sub:In_2"};
    EXPECT_EQ(sandbox.list("dest"), expected);
    for (const char* kept : {"In", "In_3", "Inbox.mbx", "Sub:In"})
        EXPECT_EQ(readFile(sandbox / (std::string("dest/") + kept)), "keep") << kept;
}

// The outputs of a job never become its inputs.
TEST(CliFolderWalk, DestinationInsideOrEqualToSource)
{
    {
        SCOPED_TRACE("destination inside the source");
        Sandbox sandbox;
        sandbox.write("src/In", mailbox(1));
        sandbox.write("src/Sub/Out", mailbox(1));
        sandbox.write("src/converted/Old", mailbox(1));
        const RunResult result = convert(sandbox, "src", "src/converted");
        EXPECT_EQ(result.finalText(), "Completed");
        const std::set<std::string> expected = {"Old", "In", "Sub:Out"};
        EXPECT_EQ(sandbox.list("src/converted"), expected);
        EXPECT_EQ(result.err.find("converted/"), std::string::npos) << result.err;
    }
    {
        SCOPED_TRACE("destination is the source");
        // Enough entries that the folder is listed in several reads while outputs appear in it.
        const int kCount = 3000;
        Sandbox sandbox;
        for (int i = 0; i < kCount; ++i)
            sandbox.write("src/M" + std::to_string(i), mailbox(1));
        const RunResult result = convert(sandbox, "src", "src");
        EXPECT_EQ(result.finalText(), "Completed");
        std::set<std::string> expected;
        for (int i = 0; i < kCount; ++i) {
            expected.insert("M" + std::to_string(i));
            expected.insert("M" + std::to_string(i) + "_2");
        }
        EXPECT_EQ(sandbox.list("src"), expected);
    }
}

TEST(CliFolderRemoval, FirstFailureEndsTheJobAndRemovesItsOutput)
{
    Sandbox sandbox;
    // Created empty first so that the listing order is known before the sizes are.
    sandbox.write("src/A", "");
    sandbox.write("src/B", "");
    sandbox.write("src/C", "");
    const auto order = listingOrder(sandbox / "src");
    ASSERT_EQ(order.size(), 3u);
    sandbox.write("src/" + order[0], mailbox(2));
    sandbox.write("src/" + order[1], mailbox(400)); // larger than the file size limit
    sandbox.write("src/" + order[2], mailbox(2));
    sandbox.mkdir("dest");
    RunOptions options;
    options.fileSizeLimit = 8192;
    const RunResult result = convert(sandbox, "src", "dest", options);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.finalText().rfind("Error: Could not write to \"" + sandbox / ("dest/" + order[1]) + "\": ", 0), 0u) << result.out;
    const std::set<std::string> expected = {order[0]};
    EXPECT_EQ(sandbox.list("dest"), expected) << "the first output stays, the failed one is removed, the third is not started";
    EXPECT_EQ(result.err.find("Processing \"" + order[2] + "\""), std::string::npos);
}

TEST(CliFolderRemoval, NoNameForAnEntryEndsTheJob)
{
    Sandbox sandbox;
    const std::string longName(254, 'm');
    sandbox.write("src/" + longName, mailbox(1));
    sandbox.write("dest/" + longName, "keep");
    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.finalText(), "Error: Could not create \"" + sandbox / ("dest/" + longName) + "\"");
}

// Waits until standard error holds `text`, then sends `signal`.
std::function<void(pid_t)> signalWhen(const Sandbox& sandbox, std::string text, int signal)
{
    return [&sandbox, text, signal](pid_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (readFile(sandbox.errPath()).find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ::kill(pid, signal);
    };
}

std::string largeMailbox(std::size_t bytes)
{
    const std::string block = mailbox(64);
    std::string out;
    out.reserve(bytes + block.size());
    while (out.size() < bytes)
        out += block;
    return out;
}

TEST(CliCancel, SignalStopsBetweenFilesAfterTheCurrentOne)
{
    Sandbox sandbox;
    sandbox.write("src/A", "");
    sandbox.write("src/B", "");
    const auto order = listingOrder(sandbox / "src");
    ASSERT_EQ(order.size(), 2u);
    const std::string large = largeMailbox(128u << 20);
    sandbox.write("src/" + order[0], large);
    sandbox.write("src/" + order[1], mailbox(1));
    sandbox.mkdir("dest");
    RunOptions options;
    options.whileRunning = signalWhen(sandbox, "Processing \"" + order[0] + "\"...", SIGINT);
    const RunResult result = convert(sandbox, "src", "dest", options);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.finalText(), "Canceled");
    const std::set<std::string> expected = {order[0]};
    EXPECT_EQ(sandbox.list("dest"), expected) << "the second file is not started";
    EXPECT_TRUE(readFile(sandbox / ("dest/" + order[0])) == large) << "the file under way is finished";
}

TEST(CliCancel, SingleFileRunsToItsEnd)
{
    Sandbox sandbox;
    const std::string large = largeMailbox(32u << 20);
    sandbox.write("In", large);
    sandbox.mkdir("dest");
    RunOptions options;
    options.whileRunning = signalWhen(sandbox, "Processing \"In\"...", SIGTERM);
    const RunResult result = convert(sandbox, "In", "dest", options);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.finalText(), "Canceled");
    EXPECT_TRUE(readFile(sandbox / "dest/In") == large);
}

TEST(CliSample, BundledSampleConverts)
{
    Sandbox sandbox;
    sandbox.mkdir("dest");
    const RunResult result = sandbox.run({std::string(TARNWICK_SOURCE_DIR) + "/resources/samples/Eudora", sandbox / "dest"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.finalText(), "Completed");
    const std::set<std::string> expected = {"In.mbx", "Out.mbx", "Family:Holidays.mbx"};
    EXPECT_EQ(sandbox.list("dest"), expected) << "the empty mailbox and the folder description leave nothing";
    const std::string in = readFile(sandbox / "dest/In.mbx");
    EXPECT_EQ(in.rfind("From ???@??? Tue Apr 03 10:15:22 2001\r\n", 0), 0u);
    EXPECT_EQ(in.find("<x-flowed>"), std::string::npos) << "tags are processed by default";
}

} // namespace
} // namespace tarnwick::test
