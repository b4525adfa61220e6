#pragma once
// File helpers of the IMAP upload: message digests, modification times, and the
// append-only journal file that records what reached the server.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// SHA-256 of the bytes, as 64 lowercase hex digits.
std::string sha256Hex(std::string_view bytes);

/// The file's modification time (not following a final link); none when it has none.
std::optional<std::time_t> modificationTime(const std::string& path);

/// A file that lines are appended to, each one on disk (fdatasync) before append
/// returns: a crash leaves at most the last line cut short.
class AppendOnlyFile {
public:
    AppendOnlyFile() = default;
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    /// Opens or creates the file (mode 0600) and its folder (0700); error text on failure.
    std::string open(const std::string& path);
    /// Appends text (the caller ends it with '\n'); error text on failure.
    std::string append(std::string_view text);
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string path_;
};

/// The journal of uploads into one account (user and host), in the user's settings
/// folder: $XDG_CONFIG_HOME/Tarnwick/uploads (else ~/.config/Tarnwick/uploads).
std::string uploadJournalPath(const std::string& user, const std::string& host);

/// The whole of a small file; none when it cannot be read (missing: empty text).
std::optional<std::string> readSmallFile(const std::string& path, std::uint64_t limit);

} // namespace tarnwick
