#pragma once
// What a batch job did, beyond its final text: counters and name lists that the job
// fills as it goes and hands to its reporter once, before the final text.

#include "engine/AttachmentTally.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

struct JobSummary {
    /// Files put back into messages, and files that attachment lines name but no
    /// attachment folder holds (with the first of them listed).
    AttachmentTally attachments;
    /// Eudora's own files: indexes, folder maps, settings, logs, AppleDouble files.
    std::uint64_t eudoraFiles = 0;
    /// Files in an Eudora folder's attachment folders (attachments, not mailboxes).
    std::uint64_t attachmentFiles = 0;
    /// Mailboxes of 0 bytes, as the user knows them ("Out", "Work/Old"), in walk order:
    /// the first kListedEmptyMailboxes of them, and how many there were.
    std::vector<std::string> emptyMailboxes;
    std::uint64_t emptyMailboxCount = 0;

    static constexpr std::size_t kListedEmptyMailboxes = 50;
    void addEmptyMailbox(std::string name)
    {
        if (emptyMailboxes.size() < kListedEmptyMailboxes)
            emptyMailboxes.push_back(std::move(name));
        ++emptyMailboxCount;
    }
};

/// The summary as the user reads it, one translated line each, nothing for a zero
/// count: "Attachments put back: %1, missing: %2", "Eudora's own files not converted:
/// %1", "Files in attachment folders not converted: %1", "%1: empty" (the empty
/// mailboxes joined by ", ", then "and %1 more" for those not listed).
std::vector<std::string> summaryLines(const JobSummary& summary);

} // namespace tarnwick
