#pragma once
// Opening a file by name strictly inside a folder, for names that come from untrusted
// mail: no component may leave the folder, and no symbolic link is ever followed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// A regular file opened read-only inside a folder. Move-only; closes on destruction.
class ContainedFile {
public:
    ContainedFile(int fd, std::uint64_t size, std::string path, std::string name);
    ~ContainedFile();
    ContainedFile(ContainedFile&& other) noexcept;
    ContainedFile& operator=(ContainedFile&& other) noexcept;
    ContainedFile(const ContainedFile&) = delete;
    ContainedFile& operator=(const ContainedFile&) = delete;

    /// The size when opened; reading stops there, so a file that grows adds nothing.
    std::uint64_t size() const { return size_; }
    /// The folder and the components as found on disk, joined with "/" (for messages).
    const std::string& path() const { return path_; }
    /// The file's own name as found on disk.
    const std::string& name() const { return name_; }

    /// Reads the next bytes into `buffer`, filling it unless the file ends first.
    /// Returns the count (0 at the end), or none with `error()` set on a read failure.
    std::optional<std::size_t> read(char* buffer, std::size_t length);
    /// Up to `length` bytes from the start of the file, without moving the read position.
    std::string leadingBytes(std::size_t length) const;
    int error() const { return error_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::string path_;
    std::string name_;
    int error_ = 0;
};

/// Whether `component` can name an entry of a folder: not empty, not "." or "..", and
/// without "/" or a zero byte.
bool isSafePathComponent(std::string_view component);

/// Opens the regular file that `components` (sub-folders, then the file's name) name
/// below `folder`. Each component is first opened exactly; when absent, the one entry
/// whose name equals it under Unicode case folding is taken (none when two match).
/// Never follows a symbolic link below `folder`, never opens anything but a folder on
/// the way and a regular file at the end; none for an unsafe component.
std::optional<ContainedFile> openContainedFile(const std::string& folder, const std::vector<std::string>& components);

/// Whether the two UTF-8 names are equal under Unicode simple case folding (invalid
/// bytes compare as themselves).
bool namesEqualFolded(std::string_view a, std::string_view b);

} // namespace tarnwick
