#include "batch/BatchJob.h"

#include "engine/MboxConverter.h"
#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "batch/OutputNaming.h"
#include "settings/SettingsKeys.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>

namespace tarnwick {
namespace {

std::string firstCandidatePath(const std::string& folder, std::string name)
{
    std::replace(name.begin(), name.end(), '/', ':');
    return appendPathComponent(folder, name);
}

// Converts one input into its claimed output, then removes the output when the
// conversion failed or left it empty. Returns false on failure (errorText set).
bool convertInto(const std::string& inputPath, const std::string& outputPath, std::optional<std::string>& errorText)
{
    std::string conversionError;
    if (!convertMbox(inputPath, outputPath, conversionError)) {
        removeFile(outputPath);
        errorText = std::move(conversionError);
        return false;
    }
    if (fileSize(outputPath).value_or(1) == 0)
        removeFile(outputPath);
    return true;
}

class Job {
public:
    Job(BatchReporter& reporter, const std::atomic<bool>& hasCanceled)
        : reporter_(reporter)
        , hasCanceled_(hasCanceled)
    {
    }

    JobOutcome run()
    {
        const SettingsStore& store = SettingsStore::standard();
        const std::string source = standardizePath(store.stringForKey(keys::kSourcePath).value_or(std::string()));
        const std::string destination = standardizePath(store.stringForKey(keys::kDestinationPath).value_or(std::string()));

        bool sourceIsFolder = false;
        bool destinationIsFolder = false;
        if (!fileExists(source, &sourceIsFolder)) {
            fail(localizedFormat("\"%@\" not found", {source}));
        } else if (sourceIsFolder) {
            if (!fileExists(destination, &destinationIsFolder))
                fail(localizedFormat("\"%@\" not found", {destination}));
            else if (!destinationIsFolder)
                fail(localizedFormat("\"%@\" is not a directory", {destination}));
            else
                convertFolder(source, destination);
        } else if (!fileExists(destination, &destinationIsFolder)) {
            // Created exclusively: a dangling link or a file that appeared since the
            // test is never followed or truncated.
            int error = 0;
            if (ZQ_createFileExclusivelyAtPath(&destination, &error))
                convertSingleFile(source, destination);
            else if (error == EEXIST)
                fail(localizedFormat("\"%@\" already exists", {destination}));
            else
                fail(localizedFormat("Could not create \"%@\"", {destination}));
        } else if (!destinationIsFolder) {
            fail(localizedFormat("\"%@\" already exists", {destination}));
        } else {
            const std::string name = lastPathComponent(source);
            if (auto output = getUniquePath(destination, name))
                convertSingleFile(source, *output);
            else
                fail(localizedFormat("Could not create \"%@\"", {firstCandidatePath(destination, name)}));
        }

        JobOutcome outcome = JobOutcome::Completed;
        std::string finalText;
        if (errorText_) {
            outcome = JobOutcome::Failed;
            finalText = localizedFormat("Error: %@", {*errorText_});
        } else if (hasCanceled_.load()) {
            outcome = JobOutcome::Canceled;
            finalText = localizedFormat("Canceled", {});
        } else {
            finalText = localizedFormat("Completed", {});
        }
        reporter_.finalText(finalText);
        return outcome;
    }

private:
    void fail(std::string text) { errorText_ = std::move(text); }

    void convertSingleFile(const std::string& source, const std::string& output)
    {
        reporter_.statusText(localizedFormat("Processing \"%@\"...", {lastPathComponent(source)}));
        convertInto(source, output, errorText_);
    }

    void convertFolder(const std::string& source, const std::string& destination)
    {
        struct stat sourceStat {};
        struct stat destinationStat {};
        const bool identified = ::stat(source.c_str(), &sourceStat) == 0 && ::stat(destination.c_str(), &destinationStat) == 0;
        // The walk never yields the job's own outputs: a destination inside the
        // source is not descended into, and when the destination is the source
        // folder itself the outputs created there are remembered and passed over.
        const bool destinationIsSource = identified && sourceStat.st_dev == destinationStat.st_dev && sourceStat.st_ino == destinationStat.st_ino;
        std::unordered_set<ino_t> ownOutputs;

        DirectoryWalker walker(source);
        if (identified)
            walker.skipSubtree(destinationStat.st_dev, destinationStat.st_ino);
        while (walker.next()) {
            if (hasCanceled_.load())
                return;
            if (walker.type() != EntryType::Regular)
                continue;
            const std::string& relativeName = walker.relativeName();
            if (destinationIsSource && relativeName.find('/') == std::string::npos && ownOutputs.count(walker.inode()))
                continue;

            const std::string inputPath = appendPathComponent(source, relativeName);
            std::optional<std::string> outputPath = getUniquePath(destination, relativeName);
            if (!outputPath) {
                fail(localizedFormat("Could not create \"%@\"", {firstCandidatePath(destination, relativeName)}));
                return;
            }
            if (destinationIsSource) {
                struct stat outputStat {};
                if (::lstat(outputPath->c_str(), &outputStat) == 0)
                    ownOutputs.insert(outputStat.st_ino);
            }
            reporter_.statusText(localizedFormat("Processing \"%@\"...", {relativeName}));
            if (!convertInto(inputPath, *outputPath, errorText_))
                return;
        }
    }

    BatchReporter& reporter_;
    const std::atomic<bool>& hasCanceled_;
    std::optional<std::string> errorText_;
};

} // namespace

JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled)
{
    return Job(reporter, hasCanceled).run();
}

} // namespace tarnwick
