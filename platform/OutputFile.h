#pragma once
// The output of one conversion, written under a temporary name beside its final name
// and given the final name only once it is complete, so that an interrupted run (a
// crash, SIGKILL, a power loss) never leaves a partial file under the final name.
// The final name is claimed beforehand by exclusive creation (an empty file, which
// stays the claim); commit() renames the finished file over it. Every failure keeps
// its errno for the message. All system calls go through outputCalls().

#include "platform/FileIdentity.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

/// The prefix and suffix of the temporary names (".tarnwick-XXXXXXXXXXXX.part");
/// such a file left in a destination folder is an unfinished output of a run that
/// was killed, and may be deleted.
inline constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
inline constexpr std::string_view kTemporarySuffix = ".part";

class OutputFile {
public:
    OutputFile() = default;
    /// Discards an output that was not committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Creates a new, empty temporary file in the folder of `finalPath`, exclusively
    /// and without following a link, with the permission bits `mode` (less the
    /// umask), and keeps its descriptor for every later write. False (with
    /// `error()`) when it cannot.
    bool create(const std::string& finalPath, mode_t mode);

    /// Writes all of `pieces`, in order, with as few system calls as the kernel allows
    /// (one gathered write in the usual case). Retries interrupted and short writes.
    /// False on the first failure; bytes written before it stay in the temporary file.
    bool write(std::initializer_list<std::string_view> pieces);
    bool write(std::string_view bytes) { return write({bytes}); }
    /// The same for an array of pieces (any number; written in gathered groups).
    bool write(const std::string_view* pieces, std::size_t count);

    /// Makes every write refuse (ECANCELED) once `*stop` is true: a run told to stop
    /// at once leaves the file under way at its next write.
    void stopWhen(const std::atomic<bool>* stop) { stop_ = stop; }

    /// Makes the bytes durable (fsync), closes the file and renames it over the final
    /// path, provided that the final path is still the claim (the file created there
    /// exclusively, with this identity) and not anything put there since. False (with
    /// `error()`, the temporary file removed) on any failure: then nothing at the final
    /// path has changed.
    bool commit(const FileIdentity& claim);

    /// Closes and removes the temporary file; the final path is not touched.
    void discard();

    int error() const { return error_; }
    /// The system's description of the last failure (strerror).
    std::string errorText() const;

private:
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t written_ = 0;        // bytes written so far
    std::uint64_t writeBackStart_ = 0; // where the write-back not yet started begins
    std::string temporaryPath_;
    std::string finalPath_;
    const std::atomic<bool>* stop_ = nullptr;
};

/// The system's description of an errno value (strerror, thread-safe).
std::string systemErrorText(int error);

} // namespace tarnwick
