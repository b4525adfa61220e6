#pragma once
// Runs the real tarnwick-cli in a sandbox: a temporary folder that holds the inputs,
// the outputs, a home folder and an isolated user settings folder.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::test {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

/// A mailbox of `count` messages, lines ended by `eol`; every message has a Date.
inline std::string mailbox(int count, const std::string& eol = "\n", const std::string& tag = "")
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += "From ???@??? Tue Apr 03 10:15:22 2001" + eol;
        out += "From: Anna <anna@example.org>" + eol;
        out += "Subject: Message " + std::to_string(i) + tag + eol;
        out += "Date: Tue, 3 Apr 2001 10:14:51 +0200" + eol;
        out += eol;
        out += "Body line of message " + std::to_string(i) + "." + eol;
        out += eol;
    }
    return out;
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;

    /// The last line of standard output (the final text).
    std::string finalText() const
    {
        std::string text = out;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        const std::size_t newline = text.rfind('\n');
        return newline == std::string::npos ? text : text.substr(newline + 1);
    }
};

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> environment;
    /// Called while the program runs, with its process id.
    std::function<void(pid_t)> whileRunning;
    /// RLIMIT_FSIZE for the program (0: none); writes past it fail with EFBIG.
    rlim_t fileSizeLimit = 0;
};

class Sandbox {
public:
    Sandbox()
    {
        char pattern[] = "/tmp/tarnwick-cli.XXXXXX";
        root_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(root_ + "/config");
        std::filesystem::create_directories(root_ + "/home");
    }
    ~Sandbox()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::string& root() const { return root_; }
    std::string operator/(const std::string& name) const { return root_ + "/" + name; }
    std::string errPath() const { return root_ + "/stderr.txt"; }

    void write(const std::string& name, const std::string& bytes) const
    {
        const std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << bytes;
    }
    void mkdir(const std::string& name) const { std::filesystem::create_directories(*this / name); }

    /// The names in a folder (bytes), without "." and "..".
    std::set<std::string> list(const std::string& name) const
    {
        std::set<std::string> names;
        if (DIR* dir = ::opendir((*this / name).c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string n = entry->d_name;
                if (n != "." && n != "..")
                    names.insert(n);
            }
            ::closedir(dir);
        }
        return names;
    }

    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const
    {
        const std::string outPath = root_ + "/stdout.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
            ::setenv("HOME", (root_ + "/home").c_str(), 1);
            ::setenv("LC_ALL", "C.UTF-8", 1);
            for (const auto& [name, value] : options.environment)
                ::setenv(name.c_str(), value.c_str(), 1);
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            if (options.fileSizeLimit) {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(TARNWICK_CLI_PATH));
            for (const auto& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(TARNWICK_CLI_PATH, argv.data());
            ::_exit(127);
        }
        if (options.whileRunning)
            options.whileRunning(pid);
        int status = 0;
        ::waitpid(pid, &status, 0);
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = readFile(outPath);
        result.err = readFile(errPath());
        return result;
    }

private:
    std::string root_;
};

/// The order in which the file system lists `names` in `folder` (the walk's order).
inline std::vector<std::string> listingOrder(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string n = entry->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        ::closedir(dir);
    }
    return names;
}

} // namespace tarnwick::test
