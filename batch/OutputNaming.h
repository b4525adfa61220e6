#pragma once
// Output file naming: claims a fresh output file in a destination folder.

#include <optional>
#include <string>

namespace tarnwick {

/// Creates an empty file in `folder` named after `name` ("/" flattened to ":"), or
/// stem_2.ext, stem_3.ext, ... when taken, and returns its path. Returns none when no
/// file could be created; a failure other than "name taken" ends the search at once.
std::optional<std::string> claimOutputFile(const std::string& folder, const std::string& name);

} // namespace tarnwick
