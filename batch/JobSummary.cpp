#include "batch/JobSummary.h"

#include "platform/Localization.h"

namespace tarnwick {

std::vector<std::string> summaryLines(const JobSummary& summary)
{
    std::vector<std::string> lines;
    const AttachmentTally& attachments = summary.attachments;
    if (attachments.attached + attachments.missing > 0) {
        lines.push_back(translate("Attachments put back: %1, missing: %2",
                                  {std::to_string(attachments.attached), std::to_string(attachments.missing)}));
    }
    if (summary.eudoraFiles > 0)
        lines.push_back(translate("Eudora's own files not converted: %1", {std::to_string(summary.eudoraFiles)}));
    if (summary.attachmentFiles > 0)
        lines.push_back(translate("Files in attachment folders not converted: %1", {std::to_string(summary.attachmentFiles)}));
    if (!summary.emptyMailboxes.empty()) {
        std::string names;
        for (const std::string& name : summary.emptyMailboxes) {
            if (!names.empty())
                names += ", ";
            names += name;
        }
        if (summary.emptyMailboxCount > summary.emptyMailboxes.size())
            names += translate(", and %1 more", {std::to_string(summary.emptyMailboxCount - summary.emptyMailboxes.size())});
        lines.push_back(translate("%1: empty", {names}));
    }
    return lines;
}

} // namespace tarnwick
