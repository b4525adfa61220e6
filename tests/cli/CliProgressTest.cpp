// The progress line on a terminal: drawn on standard error when it is a terminal,
// redrawn in place, and taken away before every other line; never with --quiet, and
// never where standard error is a pipe, so that scripts read what they always read.
#include "CliRunner.h"

#include <pty.h>

#include <regex>

namespace tarnwick::test {
namespace {

// Runs tarnwick-cli with standard error (and input) on a pseudo-terminal 60 columns
// wide; standard output goes to a file. Returns what the terminal received.
RunResult runOnTerminal(const Sandbox& sandbox, std::vector<std::string> args)
{
    const std::string outPath = sandbox / "stdout.txt";
    args.insert(args.begin(), TARNWICK_CLI_PATH);
    int master = -1;
    winsize size{};
    size.ws_col = 60;
    size.ws_row = 24;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", (sandbox.root + "/config").c_str(), 1);
        ::setenv("HOME", (sandbox.root + "/home").c_str(), 1);
        ::setenv("LC_ALL", "C.UTF-8", 1);
        ::setenv("TERM", "xterm", 1);
        ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(TARNWICK_CLI_PATH, argv.data());
        ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    RunResult result;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) // EIO once the child has gone
        result.err.append(buffer, n);
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    return result;
}

TEST(CliProgress, DrawnInPlaceOnATerminalOnly)
{
    Sandbox sandbox;
    sandbox.write("src/A.mbx", mailbox(3));
    sandbox.write("src/B.mbx", mailbox(2000));
    sandbox.write("src/C.mbx", "not a mailbox\n");
    const std::vector<std::string> options = {"--no-toc", "--no-convert-encodings"};
    auto args = [&](const std::string& destination, bool quiet) {
        std::vector<std::string> all = options;
        if (quiet)
            all.push_back("--quiet");
        all.push_back(sandbox / "src");
        all.push_back(sandbox / destination);
        sandbox.mkdir(destination);
        return all;
    };

    const RunResult terminal = runOnTerminal(sandbox, args("tty", false));
    EXPECT_EQ(terminal.exitCode, 0);
    EXPECT_EQ(terminal.out, "Completed\n");
    const std::string& screen = terminal.err;
    EXPECT_TRUE(std::regex_search(screen, std::regex("\r[123] of 3 files, [0-9.]+ k?B of [0-9.]+ k?B \\([0-9]+%\\)\x1b\\[K"))) << screen;
    // Every other line starts at the left edge: the progress line was taken away first.
    for (const char* line : {"Processing \"B.mbx\"...", "tarnwick[", "Mailboxes converted: 2"}) {
        const std::size_t at = screen.find(line);
        ASSERT_NE(at, std::string::npos) << line << " in " << screen;
        EXPECT_TRUE(at == 0 || screen[at - 1] == '\n' || screen.compare(at - 4, 4, "\r\x1b[K") == 0) << line << " in " << screen;
    }
    EXPECT_TRUE(screen.ends_with("\n")) << "no progress left behind: " << screen;
    for (std::size_t at = 0; (at = screen.find('\r', at)) != std::string::npos; ++at) {
        const std::size_t end = screen.find_first_of("\r\n\x1b", at + 1);
        EXPECT_LT(end - at - 1, 60u) << "wider than the terminal";
    }

    const RunResult quiet = runOnTerminal(sandbox, args("quiet", true));
    EXPECT_EQ(quiet.out, "Completed\n");
    EXPECT_EQ(quiet.err.find("\x1b[K"), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find("of 3 files"), std::string::npos) << quiet.err;

    const RunResult piped = sandbox.run(args("pipe", false));
    EXPECT_EQ(piped.out, "Completed\n");
    EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find("of 3 files"), std::string::npos) << piped.err;
}

} // namespace
} // namespace tarnwick::test
