#pragma once
// What the fault-injection tests need on top of the tarnwick-cli runner: tree snapshots that
// never open a FIFO, the immutable-folder switch (binds root too) and a watchdog for runs that may block.
#include "cli/CliRunner.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <thread>

namespace tarnwick::hardening {
using namespace tarnwick::test;
namespace fs = std::filesystem;

/// The identity options (every conversion off), then `operands`.
inline std::vector<std::string> withOptions(const std::vector<std::string>& operands)
{
    std::vector<std::string> args = {"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines"};
    args.insert(args.end(), operands.begin(), operands.end());
    return args;
}

/// Every entry below `root` but the runner's stdout.txt: a file's bytes, "/" for a folder,
/// "->target" for a link, "|" for anything else (never opened: it may be a FIFO).
inline Entries tree(const std::string& root)
{
    Entries entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().string().substr(root.size() + 1);
        if (entry.is_symlink())
            entries[name] = "->" + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            entries[name] = "/";
        else if (name != "stdout.txt")
            entries[name] = entry.is_regular_file() ? readFile(entry.path()) : "|";
    }
    return entries;
}

/// Fails for every entry of `before` that is gone or changed below `root`.
inline void expectKept(const Entries& before, const std::string& root, const std::string& caseName)
{
    const Entries after = tree(root);
    for (const auto& [name, bytes] : before) {
        const auto found = after.find(name);
        EXPECT_TRUE(found != after.end() && found->second == bytes) << caseName << ": " << name << " was lost or changed";
    }
}

/// Sets or clears a folder's immutable attribute (chattr +i); returns errno, 0 on success.
inline int setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0, error = fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ? errno : 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    error = error != 0 ? error : ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0 ? errno : 0;
    ::close(fd);
    return error;
}

/// Why an immutable folder cannot be had here, or "" when it works (it must stop creation).
inline std::string immutableUnsupported(const Sandbox& box)
{
    box.mkdir("probe");
    if (const int error = setImmutable(box / "probe", true))
        return std::string("cannot set the immutable attribute here: ") + std::strerror(error);
    const bool blocked = ::mkdir((box / "probe/x").c_str(), 0755) != 0;
    setImmutable(box / "probe", false);
    fs::remove_all(box / "probe");
    return blocked ? "" : "the immutable attribute does not stop entries from being created here";
}

/// Opens a FIFO for writing and closes it, so that a reader blocked in open reads end-of-file.
inline void releaseFifoReader(const std::string& fifo)
{
    if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
        ::close(fd);
}

/// After 5 s, calls `unstick` every 50 ms until stop(); stop() tells whether it had to.
class Watchdog {
public:
    explicit Watchdog(std::function<void()> unstick)
        : thread_([this, unstick](std::stop_token stop) {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              for (auto limit = std::chrono::milliseconds(5000); !wake.wait_for(lock, stop, limit, [&] { return stop.stop_requested(); });
                   limit = std::chrono::milliseconds(50)) {
                  fired_ = true;
                  unstick();
              }
          })
    {}
    bool stop()
    {
        thread_.request_stop();
        thread_.join();
        return fired_;
    }

private:
    std::atomic<bool> fired_ = false;
    std::jthread thread_;
};

} // namespace tarnwick::hardening
