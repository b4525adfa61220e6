#include "batch/OutputNaming.h"

#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
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

// The longest name most file systems take, in bytes.
constexpr std::size_t kNameMax = 255;
// A shortened name keeps at least this many bytes of its stem, or is not made.
constexpr std::size_t kShortestStem = 8;

// `parts` as stem_N.ext within `limit` bytes, the stem cut at a character boundary
// of UTF-8 (a name in another encoding is cut at any byte); none when the stem would
// keep fewer than kShortestStem bytes.
std::optional<std::string> shortenedName(const NameParts& parts, std::int64_t counter, std::size_t limit)
{
    std::string suffix = "_" + std::to_string(counter);
    if (!parts.extension.empty())
        suffix += "." + parts.extension;
    if (limit < suffix.size() + kShortestStem)
        return std::nullopt;
    std::size_t keep = std::min(parts.stem.size(), limit - suffix.size());
    while (keep > 0 && keep < parts.stem.size() && (static_cast<unsigned char>(parts.stem[keep]) & 0xC0) == 0x80)
        --keep;
    if (keep < kShortestStem)
        return std::nullopt;
    return parts.stem.substr(0, keep) + suffix;
}

// Creates the shortest-fitting shortened form of `name` in `folder`: first within
// kNameMax bytes, then within half as many each time the file system still finds it
// too long; numbered from 1 so that two long names cut to the same stem stay apart.
// Creates the entry `name` of the folder being claimed in: by path, or in a held folder.
using CreateEntry = std::function<CreateResult(const std::string& name)>;

OutputClaim claimShortened(const std::string& folder, const std::string& name, const CreateEntry& create)
{
    const NameParts parts = splitExtension(name);
    int lastError = ENAMETOOLONG;
    std::string lastCandidate = joinPath(folder, name);
    for (std::size_t limit = std::min(kNameMax, name.size() - 1);; limit /= 2) {
        for (std::int64_t counter = 1;; ++counter) {
            const std::optional<std::string> shortened = shortenedName(parts, counter, limit);
            if (!shortened)
                return {std::move(lastCandidate), lastError};
            lastCandidate = joinPath(folder, *shortened);
            const CreateResult created = create(*shortened);
            if (created.created()) {
                logMessage(formatMessage("'%1' is too long for a file name here: written as '%2'", {name, *shortened}));
                return {std::move(lastCandidate), 0, created.identity};
            }
            lastError = created.error;
            if (created.error != EEXIST)
                break;
            if (counter > kLastCounter)
                return {std::move(lastCandidate), lastError};
        }
        if (lastError != ENAMETOOLONG)
            return {std::move(lastCandidate), lastError};
    }
}

OutputClaim claimIn(const std::string& folder, const std::string& name, NameNumbers& numbers, const CreateEntry& create)
{
    std::string flattened = name;
    std::replace(flattened.begin(), flattened.end(), '/', ':');

    std::string candidate = flattened;
    const std::string key = joinPath(folder, candidate);
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
        return numberedName;
    };
    std::int64_t counter = 2; // the number of the name after `candidate`
    if (const auto known = numbers.next.find(key); known != numbers.next.end()) {
        counter = known->second;
        candidate = numbered(counter++);
    }
    for (;; ++counter) {
        const CreateResult created = create(candidate);
        if (created.created()) {
            if (counter > 2)
                numbers.next[key] = counter;
            return {joinPath(folder, candidate), 0, created.identity};
        }
        // A name too long for the file system is shortened; only a taken name moves
        // on otherwise: any other failure (no permission, no folder, no space) would
        // fail for every later name as well.
        if (created.error == ENAMETOOLONG)
            return claimShortened(folder, flattened, create);
        if (created.error != EEXIST || counter > kLastCounter)
            return {joinPath(folder, candidate), created.error};
        candidate = numbered(counter);
    }
}

} // namespace

OutputClaim claimOutputFile(const std::string& folder, const std::string& name, NameNumbers& numbers)
{
    return claimIn(folder, name, numbers, [&folder](const std::string& entry) { return createExclusively(joinPath(folder, entry)); });
}

OutputClaim claimOutputFile(const FolderHandle& folder, const std::string& name, NameNumbers& numbers)
{
    return claimIn(folder.path(), name, numbers, [&folder](const std::string& entry) { return folder.createFile(entry); });
}

OutputClaim claimOutputFile(const std::shared_ptr<const FolderHandle>& folder, const std::string& name, NameNumbers& numbers)
{
    OutputClaim claim = claimOutputFile(*folder, name, numbers);
    if (claim.claimed())
        claim.folder = folder;
    return claim;
}

std::string removedMailboxName(const std::string& name)
{
    constexpr std::string_view kRemoved = " (removed in Eudora)";
    const NameParts parts = splitExtension(name);
    std::string extension = parts.extension;
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (extension != "mbx" && extension != "mbox")
        return name + std::string(kRemoved);
    return parts.stem + std::string(kRemoved) + "." + parts.extension;
}

OutputClaim claimOutputFile(const std::string& folder, const std::string& name)
{
    NameNumbers once;
    return claimOutputFile(folder, name, once);
}

namespace {

// Makes the folder `name` in `parent`, or uses the folder already there. A name taken
// by something else (a mailbox's output, a link) moves on to name_2, name_3, ...; a
// name too long is shortened as file names are. The same name always leads to the
// same folder, so every mailbox of one source folder lands together. Each folder is
// made and opened relative to the one it is in.
void makeFolder(FolderPath& result, const std::string& name)
{
    const std::shared_ptr<const FolderHandle> parent = std::move(result.folder);
    const NameParts parts = splitExtension(name);
    std::size_t limit = name.size(); // below it: shortened
    for (std::int64_t counter = 1; counter <= kLastCounter; ++counter) {
        std::optional<std::string> candidate = name;
        if (limit < name.size())
            candidate = shortenedName(parts, counter, limit);
        else if (counter > 1)
            candidate = parts.stem + "_" + std::to_string(counter) + (parts.extension.empty() ? "" : "." + parts.extension);
        if (!candidate)
            break;
        const std::string path = parent->pathOf(*candidate);
        CreateResult created = parent->createFolder(*candidate);
        if (created.created() || created.error == EEXIST) {
            int openError = 0;
            result.folder = parent->openFolder(*candidate, openError);
            if (result.folder) {
                if (created.created()) {
                    result.created.push_back(path);
                    result.createdIn.push_back(parent);
                    if (*candidate != name)
                        logMessage(formatMessage("The folder '%1' is written as '%2'", {name, *candidate}));
                } else {
                    result.existing.push_back(path);
                }
                result.path = path;
                return;
            }
            // Taken by a file or a link: the next name. A folder made that cannot be
            // entered fails.
            created.error = openError == ENOTDIR || openError == ELOOP ? EEXIST : openError;
        }
        if (created.error == ENAMETOOLONG && limit > kShortestStem) {
            limit = limit == name.size() ? std::min(kNameMax, name.size() - 1) : limit / 2;
            counter = 0; // the shortened names are numbered from 1
            continue;
        }
        if (created.error != EEXIST) {
            result.failedPath = path;
            result.error = created.error;
            return;
        }
    }
    result.failedPath = parent->pathOf(name);
    result.error = ENAMETOOLONG;
}

} // namespace

FolderPath createFolderPath(const std::shared_ptr<const FolderHandle>& destination, const std::vector<std::string>& folders)
{
    FolderPath result;
    result.path = destination->path();
    result.folder = destination;
    for (const std::string& folder : folders) {
        makeFolder(result, folder);
        if (!result.failedPath.empty())
            return result;
    }
    return result;
}

FolderPath OutputFolders::enter(const std::vector<std::string>& folders)
{
    std::size_t shared = 0;
    while (shared < folders.size() && shared < steps_.size() && steps_[shared].name == folders[shared])
        ++shared;
    steps_.resize(shared);
    FolderPath result;
    result.path = shared > 0 ? steps_.back().path : destination_->path();
    result.folder = shared > 0 ? steps_.back().folder : destination_;
    for (std::size_t i = shared; i < folders.size(); ++i) {
        makeFolder(result, folders[i]);
        if (!result.failedPath.empty())
            return result;
        steps_.push_back({folders[i], result.path, result.folder});
    }
    return result;
}

FolderPath createFolderPath(const std::string& destination, const std::vector<std::string>& folders)
{
    int error = 0;
    const std::shared_ptr<const FolderHandle> held = FolderHandle::open(destination, error);
    if (!held) {
        FolderPath failed;
        failed.path = destination;
        failed.failedPath = folders.empty() ? destination : joinPath(destination, folders.front());
        failed.error = error;
        return failed;
    }
    return createFolderPath(held, folders);
}

} // namespace tarnwick
