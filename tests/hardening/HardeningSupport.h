#pragma once
// Helpers for the fault-injection tests: snapshots of whole trees (type, size and a
// checksum of every entry) to prove that nothing which existed before a job changed,
// the immutable-folder switch (which binds root too), in-process batch jobs with a
// hook on each status text, and tarnwick-cli runs that may overlap.

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

#include "batch/BatchJob.h"
#include "platform/FileSystem.h"
#include "batch/BatchReporter.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>

namespace tarnwick::hardening {

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

/// A mailbox of `count` messages, lines ended by `eol`; `tag` marks its subjects.
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

/// The names in a folder (bytes) in the order the file system lists them (the walk's).
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
    /// Called while the program runs, with its process id (it must not reap it).
    std::function<void(pid_t)> whileRunning;
    /// RLIMIT_FSIZE for the program (0: none); writes past it fail with EFBIG.
    rlim_t fileSizeLimit = 0;
    /// RLIMIT_AS for the program (0: none); allocations past it fail.
    rlim_t addressSpaceLimit = 0;
};

/// Sanitizer runtimes reserve far more address space than any sane limit allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif

/// A temporary folder for the inputs, the outputs, a home folder and an isolated user
/// settings folder; tarnwick-cli runs inside it.
class Sandbox {
public:
    Sandbox()
    {
        char pattern[] = "/tmp/tarnwick-hardening.XXXXXX";
        root_ = ::mkdtemp(pattern);
        mkdir("config");
        mkdir("home");
    }
    ~Sandbox()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    std::string operator/(const std::string& name) const { return root_ + "/" + name; }

    void write(const std::string& name, const std::string& bytes) const
    {
        const std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << bytes;
    }
    void mkdir(const std::string& name) const { std::filesystem::create_directories(*this / name); }

    std::set<std::string> list(const std::string& name) const
    {
        const std::vector<std::string> names = listingOrder(*this / name);
        return {names.begin(), names.end()};
    }

    /// Runs tarnwick-cli to its end.
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

private:
    std::string root_;
};



/// FNV-1a over a file's bytes, streamed; enough to tell any change of content.
inline std::uint64_t checksumFile(const std::string& path)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::vector<unsigned char> chunk(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            hash = (hash ^ chunk[static_cast<std::size_t>(i)]) * 0x100000001b3u;
    }
    ::close(fd);
    return hash;
}

struct EntryState {
    mode_t type = 0;
    std::uint64_t size = 0;
    std::uint64_t checksum = 0; // regular files: content; links: their target
    friend bool operator==(const EntryState&, const EntryState&) = default;
};

/// Every entry below `root` (links not followed), keyed by the relative byte path,
/// except the captured output streams of tarnwick-cli runs at the top.
inline std::map<std::string, EntryState> snapshotTree(const std::string& root)
{
    std::map<std::string, EntryState> entries;
    std::function<void(const std::string&)> walk = [&](const std::string& relative) {
        DIR* dir = ::opendir((root + relative).c_str());
        if (!dir)
            return;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            // The sandbox's own files: the runs' captured output streams.
            if (relative.empty() && (name.rfind("stdout", 0) == 0 || name.rfind("stderr", 0) == 0))
                continue;
            const std::string rel = relative + "/" + name;
            struct stat st {};
            if (::lstat((root + rel).c_str(), &st) != 0)
                continue;
            EntryState state;
            state.type = st.st_mode & S_IFMT;
            if (S_ISREG(st.st_mode)) {
                state.size = static_cast<std::uint64_t>(st.st_size);
                state.checksum = checksumFile(root + rel);
            } else if (S_ISLNK(st.st_mode)) {
                char target[4096];
                const ssize_t n = ::readlink((root + rel).c_str(), target, sizeof target);
                state.checksum = std::hash<std::string>()(std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0));
            }
            entries[rel] = state;
            if (S_ISDIR(st.st_mode))
                walk(rel);
        }
        ::closedir(dir);
    };
    walk("");
    return entries;
}

/// Fails the test for every entry of `before` that is missing or different in `after`.
inline void expectNothingLost(const std::map<std::string, EntryState>& before,
                              const std::map<std::string, EntryState>& after, const std::string& caseName)
{
    for (const auto& [path, state] : before) {
        const auto found = after.find(path);
        if (found == after.end())
            ADD_FAILURE() << caseName << ": " << path << " existed before the job and is gone";
        else if (!(found->second == state))
            ADD_FAILURE() << caseName << ": " << path << " existed before the job and changed";
    }
}

/// The entries of `after` that `before` did not have.
inline std::set<std::string> newEntries(const std::map<std::string, EntryState>& before,
                                        const std::map<std::string, EntryState>& after)
{
    std::set<std::string> added;
    for (const auto& [path, state] : after)
        if (!before.count(path))
            added.insert(path);
    return added;
}

/// Sets or clears the immutable attribute of a folder: no entry can then be created,
/// renamed or removed in it, whoever asks (root included); files inside stay writable.
/// Returns errno (0 on success).
inline int setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int flags = 0;
    int result = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    if (result == 0) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        result = ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    const int error = result == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

/// Clears the immutable attribute again however the test ends.
class ImmutableGuard {
public:
    explicit ImmutableGuard(std::string path) : path_(std::move(path)) {}
    ~ImmutableGuard() { setImmutable(path_, false); }

private:
    std::string path_;
};

/// Whether this file system and this process can make a folder immutable.
inline bool immutableFoldersWork(const Sandbox& box, std::string& reason)
{
    box.mkdir("probe");
    const int error = setImmutable(box / "probe", true);
    if (error != 0) {
        reason = std::string("cannot set the immutable attribute here: ") + std::strerror(error);
        return false;
    }
    const bool blocked = ::mkdir((box / "probe/x").c_str(), 0755) != 0;
    setImmutable(box / "probe", false);
    ::rmdir((box / "probe/x").c_str());
    ::rmdir((box / "probe").c_str());
    if (!blocked)
        reason = "the immutable attribute does not stop entries from being created here";
    return blocked;
}

/// A reporter that records the texts and runs a hook on each status text, in the job's
/// own thread, between the claim of the output and the conversion.
class HookReporter : public BatchReporter {
public:
    std::function<void(const std::string&)> onStatus;
    std::vector<std::string> statusTexts;
    std::string finalTextSeen;
    int finalCount = 0;

    void statusText(const std::string& text) override
    {
        statusTexts.push_back(text);
        if (onStatus)
            onStatus(text);
    }
    void finalText(const std::string& text) override
    {
        finalTextSeen = text;
        ++finalCount;
    }
};

/// Sets every option for an in-process job: no conversion at all, so outputs equal
/// inputs whose lines all end with LF.
inline void setJobSettings(const std::string& source, const std::string& destination)
{
    SettingsStore& store = SettingsStore::standard();
    store.setVolatile(keys::kSourcePath, SettingValue(source));
    store.setVolatile(keys::kDestinationPath, SettingValue(destination));
    for (const std::string_view key : {keys::kConvertEncodings, keys::kConvertLineEndings, keys::kComplementDateHeaders,
                                       keys::kAddEmptyLines, keys::kProcessEudoraTags})
        store.setVolatile(key, SettingValue(false));
}

/// Options that make tarnwick-cli copy LF mailboxes unchanged.
inline std::vector<std::string> identityOptions()
{
    return {"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines"};
}

/// The identity options followed by the operands.
inline std::vector<std::string> withIdentityOptions(const std::vector<std::string>& operands)
{
    std::vector<std::string> args = identityOptions();
    args.insert(args.end(), operands.begin(), operands.end());
    return args;
}

/// A tarnwick-cli process started without waiting, with its own output files.
struct Spawned {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

inline Spawned spawnCli(const Sandbox& box, const std::string& tag, const std::vector<std::string>& args,
                        const RunOptions& options = {})
{
    Spawned spawned {-1, box / ("stdout-" + tag + ".txt"), box / ("stderr-" + tag + ".txt")};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", (box / "config").c_str(), 1);
        ::setenv("HOME", (box / "home").c_str(), 1);
        ::setenv("LC_ALL", "C.UTF-8", 1);
        for (const auto& [name, value] : options.environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        const int out = ::open(spawned.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(spawned.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (options.fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit {options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.addressSpaceLimit) {
            const rlimit limit {options.addressSpaceLimit, options.addressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv {const_cast<char*>(TARNWICK_CLI_PATH)};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(TARNWICK_CLI_PATH, argv.data());
        ::_exit(127);
    }
    spawned.pid = pid;
    return spawned;
}

inline RunResult waitCli(const Spawned& spawned)
{
    int status = 0;
    ::waitpid(spawned.pid, &status, 0);
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(spawned.outPath);
    result.err = readFile(spawned.errPath);
    return result;
}

inline RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) const
{
    const Spawned spawned = spawnCli(*this, "run", args, options);
    if (options.whileRunning)
        options.whileRunning(spawned.pid);
    return waitCli(spawned);
}

/// Waits up to `limit` for the process to exit without reaping it; true when it did.
inline bool exitsWithin(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        siginfo_t info {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

/// Opens a FIFO for writing and closes it at once, so that a reader blocked in open
/// goes on and reads end-of-file.
inline void releaseFifoReader(const std::string& fifo)
{
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
}

} // namespace tarnwick::hardening
