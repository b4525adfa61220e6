#include "batch/ConversionUpload.h"

#include "batch/ImapTarget.h"
#include "batch/MaildirNaming.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <utility>

namespace tarnwick {

namespace {

// As many numbered names as the job tries before it gives up on a mailbox.
constexpr int kLastNumber = 100000;

} // namespace

ConversionUpload::ConversionUpload(UploadRequest request, UploadReporter& reporter, const std::atomic<bool>& cancel)
    : request_(std::move(request))
{
    thread_ = std::thread([this, &reporter, &cancel] { summary_ = uploadMaildir(request_, reporter, cancel, &feed_); });
}

ConversionUpload::~ConversionUpload()
{
    if (thread_.joinable())
        finish(false);
}

void ConversionUpload::maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path)
{
    if (path.empty())
        return;
    for (int number = 1; number <= kLastNumber; ++number) {
        std::vector<std::string> numbered = path;
        if (number > 1)
            numbered.back() += "_" + std::to_string(number);
        const std::string name = maildirPlusName(numbered);
        if (entryType(joinPath(request_.stagingRoot, name)) != EntryType::None)
            continue;
        if (auto components = maildirFolderComponents(name))
            feed_.started({stagedPath, std::move(*components)});
        return; // a name not read back goes up from its place, once the job is over
    }
}

UploadSummary ConversionUpload::finish(bool converted)
{
    feed_.ended(converted);
    if (thread_.joinable())
        thread_.join();
    return summary_;
}

} // namespace tarnwick
