#include "batch/ConversionUpload.h"

#include "batch/ImapTarget.h"
#include "batch/MaildirNaming.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace tarnwick {

namespace {

// As many numbered names as the job tries before it gives up on a mailbox.
constexpr int kLastNumber = 100000;

} // namespace

ConversionUpload::ConversionUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
    : stagingRoot_(request.stagingRoot), upload_(request, reporter, cancel)
{}

MessageReceiver* ConversionUpload::maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path)
{
    (void)stagedPath;
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
