#pragma once
// An unnamed temporary file that holds bytes too many to keep in memory (a very large
// message) until they are read back, a block at a time. It has no name in the folder it
// lives in, so nothing is left behind however the process ends.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

class SpoolFile {
public:
    SpoolFile() = default;
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    /// Appends bytes, creating the file in `directory` on first use (in the folder open
    /// at `folderFd` instead, when one is given). False when the file cannot be created
    /// or written; `errorText()` says why.
    bool append(const std::string& directory, std::string_view bytes, int folderFd = -1);

    /// How many bytes it holds.
    std::uint64_t size() const { return size_; }

    /// Reads `length` bytes at `offset` into `buffer`; the view is of `buffer`. Empty
    /// (with `errorText()` set) when the read fails or falls short.
    std::string_view read(std::uint64_t offset, std::size_t length, std::string& buffer);

    /// Empties it for the next use (the file is kept).
    void clear();

    std::string errorText() const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    int error_ = 0;
};

} // namespace tarnwick
