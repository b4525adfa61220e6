#include "platform/FolderListing.h"

#include "platform/FolderHandle.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

namespace tarnwick {

namespace {

// The names in the folder open as `fd` (taken over and closed), sorted.
std::vector<std::string> entryNamesOf(int fd)
{
    std::vector<std::string> names;
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return names;
    }
    ::rewinddir(dir); // a duplicated descriptor shares its position with the original
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<std::string> folderEntryNames(const std::string& folder)
{
    return entryNamesOf(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::vector<std::string> folderEntryNames(const FolderHandle& folder)
{
    return entryNamesOf(::fcntl(folder.descriptor(), F_DUPFD_CLOEXEC, 0));
}

std::optional<std::string> realFolderPath(const std::string& folder)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

} // namespace tarnwick
