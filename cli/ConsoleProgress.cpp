#include "cli/ConsoleProgress.h"

#include "platform/Localization.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>

namespace tarnwick::cli {
namespace {

// "12.3 MB" in decimal units, as file managers count.
std::string sizeText(double bytes)
{
    const char* units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000 && unit < 4) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || bytes >= 100 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string durationText(double seconds)
{
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::size_t terminalWidth(std::FILE* stream)
{
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

std::string progressText(const JobProgress& progress, double rate, std::size_t width)
{
    std::string text;
    if (progress.files > 1)
        text = translate("%1 of %2 files", {std::to_string(progress.file), std::to_string(progress.files)});
    else if (progress.file > 0 && progress.files == 0)
        text = translate("file %1", {std::to_string(progress.file)});
    if (progress.bytes > 0) {
        if (!text.empty())
            text += ", ";
        const auto percent = static_cast<int>(100.0 * static_cast<double>(progress.bytesDone) / static_cast<double>(progress.bytes));
        text += translate(
            "%1 of %2 (%3%)",
            {sizeText(static_cast<double>(progress.bytesDone)), sizeText(static_cast<double>(progress.bytes)), std::to_string(percent)});
    }
    if (rate > 0) {
        text += ", " + sizeText(rate) + "/s";
        if (progress.bytes > progress.bytesDone)
            text += ", " + translate("%1 left", {durationText(static_cast<double>(progress.bytes - progress.bytesDone) / rate)});
    }
    // One column short of the width: a full line would wrap on some terminals.
    if (width > 0 && text.size() >= width)
        text.resize(width - 1);
    return text;
}

ConsoleProgress::ConsoleProgress(std::FILE* stream, bool shown) : stream_(stream), shown_(shown) {}

void ConsoleProgress::update(const JobProgress& progress)
{
    if (!shown_)
        return;
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    if (file_ == 0)
        started_ = now;
    if (progress.file != file_) {
        if (file_ != 0)
            bytesBefore_ += last_.bytes;
        file_ = progress.file;
    } else if (drawn_ && now - lastDraw_ < kInterval) {
        last_ = progress;
        return;
    }
    last_ = progress;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const std::uint64_t read = bytesBefore_ + progress.bytesDone;
    const double rate = seconds >= 1.0 && read > 0 ? static_cast<double>(read) / seconds : 0.0;
    const std::string text = progressText(progress, rate, terminalWidth(stream_));
    std::fputs("\r", stream_);
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fputs("\033[K", stream_);
    std::fflush(stream_);
    drawn_ = true;
}

void ConsoleProgress::clear()
{
    const std::lock_guard lock(mutex_);
    if (!drawn_)
        return;
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
    drawn_ = false;
}

void ConsoleProgress::writeLine(const std::string& line)
{
    const std::lock_guard lock(mutex_);
    if (drawn_)
        std::fputs("\r\033[K", stream_);
    drawn_ = false;
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

} // namespace tarnwick::cli
