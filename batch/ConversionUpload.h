#pragma once
// An upload that runs beside the conversion filling its staged tree: the messages of
// each mailbox go up as the job writes them, the rest once the job is over, so that
// the whole takes about as long as the slower of the two rather than their sum.

#include "batch/ImapUpload.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {

class ConversionUpload {
public:
    /// Starts uploading request.stagingRoot, the private Maildir++ tree that a batch job
    /// (format maildir, flat layout) is about to fill; `reporter` is called on the
    /// upload's threads.
    ConversionUpload(UploadRequest request, UploadReporter& reporter, const std::atomic<bool>& cancel);
    /// Ends an upload not finished (as after a failed conversion) and waits for it.
    ~ConversionUpload();
    ConversionUpload(const ConversionUpload&) = delete;
    ConversionUpload& operator=(const ConversionUpload&) = delete;

    /// For the job's reporter (BatchReporter::maildirStarted), on the job's thread: the
    /// folder's place is the first of its names not taken in the tree, as the job
    /// places each Maildir before it begins the next and nothing else writes there.
    void maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path);

    /// The conversion is over: with `converted` what it placed goes up too, without it
    /// only the batches already on their way. Waits for the upload; its summary.
    UploadSummary finish(bool converted);

private:
    UploadRequest request_;
    StagingFeed feed_;
    UploadSummary summary_;
    std::thread thread_;
};

} // namespace tarnwick
