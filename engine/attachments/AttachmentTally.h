#pragma once
// What the attachment pass did: files put back and files missing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

/// A file that an attachment line names but no attachment folder holds.
struct MissingAttachment {
    std::string subject; // the message's Subject, as stored
    std::string file;    // the name in the line
};

struct AttachmentTally {
    std::uint64_t attached = 0;
    std::uint64_t missing = 0;
    std::vector<MissingAttachment> missingFiles; // the first kMissingListed of them
    static constexpr std::size_t kMissingListed = 1000;

    /// Adds another tally's counts and (up to the limit) its list.
    void add(const AttachmentTally& other)
    {
        attached += other.attached;
        missing += other.missing;
        for (const MissingAttachment& entry : other.missingFiles) {
            if (missingFiles.size() >= kMissingListed)
                break;
            missingFiles.push_back(entry);
        }
    }
};

} // namespace tarnwick
