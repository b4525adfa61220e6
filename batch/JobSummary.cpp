#include "batch/JobSummary.h"

#include "platform/Localization.h"

namespace tarnwick {
namespace {

// The names listed, then "and N more" for the `count` minus those listed.
std::string joined(const std::vector<std::string>& names, std::uint64_t count)
{
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty())
            text += ", ";
        text += name;
    }
    if (count > names.size())
        text += translate(", and %1 more", {std::to_string(count - names.size())});
    return text;
}

std::string number(std::uint64_t value) { return std::to_string(value); }

void addMailboxLines(const JobSummary& summary, std::vector<std::string>& lines)
{
    for (const ConvertedMailbox& mailbox : summary.mailboxes) {
        if (mailbox.unconverted == 0)
            lines.push_back(translate("%1 (messages: %2)", {mailbox.name, number(mailbox.messages)}));
        else
            lines.push_back(translate("%1 (messages: %2, left unconverted: %3)",
                                      {mailbox.name, number(mailbox.messages), number(mailbox.unconverted)}));
    }
    if (!summary.mailboxes.empty())
        lines.push_back(translate("Mailboxes converted: %1, messages: %2", {number(summary.mailboxes.size()), number(summary.messages())}));
    if (summary.unfittingMessages > 0)
        lines.push_back(translate("Messages left unconverted, no charset in the list fits: %1", {number(summary.unfittingMessages)}));
    if (summary.undecodableMessages > 0)
        lines.push_back(
            translate("Messages left unconverted, not valid in the source encoding: %1", {number(summary.undecodableMessages)}));
    if (summary.fieldTooLongMessages > 0)
        lines.push_back(
            translate("Messages left unconverted, a header field is too long to convert: %1", {number(summary.fieldTooLongMessages)}));
}

void addRemovedLines(const JobSummary& summary, std::vector<std::string>& lines)
{
    for (const RemovedMessages& removed : summary.removed) {
        const std::string count = number(removed.messages);
        const bool one = removed.messages == 1;
        if (removed.destination.empty())
            lines.push_back(one ? translate("%1: 1 message removed in Eudora left out", {removed.name})
                                : translate("%1: %2 messages removed in Eudora left out", {removed.name, count}));
        else
            lines.push_back(one ? translate("%1: 1 message removed in Eudora kept apart", {removed.name})
                                : translate("%1: %2 messages removed in Eudora kept apart", {removed.name, count}));
    }
}

void addDestinationLines(const JobSummary& summary, std::vector<std::string>& lines)
{
    bool first = true;
    auto add = [&](const std::string& name, const std::string& destination, std::uint64_t messages, std::uint64_t read,
                   std::uint64_t replied, std::uint64_t forwarded, std::uint64_t attachments) {
        if (destination.empty())
            return;
        if (first)
            lines.push_back(translate("Written:"));
        first = false;
        lines.push_back(
            translate("%1 -> %2: messages %3, read %4, replied %5, forwarded %6, attachments %7",
                      {name, destination, number(messages), number(read), number(replied), number(forwarded), number(attachments)}));
    };
    for (const ConvertedMailbox& mailbox : summary.mailboxes) {
        add(mailbox.name, mailbox.destination, mailbox.messages, mailbox.read, mailbox.replied, mailbox.forwarded, mailbox.attachments);
        for (const RemovedMessages& removed : summary.removed)
            if (removed.mailboxDestination == mailbox.destination && !removed.destination.empty())
                add(translate("%1 (removed in Eudora)", {removed.name}), removed.destination, removed.messages, 0, 0, 0,
                    removed.attachments);
    }
}

} // namespace

std::uint64_t JobSummary::messages() const
{
    std::uint64_t total = 0;
    for (const ConvertedMailbox& mailbox : mailboxes)
        total += mailbox.messages;
    return total;
}

std::vector<std::string> summaryLines(const JobSummary& summary)
{
    std::vector<std::string> lines;
    addMailboxLines(summary, lines);
    const AttachmentTally& attachments = summary.attachments;
    if (attachments.attached + attachments.missing > 0) {
        lines.push_back(translate("Attachments put back: %1, missing: %2", {number(attachments.attached), number(attachments.missing)}));
    }
    if (summary.eudoraFiles > 0)
        lines.push_back(translate("Eudora's own files not converted: %1", {number(summary.eudoraFiles)}));
    if (summary.attachmentFiles > 0)
        lines.push_back(translate("Files in attachment folders not converted: %1", {number(summary.attachmentFiles)}));
    if (!summary.emptyMailboxes.empty())
        lines.push_back(translate("%1: empty", {joined(summary.emptyMailboxes, summary.emptyMailboxCount)}));
    if (!summary.notMailboxes.empty())
        lines.push_back(translate("Not a mailbox, not converted: %1", {joined(summary.notMailboxes, summary.notMailboxCount)}));
    if (summary.linksPassedOver > 0)
        lines.push_back(translate("Links and special files passed over: %1", {number(summary.linksPassedOver)}));
    if (!summary.leftoversRemoved.empty())
        lines.push_back(translate("Temporary files of an interrupted run, deleted: %1",
                                  {joined(summary.leftoversRemoved, summary.leftoversRemovedCount)}));
    if (!summary.leftoversHeld.empty())
        lines.push_back(translate("Temporary files of a conversion still running, left alone: %1",
                                  {joined(summary.leftoversHeld, summary.leftoversHeldCount)}));
    addRemovedLines(summary, lines);
    for (const std::string& failure : summary.failures)
        lines.push_back(translate("Failed: %1", {failure}));
    if (!summary.abandoned.empty())
        lines.push_back(translate("Left unconverted, stopped at once: %1", {summary.abandoned}));
    if (!summary.notReached.empty())
        lines.push_back(
            translate("Left unconverted, the job stopped before them: %1", {joined(summary.notReached, summary.notReachedCount)}));
    addDestinationLines(summary, lines);
    return lines;
}

bool needsAttention(const JobSummary& summary)
{
    return summary.unconvertedMessages() > 0 || summary.attachments.missing > 0 || summary.linksPassedOver > 0 || !summary.failures.empty()
        || !summary.abandoned.empty() || summary.notReachedCount > 0;
}

} // namespace tarnwick
