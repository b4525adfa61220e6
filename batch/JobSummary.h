#pragma once
// What a batch job did, beyond its final text: counters and name lists that the job
// fills as it goes and hands to its reporter once, before the final text.

#include "engine/attachments/AttachmentTally.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

/// One mailbox that was written, as the user knows it, with its message counts.
struct ConvertedMailbox {
    std::string name;
    std::uint64_t messages = 0;
    std::uint64_t unconverted = 0; // written as they were: no charset fits, or not decodable
    /// Where it was written, below the destination ("Work/Project Alpha.mbx", ".Work.Project Alpha").
    std::string destination;
    /// Of its messages, those written read, replied and forwarded; the files put back.
    std::uint64_t read = 0;
    std::uint64_t replied = 0;
    std::uint64_t forwarded = 0;
    std::uint64_t attachments = 0;
};

/// The messages of one mailbox that its index no longer lists: deleted or moved away in
/// Eudora, their bytes left in the mailbox file until Eudora compacted it.
struct RemovedMessages {
    std::string name;               // the mailbox, as the user knows it
    std::string mailboxDestination; // where that mailbox was written, below the destination
    std::uint64_t messages = 0;
    /// Where they were kept apart, below the destination; empty: left out.
    std::string destination;
    std::uint64_t attachments = 0; // files put back into them
};

struct JobSummary {
    /// Mailboxes written, in walk order.
    std::vector<ConvertedMailbox> mailboxes;
    /// Per mailbox, the messages removed in Eudora that were kept apart or left out.
    std::vector<RemovedMessages> removed;
    /// Messages written unconverted, by reason.
    std::uint64_t undecodableMessages = 0;  // not valid in the source encoding
    std::uint64_t unfittingMessages = 0;    // valid, but no charset in the list holds them
    std::uint64_t fieldTooLongMessages = 0; // a header field too long to convert
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
    /// Files that do not begin with a "From " line: the first of them, and how many.
    std::vector<std::string> notMailboxes;
    std::uint64_t notMailboxCount = 0;
    void addNotMailbox(std::string name)
    {
        if (notMailboxes.size() < kListedEmptyMailboxes)
            notMailboxes.push_back(std::move(name));
        ++notMailboxCount;
    }
    /// Temporary files of our own found in the source or the destination: those an
    /// interrupted run left (deleted), and those another running conversion holds.
    std::vector<std::string> leftoversRemoved;
    std::uint64_t leftoversRemovedCount = 0;
    std::vector<std::string> leftoversHeld;
    std::uint64_t leftoversHeldCount = 0;
    void addLeftover(std::string name, bool removed)
    {
        std::vector<std::string>& names = removed ? leftoversRemoved : leftoversHeld;
        if (names.size() < kListedEmptyMailboxes)
            names.push_back(std::move(name));
        ++(removed ? leftoversRemovedCount : leftoversHeldCount);
    }
    /// Symbolic links and other entries that are not plain files, passed over.
    std::uint64_t linksPassedOver = 0;
    /// The error text of every mailbox that could not be converted, in walk order.
    std::vector<std::string> failures;
    /// A job that stopped early (a failure, Cancel, Stop Now): the mailbox under way
    /// when it stopped at once, and the mailboxes it did not reach (the first of them,
    /// and how many).
    std::string abandoned;
    std::vector<std::string> notReached;
    std::uint64_t notReachedCount = 0;
    void addNotReached(std::string name)
    {
        if (notReached.size() < kListedEmptyMailboxes)
            notReached.push_back(std::move(name));
        ++notReachedCount;
    }
    /// The job ended at an error before its end (not one a kept-going job went past).
    bool stoppedByError = false;

    std::uint64_t messages() const;
    std::uint64_t unconvertedMessages() const { return undecodableMessages + unfittingMessages + fieldTooLongMessages; }
};

/// The summary as the user reads it, one translated line each, nothing for a zero
/// count: one line per mailbox ("%1 (messages: %2)", "%1 (messages: %2, left
/// unconverted: %3)"), "Mailboxes converted: %1, messages: %2", "Messages left
/// unconverted, no charset in the list fits: %1", "Messages left unconverted, not valid
/// in the source encoding: %1", "Messages left unconverted, a header field is too long
/// to convert: %1", "Attachments put back: %1, missing: %2", "Eudora's own
/// files not converted: %1", "Files in attachment folders not converted: %1", "%1:
/// empty", "Not a mailbox, not converted: %1", "Links and special files passed over:
/// %1", "Failed: %1" (one per failure), "Left unconverted, stopped at once: %1", "Left
/// unconverted, the job stopped before them: %1", per mailbox "%1: %2 messages removed in
/// Eudora kept apart" or "%1: %2 messages removed in Eudora left out". Names are joined by
/// ", ", then "and %1 more"
/// for those not listed. It ends with what was written where, for comparing with what
/// Eudora showed: "Written:", then one line per mailbox with a destination ("%1 -> %2:
/// messages %3, read %4, replied %5, forwarded %6, attachments %7"), the mailboxes of
/// messages removed in Eudora after the mailbox they were removed from.
std::vector<std::string> summaryLines(const JobSummary& summary);

/// Whether the user should look at the summary: messages left unconverted, missing
/// attachments, links passed over, failures or mailboxes a stop left behind. Files skipped as Eudora's own, as
/// attachments, as empty or as not a mailbox are expected in any Eudora folder.
bool needsAttention(const JobSummary& summary);

} // namespace tarnwick
