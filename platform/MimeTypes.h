#pragma once
// Content types of files from the system's MIME database (shared-mime-info).

#include <string>
#include <string_view>

namespace tarnwick {

/// The media type ("image/jpeg") for a file with this name whose first bytes are
/// `leadingBytes`: the database's verdict on name and contents together, or
/// "application/octet-stream" when it knows neither. Safe from any thread.
std::string mimeTypeForFile(std::string_view fileName, std::string_view leadingBytes);

} // namespace tarnwick
