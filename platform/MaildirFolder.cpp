#include "platform/MaildirFolder.h"

#include "platform/OutputCalls.h"
#include "platform/OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

namespace tarnwick {
namespace {

constexpr const char* kParts[] = {"tmp", "new", "cur"};
constexpr std::string_view kKeywordsName = "dovecot-keywords";

// The host name as a Maildir name may hold it: "/" and ":" written as octal escapes.
std::string maildirHost()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    std::string host;
    for (const char* c = name; *c; ++c) {
        if (*c == '/')
            host += "\\057";
        else if (*c == ':')
            host += "\\072";
        else
            host += *c;
    }
    return host;
}

std::string randomToken()
{
    std::random_device device;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", device(), device());
    return text;
}

// Removes the regular files in `folder` whose names hold `mark`.
void removeMarked(const std::string& folder, std::string_view mark)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).find(mark) != std::string_view::npos)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

int MaildirFolder::create(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return EINVAL;
    if (::mkdir(path.c_str(), 0700) != 0)
        return errno;
    for (const char* part : kParts) {
        if (::mkdir((path + '/' + part).c_str(), 0700) != 0) {
            const int error = errno;
            for (const char* made : kParts)
                ::rmdir((path + '/' + made).c_str());
            ::rmdir(path.c_str());
            return error;
        }
    }
    path_ = path;
    token_ = "R" + randomToken() + "Q";
    host_ = maildirHost();
    return 0;
}

int MaildirFolder::completeRoot(const std::string& path)
{
    for (const char* part : kParts) {
        if (::mkdir((path + '/' + part).c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

bool MaildirFolder::fail(int error)
{
    error_ = error;
    return false;
}

bool MaildirFolder::writeFile(const std::string& path, std::string_view bytes, std::optional<std::int64_t> instant, bool durable)
{
    const OutputCalls& calls = outputCalls();
    const int fd = calls.openAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(errno);
    int error = 0;
    while (!bytes.empty()) {
        iovec vector{const_cast<char*>(bytes.data()), bytes.size()};
        const ssize_t written = calls.writev(fd, &vector, 1);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (error == 0 && durable && calls.fsync(fd) != 0)
        error = errno;
    if (error == 0 && instant) {
        const timespec times[2] = {{static_cast<time_t>(*instant), 0}, {static_cast<time_t>(*instant), 0}};
        ::futimens(fd, times); // a file time the system refuses leaves the message as it is
    }
    if (calls.close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(path.c_str());
        return fail(error);
    }
    return true;
}

bool MaildirFolder::deliver(std::string_view message, std::string_view flags, std::optional<std::int64_t> instant)
{
    if (stop_ && stop_->load())
        return fail(ECANCELED);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - seconds);
    const std::string base
        = std::to_string(seconds.count()) + ".M" + std::to_string(micros.count()) + "P" + std::to_string(::getpid()) + token_;
    const std::string size = ",S=" + std::to_string(message.size());
    std::string unique = base + std::to_string(counter_++) + "." + host_;
    if (!writeFile(path_ + "/tmp/" + unique, message, instant, false))
        return false;
    waiting_.push_back({std::move(unique), size + ":2," + std::string(flags)});
    waitingBytes_ += message.size();
    ++delivered_;
    if (waiting_.size() < kBatchMessages && waitingBytes_ < kBatchBytes)
        return true;
    return moveBatch();
}

bool MaildirFolder::moveBatch()
{
    if (waiting_.empty())
        return true;
    const int fd = ::open((path_ + "/tmp").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // Every file of the batch reaches the disk before any of them is given its final name.
    const bool synced = ::syncfs(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced)
        return fail(syncError);
    for (const Waiting& message : waiting_) {
        const std::string temporary = path_ + "/tmp/" + message.unique;
        // Never over an existing entry: a name that is taken after all gets a number more.
        for (int attempt = 0;; ++attempt) {
            const std::string final = path_ + "/cur/" + message.unique + (attempt == 0 ? "" : "_" + std::to_string(attempt)) + message.info;
            if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) == 0)
                break;
            const int error = errno;
            if (error != EEXIST || attempt == 100)
                return fail(error);
        }
    }
    waiting_.clear();
    waitingBytes_ = 0;
    return true;
}

bool MaildirFolder::writeKeywords(const std::vector<std::string>& keywords)
{
    std::string text;
    for (std::size_t i = 0; i < keywords.size(); ++i)
        text += std::to_string(i) + " " + keywords[i] + "\n";
    const std::string temporary = path_ + "/tmp/" + token_ + "keywords";
    if (!writeFile(temporary, text, std::nullopt, true))
        return false;
    const std::string final = path_ + "/" + std::string(kKeywordsName);
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return fail(error);
    }
    return true;
}

bool MaildirFolder::finish()
{
    if (!moveBatch())
        return false;
    const int fd = ::open((path_ + "/cur").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return synced || fail(error);
}

void MaildirFolder::discard()
{
    if (path_.empty())
        return;
    removeMarked(path_ + "/tmp", token_);
    removeMarked(path_ + "/cur", token_);
    ::unlink((path_ + "/" + std::string(kKeywordsName)).c_str());
    for (const char* part : kParts)
        ::rmdir((path_ + '/' + part).c_str());
    ::rmdir(path_.c_str());
    delivered_ = 0;
    waiting_.clear();
    waitingBytes_ = 0;
}

std::string MaildirFolder::errorText() const { return systemErrorText(error_); }

} // namespace tarnwick
