#pragma once
// Runs the real tarnwick-cli in a sandbox folder holding inputs, outputs, a home and a settings folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

namespace tarnwick::test {

inline std::string readFile(const std::string& path)
{
    return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

/// What a shell command prints on standard output; expects it to succeed.
inline std::string commandOutput(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    std::string all;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        all.append(buffer, n);
    EXPECT_EQ(pipe ? ::pclose(pipe) : -1, 0) << command;
    return all;
}

/// The names in a folder (bytes) in the order the file system lists them.
inline std::vector<std::string> listing(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

using Entries = std::map<std::string, std::string>; // a file's bytes, "/" for a folder, "->target" for a link

/// Everything below `folder`, but the run's own output.
inline Entries snapshot(const std::string& folder)
{
    Entries entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().string().substr(folder.size() + 1);
        if (entry.is_symlink())
            entries[name] = "->" + std::filesystem::read_symlink(entry.path()).string();
        else if (name != "stdout.txt")
            entries[name] = entry.is_directory() ? "/" : readFile(entry.path());
    }
    return entries;
}

inline std::string mailbox(int count, const std::string& eol = "\n")
{
    std::string out;
    while (count-- > 0)
        out += "From ???@??? Tue Apr 03 10:15:22 2001" + eol + "Subject: x" + eol + eol + "Body" + eol + eol;
    return out;
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

struct RunOptions {
    rlim_t fileSizeLimit = 0;    // writes past it fail with EFBIG
    bool fileSizeSignal = false; // leaves SIGXFSZ at its default (the program must ignore it itself)
    rlim_t openFilesLimit = 0;   // RLIMIT_NOFILE
    /// Standard error: a pipe (read by the runner), closed, or a pipe nobody reads from (EPIPE).
    enum class StandardError { Pipe, Closed, Broken } standardError = StandardError::Pipe;
    std::optional<std::pair<uid_t, gid_t>> user = std::nullopt; // runs as this user (the runner must be root)
    /// When set, standard error is a full pipe: the program waits at its first status line until this returns.
    std::function<void(pid_t)> whileHeld = {};
};

struct Sandbox {
    std::string root = [] {
        char pattern[] = "/tmp/tarnwick-cli.XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();

    Sandbox()
    {
        mkdir("config");
        mkdir("home");
    }
    ~Sandbox()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string operator/(const std::string& name) const { return root + "/" + name; }
    void mkdir(const std::string& name) const { std::filesystem::create_directories(*this / name); }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories(std::filesystem::path(*this / name).parent_path());
        std::ofstream(*this / name, std::ios::binary) << bytes;
    }

    RunResult run(std::vector<std::string> args, const RunOptions& options = {}) const
    {
        const std::string outPath = root + "/stdout.txt";
        int err[2] = {-1, -1};
        EXPECT_EQ(::pipe(err), 0);
        if (options.whileHeld && ::fcntl(err[1], F_SETFL, O_NONBLOCK) == 0) {
            while (::write(err[1], std::string(4096, '#').data(), 4096) > 0) {}
            ::fcntl(err[1], F_SETFL, 0);
        }
        args.insert(args.begin(), TARNWICK_CLI_PATH);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
            ::setenv("HOME", (root + "/home").c_str(), 1);
            ::setenv("LC_ALL", "C.UTF-8", 1);
            ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            if (options.standardError == RunOptions::StandardError::Pipe) {
                ::dup2(err[1], 2);
            } else if (options.standardError == RunOptions::StandardError::Closed) {
                ::close(2);
            } else if (int broken[2]; ::pipe(broken) == 0) {
                ::dup2(broken[1], 2);
                ::close(broken[0]);
                ::close(broken[1]);
            }
            ::close(err[0]);
            ::close(err[1]);
            const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
            if (options.fileSizeLimit && (options.fileSizeSignal || ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR))
                ::setrlimit(RLIMIT_FSIZE, &limit);
            const rlimit files{options.openFilesLimit, options.openFilesLimit};
            if (options.openFilesLimit)
                ::setrlimit(RLIMIT_NOFILE, &files);
            if (options.user && (::setgroups(0, nullptr) != 0 || ::setgid(options.user->second) != 0 || ::setuid(options.user->first) != 0))
                ::_exit(126);
            std::vector<char*> argv;
            for (auto& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(TARNWICK_CLI_PATH, argv.data());
            ::_exit(127);
        }
        ::close(err[1]);
        if (options.whileHeld)
            options.whileHeld(pid);
        RunResult result;
        char buffer[4096];
        for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;)
            result.err.append(buffer, n);
        ::close(err[0]);
        result.err.erase(0, result.err.find_first_not_of('#'));
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = readFile(outPath);
        return result;
    }

    /// Converts with every conversion option off.
    RunResult convert(const std::string& source, const std::string& destination, const RunOptions& options = {}) const
    {
        const std::string from = source[0] == '~' ? source : *this / source;
        return run({"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines", from, *this / destination},
                   options);
    }
};

} // namespace tarnwick::test
