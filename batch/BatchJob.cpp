#include "batch/BatchJob.h"

#include "batch/AttachmentFolders.h"
#include "batch/ConversionSettings.h"
#include "batch/EudoraTree.h"
#include "batch/JobSummary.h"
#include "batch/TocLookup.h"
#include "engine/CharsetCandidates.h"
#include "engine/LegacyEncodings.h"
#include "engine/MboxConverter.h"
#include "engine/MessageConverter.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"
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
    return joinPath(folder, name);
}

// Folder maps are written on Windows: with Automatic, their names that are not UTF-8
// are read in the Windows encoding of the user's language family.
EncodingId folderMapEncoding(const ConversionOptions& options)
{
    if (options.sourceEncoding == kEncodingAutomatic)
        return familyForLanguage(options.language).windows;
    return options.sourceEncoding;
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
        const SettingsStore& store = SettingsStore::instance();
        const std::string source = standardizePath(store.stringValue(keys::kSourcePath).value_or(std::string()));
        const std::string destination = standardizePath(store.stringValue(keys::kDestinationPath).value_or(std::string()));

        useRecords_ = store.boolValue(keys::kUseEudoraRecords);
        treeLayout_ = store.stringValue(keys::kOutputLayout).value_or(std::string()) == "tree";

        const EntryType sourceType = targetType(source);
        const EntryType destinationType = targetType(destination);
        if (sourceType == EntryType::None) {
            fail(translate("\"%1\" not found", {source}));
        } else if (sourceType == EntryType::Directory) {
            if (destinationType == EntryType::None)
                fail(translate("\"%1\" not found", {destination}));
            else if (destinationType != EntryType::Directory)
                fail(translate("\"%1\" is not a directory", {destination}));
            else
                convertFolder(source, destination);
        } else if (destinationType == EntryType::None) {
            // Created exclusively: a dangling link or a file that appeared since the
            // test is never followed or truncated.
            const CreateResult created = createExclusively(destination);
            if (created.created())
                convertSingleFile(source, destination);
            else if (created.error == EEXIST)
                fail(translate("\"%1\" already exists", {destination}));
            else
                fail(translate("Could not create \"%1\"", {destination}));
        } else if (destinationType != EntryType::Directory) {
            fail(translate("\"%1\" already exists", {destination}));
        } else {
            const std::string name = fileName(source);
            if (auto output = claimOutputFile(destination, name))
                convertSingleFile(source, *output);
            else
                fail(translate("Could not create \"%1\"", {firstCandidatePath(destination, name)}));
        }

        JobOutcome outcome = JobOutcome::Completed;
        std::string finalText;
        if (errorText_) {
            outcome = JobOutcome::Failed;
            finalText = translate("Error: %1", {*errorText_});
        } else if (hasCanceled_.load()) {
            outcome = JobOutcome::Canceled;
            finalText = translate("Canceled");
        } else {
            finalText = translate("Completed");
        }
        reporter_.summary(summary_);
        reporter_.finalText(finalText);
        return outcome;
    }

private:
    void fail(std::string text) { errorText_ = std::move(text); }

    // The folders the user named, standardised ("~" expanded), read once per job.
    const std::vector<std::string>& userAttachmentFolders()
    {
        if (!userFolders_) {
            userFolders_.emplace();
            for (const std::string& folder : SettingsStore::instance().stringListValue(keys::kAttachmentFolders).value_or(std::vector<std::string>{}))
                if (!folder.empty())
                    userFolders_->push_back(standardizePath(folder));
        }
        return *userFolders_;
    }

    // Converts one input into its claimed output with the options the store holds now,
    // then removes the output when the conversion failed or left it empty. False on
    // failure (the job's error text set).
    bool convertInto(const std::string& inputPath, const std::string& outputPath)
    {
        ConversionOptions options = readConversionOptions(SettingsStore::instance());
        if (options.putBackAttachments)
            options.attachmentFolders = attachmentFoldersFor(inputPath, userAttachmentFolders());
        if (useRecords_)
            options.messageIndex = messageIndexFor(inputPath);
        if (!candidates_)
            candidates_.emplace(options.charsetNames);
        CharsetCandidates& candidates = *candidates_;
        const ConversionResult result = convertMbox(inputPath, outputPath, options,
            [&](std::string_view message, std::uint64_t headerLength, MailboxContext& mailbox, std::string& converted) {
                return convertMessage(message, headerLength, options, candidates, mailbox, converted);
            });
        summary_.attachments.add(result.attachments);
        if (!result.succeeded) {
            removeFile(outputPath);
            fail(result.errorText);
            return false;
        }
        if (fileSize(outputPath).value_or(1) == 0)
            removeFile(outputPath);
        return true;
    }

    void convertSingleFile(const std::string& source, const std::string& output)
    {
        reporter_.statusText(translate("Processing \"%1\"...", {fileName(source)}));
        convertInto(source, output);
    }

    // Whether a file is passed over rather than converted: outside the places where an
    // Eudora folder keeps mailboxes, an empty file or one that is not a mailbox is one
    // of Eudora's own (counted). An empty mailbox is named in the summary.
    bool passedOver(const std::string& inputPath, const FilePlan& plan)
    {
        const std::uint64_t size = fileSize(inputPath).value_or(0);
        if (size == 0) {
            if (!plan.mailboxPlace) {
                ++summary_.eudoraFiles;
                return true;
            }
            summary_.emptyMailboxes.push_back(plan.displayName);
            return false; // goes the way of every empty input: its output is removed
        }
        if (plan.mailboxPlace)
            return false; // converted, or logged as not a mailbox, as any other file
        MappedFile file;
        if (file.open(inputPath) && file.bytes().substr(0, 5) != "From ") {
            ++summary_.eudoraFiles;
            return true;
        }
        return false;
    }

    // Claims the output for a planned mailbox: flat, its path joined by ":", or in
    // nested folders. Folders made here are never walked. None with the error set.
    std::optional<std::string> claimOutput(const std::string& destination, const std::vector<std::string>& outputPath,
                                           DirectoryWalker& walker)
    {
        std::string folder = destination;
        std::string name;
        if (treeLayout_) {
            const FolderPath made = createFolderPath(destination, {outputPath.begin(), outputPath.end() - 1});
            for (const std::string& created : made.created) {
                struct stat createdStat {};
                if (::lstat(created.c_str(), &createdStat) == 0)
                    walker.skipSubtree(createdStat.st_dev, createdStat.st_ino);
            }
            if (!made.failedPath.empty()) {
                fail(translate("Could not create \"%1\"", {made.failedPath}));
                return std::nullopt;
            }
            folder = made.path;
            name = outputPath.back();
        } else {
            for (const std::string& component : outputPath)
                name += (name.empty() ? "" : "/") + component;
        }
        std::optional<std::string> output = claimOutputFile(folder, name);
        if (!output)
            fail(translate("Could not create \"%1\"", {firstCandidatePath(folder, name)}));
        return output;
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
        EudoraTree tree(source, useRecords_, folderMapEncoding(readConversionOptions(SettingsStore::instance())));
        while (walker.next()) {
            if (hasCanceled_.load())
                return;
            if (walker.type() != EntryType::Regular)
                continue;
            const std::string& relativeName = walker.relativeName();
            if (destinationIsSource && ownOutputs.count(walker.inode()))
                continue;

            const std::string inputPath = joinPath(source, relativeName);
            const FilePlan plan = tree.plan(relativeName);
            if (plan.role == FileRole::EudoraFile) {
                ++summary_.eudoraFiles;
                continue;
            }
            if (plan.role == FileRole::AttachmentFile) {
                ++summary_.attachmentFiles;
                continue;
            }
            if (useRecords_ && passedOver(inputPath, plan))
                continue;
            std::optional<std::string> outputPath = claimOutput(destination, plan.outputPath, walker);
            if (!outputPath)
                return;
            if (destinationIsSource) {
                struct stat outputStat {};
                if (::lstat(outputPath->c_str(), &outputStat) == 0)
                    ownOutputs.insert(outputStat.st_ino);
            }
            reporter_.statusText(translate("Processing \"%1\"...", {relativeName}));
            if (!convertInto(inputPath, *outputPath))
                return;
        }
    }

    BatchReporter& reporter_;
    const std::atomic<bool>& hasCanceled_;
    std::optional<std::string> errorText_;
    JobSummary summary_;
    std::optional<std::vector<std::string>> userFolders_;
    bool useRecords_ = false;
    bool treeLayout_ = false;
    // One candidate list per job, from the options of its first file.
    std::optional<CharsetCandidates> candidates_;
};

} // namespace

JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled)
{
    return Job(reporter, hasCanceled).run();
}

} // namespace tarnwick
