#pragma once
// The output of one conversion: an existing file opened for writing at its start,
// without creating or truncating it. Every failure keeps its errno for the message.

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Opens an existing file write-only. False (with `error()`) when it cannot.
    bool open(const std::string& path);

    /// Writes all of `pieces`, in order, with as few system calls as the kernel allows
    /// (one gathered write in the usual case). Retries interrupted and short writes.
    /// False on the first failure; bytes written before it stay in the file.
    bool write(std::initializer_list<std::string_view> pieces);
    bool write(std::string_view bytes) { return write({bytes}); }
    /// The same for an array of pieces (any number; written in gathered groups).
    bool write(const std::string_view* pieces, std::size_t count);

    /// Closes the file; false when the close reports a failure (late write errors).
    bool close();

    int error() const { return error_; }
    /// The system's description of the last failure (strerror).
    std::string errorText() const;

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace tarnwick
