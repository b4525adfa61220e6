// Folder mode: the walk, byte names, the destination inside the source, removal of a
// failed output and cancellation between files.
#include "CliRunner.h"

#include <chrono>
#include <thread>

namespace tarnwick::test {
namespace {

RunResult convert(const Sandbox& sandbox, const std::string& source, const std::string& destination, const RunOptions& options = {})
{
    std::vector<std::string> args = kPlain;
    args.insert(args.end(), {sandbox / source, sandbox / destination});
    return sandbox.run(args, options);
}

TEST(CliFolderWalk, ConvertsEveryRegularFileFlatWithNamesAsBytes)
{
    Sandbox sandbox;
    const std::string folder = "Ordner\xe4", file = "Entw\xfc rfe\xff"; // not UTF-8
    const std::map<std::string, std::string> inputs = {
        {"In", mailbox(2)}, {"Sub/Out", mailbox(1, "\r\n")}, {"Sub/Deeper/Trash", mailbox(3, "\r")}, {".hidden", mailbox(4)},
        {folder + "/" + file, mailbox(5)}, {file, mailbox(6)}, {"Empty", ""}, {"notes.txt", "not a mailbox\n"}};
    for (const auto& [name, bytes] : inputs)
        sandbox.write("src/" + name, bytes);
    sandbox.write("dest/" + file, "keep");
    sandbox.mkdir("src/EmptyFolder");
    ::mkfifo((sandbox / "src/fifo").c_str(), 0644);
    ::symlink((sandbox / "src/In").c_str(), (sandbox / "src/LinkToIn").c_str());
    sandbox.write("elsewhere/Secret", mailbox(1));
    ::symlink((sandbox / "elsewhere").c_str(), (sandbox / "src/LinkToFolder").c_str());

    const RunResult result = convert(sandbox, "src", "dest");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Completed\n");
    std::map<std::string, std::string> outputs, expected = {{file, "keep"}, {file + "_2", mailbox(6)}};
    for (const auto& name : sandbox.list("dest"))
        outputs[name] = readFile(sandbox / ("dest/" + name));
    for (auto [name, bytes] : inputs) {
        EXPECT_NE(result.err.find("Processing \"" + name + "\"...\n"), std::string::npos) << name << " in " << result.err;
        std::replace(name.begin(), name.end(), '/', ':');
        if (!bytes.empty() && name != "notes.txt" && name != file)
            expected[name] = bytes;
    }
    EXPECT_EQ(outputs, expected);
    for (const char* name : {"Link", "Secret", "fifo"})
        EXPECT_EQ(result.err.find(name), std::string::npos) << "links and special files are passed over: " << result.err;
}

// The outputs of a job never become its inputs.
TEST(CliFolderWalk, DestinationInsideOrEqualToSource)
{
    Sandbox inside;
    for (const char* name : {"src/In", "src/Sub/Out", "src/converted/Old"})
        inside.write(name, mailbox(1));
    EXPECT_EQ(convert(inside, "src", "src/converted").out, "Completed\n");
    EXPECT_EQ(inside.list("src/converted"), (std::set<std::string>{"Old", "In", "Sub:Out"})) << "inside";

    // Long names fill the listing buffer quickly, so the folder is read in several
    // parts while the outputs appear in it.
    Sandbox same;
    std::set<std::string> expected;
    for (int i = 100; i < 300; ++i) {
        const std::string name = std::string(240, 'm') + std::to_string(i);
        same.write("src/" + name, mailbox(1));
        expected.insert({name, name + "_2"});
    }
    EXPECT_EQ(convert(same, "src", "src").out, "Completed\n");
    EXPECT_EQ(same.list("src"), expected) << "destination is the source";
}

TEST(CliFolderRemoval, FirstFailureEndsTheJobAndRemovesItsOutput)
{
    Sandbox sandbox;
    for (const char* name : {"src/A", "src/B", "src/C"}) // listed before their sizes are chosen
        sandbox.write(name, "");
    const auto order = listing(sandbox / "src");
    sandbox.write("src/" + order[0], mailbox(2));
    sandbox.write("src/" + order[1], mailbox(400)); // larger than the file size limit
    sandbox.write("src/" + order[2], mailbox(2));
    sandbox.mkdir("dest");
    const RunResult result = convert(sandbox, "src", "dest", {"", 8192, {}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out.rfind("Error: Could not write to \"" + sandbox / ("dest/" + order[1]) + "\": ", 0), 0u) << result.out;
    EXPECT_EQ(sandbox.list("dest"), std::set<std::string>{order[0]}) << "the failed output is removed, the third not started";
    EXPECT_EQ(result.err.find("Processing \"" + order[2] + "\""), std::string::npos);
}

// The program is held at its first status line, just after it claimed its first
// output, and signalled there: the file under way is finished and no other begun.
TEST(CliCancel, SignalStopsBetweenFiles)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        Sandbox sandbox;
        sandbox.write("src/A", mailbox(1));
        sandbox.write("src/B", mailbox(2));
        sandbox.mkdir("dest");
        const std::string first = listing(sandbox / "src")[0];
        RunOptions options;
        options.whileHeld = [&](pid_t pid) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (sandbox.list("dest").empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ::kill(pid, signal);
        };
        const RunResult result = convert(sandbox, "src", "dest", options);
        EXPECT_EQ(result.exitCode, 130) << signal;
        EXPECT_EQ(result.out, "Canceled\n") << signal;
        EXPECT_EQ(sandbox.list("dest"), std::set<std::string>{first}) << signal;
        EXPECT_EQ(readFile(sandbox / ("dest/" + first)), readFile(sandbox / ("src/" + first))) << signal;
        EXPECT_EQ(result.err, "Processing \"" + first + "\"...\n") << signal;
    }
}

} // namespace
} // namespace tarnwick::test
