#pragma once
// An upload fed by the conversion itself: the job converts into a private Maildir++
// tree whose folders hand their messages straight to the upload instead of writing
// them, so that the mail goes up while it converts, with no copy on disk. A run cut
// short converts again: the conversion gives the same bytes, and the journal knows
// which of them are up.

#include "batch/BatchJob.h"
#include "batch/ImapUpload.h"
#include "platform/UploadFiles.h"

#include <atomic>
#include <string>
#include <vector>

namespace tarnwick {

class SettingsStore;

/// How the conversion for an upload ended.
struct UploadConversion {
    JobOutcome outcome = JobOutcome::Failed;
    /// All converted, or the job went past failed mailboxes (--keep-going): each mailbox
    /// it converted is whole, and finish(true) sends the rest.
    bool converted = false;
    std::string finalText; // the job's "Completed", "Canceled" or "Error: %1"
};

class ConversionUpload {
public:
    /// The upload into request.account; request.stagingRoot is the folder the job
    /// converts into (format maildir, flat layout). `reporter` is called on the upload's
    /// threads and the job's.
    ConversionUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel);

    /// Takes the lock of the staging folder (one run at a time converts and uploads the
    /// same mail into the same account), then opens the journal and the first connection,
    /// before anything is converted: false when the upload cannot begin (finish() says why).
    bool start();

    /// Runs the job that converts `source` (with the store's other settings as they are:
    /// the caller may set some volatile) in the staging folder, emptied first, each
    /// Maildir's messages handed to this upload. `reporter` gets the job's texts,
    /// progress and summary; its final text is returned instead.
    UploadConversion convert(SettingsStore& store, const std::string& source, BatchReporter& reporter,
                             const std::atomic<bool>& cancel, const std::atomic<bool>& stopsAtOnce);

    /// The upload has stopped (or never began): the conversion has no reason to go on.
    bool stopped() const { return !lock_.held() || upload_.stopped(); }

    /// The conversion is over: with `converted`, messages it wrote as files (a folder it
    /// could not name for the upload) go too. Waits for the batches on their way, then
    /// removes the staging folder; the summary.
    UploadSummary finish(bool converted);

private:
    class JobReporter;
    // The receiver of a Maildir the job begins: the folder's place is the first of its
    // names not taken in the tree, as the job places each Maildir before it begins the
    // next and nothing else writes there.
    MessageReceiver* maildirStarted(const std::vector<std::string>& path);

    std::string stagingRoot_;
    RunLock lock_;
    std::string lockError_;
    MessageUpload upload_;
};

} // namespace tarnwick
