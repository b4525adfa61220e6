#pragma once
// An upload fed by the conversion itself: the job converts into a private Maildir++
// tree whose folders hand their messages straight to the upload instead of writing
// them, so that the mail goes up while it converts, with no copy on disk. A run cut
// short converts again: the conversion gives the same bytes, and the journal knows
// which of them are up.

#include "batch/ImapUpload.h"

#include <atomic>
#include <string>
#include <vector>

namespace tarnwick {

class ConversionUpload {
public:
    /// The upload into request.account; request.stagingRoot is the folder the job
    /// converts into (format maildir, flat layout). `reporter` is called on the upload's
    /// threads and the job's.
    ConversionUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel);

    /// Opens the journal and the first connection, before anything is converted: false
    /// when the upload cannot begin (finish() says why).
    bool start() { return upload_.start(); }

    /// For the job's reporter (BatchReporter::maildirStarted), on the job's thread: the
    /// folder's place is the first of its names not taken in the tree, as the job
    /// places each Maildir before it begins the next and nothing else writes there.
    MessageReceiver* maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path);

    /// The upload has stopped: the conversion has no more reason to go on.
    bool stopped() const { return upload_.stopped(); }

    /// The conversion is over: with `converted`, messages it wrote as files (a folder it
    /// could not name for the upload) go too. Waits for the batches on their way; the summary.
    UploadSummary finish(bool converted) { return upload_.finish(converted); }

private:
    std::string stagingRoot_;
    MessageUpload upload_;
};

} // namespace tarnwick
