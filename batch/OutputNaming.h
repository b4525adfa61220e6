#pragma once
// Output file naming: claims a fresh output file in a destination folder.

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick {

/// The outcome of claimOutputFile.
struct OutputClaim {
    std::string path;                                     // the claimed file; on failure the name whose creation failed
    int error = 0;                                        // 0 when claimed, else the errno of that failure
    FileIdentity identity = {};                           // the claimed file's, for renaming the output over it
    std::shared_ptr<const FolderHandle> folder = nullptr; // the held folder it was made in, if any
    bool claimed() const { return error == 0; }
};

/// Creates an empty file in `folder` named after `name` ("/" flattened to ":"), or
/// stem_2.ext, stem_3.ext, ... when taken. A failure other than "name taken" ends the
/// search at once and names the name that failed (a numbered name may be the one that
/// is too long).
OutputClaim claimOutputFile(const std::string& folder, const std::string& name);

/// The name of the mailbox that keeps apart the messages removed in Eudora from the
/// mailbox written as `name`: "In (removed in Eudora).mbx" for "In.mbx", "In (removed in
/// Eudora)" for "In"; only a mailbox extension (.mbx, .mbox, any case) stays last.
std::string removedMailboxName(const std::string& name);

/// The next number to try for each output name a job has had to number, so that many
/// mailboxes of one name cost one try each, not one per output made before them.
struct NameNumbers {
    std::unordered_map<std::string, std::int64_t> next; // flattened path -> next number
};

/// As claimOutputFile, trying first the number after the last one `numbers` gave this
/// name (a name freed since is not taken again: numbers only go up within a job).
OutputClaim claimOutputFile(const std::string& folder, const std::string& name, NameNumbers& numbers);

/// As claimOutputFile, in the held folder `folder` (each name created relative to it).
OutputClaim claimOutputFile(const FolderHandle& folder, const std::string& name, NameNumbers& numbers);
/// The same, the claim keeping the folder.
OutputClaim claimOutputFile(const std::shared_ptr<const FolderHandle>& folder, const std::string& name, NameNumbers& numbers);

/// The outcome of createFolderPath.
struct FolderPath {
    std::string path;                                           // the innermost folder, when made
    std::string failedPath;                                     // the folder that could not be made; empty on success
    int error = 0;                                              // why it could not be made (errno)
    std::vector<std::string> created;                           // folders this call created, outermost first
    std::vector<std::shared_ptr<const FolderHandle>> createdIn; // the folder each was made in
    std::vector<std::string> existing;                          // folders this call entered that were there already
    std::shared_ptr<const FolderHandle> folder;                 // the innermost folder, held; none on failure
};

/// Makes `folders` (each one plain path component) below `destination`, one inside
/// the next; a folder that exists is used as it is, anything else there (a file, a
/// symbolic link even to a folder) fails.
FolderPath createFolderPath(const std::string& destination, const std::vector<std::string>& folders);

/// As createFolderPath, below the held folder `destination`: each folder is made and
/// then opened relative to the one it is in, never through a link.
FolderPath createFolderPath(const std::shared_ptr<const FolderHandle>& destination, const std::vector<std::string>& folders);

/// createFolderPath for the outputs of one job, one after the other: the folders a path
/// shares with the path before are neither made nor opened again, so that a walk opens
/// each output folder once, relative to the one it is in.
class OutputFolders {
public:
    explicit OutputFolders(std::shared_ptr<const FolderHandle> destination) : destination_(std::move(destination)) {}
    FolderPath enter(const std::vector<std::string>& folders);

private:
    struct Step {
        std::string name; // as asked for
        std::string path; // as made
        std::shared_ptr<const FolderHandle> folder;
    };
    std::shared_ptr<const FolderHandle> destination_;
    std::vector<Step> steps_;
};

} // namespace tarnwick
