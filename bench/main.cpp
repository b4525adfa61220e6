// tarnwick-bench: generates the corpora (fixed seed) and times the reference tools and
// convertMbox on the same files in the same run. Absolute figures drift on a shared
// machine; the ratios to dd measured side by side are what to compare.
//
//   tarnwick-bench [--size-mib 64,512] [--dir /tmp/twbench] [--profile NAME|default|all]
//                  [--repeat 3] [--list]
//   tarnwick-bench --jobs [--size-mib 256] [--runs 5] [--cli PATH] [--generator PATH] [--dir DIR]
//   tarnwick-bench --memory [--cli PATH] [--dir DIR] [--only TEXT]
//   tarnwick-bench --tags [--dir DIR]
//
// --jobs times whole tarnwick-cli processes against dd, iconv and uconv on corpora made
// by bench/gen_corpus.py; --memory reports the peak resident set on extreme inputs.

#include "Corpus.h"
#include "ProcessJobs.h"
#include "TagWalk.h"
#include "Profiles.h"

#include "engine/mailbox/MboxConverter.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace tarnwick;
using namespace tarnwick::bench;

namespace {

struct Arguments {
    std::vector<std::uint64_t> sizesMiB = {64, 512};
    std::string dir = "/tmp/twbench";
    std::string profile = "default";
    int repeat = 3;
    bool jobs = false;
    bool memory = false;
    bool tags = false;
    ProcessBenchOptions process;
};

// tarnwick-cli of the same build tree.
std::string defaultCli()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "tarnwick-cli";
    std::string self(path, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/')) + "/../cli/tarnwick-cli";
}

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// User plus system time of this thread (the sampler thread's time is not counted).
double cpuTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::uint64_t fileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Flushes the file to disk (so that no write-back of it runs during the timings) and
// reads it once, so that every tool starts with it in the page cache.
void warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    std::ifstream in(path, std::ios::binary);
    static char chunk[1 << 20];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {}
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

struct Timing {
    double seconds = -1;   // wall clock; negative when the run failed
    double cpuSeconds = 0; // user + system
};

// One run of a shell command.
Timing timeCommand(const std::string& command)
{
    const double start = now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Timing timing;
    timing.seconds = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? now() - start : -1;
    timing.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return timing;
}

// kB values of /proc/self/status fields.
long statusField(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    }
    return -1;
}

struct OwnRun {
    double seconds = -1;
    long hwmKiB = 0;       // VmHWM: peak resident set, mapped input pages included
    long peakAnonKiB = 0;  // highest RssAnon sampled during the conversion
    long baseAnonKiB = 0;  // RssAnon before the conversion
    double cpuSeconds = 0; // user + system time of the conversion
    char error[256] = {};
};

// Runs convertMbox in a child, so that the memory figures are the conversion's own.
OwnRun timeConversion(const Profile& profile, const std::string& in, const std::string& out)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        OwnRun run;
        const ConversionOptions options = profile.options();
        const int created = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::close(created);
        run.baseAnonKiB = statusField("RssAnon");
        std::atomic<bool> done{false};
        std::atomic<long> peakAnon{run.baseAnonKiB};
        std::thread sampler([&] {
            while (!done.load()) {
                peakAnon = std::max(peakAnon.load(), statusField("RssAnon"));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        const double cpuStart = cpuTime();
        const double start = now();
        const ConversionResult result = convertMbox(in, out, options);
        const double elapsed = now() - start;
        run.cpuSeconds = cpuTime() - cpuStart;
        done = true;
        sampler.join();
        run.seconds = result.succeeded ? elapsed : -1;
        run.hwmKiB = statusField("VmHWM");
        run.peakAnonKiB = peakAnon;
        std::snprintf(run.error, sizeof run.error, "%s", result.errorText.c_str());
        (void)!::write(fds[1], &run, sizeof run);
        ::_exit(0);
    }
    ::close(fds[1]);
    OwnRun run;
    if (::read(fds[0], &run, sizeof run) != static_cast<ssize_t>(sizeof run))
        run.seconds = -1;
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return run;
}

bool parseArguments(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--list") {
            for (const Profile& profile : profiles())
                std::printf("%-18s %s%s\n", profile.name.c_str(), profile.description.c_str(), profile.runByDefault ? " (default)" : "");
            std::exit(0);
        }
        if (option == "--tags") {
            arguments.tags = true;
            continue;
        }
        if (option == "--jobs" || option == "--memory") {
            (option == "--jobs" ? arguments.jobs : arguments.memory) = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (option == "--size-mib") {
            arguments.sizesMiB.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');)
                arguments.sizesMiB.push_back(std::stoull(item));
        } else if (option == "--dir") {
            arguments.dir = value;
        } else if (option == "--profile") {
            arguments.profile = value;
        } else if (option == "--repeat") {
            arguments.repeat = std::max(1, std::stoi(value));
        } else if (option == "--runs") {
            arguments.process.runs = std::max(1, std::stoi(value));
        } else if (option == "--cli") {
            arguments.process.cli = value;
        } else if (option == "--generator") {
            arguments.process.generator = value;
        } else if (option == "--only") {
            arguments.process.only = value;
        } else {
            return false;
        }
    }
    return true;
}

// --jobs and --memory: whole tarnwick-cli processes.
int runProcessBench(Arguments& arguments)
{
    ProcessBenchOptions& process = arguments.process;
    process.dir = arguments.dir;
    if (process.cli.empty())
        process.cli = defaultCli();
    if (process.generator.empty())
        process.generator = TARNWICK_SOURCE_DIR "/bench/gen_corpus.py";
    if (arguments.sizesMiB.size() == 1)
        process.sizeMiB = arguments.sizesMiB.front();
    bool ok = true;
    if (arguments.jobs)
        ok &= runProcessJobs(process);
    if (arguments.memory)
        ok &= runMemoryJobs(process);
    return ok ? 0 : 1;
}

// The best runs of a profile's reference tools and of convertMbox, with the highest
// memory figures of our runs.
struct ProfileTimings {
    std::vector<Timing> best;
    OwnRun own;
    long hwm = 0;
    long anon = 0;
    bool ok = true;
};

// Repetitions interleave the tools, and each timed run starts with no dirty pages left
// by the one before, so that no tool pays for another's write-back.
ProfileTimings timeProfile(const Profile& profile, const std::string& in, const std::string& out, int repeat)
{
    const std::size_t toolCount = profile.references.size();
    ProfileTimings timings;
    timings.best.resize(toolCount);
    for (int r = 0; r < repeat; ++r) {
        for (std::size_t t = 0; t < toolCount; ++t) {
            const std::string command
                = replaceAll(replaceAll(profile.references[t].command, "{in}", "'" + in + "'"), "{out}", "'" + out + "'");
            ::unlink(out.c_str());
            ::sync();
            const Timing timing = timeCommand(command);
            if (timing.seconds > 0 && (timings.best[t].seconds < 0 || timing.seconds < timings.best[t].seconds))
                timings.best[t] = timing;
        }
        ::unlink(out.c_str());
        ::sync();
        const OwnRun run = timeConversion(profile, in, out);
        if (run.seconds < 0) {
            std::fprintf(stderr, "convertMbox failed: %s\n", run.error);
            timings.ok = false;
            continue;
        }
        timings.hwm = std::max(timings.hwm, run.hwmKiB);
        timings.anon = std::max(timings.anon, run.peakAnonKiB);
        if (timings.own.seconds < 0 || run.seconds < timings.own.seconds)
            timings.own = run;
    }
    ::unlink(out.c_str());
    return timings;
}

void printTimings(const Profile& profile, std::uint64_t bytes, const ProfileTimings& timings)
{
    const std::string size = std::to_string(bytes >> 20) + " MiB";
    double ddRate = 0;
    double ddCpuRate = 0;
    for (std::size_t t = 0; t < timings.best.size(); ++t) {
        const ReferenceTool& tool = profile.references[t];
        const Timing& best = timings.best[t];
        if (best.seconds < 0) {
            std::printf("%-16s %8s  %-18s %9s\n", profile.name.c_str(), size.c_str(), tool.label.c_str(), "n/a");
            continue;
        }
        const double rate = static_cast<double>(bytes) / best.seconds / 1e6;
        const double cpuRate = static_cast<double>(bytes) / best.cpuSeconds / 1e6;
        if (tool.label.rfind("dd", 0) == 0) {
            ddRate = rate;
            ddCpuRate = cpuRate;
        }
        std::printf("%-16s %8s  %-18s %9.0f %8.2f %9.0f %8.2f\n", profile.name.c_str(), size.c_str(), tool.label.c_str(), rate,
                    ddRate > 0 ? rate / ddRate : 0.0, cpuRate, ddCpuRate > 0 ? cpuRate / ddCpuRate : 0.0);
    }
    if (timings.own.seconds > 0) {
        const double rate = static_cast<double>(bytes) / timings.own.seconds / 1e6;
        const double cpuRate = static_cast<double>(bytes) / timings.own.cpuSeconds / 1e6;
        std::printf("%-16s %8s  %-18s %9.0f %8.2f %9.0f %8.2f %7.1f MiB %6.1f MiB\n", profile.name.c_str(), size.c_str(), "tarnwick", rate,
                    ddRate > 0 ? rate / ddRate : 0.0, cpuRate, ddCpuRate > 0 ? cpuRate / ddCpuRate : 0.0, timings.hwm / 1024.0,
                    timings.anon / 1024.0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    if (!parseArguments(argc, argv, arguments)) {
        std::fprintf(stderr,
                     "usage: %s [--size-mib 64,512] [--dir DIR] [--profile NAME|default|all] [--repeat N] [--list]\n"
                     "       %s --jobs [--size-mib 256] [--runs 5] [--cli PATH] [--generator PATH] [--dir DIR]\n"
                     "       %s --memory [--cli PATH] [--dir DIR] [--only TEXT]\n"
                     "       %s --tags [--dir DIR]\n",
                     argv[0], argv[0], argv[0], argv[0]);
        return 2;
    }
    if (arguments.tags)
        return runTagWalk(arguments.dir) ? 0 : 1;
    if (arguments.jobs || arguments.memory)
        return runProcessBench(arguments);
    ::mkdir(arguments.dir.c_str(), 0755);

    std::vector<const Profile*> chosen;
    for (const Profile& profile : profiles()) {
        if (arguments.profile == "all" || profile.name == arguments.profile || (arguments.profile == "default" && profile.runByDefault))
            chosen.push_back(&profile);
    }
    if (chosen.empty()) {
        std::fprintf(stderr, "no profile named %s (see --list)\n", arguments.profile.c_str());
        return 2;
    }

    // MB/s from wall-clock time, and from CPU time (user + system), which a busy machine
    // disturbs far less; "vs dd" is the ratio to dd measured in the same run.
    std::printf("%-16s %8s  %-18s %9s %8s %9s %8s %11s %10s\n", "profile", "size", "tool", "MB/s", "vs dd", "cpu MB/s", "vs dd", "peak RSS",
                "peak anon");
    bool allOk = true;
    for (std::uint64_t sizeMiB : arguments.sizesMiB) {
        for (const Profile* profile : chosen) {
            CorpusPlan plan{profile->lineEndings, profile->charset, sizeMiB << 20, 1};
            const std::string in = arguments.dir + "/" + corpusFileName(plan);
            if (fileSize(in) < plan.sizeBytes && !writeCorpus(in, plan)) {
                std::fprintf(stderr, "cannot write %s\n", in.c_str());
                return 1;
            }
            warm(in);
            const ProfileTimings timings = timeProfile(*profile, in, arguments.dir + "/output.tmp", arguments.repeat);
            allOk &= timings.ok;
            printTimings(*profile, fileSize(in), timings);
            std::fflush(stdout);
        }
    }
    return allOk ? 0 : 1;
}
