#pragma once
// Shallow listing of one folder and the resolution of a folder's real path.

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

/// The names in the folder ("." and ".." left out), sorted bytewise; empty when the
/// folder cannot be listed.
std::vector<std::string> folderEntryNames(const std::string& folder);

class FolderHandle;

/// The same for the held folder `folder`.
std::vector<std::string> folderEntryNames(const FolderHandle& folder);

/// The absolute path of an existing folder with every symbolic link resolved (realpath);
/// none when it cannot be resolved.
std::optional<std::string> realFolderPath(const std::string& folder);

} // namespace tarnwick
