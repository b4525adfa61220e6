#include "platform/FileIdentity.h"

#include <sys/stat.h>

#include <cerrno>

namespace tarnwick {

IdentityResult identityAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return {std::nullopt, errno};
    return {FileIdentity{info.st_dev, info.st_ino}, 0};
}

IdentityResult identityFollowing(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {std::nullopt, errno};
    return {FileIdentity{info.st_dev, info.st_ino}, 0};
}

} // namespace tarnwick
