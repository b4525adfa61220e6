#include "batch/OutputNaming.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace tarnwick {
namespace {

// 26^6: the highest number that goes into a name.
constexpr std::int64_t kLastCounter = 308915776;

struct NameParts {
    std::string stem;
    std::string extension; // empty: none
};

// The extension is the text after the last period. A name whose only period is its
// first character (".hidden") or whose last period ends it ("notes.") has none and
// is its own stem, so numbering never drops a character of the name.
NameParts splitExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

} // namespace

OutputClaim claimOutputFile(const std::string& folder, const std::string& name)
{
    std::string flattened = name;
    std::replace(flattened.begin(), flattened.end(), '/', ':');

    std::string candidate = joinPath(folder, flattened);
    std::optional<NameParts> parts;
    for (std::int64_t counter = 2;; ++counter) {
        const CreateResult created = createExclusively(candidate);
        if (created.created())
            return {std::move(candidate), 0, created.identity};
        // Only a taken name moves on; any other failure (no permission, no folder,
        // name too long, no space) would fail for every later name as well.
        if (created.error != EEXIST || counter > kLastCounter)
            return {std::move(candidate), created.error};
        if (!parts)
            parts = splitExtension(flattened);
        std::string numbered = parts->stem;
        numbered += '_';
        numbered += std::to_string(counter);
        if (!parts->extension.empty()) {
            numbered += '.';
            numbered += parts->extension;
        }
        candidate = joinPath(folder, numbered);
    }
}

FolderPath createFolderPath(const std::string& destination, const std::vector<std::string>& folders)
{
    FolderPath result;
    result.path = destination;
    for (const std::string& folder : folders) {
        result.path = joinPath(result.path, folder);
        const CreateResult created = createFolder(result.path);
        if (created.created()) {
            result.created.push_back(result.path);
        } else if (created.error != EEXIST || entryType(result.path) != EntryType::Directory) {
            result.failedPath = result.path;
            result.error = created.error;
            return result;
        }
    }
    return result;
}

} // namespace tarnwick
