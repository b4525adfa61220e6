#include "platform/ProfileFolders.h"

#include "platform/Paths.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>

namespace tarnwick {
namespace {

// Another process's write lock on `.parentlock`, as Mozilla programs take it (fcntl).
bool parentLockHeld(const std::string& profileFolder)
{
    const int fd = ::open(joinPath(profileFolder, ".parentlock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno != ENOENT;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

// The `lock` link's process, when it is alive; a link left by a program that ended
// (a crash) does not hold the profile.
bool lockLinkHeld(const std::string& profileFolder)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(joinPath(profileFolder, "lock").c_str(), target, sizeof target);
    if (length < 0)
        return errno != ENOENT;
    const std::string_view text(target, static_cast<std::size_t>(length));
    const std::size_t mark = text.rfind(":+");
    long pid = 0;
    if (mark == std::string_view::npos)
        return true;
    const auto [end, error] = std::from_chars(text.data() + mark + 2, text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0 || pid > INT_MAX)
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

bool profileInUse(const std::string& profileFolder) { return lockLinkHeld(profileFolder) || parentLockHeld(profileFolder); }

PrivateFolder createPrivateFolder(const std::string& parent, std::string_view prefix)
{
    std::string pattern = joinPath(parent, std::string(prefix) + "XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
        return {{}, errno};
    return {pattern, 0};
}

int renameWithoutReplacing(const std::string& from, const std::string& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

bool removeFolderTree(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error); // links are removed, not followed
    return !error;
}

} // namespace tarnwick
