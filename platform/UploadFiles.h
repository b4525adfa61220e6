#pragma once
// File helpers of the IMAP upload: message digests, modification times, and the
// append-only journal file that records what reached the server.

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// SHA-256 of the bytes, as 64 lowercase hex digits.
std::string sha256Hex(std::string_view bytes);
std::array<std::uint8_t, 32> sha256(std::string_view bytes);

/// The file's modification time (not following a final link); none when it has none.
std::optional<std::time_t> modificationTime(const std::string& path);

/// A file that lines are appended to and put on disk (fdatasync) by sync: a crash
/// loses lines written after the last sync and leaves at most one line cut short.
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
    /// Puts what was appended on disk; error text on failure.
    std::string sync();
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string path_;
};

/// The journal of uploads into one account (user and host), in the user's settings
/// folder: $XDG_CONFIG_HOME/Tarnwick/uploads (else ~/.config/Tarnwick/uploads).
std::string uploadJournalPath(const std::string& user, const std::string& host);

/// Whether the folder is a Maildir tree (its own cur/, or Maildir++ ".NAME" folders).
bool isMaildirTree(const std::string& folder);

/// The private folder that the conversions for uploads of `source` into `account`
/// (user@host/top folder) work in, in the user's cache folder ($XDG_CACHE_HOME/Tarnwick,
/// else ~/.cache/Tarnwick): the same for the same account and source, so that a run
/// clears what a killed one left there.
std::string uploadStagingFolder(const std::string& account, const std::string& source);

/// An exclusive lock (flock) on a file, so that two runs never work on the same thing at
/// once. The file is removed when the lock is let go.
class RunLock {
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    /// Takes the lock on the file `path` (made, with its folder, where missing) without
    /// waiting: 0, EWOULDBLOCK when another process holds it, or another errno.
    int acquire(const std::string& path);
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::string path_;
};

/// Makes `path` a new empty folder only its owner may enter (what was there before is
/// removed first). False when it cannot be made.
bool makeEmptyPrivateFolder(const std::string& path);

/// Reads a file a part at a time (a missing file reads as empty).
class ChunkReader {
public:
    ChunkReader() = default;
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    bool open(const std::string& path);
    /// Appends up to limit bytes to text: the count (0 at the end), none on an error.
    std::optional<std::size_t> readInto(std::string& text, std::size_t limit);

private:
    int fd_ = -1;
};

/// The whole of a small file; none when it cannot be read (missing: empty text).
std::optional<std::string> readSmallFile(const std::string& path, std::uint64_t limit);

} // namespace tarnwick
