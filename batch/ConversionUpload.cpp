#include "batch/ConversionUpload.h"

#include "batch/ImapTarget.h"
#include "batch/MaildirNaming.h"
#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/ProfileFolders.h"
#include "platform/SettingsStore.h"
#include "platform/UploadFiles.h"
#include "settings/SettingsKeys.h"


namespace tarnwick {

namespace {

// As many numbered names as the job tries before it gives up on a mailbox.
constexpr int kLastNumber = 100000;

} // namespace

// Passes the job's texts on, hands each Maildir it begins to the upload, and keeps what
// its summary and final text say.
class ConversionUpload::JobReporter final : public BatchReporter {
public:
    JobReporter(ConversionUpload& upload, BatchReporter& shown) : upload_(upload), shown_(shown) {}
    void statusText(const std::string& text) override { shown_.statusText(text); }
    void progress(const JobProgress& progress) override { shown_.progress(progress); }
    void logLine(const std::string& line) override { shown_.logLine(line); }
    void summary(const JobSummary& summary) override
    {
        keptGoing = !summary.stoppedByError && !summary.failures.empty() && summary.notReachedCount == 0 && summary.abandoned.empty();
        shown_.summary(summary);
    }
    MessageReceiver* maildirStarted(const std::string&, const std::vector<std::string>& path) override
    {
        return upload_.maildirStarted(path);
    }
    void finalText(const std::string& text) override { final = text; }

    bool keptGoing = false;
    std::string final;

private:
    ConversionUpload& upload_;
    BatchReporter& shown_;
};

ConversionUpload::ConversionUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
    : stagingRoot_(request.stagingRoot), upload_(request, reporter, cancel)
{}

bool ConversionUpload::start()
{
    lockError_ = takeUploadLock(lock_, stagingRoot_ + ".lock");
    return lockError_.empty() && upload_.start();
}

UploadConversion ConversionUpload::convert(SettingsStore& store, const std::string& source, BatchReporter& reporter,
                                           const std::atomic<bool>& cancel, const std::atomic<bool>& stopsAtOnce)
{
    if (!makeEmptyPrivateFolder(stagingRoot_)) // emptied of what a killed run left
        return {JobOutcome::Failed, false, translate("Error: %1", {translate("Could not create \"%1\"", {stagingRoot_})})};
    store.setVolatile(keys::kSourcePath, SettingValue(source));
    store.setVolatile(keys::kDestinationPath, SettingValue(stagingRoot_));
    store.setVolatile(keys::kOutputFormat, SettingValue(std::string("maildir")));
    store.setVolatile(keys::kOutputLayout, SettingValue(std::string("flat")));
    JobReporter job(*this, reporter);
    const JobOutcome outcome = runBatchJob(job, cancel, stopsAtOnce);
    return {outcome, outcome == JobOutcome::Completed || (outcome == JobOutcome::Failed && job.keptGoing), job.final};
}

UploadSummary ConversionUpload::finish(bool converted)
{
    UploadSummary summary = upload_.finish(converted);
    if (!lock_.held()) {
        summary.stopReason = lockError_; // the folder is another run's
        return summary;
    }
    removeFolderTree(stagingRoot_);
    return summary;
}

MessageReceiver* ConversionUpload::maildirStarted(const std::vector<std::string>& path)
{
    if (path.empty())
        return nullptr;
    for (int number = 1; number <= kLastNumber; ++number) {
        std::vector<std::string> numbered = path;
        if (number > 1)
            numbered.back() += "_" + std::to_string(number);
        const std::string name = maildirPlusName(numbered);
        if (entryType(joinPath(stagingRoot_, name)) != EntryType::None)
            continue;
        const auto components = maildirFolderComponents(name);
        return components ? upload_.folder(*components) : nullptr;
    }
    return nullptr;
}

} // namespace tarnwick
