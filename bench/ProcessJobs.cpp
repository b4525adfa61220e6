#include "ProcessJobs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::bench {
namespace {

struct Run {
    double wall = -1; // negative when the command failed
    double user = 0;
    double system = 0;
    long peakKiB = 0; // the child's peak resident set
};

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// One whole process through /bin/sh ("exec" so that the shell is not measured), with
// the settings home pointed at a scratch folder so that no saved option applies.
Run runCommand(const std::string& command, const std::string& home)
{
    const double start = now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        const std::string line = "exec " + command + " >/dev/null 2>&1";
        ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Run run;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.wall = now() - start;
    run.user = seconds(usage.ru_utime);
    run.system = seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    double wall = -1, user = 0, system = 0;
    long peakKiB = 0;
};

Summary summarize(const std::vector<Run>& runs)
{
    std::vector<double> wall, user, system;
    Summary s;
    for (const Run& run : runs) {
        if (run.wall < 0)
            return {};
        wall.push_back(run.wall);
        user.push_back(run.user);
        system.push_back(run.system);
        s.peakKiB = std::max(s.peakKiB, run.peakKiB);
    }
    s.wall = median(wall);
    s.user = median(user);
    s.system = median(system);
    return s;
}

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::uint64_t fileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Flushed to disk and read once: every command starts with the input in the page cache
// and no write-back of it pending.
void warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    ::fsync(fd);
    static char chunk[1 << 20];
    while (::read(fd, chunk, sizeof chunk) > 0) {}
    ::close(fd);
}

// Removes the previous output and lets the kernel write back what is dirty, so that no
// run pays for the write-back of the one before.
void freshOutput(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored); // a file, or a Maildir
    ::sync();
}

// The messages of a Maildir: the files in its cur/ folder.
std::uint64_t maildirMessages(const std::string& path)
{
    std::error_code error;
    std::uint64_t count = 0;
    for (std::filesystem::directory_iterator entry(path + "/cur", error), end; !error && entry != end; entry.increment(error))
        ++count;
    return count;
}

std::string corpus(const ProcessBenchOptions& options, const std::string& profile)
{
    const std::string path = options.dir + "/" + profile + "-" + std::to_string(options.sizeMiB) + "MiB-seed1.mbx";
    if (fileSize(path) >= (options.sizeMiB << 20))
        return path;
    std::fprintf(stderr, "generating %s\n", path.c_str());
    const std::string command = "python3 " + quoted(options.generator) + " --size-mb " + std::to_string(options.sizeMiB) + " --profile "
        + profile + " --seed 1 " + quoted(path + ".part") + " >/dev/null && mv " + quoted(path + ".part") + " " + quoted(path);
    if (std::system(command.c_str()) != 0)
        return {};
    return path;
}

struct Job {
    const char* label;
    const char* profile;
    const char* ours;      // tarnwick-cli options
    const char* reference; // a shell command with {in} and {out}; "tarnwick: OPTIONS" for another run of ours
    const char* referenceLabel;
    double target; // minimum ratio reference ÷ ours; 0 for none
};

constexpr const char* kStreamOptions = "--no-convert-encodings --crlf --complement-dates --add-empty-lines";
constexpr const char* kWindowsOptions
    = "--convert-encodings --eudora-tags --source-encoding windows-1252 --charsets 'us-ascii, iso-8859-1, utf-8' "
      "--crlf --complement-dates --add-empty-lines";

const Job kJobs[] = {
    {"stream pass (Mac)", "mac", kStreamOptions, "dd if={in} of={out} bs=1M", "dd bs=1M", 0.6},
    {"plain copy (Mac)", "mac", "--no-convert-encodings --no-crlf --no-complement-dates --no-add-empty-lines", "dd if={in} of={out} bs=1M",
     "dd bs=1M", 0},
    {"windows-1252 (Win)", "win", kWindowsOptions, "iconv -f WINDOWS-1252 -t UTF-8 {in} > {out}", "iconv", 1.5},
    {"Shift_JIS (Japanese)", "ja",
     "--convert-encodings --eudora-tags --source-encoding shift_jis --replace-nbsp --charsets 'iso-2022-jp, utf-8' "
     "--crlf --complement-dates --add-empty-lines",
     "uconv -i -c -f shift_jis -t iso-2022-jp {in} > {out}", "uconv", 2.0},
    // Within 20% of the explicit windows-1252 run: ratio at least 1 / 1.2.
    {"default options (Win)", "win", "", "tarnwick: " /* + kWindowsOptions */, "windows-1252 job", 1 / 1.2},
    // Every message a file of its own, made durable: messages per second against the mbox job.
    {"Maildir (Win)", "win",
     "--convert-encodings --eudora-tags --source-encoding windows-1252 "
     "--charsets 'us-ascii, iso-8859-1, utf-8' --no-crlf --complement-dates --format maildir",
     "tarnwick: " /* + kWindowsOptions */, "windows-1252 job", 0},
};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

bool runProcessJobs(const ProcessBenchOptions& options)
{
    const std::string home = options.dir + "/home";
    ::mkdir(options.dir.c_str(), 0755);
    ::mkdir(home.c_str(), 0755);
    if (!exists(options.cli)) {
        std::fprintf(stderr, "no tarnwick-cli at %s (give --cli)\n", options.cli.c_str());
        return false;
    }
    std::printf("whole processes, medians of %d alternating runs, %llu MiB corpora (gen_corpus.py, seed 1)\n", options.runs,
                static_cast<unsigned long long>(options.sizeMiB));
    std::printf("  %-22s %-18s %9s %9s %7s %7s %12s %12s\n", "job", "reference", "ours", "reference", "ratio", "target", "ours RSS",
                "ref RSS");
    bool allOk = true;
    for (const Job& job : kJobs) {
        const std::string in = corpus(options, job.profile);
        if (in.empty()) {
            std::fprintf(stderr, "cannot generate the %s corpus with %s\n", job.profile, options.generator.c_str());
            return false;
        }
        const std::string out = options.dir + "/job-output.mbox";
        const std::string ours = quoted(options.cli) + " " + job.ours + " " + quoted(in) + " " + quoted(out);
        std::string reference = job.reference;
        if (reference.rfind("tarnwick: ", 0) == 0)
            reference = quoted(options.cli) + " " + kWindowsOptions + " {in} {out}";
        reference = replaced(replaced(reference, "{in}", quoted(in)), "{out}", quoted(out));
        warm(in);

        const bool maildir = std::string_view(job.ours).find("maildir") != std::string_view::npos;
        std::uint64_t messages = 0; // written by our last run, into a Maildir
        std::vector<Run> ourRuns, referenceRuns;
        for (int r = 0; r < options.runs; ++r) {
            // Alternate which goes first, so that neither always meets the other's leftovers.
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (turn == 0) == (r % 2 == 0);
                freshOutput(out);
                (oursNow ? ourRuns : referenceRuns).push_back(runCommand(oursNow ? ours : reference, home));
                if (oursNow && maildir)
                    messages = maildirMessages(out);
            }
        }
        freshOutput(out);
        const Summary a = summarize(ourRuns);
        const Summary b = summarize(referenceRuns);
        if (a.wall < 0 || b.wall < 0) {
            std::printf("  %-22s %-18s failed: %s\n", job.label, job.referenceLabel, (a.wall < 0 ? ours : reference).c_str());
            allOk = false;
            continue;
        }
        const double ratio = b.wall / a.wall;
        char target[16] = "-";
        if (job.target > 0)
            std::snprintf(target, sizeof target, "%s%.2f", ratio >= job.target ? ">=" : "<", job.target);
        std::printf("  %-22s %-18s %7.3f s %7.3f s %7.2f %7s %8.1f MiB %8.1f MiB\n", job.label, job.referenceLabel, a.wall, b.wall, ratio,
                    target, a.peakKiB / 1024.0, b.peakKiB / 1024.0);
        // CPU time is disturbed far less than wall time by other work on the machine.
        std::printf("  %-22s %-18s cpu %.2f+%.2f s vs %.2f+%.2f s (user+sys), cpu ratio %.2f\n", "", "", a.user, a.system, b.user, b.system,
                    (b.user + b.system) / (a.user + a.system));
        // Our CPU time spread over every core is the least wall time this work can take
        // here: the ratio it would give is the most that better overlap alone can reach.
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const double ourCpu = a.user + a.system;
        std::printf("  %-22s %-18s cores used %.2f of %u; with all %u busy the ratio would be at most %.2f\n", "", "", ourCpu / a.wall,
                    cores, cores, ourCpu > 0 ? b.wall / (ourCpu / cores) : 0.0);
        if (messages > 0)
            std::printf("  %-22s %-18s %llu messages: %.0f messages/s into Maildir, %.0f messages/s into mbox\n", "", "",
                        static_cast<unsigned long long>(messages), messages / a.wall, messages / b.wall);
        std::fflush(stdout);
    }
    return allOk;
}

namespace {

struct MemoryJob {
    const char* label;
    const char* file;
    const char* head; // written first
    std::uint64_t size;
    const char* options;
    // Repeated after the head up to the size (the file is removed after its run);
    // none: the rest of the file is a hole (NUL bytes, no line break).
    const char* fill = nullptr;
    const char* tail = ""; // the last bytes, after the fill
};

// Shift_JIS text with a no-break space, half-width katakana and a lone '~'.
constexpr const char* kJapaneseLine = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67 text \xa0 \xb1\xb2 ~\r\n";
const MemoryJob kMemoryJobs[] = {
    {"5 GiB single line, stream", "single-line-5GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\n", std::uint64_t{5} << 30,
     kStreamOptions},
    {"2 GiB single message, conversion", "single-message-2GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\nSubject: large\n\n",
     std::uint64_t{2} << 30, kWindowsOptions},
    // Automatic source encoding (Windows-1252 text found), Eudora tags on.
    {"2 GiB message, default options", "latin1-message-2GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: large\r\n\r\n",
     std::uint64_t{2} << 30, "",
     "caf\xe9 cr\xe8me br\xfbl\xe9"
     "e, na\xefve r\xe9sum\xe9 \x80 10\r\n"},
    // Default options; an HTML mail of many tag blocks: 52M pieces, walked again on each pass.
    {"1 GiB message of 52M tag pieces", "tagged-message-1GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: large\r\n\r\n",
     std::uint64_t{1} << 30, "", "<x-html><b>caf\xe9</b> cr\xe8me</x-html> text\r\n"},
    // Default options; header fields with Latin-1 text and no empty line: all of it is
    // header, its fields encoded a field at a time.
    {"1 GiB header, default options", "header-1GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\n", std::uint64_t{1} << 30, "",
     "X-Note: caf\xe9 cr\xe8me (na\xefve) \"Zo\xeb\" <z@example.org>\r\nSubject: r\xe9sum\xe9 au lait\r\n"
     "X-Plain: ascii only\r\n"},
    // Default options; one Subject field of 1 GiB: encoded-words written as it goes by.
    {"1 GiB header field, default options", "header-field-1GiB.mbx",
     "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject:", std::uint64_t{1} << 30, "", " caf\xe9 au lait"},
    // Default options; one To field of 1 GiB with Japanese display names (33M of them),
    // then one quoted display name of 1 GiB: rewritten as they go by.
    {"1 GiB To field, Japanese names", "to-field-1GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\nTo:", std::uint64_t{1} << 30, "",
     " \"\xe5\xb1\xb1\xe7\x94\xb0 \xe5\xa4\xaa\xe9\x83\x8e\" <t@example.jp>,"},
    {"1 GiB quoted display name", "display-name-1GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\nTo: \"", std::uint64_t{1} << 30, "",
     "abcd\xe5\xb1\xb1\xe7\x94\xb0\xe5\xa4\xaa\xe9\x83\x8e"},
    // Default options (Eudora tags on): a multipart Content-Type field of 1 GiB, a
    // folded parameter list with Latin-1 text, which the tags replace, then a body
    // without a delimiter line; the field is read as it goes by.
    {"1 GiB Content-Type field, tags on", "content-type-1GiB.mbx",
     "From ???@??? Mon Jan 01 00:00:00 2001\r\nContent-Type: multipart/mixed; boundary=\"=_b\";", std::uint64_t{1} << 30, "",
     "\r\n x-p=caf\xe9;", "\r\n\r\n--=_c\r\nbody text\r\n"},
    {"2 GiB message, Shift_JIS to ISO-2022-JP", "sjis-message-2GiB.mbx", "From ???@??? Mon Jan 01 00:00:00 2001\r\nSubject: large\r\n\r\n",
     std::uint64_t{2} << 30,
     "--convert-encodings --eudora-tags --source-encoding shift_jis --replace-nbsp --charsets 'iso-2022-jp, utf-8' "
     "--crlf --complement-dates --add-empty-lines",
     kJapaneseLine},
};

// The input of a memory job: its head, its fill repeated up to its tail, or a hole.
bool makeMemoryInput(const std::string& in, const MemoryJob& job)
{
    std::ofstream file(in, std::ios::binary | std::ios::trunc);
    file << job.head;
    if (job.fill) {
        std::string block;
        while (block.size() < (std::size_t{1} << 20))
            block += job.fill;
        const std::uint64_t end = job.size - std::string_view(job.tail).size();
        for (std::uint64_t at = std::string_view(job.head).size(); file && at < end; at += block.size())
            file.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), end - at)));
        file << job.tail;
    }
    file.close();
    return file && ::truncate(in.c_str(), static_cast<off_t>(job.size)) == 0;
}

} // namespace

bool runMemoryJobs(const ProcessBenchOptions& options)
{
    const std::string home = options.dir + "/home";
    ::mkdir(options.dir.c_str(), 0755);
    ::mkdir(home.c_str(), 0755);
    constexpr long kBoundKiB = 64 * 1024;
    std::printf("peak resident set of extreme inputs (bound %ld MiB)\n", kBoundKiB / 1024);
    bool allOk = true;
    for (const MemoryJob& job : kMemoryJobs) {
        if (std::string_view(job.label).find(options.only) == std::string_view::npos)
            continue;
        const std::string in = options.dir + "/" + job.file;
        if (fileSize(in) != job.size && !makeMemoryInput(in, job)) {
            std::fprintf(stderr, "cannot make %s\n", in.c_str());
            return false;
        }
        const std::string out = options.dir + "/memory-output.mbox";
        freshOutput(out);
        const Run run = runCommand(quoted(options.cli) + " " + job.options + " " + quoted(in) + " " + quoted(out), home);
        const std::uint64_t written = fileSize(out);
        freshOutput(out);
        if (job.fill)
            ::unlink(in.c_str());
        const bool ok = run.wall >= 0 && run.peakKiB <= kBoundKiB;
        allOk &= ok;
        std::printf("  %-34s %7.2f s  peak RSS %7.1f MiB  output %llu bytes  %s\n", job.label, run.wall, run.peakKiB / 1024.0,
                    static_cast<unsigned long long>(written), run.wall < 0 ? "FAILED" : (ok ? "within bound" : "ABOVE BOUND"));
        std::fflush(stdout);
    }
    return allOk;
}

} // namespace tarnwick::bench
