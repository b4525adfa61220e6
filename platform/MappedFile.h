#pragma once
// Read-only view of a whole input file: mapped where the file allows it, read into
// memory otherwise (FIFOs, files that report 0 bytes, file systems without mmap).

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

/// Whether the last component of an input path may be a symbolic link. Inputs found
/// by a folder walk are opened with Refuse: a file replaced by a link after the walk
/// is not followed (the open fails with ELOOP).
enum class LinkPolicy { Follow, Refuse };

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// Opens and maps (or reads) `path` whole. False when the file cannot be opened or
    /// read; `error()` then holds the errno.
    bool open(const std::string& path, LinkPolicy links = LinkPolicy::Follow);

    /// The file's bytes; valid until the object is destroyed.
    std::string_view bytes() const { return {data_, static_cast<std::size_t>(size_)}; }
    std::uint64_t size() const { return size_; }
    bool isMapped() const { return mapped_; }
    int error() const { return error_; }
    /// The permission bits of the opened file (from fstat).
    mode_t permissions() const { return permissions_; }

    /// Tells the kernel that the bytes before `offset` will not be read again soon, so
    /// that the pages of a long sequential pass do not pile up in the resident set. The
    /// bytes stay readable (a later read faults them in from the file again). Acts only
    /// once enough bytes have accumulated to be worth a system call.
    void releaseBefore(std::uint64_t offset);

    /// releaseBefore for one of several passes that read parts of the file at the same
    /// time: each keeps its own release point in `releasedUpTo` (at first the start of its
    /// part, rounded up with pageStartFrom), so that a pass lets go only of pages it has
    /// passed itself and never of those another part is still reading.
    void releaseBefore(std::uint64_t offset, std::uint64_t& releasedUpTo) const;

    /// Maps the pages of [from, to) that are not mapped yet, so that a pass reading them
    /// later takes no page faults; another thread can do it ahead of the pass. Does
    /// nothing where the kernel cannot (a page the file no longer has is left to fault
    /// when read, as without it).
    void populate(std::uint64_t from, std::uint64_t to) const;

    /// The first page boundary at or after `offset`.
    static std::uint64_t pageStartFrom(std::uint64_t offset);

    /// Lets the whole pages within [from, to) go from the resident set, whatever was
    /// released before; for a pass that reads one very long stretch, possibly twice.
    /// The bytes stay readable.
    void dropPages(std::uint64_t from, std::uint64_t to);

private:
    void close();

    const char* data_ = "";
    std::uint64_t size_ = 0;
    std::uint64_t releasedUpTo_ = 0;
    bool mapped_ = false;
    int error_ = 0;
    mode_t permissions_ = 0;
    std::string readBytes_;
};

} // namespace tarnwick
