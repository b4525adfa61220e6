#include "batch/OutputNaming.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

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

OutputClaim claimOutputFile(const std::string& folder, const std::string& name, NameNumbers& numbers)
{
    std::string flattened = name;
    std::replace(flattened.begin(), flattened.end(), '/', ':');

    std::string candidate = joinPath(folder, flattened);
    const std::string key = candidate;
    std::optional<NameParts> parts;
    const auto numbered = [&](std::int64_t counter) {
        if (!parts)
            parts = splitExtension(flattened);
        std::string numberedName = parts->stem;
        numberedName += '_';
        numberedName += std::to_string(counter);
        if (!parts->extension.empty()) {
            numberedName += '.';
            numberedName += parts->extension;
        }
        return joinPath(folder, numberedName);
    };
    std::int64_t counter = 2; // the number of the name after `candidate`
    if (const auto known = numbers.next.find(key); known != numbers.next.end()) {
        counter = known->second;
        candidate = numbered(counter++);
    }
    for (;; ++counter) {
        const CreateResult created = createExclusively(candidate);
        if (created.created()) {
            if (counter > 2)
                numbers.next[key] = counter;
            return {std::move(candidate), 0, created.identity};
        }
        // Only a taken name moves on; any other failure (no permission, no folder,
        // name too long, no space) would fail for every later name as well.
        if (created.error != EEXIST || counter > kLastCounter)
            return {std::move(candidate), created.error};
        candidate = numbered(counter);
    }
}

OutputClaim claimOutputFile(const std::string& folder, const std::string& name)
{
    NameNumbers once;
    return claimOutputFile(folder, name, once);
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
