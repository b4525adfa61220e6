// The job summary as the user reads it: one line per thing left out or put back,
// nothing for a zero count, and a bounded list of empty mailboxes.
#include "batch/JobSummary.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using Lines = std::vector<std::string>;

TEST(JobSummary, LinesForEachCount)
{
    JobSummary eudora;
    eudora.eudoraFiles = 27;
    eudora.attachmentFiles = 5;
    JobSummary empties;
    for (const char* name : {"Out", "Junk", "Trash"})
        empties.addEmptyMailbox(name);
    JobSummary attached;
    attached.attachments.attached = 2;
    JobSummary written;
    written.mailboxes
        = {{"In", 5, 0, ".In", 3, 1, 1, 2}, {"Work/Alpha", 2, 1, "Work/Alpha.mbx", 0, 0, 0, 0}, {"Old", 1, 0, "", 0, 0, 0, 0}};
    const struct Case {
        const char* name;
        JobSummary summary;
        Lines expected;
    } cases[] = {
        {"nothing", {}, {}},
        {"records", eudora, {"Eudora's own files not converted: 27", "Files in attachment folders not converted: 5"}},
        {"empty mailboxes", empties, {"Out, Junk, Trash: empty"}},
        {"attachments", attached, {"Attachments put back: 2, missing: 0"}},
        {"written, by destination",
         written,
         {"In (messages: 5)", "Work/Alpha (messages: 2, left unconverted: 1)", "Old (messages: 1)", "Mailboxes converted: 3, messages: 8",
          "Written:", "In -> .In: messages 5, read 3, replied 1, forwarded 1, attachments 2",
          "Work/Alpha -> Work/Alpha.mbx: messages 2, read 0, replied 0, forwarded 0, attachments 0"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(summaryLines(c.summary), c.expected) << c.name;
}

TEST(JobSummary, EmptyMailboxListIsBounded)
{
    JobSummary summary;
    const std::size_t total = JobSummary::kListedEmptyMailboxes + 7;
    for (std::size_t i = 0; i < total; ++i)
        summary.addEmptyMailbox("M" + std::to_string(i));
    EXPECT_EQ(summary.emptyMailboxes.size(), JobSummary::kListedEmptyMailboxes);
    EXPECT_EQ(summary.emptyMailboxCount, total);
    const Lines lines = summaryLines(summary);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 8), "M0, M1, ");
    EXPECT_NE(lines[0].find("M49, and 7 more: empty"), std::string::npos) << lines[0];
}

} // namespace
} // namespace tarnwick
