#pragma once
// The output of one conversion, written under a temporary name beside its final name
// and given the final name only once it is complete, so that an interrupted run (a
// crash, SIGKILL, a power loss) never leaves a partial file under the final name.
// The final name is claimed beforehand by exclusive creation (an empty file, which
// stays the claim); commit() renames the finished file over it. Every failure keeps
// its errno for the message. All system calls go through outputCalls().

#include "platform/FileIdentity.h"
#include "platform/FolderHandle.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

namespace tarnwick {

/// The prefix and suffix of the temporary names (".tarnwick-XXXXXXXXXXXX.part", or
/// ".tarnwick-XXXXXXXXXXXX-INODE.part" with the inode number of the output's claim in
/// hexadecimal); such a file left in a destination folder is an unfinished output of a
/// run that was killed, and may be deleted, with its claim.
inline constexpr std::string_view kTemporaryPrefix = ".tarnwick-";
inline constexpr std::string_view kTemporarySuffix = ".part";

/// Whether `name` is one of our temporary names: never taken for input.
bool isTemporaryOutputName(std::string_view name);

/// What became of a temporary file found in a folder.
enum class LeftoverOutcome {
    Removed, // no process held it: an interrupted run's, deleted
    Held,    // a running conversion is writing it: left alone
    Kept,    // it could not be checked or deleted (the errno in `error`)
};

/// Deletes the temporary file `name` of `folder` when no process holds it: a run
/// holds a lock on its temporary file while it writes, which a killed run no longer
/// does. Nothing but a regular file with a temporary name is ever deleted. When its
/// name carries the inode of its claim, and that claim is still there as the empty
/// file made before it (same inode, empty, not changed since the temporary file was),
/// the claim goes too and `claimRemoved` (when given) gets its name.
LeftoverOutcome removeLeftoverOutput(const std::string& folder, const std::string& name, int& error, std::string* claimRemoved = nullptr);

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
    /// `error()`) when it cannot. With `folder` (the held folder whose path `finalPath`
    /// begins with, the output's name following), the temporary file is made, and
    /// later renamed over the claim, relative to the folder's descriptor alone.
    bool create(const std::string& finalPath, mode_t mode, const FolderHandle* folder = nullptr);

    /// Creates a file without a name (O_TMPFILE) in the folder of `finalPath` (in
    /// `folder`, when given), readable and writable by this process alone, to hold part
    /// of an output until it is appended to the real one (append()); it vanishes when
    /// closed, also when the process ends. It is never committed. False (with `error()`)
    /// when the folder's file system cannot make one.
    bool createUnnamed(const std::string& finalPath, const FolderHandle* folder = nullptr);

    /// Writes all of `pieces`, in order, with as few system calls as the kernel allows
    /// (one gathered write in the usual case). Retries interrupted and short writes.
    /// False on the first failure; bytes written before it stay in the temporary file.
    bool write(std::initializer_list<std::string_view> pieces);
    bool write(std::string_view bytes) { return write({bytes}); }
    /// The same for an array of pieces (any number; written in gathered groups).
    bool write(const std::string_view* pieces, std::size_t count);

    /// Makes every write refuse (ECANCELED) once `*stop` is true: a run told to stop
    /// at once leaves the file under way at its next write.
    void stopWhen(const std::atomic<bool>* stop, const std::atomic<bool>* alsoStop = nullptr)
    {
        stop_ = stop;
        alsoStop_ = alsoStop;
    }

    /// The bytes written so far.
    std::uint64_t size() const { return written_; }

    /// The bytes written so far, as another thread may read it while this one writes:
    /// that many bytes can be read from the file.
    std::uint64_t settledSize() const { return settled_.load(std::memory_order_acquire); }

    /// Appends bytes [from, to) of `part` (a file made by createUnnamed, to which another
    /// thread may still be writing past `to`) after the bytes written here, by
    /// copy_file_range where the file systems allow it, else by reading and writing.
    /// False (with `error()`) on the first failure, when part of it may have been
    /// appended (see truncate()).
    bool append(const OutputFile& part, std::uint64_t from, std::uint64_t to);

    /// Appends the bytes of `part` from `from` to its end and sends every later write of
    /// `part` here instead, with no write of its own in between (another thread may be
    /// writing to it). False (with `error()`; `part` unchanged) when the append failed.
    bool takeOver(OutputFile& part, std::uint64_t from);

    /// Cuts the file back to its first `size` bytes (at most size()) and writes on from
    /// there. False (with `error()`) when it cannot.
    bool truncate(std::uint64_t size);

    /// Makes the bytes durable (fsync), closes the file and renames it over the final
    /// path, provided that the final path is still the claim (the file created there
    /// exclusively, with this identity) and not anything put there since. False (with
    /// `error()`, the temporary file removed) on any failure: then nothing at the final
    /// path has changed.
    bool commit(const FileIdentity& claim);

    /// Closes and removes the temporary file; the final path is not touched.
    void discard();

    int error() const { return error_; }
    /// The descriptor of the held folder the file was made in; -1 when none was given.
    int heldFolder() const { return folderFd_; }
    /// The system's description of the last failure (strerror).
    std::string errorText() const;

private:
    bool writeHere(const std::string_view* pieces, std::size_t count);
    bool stopped() const;
    // Starts the write-back of what was written since the last start, once enough is.
    void startWriteBack();

    int fd_ = -1;
    int error_ = 0;
    std::uint64_t written_ = 0;              // bytes written so far
    std::uint64_t writeBackStart_ = 0;       // where the write-back not yet started begins
    std::atomic<std::uint64_t> settled_ = 0; // written_, once the bytes are in the file
    std::mutex redirectMutex_;               // held by each write, so that takeOver() finds none under way
    OutputFile* redirect_ = nullptr;         // where writes go once another file took this one over
    bool writeBack_ = true;                  // started as the file grows (not for an unnamed part)
    // Where the temporary file and the final name are: a held folder's descriptor (a
    // duplicate, owned) with names in it, or AT_FDCWD with paths.
    void holdFolder(const FolderHandle* folder);
    int folderDescriptor() const;
    int folderFd_ = -1; // -1: none (AT_FDCWD)
    std::string temporaryPath_;
    std::string finalPath_;
    const std::atomic<bool>* stop_ = nullptr;
    const std::atomic<bool>* alsoStop_ = nullptr;
};

/// The system's description of an errno value (strerror, thread-safe).
std::string systemErrorText(int error);

} // namespace tarnwick
