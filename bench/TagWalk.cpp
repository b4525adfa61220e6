#include "TagWalk.h"

#include "engine/mailbox/MboxConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace tarnwick::bench {
namespace {

constexpr double kTargetSeconds = 0.2; // for 80k lines
constexpr int kLineCounts[] = {5000, 10000, 20000, 40000, 80000};

double convertSeconds(const std::string& in, const std::string& out, bool& ok)
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.processEudoraTags = true;
    options.sourceEncoding = kEncodingISOLatin1;
    options.charsetNames = {"utf-8"};
    ::unlink(out.c_str());
    ::close(::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)); // the claim
    const auto start = std::chrono::steady_clock::now();
    const ConversionResult result = convertMbox(in, out, options);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    ok &= result.succeeded;
    ::unlink(out.c_str());
    return elapsed.count();
}

} // namespace

bool runTagWalk(const std::string& dir)
{
    ::mkdir(dir.c_str(), 0755);
    const std::string in = dir + "/tags.mbx", out = dir + "/tags.out";
    bool ok = true;
    std::printf("%-22s %8s %10s\n", "body", "lines", "seconds");
    for (const char* line : {"<x-html>unclosed\n", "<x-charset unclosed\n"}) {
        for (const int lines : kLineCounts) {
            {
                std::ofstream file(in, std::ios::binary | std::ios::trunc);
                file << "From a Tue Apr 03 10:15:22 2001\nSubject: tags\n\n";
                for (int i = 0; i < lines; ++i)
                    file << line;
            }
            const double seconds = convertSeconds(in, out, ok);
            const bool last = lines == kLineCounts[std::size(kLineCounts) - 1];
            std::printf("%-22.*s %8d %10.3f%s\n", static_cast<int>(std::string(line).size() - 1), line, lines, seconds,
                        last ? (seconds < kTargetSeconds ? "  (target < 0.2 s: met)" : "  (target < 0.2 s: MISSED)") : "");
            ok &= !last || seconds < kTargetSeconds;
        }
    }
    ::unlink(in.c_str());
    return ok;
}

} // namespace tarnwick::bench
