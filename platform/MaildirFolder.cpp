#include "platform/MaildirFolder.h"

#include "platform/FolderHandle.h"

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
#include <utility>

namespace tarnwick {
namespace {

constexpr const char* kParts[] = {"tmp", "new", "cur"};
constexpr const char* kKeywordsName = "dovecot-keywords";

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

// Removes the regular files in the held folder `folderFd` whose names hold `mark`.
void removeMarked(int folderFd, std::string_view mark)
{
    const int fd = folderFd < 0 ? -1 : ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).find(mark) != std::string_view::npos)
            ::unlinkat(folderFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

int openFolderAt(int parent, const char* name) { return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }

} // namespace

MaildirFolder::~MaildirFolder()
{
    if (messageFd_ >= 0) {
        ::close(messageFd_);
        ::unlinkat(tmpFd_, messageName_.c_str(), 0);
    }
    closeFolders();
}

void MaildirFolder::closeFolders()
{
    for (int* fd : {&folderFd_, &tmpFd_, &curFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

int MaildirFolder::create(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return EINVAL;
    return createAt(AT_FDCWD, path, path);
}

int MaildirFolder::create(std::shared_ptr<const FolderHandle> parent, const std::string& name)
{
    if (name.find('\0') != std::string::npos || name.find('/') != std::string::npos)
        return EINVAL;
    const int error = createAt(parent->descriptor(), name, parent->pathOf(name));
    if (error == 0) {
        parent_ = std::move(parent);
        name_ = name;
    }
    return error;
}

int MaildirFolder::createAt(int parentFd, const std::string& name, const std::string& path)
{
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0)
        return errno;
    folderFd_ = openFolderAt(parentFd, name.c_str());
    int error = folderFd_ < 0 ? errno : 0;
    for (const char* part : kParts) {
        if (error == 0 && ::mkdirat(folderFd_, part, 0700) != 0)
            error = errno;
    }
    if (error == 0) {
        tmpFd_ = openFolderAt(folderFd_, "tmp");
        curFd_ = tmpFd_ < 0 ? -1 : openFolderAt(folderFd_, "cur");
        error = curFd_ < 0 ? errno : 0;
    }
    if (error != 0) {
        if (folderFd_ >= 0) {
            for (const char* made : kParts)
                ::unlinkat(folderFd_, made, AT_REMOVEDIR);
        }
        closeFolders();
        ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
        return error;
    }
    path_ = path;
    token_ = "R" + randomToken() + "Q";
    host_ = maildirHost();
    return 0;
}

void MaildirFolder::placeLater(std::shared_ptr<const FolderHandle> parent, std::function<std::string(int)> nameFor)
{
    placeIn_ = std::move(parent);
    placeName_ = std::move(nameFor);
}

int MaildirFolder::place()
{
    if (!placeIn_ || !parent_)
        return 0;
    for (int number = 1;; ++number) {
        const std::string name = placeName_(number);
        if (name.empty())
            return EEXIST; // every name it may have is taken
        if (::renameat2(parent_->descriptor(), name_.c_str(), placeIn_->descriptor(), name.c_str(), RENAME_NOREPLACE) == 0) {
            ::fsync(placeIn_->descriptor()); // the new name reaches the disk with the messages
            path_ = placeIn_->pathOf(name);
            parent_ = std::move(placeIn_);
            name_ = name;
            placeIn_ = nullptr;
            return 0;
        }
        if (errno != EEXIST || number > 1000)
            return errno;
    }
}

std::string MaildirFolder::placePath() const { return placeIn_ && placeName_ ? placeIn_->pathOf(placeName_(1)) : path_; }

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

bool MaildirFolder::failMessage(int error)
{
    if (messageFd_ >= 0) {
        outputCalls().close(messageFd_);
        messageFd_ = -1;
        ::unlinkat(tmpFd_, messageName_.c_str(), 0);
    }
    return fail(error);
}

bool MaildirFolder::writeAll(int fd, std::string_view bytes)
{
    const OutputCalls& calls = outputCalls();
    while (!bytes.empty()) {
        iovec vector{const_cast<char*>(bytes.data()), bytes.size()};
        const ssize_t written = calls.writev(fd, &vector, 1);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return fail(written < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool MaildirFolder::deliver(std::string_view message, std::string_view flags, std::optional<std::int64_t> instant)
{
    return begin() && append(message) && end(flags, instant);
}

bool MaildirFolder::begin()
{
    if (stop_ && stop_->load())
        return fail(ECANCELED);
    if (tmpFd_ < 0)
        return fail(EBADF);
    messageSize_ = 0;
    held_.clear();
    // A receiver takes a small message from memory: its file is made only if it grows.
    return receiver_ || openMessageFile();
}

bool MaildirFolder::openMessageFile()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - seconds);
    messageName_ = std::to_string(seconds.count()) + ".M" + std::to_string(micros.count()) + "P" + std::to_string(::getpid()) + token_
        + std::to_string(counter_++) + "." + host_;
    messageFd_ = outputCalls().openAt(tmpFd_, messageName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return messageFd_ >= 0 || fail(errno);
}

bool MaildirFolder::append(std::string_view bytes)
{
    if (stop_ && stop_->load())
        return failMessage(ECANCELED);
    messageSize_ += bytes.size();
    if (messageFd_ < 0 && receiver_) {
        if (held_.size() + bytes.size() <= kHeldBytes) {
            held_.append(bytes);
            return true;
        }
        if (!openMessageFile() || !writeAll(messageFd_, std::exchange(held_, std::string())))
            return failMessage(error_);
    }
    if (!writeAll(messageFd_, bytes))
        return failMessage(error_);
    return true;
}

bool MaildirFolder::end(std::string_view flags, std::optional<std::int64_t> instant, const std::vector<std::string>& keywordNames)
{
    if (receiver_)
        return handOver(flags, instant, keywordNames);
    if (instant) {
        const timespec times[2] = {{static_cast<time_t>(*instant), 0}, {static_cast<time_t>(*instant), 0}};
        ::futimens(messageFd_, times); // a file time the system refuses leaves the message as it is
    }
    if (!closeMessageFile())
        return false;
    waiting_.push_back({std::move(messageName_), ",S=" + std::to_string(messageSize_) + ":2," + std::string(flags)});
    waitingBytes_ += messageSize_;
    ++delivered_;
    if (waiting_.size() < kBatchMessages && waitingBytes_ < kBatchBytes)
        return true;
    return moveBatch();
}

bool MaildirFolder::closeMessageFile()
{
    const int closed = outputCalls().close(messageFd_);
    messageFd_ = -1;
    if (closed == 0)
        return true;
    const int error = errno;
    ::unlinkat(tmpFd_, messageName_.c_str(), 0);
    return fail(error);
}

bool MaildirFolder::handOver(std::string_view flags, std::optional<std::int64_t> instant, const std::vector<std::string>& keywordNames)
{
    ReceivedMessage message{std::move(held_), {}, std::string(flags), keywordNames, instant};
    held_.clear();
    if (messageFd_ >= 0) {
        if (!closeMessageFile())
            return false;
        message.spoolPath = path_ + "/tmp/" + messageName_;
    }
    if (const int error = receiver_->receive(std::move(message)); error != 0)
        return fail(error); // a spooled file is the receiver's, taken or not
    ++delivered_;
    return true;
}

bool MaildirFolder::moveBatch()
{
    if (waiting_.empty())
        return true;
    // Every file of the batch reaches the disk before any of them is given its final name.
    if (::syncfs(tmpFd_) != 0)
        return fail(errno);
    for (const Waiting& message : waiting_) {
        // Never over an existing entry: a name that is taken after all gets a number more.
        for (int attempt = 0;; ++attempt) {
            const std::string final = message.unique + (attempt == 0 ? "" : "_" + std::to_string(attempt)) + message.info;
            if (::renameat2(tmpFd_, message.unique.c_str(), curFd_, final.c_str(), RENAME_NOREPLACE) == 0)
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
    const std::string temporary = token_ + "keywords";
    const OutputCalls& calls = outputCalls();
    const int fd = calls.openAt(tmpFd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(errno);
    bool written = writeAll(fd, text);
    if (written && calls.fsync(fd) != 0)
        written = fail(errno);
    if (calls.close(fd) != 0 && written)
        written = fail(errno);
    if (written && ::renameat2(tmpFd_, temporary.c_str(), folderFd_, kKeywordsName, RENAME_NOREPLACE) != 0)
        written = fail(errno);
    if (!written)
        ::unlinkat(tmpFd_, temporary.c_str(), 0);
    return written;
}

bool MaildirFolder::finish()
{
    if (!moveBatch())
        return false;
    if (receiver_)
        receiver_->finished();
    return ::fsync(curFd_) == 0 || fail(errno);
}

void MaildirFolder::discard()
{
    if (path_.empty())
        return;
    if (messageFd_ >= 0)
        failMessage(error_);
    if (receiver_)
        receiver_->discarded();
    removeMarked(tmpFd_, token_);
    removeMarked(curFd_, token_);
    ::unlinkat(folderFd_, kKeywordsName, 0);
    for (const char* part : kParts)
        ::unlinkat(folderFd_, part, AT_REMOVEDIR);
    closeFolders();
    if (parent_)
        ::unlinkat(parent_->descriptor(), name_.c_str(), AT_REMOVEDIR);
    else
        ::rmdir(path_.c_str());
    delivered_ = 0;
    waiting_.clear();
    waitingBytes_ = 0;
}

std::string MaildirFolder::errorText() const { return systemErrorText(error_); }

} // namespace tarnwick
