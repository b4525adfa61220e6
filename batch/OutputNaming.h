#pragma once
// Output file naming: claims a fresh output file in a destination folder.

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

/// Creates an empty file in `folder` named after `name` ("/" flattened to ":"), or
/// stem_2.ext, stem_3.ext, ... when taken, and returns its path. Returns none when no
/// file could be created; a failure other than "name taken" ends the search at once.
std::optional<std::string> claimOutputFile(const std::string& folder, const std::string& name);

/// The outcome of createFolderPath.
struct FolderPath {
    std::string path;                // the innermost folder, when made
    std::string failedPath;          // the folder that could not be made; empty on success
    std::vector<std::string> created; // folders this call created, outermost first
};

/// Makes `folders` (each one plain path component) below `destination`, one inside
/// the next; a folder that exists is used as it is, anything else there (a file, a
/// symbolic link even to a folder) fails.
FolderPath createFolderPath(const std::string& destination, const std::vector<std::string>& folders);

} // namespace tarnwick
