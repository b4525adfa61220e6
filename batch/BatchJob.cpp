#include "batch/BatchJob.h"

#include "batch/AttachmentFolders.h"
#include "batch/ConversionSettings.h"
#include "batch/EudoraTree.h"
#include "batch/JobSummary.h"
#include "batch/MaildirNaming.h"
#include "batch/TocLookup.h"
#include "engine/text/CharsetCandidates.h"
#include "engine/text/LegacyEncodings.h"
#include "engine/output/MaildirWriter.h"
#include "engine/mailbox/MboxConverter.h"
#include "engine/message/MessageConverter.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/FolderListing.h"
#include "platform/MappedFile.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "batch/OutputNaming.h"
#include "settings/SettingsKeys.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

namespace tarnwick {
namespace {

// Every text the front end shows goes out with its control characters escaped, so that
// a file name (or a subject) cannot forge a status, summary or result line.
class EscapingReporter {
public:
    explicit EscapingReporter(BatchReporter& reporter) : reporter_(reporter) {}
    void statusText(const std::string& text) { reporter_.statusText(escapeControlCharacters(text)); }
    void finalText(const std::string& text) { reporter_.finalText(escapeControlCharacters(text)); }
    void progress(const JobProgress& progress) { reporter_.progress(progress); }
    void logLine(const std::string& line) { reporter_.logLine(line); } // escaped by the log
    MessageReceiver* maildirStarted(const std::string& stagedPath, const std::vector<std::string>& path)
    {
        return reporter_.maildirStarted(stagedPath, path);
    }
    void summary(JobSummary summary)
    {
        for (std::vector<std::string>* names : {&summary.emptyMailboxes, &summary.notMailboxes, &summary.failures,
                                                &summary.leftoversRemoved, &summary.leftoversHeld, &summary.notReached})
            for (std::string& name : *names)
                name = escapeControlCharacters(name);
        for (ConvertedMailbox& mailbox : summary.mailboxes) {
            mailbox.name = escapeControlCharacters(mailbox.name);
            mailbox.destination = escapeControlCharacters(mailbox.destination);
        }
        summary.abandoned = escapeControlCharacters(summary.abandoned);
        for (RemovedMessages& removed : summary.removed) {
            removed.name = escapeControlCharacters(removed.name);
            removed.mailboxDestination = escapeControlCharacters(removed.mailboxDestination);
            removed.destination = escapeControlCharacters(removed.destination);
        }
        for (MissingAttachment& missing : summary.attachments.missingFiles) {
            missing.subject = escapeControlCharacters(missing.subject);
            missing.file = escapeControlCharacters(missing.file);
        }
        reporter_.summary(summary);
    }

private:
    BatchReporter& reporter_;
};

std::string claimFailure(const std::string& path, int error)
{
    return translate("Could not create \"%1\": %2", {path, systemErrorText(error)});
}

// Why an input cannot be converted: "not found" only for a missing file.
std::string inputFailure(const std::string& path, int error)
{
    if (error == ENOENT)
        return translate("\"%1\" not found", {path});
    return translate("Could not open \"%1\": %2", {path, systemErrorText(error)});
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
    Job(BatchReporter& reporter, const std::atomic<bool>& hasCanceled, const std::atomic<bool>& stopsAtOnce)
        : reporter_(reporter), hasCanceled_(hasCanceled), stopsAtOnce_(stopsAtOnce)
    {}

    JobOutcome run()
    {
        const SettingsStore& store = SettingsStore::instance();
        const std::string typedDestination = store.stringValue(keys::kDestinationPath).value_or(std::string());
        const std::string source = standardizePath(store.stringValue(keys::kSourcePath).value_or(std::string()));
        const std::string destination = standardizePath(typedDestination);
        destination_ = destination;

        useRecords_ = store.boolValue(keys::kUseEudoraRecords);
        keepGoing_ = store.boolValue(keys::kKeepGoing);
        const std::string layout = store.stringValue(keys::kOutputLayout).value_or(std::string());
        thunderbirdLayout_ = layout == "thunderbird";
        treeLayout_ = layout == "tree" || thunderbirdLayout_;
        maildir_ = store.stringValue(keys::kOutputFormat).value_or(std::string()) == "maildir";
        removedApart_ = store.stringValue(keys::kRemovedMessages).value_or(std::string()) == "apart";

        {
            // What the job logs reaches the front end too, for its full account.
            const LogCopy logCopy([this](std::string_view line) { reporter_.logLine(std::string(line)); });
            if (checkSourceEncoding(readConversionOptions(store))) {
                convertSourceInto(source, destination, !typedDestination.empty() && typedDestination.back() == '/');
                completeSubFolders();
            }
        }

        JobOutcome outcome = JobOutcome::Completed;
        std::string finalText;
        if (stopsAtOnce_.load()) {
            outcome = JobOutcome::Canceled;
            finalText = translate("Canceled");
        } else if (errorText_ || !summary_.failures.empty()) {
            outcome = JobOutcome::Failed;
            finalText = translate("Error: %1", {errorText_ ? *errorText_ : failuresText()});
        } else if (hasCanceled_.load()) {
            outcome = JobOutcome::Canceled;
            finalText = translate("Canceled");
        } else {
            finalText = translate("Completed");
        }
        summary_.stoppedByError = errorText_.has_value();
        reporter_.summary(summary_);
        reporter_.finalText(finalText);
        return outcome;
    }

private:
    void fail(std::string text) { errorText_ = std::move(text); }

    // A mailbox encoding that does not read ASCII as ASCII would give outputs without
    // "From " lines: refused before anything is created. One that is not available
    // here leaves every message as it is: said once.
    bool checkSourceEncoding(const ConversionOptions& options)
    {
        if (!options.convertEncodings || options.sourceEncoding == kEncodingAutomatic)
            return true; // Automatic decides per mailbox among available encodings
        const std::vector<EncodingId> available = availableEncodings();
        if (std::find(available.begin(), available.end(), options.sourceEncoding) == available.end()) {
            logMessage(formatMessage("The mailbox encoding %1 is not available: messages are copied unconverted",
                                     {std::to_string(options.sourceEncoding)}));
            return true;
        }
        if (readsASCIIAsASCII(options.sourceEncoding))
            return true;
        const std::string name = encodingDisplayName(options.sourceEncoding).value_or(std::to_string(options.sourceEncoding));
        fail(translate("\"%1\" cannot be the mailbox encoding: it does not read ASCII as ASCII", {name}));
        return false;
    }

    void convertSourceInto(const std::string& source, const std::string& destination, bool destinationIsFolder)
    {
        const TargetStatus sourceStatus = targetStatus(source);
        const EntryType destinationType = targetType(destination);
        if (sourceStatus.type == EntryType::None) {
            fail(inputFailure(source, sourceStatus.error));
        } else if (sourceStatus.type == EntryType::Directory || destinationIsFolder) {
            // A destination typed with a trailing "/" is a folder, never a new file.
            if (destinationType == EntryType::None)
                fail(translate("The destination folder \"%1\" does not exist: create it first", {destination}));
            else if (destinationType != EntryType::Directory)
                fail(translate("\"%1\" is not a directory", {destination}));
            else if (sourceStatus.type == EntryType::Directory)
                convertFolder(source, destination);
            else
                convertIntoFolder(source, destination);
        } else if (destinationType == EntryType::None && maildir_) {
            // The new folder is the mailbox's Maildir: filled in the staging folder of
            // the folder it goes in, held, as a folder job's are, and placed under
            // exactly this name once whole.
            const std::string parent = parentPath(destination).empty() ? "." : parentPath(destination);
            MaildirFolder folder;
            const MaildirClaim claim = claimMaildirIn(parent, {fileName(destination)}, folder, true, true);
            if (!claim.claimed())
                fail(claimFailure(claim.path, claim.error));
            else
                convertSingleFile(source, folder, [&](MaildirFolder& apart) {
                    return claimMaildirIn(parent, {removedMailboxName(fileName(destination))}, apart, true, false);
                });
        } else if (destinationType == EntryType::None) {
            // Created exclusively: a dangling link or a file that appeared since the
            // test is never followed or truncated. Its folder is held, as a destination
            // folder is.
            const std::string parent = parentPath(destination);
            int error = 0;
            const std::shared_ptr<const FolderHandle> folder = FolderHandle::open(parent.empty() ? "." : parent, error);
            const CreateResult created = folder ? folder->createFile(fileName(destination)) : CreateResult{error};
            if (created.created())
                convertSingleFile(source, destination, created.identity, folder.get());
            else if (created.error == EEXIST)
                fail(translate("\"%1\" already exists", {destination}));
            else
                fail(claimFailure(destination, created.error));
        } else if (destinationType != EntryType::Directory) {
            fail(translate("\"%1\" already exists", {destination}));
        } else {
            convertIntoFolder(source, destination);
        }
    }

    void convertIntoFolder(const std::string& source, const std::string& destination)
    {
        noteLeftoversIn(destination);
        if (maildir_) {
            MaildirFolder folder;
            const MaildirClaim claim = claimMaildirIn(destination, {mailFolderName(fileName(source))}, folder);
            if (claim.claimed())
                convertSingleFile(source, folder, [&](MaildirFolder& apart) {
                    return claimMaildirIn(destination, {mailFolderName(removedMailboxName(fileName(source)))}, apart);
                });
            else
                fail(claimFailure(claim.path, claim.error));
            return;
        }
        if (!holdDestination(destination))
            return;
        NameNumbers once;
        const OutputClaim claim = claimOutputFile(destinationFolder_, fileName(source), once);
        if (claim.claimed())
            convertSingleFile(source, claim.path, claim.identity, claim.folder.get());
        else
            fail(claimFailure(claim.path, claim.error));
    }

    // Opens the destination folder for the whole job: every output and folder is made
    // relative to it, so that its path swapped for a link meanwhile sends nothing
    // elsewhere. False (the job failed) when it cannot be opened.
    bool holdDestination(const std::string& destination)
    {
        int error = 0;
        destinationFolder_ = FolderHandle::open(destination, error);
        if (!destinationFolder_) {
            fail(claimFailure(destination, error));
            return false;
        }
        outputFolders_.emplace(destinationFolder_);
        noteStagingLeftovers(*destinationFolder_);
        return true;
    }

    // A mailbox that could not be converted: the job's error, or with keep going one
    // more failure in the summary. False when the job stops here.
    bool failMailbox(const std::string& text)
    {
        if (!keepGoing_) {
            fail(text);
            return false;
        }
        summary_.failures.push_back(text);
        return true;
    }

    // The final error of a job that kept going past its failures.
    std::string failuresText() const
    {
        if (summary_.failures.size() == 1)
            return summary_.failures.front();
        return translate("%1 mailboxes could not be converted", {std::to_string(summary_.failures.size())});
    }

    // The folders the user named, standardised ("~" expanded), read once per job.
    const std::vector<std::string>& userAttachmentFolders()
    {
        if (!userFolders_) {
            userFolders_.emplace();
            for (const std::string& folder :
                 SettingsStore::instance().stringListValue(keys::kAttachmentFolders).value_or(std::vector<std::string>{}))
                if (!folder.empty())
                    userFolders_->push_back(standardizePath(folder));
        }
        return *userFolders_;
    }

    // Attachment folders and Eudora.ini are searched from the job's source, each folder
    // once; Eudora.ini's text is read as folder maps are.
    AttachmentFolderSearch& attachmentSearch(const ConversionOptions& options)
    {
        if (!attachmentSearch_) {
            const std::string source = standardizePath(SettingsStore::instance().stringValue(keys::kSourcePath).value_or(std::string()));
            attachmentSearch_.emplace(source, userAttachmentFolders(), folderMapEncoding(options));
        }
        return *attachmentSearch_;
    }

    // The options for one input, as the store holds them now, with its attachment
    // folders and index; the job's charset candidates are made from the first.
    ConversionOptions optionsFor(const std::string& inputPath)
    {
        ConversionOptions options = readConversionOptions(SettingsStore::instance());
        if (options.putBackAttachments)
            options.attachmentFolders = attachmentSearch(options).foldersFor(inputPath);
        if (useRecords_) {
            options.messageIndex = messageIndexFor(inputPath, folderNames_);
            const auto labelled = [](const IndexedMessage& record) { return record.facts.label != 0; };
            if (std::any_of(options.messageIndex.begin(), options.messageIndex.end(), labelled))
                options.labelNames = attachmentSearch(options).labelNamesFor(inputPath);
            // Without an index, a body line "From here on ..." must not start a message.
            options.separatorsOfEudorasForm = options.messageIndex.empty();
        }
        if (!candidates_)
            candidates_.emplace(options.charsetNames);
        return options;
    }

    // Converts one input into its claimed output with the options the store holds now,
    // then removes the claim when the conversion failed or wrote nothing, and notes the
    // mailbox (`displayName`) in the summary. False when the job stops here.
    bool convertInto(const std::string& inputPath, const std::string& outputPath, const FileIdentity& claim, LinkPolicy inputLinks,
                     const std::string& displayName, const FolderHandle* folder = nullptr)
    {
        const ConversionOptions options = optionsFor(inputPath);
        CharsetCandidates& candidates = *candidates_;
        ConversionControl control{inputLinks, &stopsAtOnce_, claim};
        control.outputFolder = folder;
        control.progress = [this](std::uint64_t done, std::uint64_t total) { fileProgress(done, total); };
        const ConversionResult result = convertMbox(inputPath, outputPath, options, candidates, control);
        // The claim is still in place when nothing was written (a failure, an empty
        // input, one that is no mailbox): it goes, unless something else took its place.
        if (folder)
            folder->removeFile(fileName(outputPath), claim);
        else
            removeFile(outputPath, claim);
        // The marks an mbox file carries are its index's.
        ConvertedMailbox written{displayName, result.messages, 0, belowDestination(outputPath), 0, 0, 0, 0};
        for (const IndexedMessage& record : options.messageIndex) {
            written.read += record.facts.read;
            written.replied += record.facts.replied;
            written.forwarded += record.facts.forwarded;
        }
        RemovedMessages removed{displayName, written.destination, 0, {}, 0};
        if (!noteConversion(result, std::move(written)))
            return false;
        if (!result.succeeded || result.notMailbox)
            return true;
        return noteRemovedMessages(inputPath, options, std::move(removed), [&](const ConversionOptions& alone, RemovedMessages& apart) {
            // Beside the mailbox's output, in the same held folder when there is one.
            const std::string name = removedMailboxName(fileName(outputPath));
            const OutputClaim taken
                = folder ? claimOutputFile(*folder, name, nameNumbers_) : claimOutputFile(parentPath(outputPath), name, nameNumbers_);
            if (!taken.claimed()) {
                claimError_ = claimFailure(taken.path, taken.error);
                return std::optional<ConversionResult>();
            }
            if (walk_)
                walk_->ownOutputs.insert(taken.identity.inode);
            ConversionControl separate{inputLinks, &stopsAtOnce_, taken.identity};
            separate.outputFolder = folder;
            std::optional<ConversionResult> converted = convertMbox(inputPath, taken.path, alone, candidates, separate);
            if (folder)
                folder->removeFile(fileName(taken.path), taken.identity);
            else
                removeFile(taken.path, taken.identity);
            if (const std::optional<FileIdentity> made = walk_ ? identityAt(taken.path).identity : std::nullopt)
                walk_->ownOutputs.insert(made->inode); // the finished output, renamed over the claim
            apart.destination = belowDestination(taken.path);
            return converted;
        });
    }

    // The messages a mailbox's index no longer lists (deleted or moved away in Eudora,
    // their bytes left until the mailbox was compacted): counted, and when kept apart
    // converted alone by `convertApart` into a mailbox of its own, which notes where;
    // none when that mailbox could not be claimed (claimError_ says why). Kept inside,
    // they are among the mailbox's messages already. False when the job stops here.
    using ApartConversion = std::function<std::optional<ConversionResult>(const ConversionOptions&, RemovedMessages&)>;
    bool noteRemovedMessages(const std::string& inputPath, const ConversionOptions& options, RemovedMessages removed,
                             const ApartConversion& convertApart)
    {
        if (options.messageIndex.empty() || options.unindexed == UnindexedInput::Inside)
            return true;
        removed.messages = removedMessageCount(inputPath, options.messageIndex);
        if (removed.messages == 0)
            return true;
        if (!removedApart_) {
            logMessage(formatMessage("'%1': %2 messages removed in Eudora left out", {inputPath, std::to_string(removed.messages)}));
            summary_.removed.push_back(std::move(removed));
            return true;
        }
        ConversionOptions alone = options;
        alone.unindexed = UnindexedInput::Only;
        const std::optional<ConversionResult> result = convertApart(alone, removed);
        if (!result)
            return failMailbox(claimError_);
        summary_.undecodableMessages += result->unconverted.undecodable;
        summary_.unfittingMessages += result->unconverted.unfitting;
        summary_.attachments.add(result->attachments);
        if (!result->succeeded)
            return stopsAtOnce_.load() ? false : failMailbox(result->errorText);
        removed.messages = result->messages;
        removed.attachments = result->attachments.attached;
        if (removed.messages > 0)
            summary_.removed.push_back(std::move(removed));
        return true;
    }

    // `path` as the summary names it: below the destination folder, or its file name.
    std::string belowDestination(const std::string& path) const
    {
        if (path.size() > destination_.size() && path.compare(0, destination_.size(), destination_) == 0
            && path[destination_.size()] == '/')
            return path.substr(destination_.size() + 1);
        return fileName(path);
    }

    // Notes a conversion's outcome in the summary, `written` telling what went where.
    // False when the job stops here.
    bool noteConversion(const ConversionResult& result, ConvertedMailbox written)
    {
        const std::string displayName = written.name;
        const std::uint64_t unconverted = result.unconverted.total();
        summary_.undecodableMessages += result.unconverted.undecodable;
        summary_.unfittingMessages += result.unconverted.unfitting;
        summary_.fieldTooLongMessages += result.unconverted.fieldTooLong;
        finishFile();
        summary_.attachments.add(result.attachments);
        if (!result.succeeded) {
            // Stopped at once: the mailbox under way is abandoned, not a failure.
            if (stopsAtOnce_.load()) {
                summary_.abandoned = displayName;
                return false;
            }
            return failMailbox(result.errorText);
        }
        if (result.notMailbox)
            summary_.addNotMailbox(displayName);
        else if (result.messages > 0) {
            written.unconverted = unconverted;
            written.attachments = result.attachments.attached;
            summary_.mailboxes.push_back(std::move(written));
        }
        return true;
    }

    // Converts one input into the new Maildir `folder`, as convertInto does for a file;
    // the folder goes again when nothing was delivered into it.
    // The messages removed in Eudora, kept apart, go into the Maildir that `claimApart`
    // makes when there are any.
    using MaildirClaimer = std::function<MaildirClaim(MaildirFolder&)>;
    bool convertIntoMaildir(const std::string& inputPath, MaildirFolder& folder, LinkPolicy inputLinks, const std::string& displayName,
                            const MaildirClaimer& claimApart)
    {
        const ConversionOptions options = optionsFor(inputPath);
        ConversionControl control{inputLinks, &stopsAtOnce_, std::nullopt};
        control.progress = [this](std::uint64_t done, std::uint64_t total) { fileProgress(done, total); };
        const MaildirResult maildir = convertMaildir(inputPath, folder, options, *candidates_, control);
        const ConversionResult result = placed(maildir.conversion, folder);
        const MarkTally& marks = maildir.marks;
        const std::string destination = belowDestination(folder.path());
        if (!noteConversion(result, {displayName, result.messages, 0, destination, marks.seen, marks.answered, marks.forwarded, 0}))
            return false;
        if (!result.succeeded || result.notMailbox)
            return true;
        return noteRemovedMessages(
            inputPath, options, {displayName, destination, 0, {}, 0}, [&](const ConversionOptions& alone, RemovedMessages& apart) {
                MaildirFolder separate;
                const MaildirClaim claim = claimApart(separate);
                if (walk_) {
                    for (const std::string& made : claim.createdFolders)
                        skipWalking(walk_->walker, made);
                }
                if (!claim.claimed()) {
                    claimError_ = claimFailure(claim.path, claim.error);
                    return std::optional<ConversionResult>();
                }
                if (walk_)
                    skipWalking(walk_->walker, claim.path);
                const ConversionControl plain{inputLinks, &stopsAtOnce_, std::nullopt};
                std::optional<ConversionResult> converted = convertMaildir(inputPath, separate, alone, *candidates_, plain).conversion;
                converted = placed(*converted, separate);
                apart.destination = belowDestination(separate.path());
                return converted;
            });
    }

    // A Maildir of the job's destination, made in its staging folder (MaildirPlacement),
    // the destination held from the first one on.
    // Staging folders that killed runs left there are removed first.
    MaildirClaim claimMaildirIn(const std::string& destination, const std::vector<std::string>& path, MaildirFolder& folder)
    {
        return claimMaildirIn(destination, path, folder, treeLayout_, false);
    }

    MaildirClaim claimMaildirIn(const std::string& destination, const std::vector<std::string>& path, MaildirFolder& folder, bool nested,
                                bool exactName)
    {
        if (!maildirPlacement_) {
            MaildirClaim failed;
            maildirPlacement_ = MaildirPlacement::open(destination, failed.error);
            if (!maildirPlacement_) {
                failed.path = destination;
                return failed;
            }
            noteStagingLeftovers(maildirPlacement_->folder());
        }
        MaildirClaim claim = maildirPlacement_->claim(path, nested, folder, exactName);
        if (claim.claimed() && !nested)
            folder.sendTo(reporter_.maildirStarted(claim.path, path));
        return claim;
    }

    // A converted Maildir moved to its place; one that failed or holds nothing goes.
    static ConversionResult placed(ConversionResult result, MaildirFolder& folder)
    {
        if (result.succeeded && folder.delivered() > 0) {
            if (const int error = folder.place(); error != 0) {
                result.succeeded = false;
                result.errorText = translate("Could not create \"%1\": %2", {folder.placePath(), systemErrorText(error)});
            }
        }
        if (!result.succeeded || folder.delivered() == 0)
            folder.discard();
        return result;
    }

    void convertSingleFile(const std::string& source, MaildirFolder& folder, const MaildirClaimer& claimApart)
    {
        reporter_.statusText(translate("Processing \"%1\"...", {fileName(source)}));
        progress_.files = 1;
        startFile(source);
        convertIntoMaildir(source, folder, LinkPolicy::Follow, fileName(source), claimApart);
    }

    void convertSingleFile(const std::string& source, const std::string& output, const FileIdentity& claim,
                           const FolderHandle* folder = nullptr)
    {
        reporter_.statusText(translate("Processing \"%1\"...", {fileName(source)}));
        progress_.files = 1;
        startFile(source);
        const TargetStatus status = targetStatus(source);
        const std::uint64_t size = fileSize(source).value_or(0);
        if (!convertInto(source, output, claim, LinkPolicy::Follow, fileName(source), folder) || errorText_ || hasCanceled_.load()
            || !summary_.failures.empty() || !summary_.mailboxes.empty())
            return;
        // A single source that gave no mailbox: the job says so and why, rather than
        // "Completed".
        if (status.type != EntryType::Regular)
            fail(translate("Nothing converted: \"%1\" is not a regular file", {source}));
        else if (size == 0)
            fail(translate("Nothing converted: \"%1\" is empty", {source}));
        else if (!summary_.notMailboxes.empty())
            fail(translate("Nothing converted: \"%1\" is not a mailbox (it does not begin with \"From \")", {source}));
        else
            fail(translate("Nothing converted: \"%1\" holds no message", {source}));
    }

    // Whether a file is passed over rather than converted: outside the places where an
    // Eudora folder keeps mailboxes, an empty file or one that is not a mailbox is one
    // of Eudora's own (counted). An empty mailbox is named in the summary.
    bool passedOver(const std::string& inputPath, const FilePlan& plan)
    {
        if (isEudorasOwnFile(inputPath, plan)) {
            ++summary_.eudoraFiles;
            return true;
        }
        if (plan.mailboxPlace && fileSize(inputPath).value_or(0) == 0)
            summary_.addEmptyMailbox(plan.displayName); // goes the way of every empty input: its output is removed
        return false;                                   // converted, or logged as not a mailbox, as any other file
    }

    static bool isEudorasOwnFile(const std::string& inputPath, const FilePlan& plan)
    {
        if (plan.mailboxPlace)
            return false;
        if (fileSize(inputPath).value_or(0) == 0)
            return true;
        MappedFile file;
        return file.open(inputPath, LinkPolicy::Refuse) && file.bytes().substr(0, 5) != "From ";
    }

    // The files a walk of `source` takes up, counted by a walk of its own before the
    // job starts (names and types only, the first bytes of a few files), so that the
    // front end can show "3 of 12". 0 when the count cannot be had.
    std::uint64_t countFiles(const std::string& source, const std::optional<FileIdentity>& destination)
    {
        DirectoryWalker walker(source);
        if (destination)
            walker.skipSubtree(destination->device, destination->inode);
        EudoraTree tree(source, useRecords_, folderMapEncoding(readConversionOptions(SettingsStore::instance())));
        passOverUnreadableFolders(walker, tree);
        std::uint64_t count = 0;
        while (walker.next()) {
            if (hasCanceled_.load())
                return 0;
            walker.takeUnreadable();
            if (mailboxPlan(source, walker, tree))
                ++count;
        }
        return walker.error() == 0 ? count : 0;
    }

    // An attachment folder holds no mail: one that cannot be read is passed over (the
    // lines naming its files count them as missing), not the end of the job. With keep
    // going, any other sub-folder that cannot be read is one more failure.
    void passOverUnreadableFolders(DirectoryWalker& walker, EudoraTree& tree)
    {
        unreadableMailFolders_.clear();
        if (!useRecords_ && !keepGoing_)
            return;
        walker.passOverUnreadable([this, &tree](const std::string& folder) {
            if (useRecords_ && tree.holdsAttachments(folder))
                return true;
            if (keepGoing_)
                unreadableMailFolders_.insert(folder);
            return keepGoing_;
        });
    }

    // The next file starts: said at once, with its size.
    void startFile(const std::string& inputPath)
    {
        ++progress_.file;
        if (progress_.files != 0 && progress_.file > progress_.files)
            progress_.files = progress_.file; // the folder gained files since they were counted
        progress_.bytesDone = 0;
        progress_.bytes = fileSize(inputPath).value_or(0);
        lastProgress_ = std::chrono::steady_clock::now();
        reporter_.progress(progress_);
    }

    // The pass over the file under way has read `done` bytes: said at most every 100 ms.
    void fileProgress(std::uint64_t done, std::uint64_t total)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgress_ < std::chrono::milliseconds(100))
            return;
        lastProgress_ = now;
        progress_.bytesDone = done;
        progress_.bytes = total;
        reporter_.progress(progress_);
    }

    // The file under way is done with, converted or not; one abandoned by a stop at
    // once is not said to be done.
    void finishFile()
    {
        if (stopsAtOnce_.load())
            return;
        progress_.bytesDone = progress_.bytes;
        reporter_.progress(progress_);
    }

    // Claims the output for a planned mailbox: flat, its path joined by ":", or in
    // nested folders. Folders made here are never walked. None with claimError_ set.
    std::optional<OutputClaim> claimOutput(const std::vector<std::string>& outputPath, DirectoryWalker& walker)
    {
        std::shared_ptr<const FolderHandle> folder = destinationFolder_;
        std::string name;
        if (treeLayout_) {
            std::vector<std::string> folders(outputPath.begin(), outputPath.end() - 1);
            // Thunderbird keeps a folder's sub-folders in NAME.sbd beside its mailbox NAME.
            if (thunderbirdLayout_) {
                for (std::string& component : folders)
                    component += ".sbd";
            }
            const FolderPath made = outputFolders_->enter(folders);
            // A folder of an earlier run may hold what an interrupted one left.
            for (const std::string& existing : made.existing)
                noteLeftoversIn(existing);
            if (thunderbirdLayout_) {
                for (std::size_t i = 0; i < made.created.size(); ++i)
                    subFolders_.emplace_back(made.createdIn[i], fileName(made.created[i]));
            }
            for (const std::string& created : made.created) {
                if (const std::optional<FileIdentity> createdIdentity = identityAt(created).identity)
                    walker.skipSubtree(createdIdentity->device, createdIdentity->inode);
            }
            if (!made.failedPath.empty()) {
                claimError_ = claimFailure(made.failedPath, made.error);
                return std::nullopt;
            }
            folder = made.folder;
            name = thunderbirdLayout_ ? mailFolderName(outputPath.back()) : outputPath.back();
        } else {
            for (const std::string& component : outputPath)
                name += (name.empty() ? "" : "/") + component;
        }
        OutputClaim claim = claimOutputFile(folder, name, nameNumbers_);
        if (!claim.claimed()) {
            claimError_ = claimFailure(claim.path, claim.error);
            return std::nullopt;
        }
        return claim;
    }

    // One mailbox of a folder walk into a Maildir of its own. False when the job stops.
    bool convertFolderMailbox(const std::string& destination, const std::string& relativeName, const std::string& inputPath,
                              const FilePlan& plan, DirectoryWalker& walker)
    {
        std::vector<std::string> path = plan.outputPath;
        path.back() = mailFolderName(path.back());
        MaildirFolder folder;
        const MaildirClaim claim = claimMaildirIn(destination, path, folder);
        for (const std::string& made : claim.createdFolders)
            skipWalking(walker, made);
        if (!claim.claimed()) {
            fail(claimFailure(claim.path, claim.error));
            return false;
        }
        skipWalking(walker, claim.path);
        reporter_.statusText(translate("Processing \"%1\"...", {relativeName}));
        startFile(inputPath);
        std::vector<std::string> apartPath = plan.outputPath;
        apartPath.back() = mailFolderName(removedMailboxName(apartPath.back()));
        return convertIntoMaildir(inputPath, folder, LinkPolicy::Refuse, useRecords_ ? plan.displayName : relativeName,
                                  [&](MaildirFolder& apart) { return claimMaildirIn(destination, apartPath, apart); });
    }

    // A folder the job made is never walked (it may lie inside the source).
    static void skipWalking(DirectoryWalker& walker, const std::string& folder)
    {
        if (const std::optional<FileIdentity> made = identityAt(folder).identity)
            walker.skipSubtree(made->device, made->inode);
    }

    // Each NAME.sbd made gets the mailbox NAME beside it that Thunderbird needs to show
    // it, empty where no mailbox of that name was written.
    void completeSubFolders()
    {
        for (const auto& [parent, folder] : subFolders_)
            parent->createFile(folder.substr(0, folder.size() - 4)); // taken already: the mailbox is there
    }

    // A temporary file of ours at `relativeName` below `folder`: deleted when no
    // process holds it (an interrupted run left it), and named in the summary.
    void noteLeftover(const std::string& folder, const std::string& relativeName)
    {
        const std::string path = joinPath(folder, relativeName);
        int error = 0;
        std::string claim; // the empty claim of the output it was, deleted with it
        const LeftoverOutcome outcome = removeLeftoverOutput(parentPath(path), fileName(path), error, &claim);
        if (outcome == LeftoverOutcome::Kept && error == ENOENT)
            return; // gone already
        if (!claim.empty()) {
            const std::string claimPath = joinPath(parentPath(path), claim);
            logMessage(formatMessage("'%1' was left by an interrupted run: deleted", {claimPath}));
            summary_.addLeftover(claimPath, true);
        }
        noteLeftoverOutcome(path, outcome, error);
    }

    // What became of something an interrupted run left: logged once, and named in the summary.
    void noteLeftoverOutcome(const std::string& path, LeftoverOutcome outcome, int error)
    {
        if (outcome == LeftoverOutcome::Removed)
            logMessage(formatMessage("'%1' was left by an interrupted run: deleted", {path}));
        else if (outcome == LeftoverOutcome::Held)
            logMessage(formatMessage("'%1' is being written by another conversion: left alone", {path}));
        else
            logMessage(formatMessage("'%1' was left by an interrupted run and could not be deleted: %2", {path, systemErrorText(error)}));
        summary_.addLeftover(path, outcome == LeftoverOutcome::Removed);
    }

    // The staging folders of killed Maildir jobs in the tmp/ of a destination held.
    void noteStagingLeftovers(const FolderHandle& destination)
    {
        for (const StagingLeftover& leftover : removeStagingLeftovers(destination))
            noteLeftoverOutcome(leftover.path, leftover.outcome, leftover.error);
    }

    // The temporary files of ours directly in the destination folder.
    void noteLeftoversIn(const std::string& destination)
    {
        for (const std::string& name : folderEntryNames(destination))
            if (isTemporaryOutputName(name) && entryType(joinPath(destination, name)) == EntryType::Regular)
                noteLeftover(destination, name);
    }

    // A walk of the source folder under way: what each of its entries needs.
    struct FolderWalk {
        const std::string& source;
        const std::string& destination;
        DirectoryWalker& walker;
        EudoraTree& tree;
        bool destinationIsSource = false;
        std::unordered_set<ino_t> ownOutputs;
    };

    void convertFolder(const std::string& source, const std::string& destination)
    {
        const std::optional<FileIdentity> sourceIdentity = identityFollowing(source).identity;
        const std::optional<FileIdentity> destinationIdentity = sourceIdentity ? identityFollowing(destination).identity : std::nullopt;
        const FileIdentity destinationKept = destinationIdentity.value_or(FileIdentity{});
        // The walk never yields the job's own outputs: a destination inside the
        // source is not descended into, and when the destination is the source
        // folder itself the outputs created there (claims, and the finished files
        // renamed over them) are remembered and passed over.
        const bool destinationIsSource = destinationIdentity && sourceIdentity == destinationIdentity;

        if (!destinationIsSource)
            noteLeftoversIn(destination);
        if (!maildir_ && !holdDestination(destination))
            return;
        progress_.files = countFiles(source, destinationIdentity);
        DirectoryWalker walker(source);
        if (destinationIdentity)
            walker.skipSubtree(destinationKept.device, destinationKept.inode);
        EudoraTree tree(source, useRecords_, folderMapEncoding(readConversionOptions(SettingsStore::instance())));
        passOverUnreadableFolders(walker, tree);
        FolderWalk walk{source, destination, walker, tree, destinationIsSource, {}};
        walk_ = &walk;
        const std::unique_ptr<Job, void (*)(Job*)> forgetWalk(this, [](Job* job) { job->walk_ = nullptr; });
        while (walker.next()) {
            noteUnreadableFolders(walk);
            if (hasCanceled_.load()) {
                noteNotReached(walk, true);
                return;
            }
            if (!convertEntry(walk)) {
                noteNotReached(walk, false);
                return;
            }
        }
        noteUnreadableFolders(walk);
        if (walker.error() != 0)
            fail(translate("Could not read folder \"%1\": %2", {joinPath(source, walker.failedFolder()), systemErrorText(walker.error())}));
    }

    void noteUnreadableFolders(FolderWalk& walk)
    {
        for (const DirectoryWalker::Unreadable& unreadable : walk.walker.takeUnreadable()) {
            if (unreadableMailFolders_.count(unreadable.folder))
                failMailbox(translate("Could not read folder \"%1\": %2",
                                      {joinPath(walk.source, unreadable.folder), systemErrorText(unreadable.error)}));
            else
                logMessage(formatMessage("The attachment folder '%1' could not be read: %2; its files are not put back",
                                         {unreadable.folder, systemErrorText(unreadable.error)}));
        }
    }

    // The walk's current entry as a mailbox the job would convert: its plan, or none
    // for what is passed over (not a regular file, ours, Eudora's own, an attachment).
    std::optional<FilePlan> mailboxPlan(const std::string& source, const DirectoryWalker& walker, EudoraTree& tree)
    {
        if (walker.type() != EntryType::Regular || isTemporaryOutputName(fileName(walker.relativeName())))
            return std::nullopt;
        FilePlan plan = tree.plan(walker.relativeName());
        if (plan.role == FileRole::EudoraFile || plan.role == FileRole::AttachmentFile)
            return std::nullopt;
        if (useRecords_ && isEudorasOwnFile(joinPath(source, walker.relativeName()), plan))
            return std::nullopt;
        return plan;
    }

    // The job stops early (a failure, Cancel, Stop Now): the mailboxes it has not
    // reached, the current entry with `current`, are named in the summary.
    void noteNotReached(FolderWalk& walk, bool current)
    {
        DirectoryWalker& walker = walk.walker;
        if (!current && !walker.next())
            return;
        do {
            if (walk.destinationIsSource && walk.ownOutputs.count(walker.inode()))
                continue;
            const std::optional<FilePlan> plan = mailboxPlan(walk.source, walker, walk.tree);
            if (plan && fileSize(joinPath(walk.source, walker.relativeName())).value_or(0) > 0)
                summary_.addNotReached(useRecords_ ? plan->displayName : walker.relativeName());
        } while (walker.next());
        walker.takeUnreadable();
    }

    // One entry of the folder walk: passed over, counted or converted. False when the
    // job stops here.
    bool convertEntry(FolderWalk& walk)
    {
        DirectoryWalker& walker = walk.walker;
        const std::string& relativeName = walker.relativeName();
        if (walker.type() == EntryType::SymbolicLink || walker.type() == EntryType::Other) {
            logMessage(formatMessage(walker.type() == EntryType::SymbolicLink ? "'%1' is a symbolic link: passed over"
                                                                              : "'%1' is not a regular file: passed over",
                                     {relativeName}));
            ++summary_.linksPassedOver;
            return true;
        }
        if (walker.type() != EntryType::Regular || (walk.destinationIsSource && walk.ownOutputs.count(walker.inode())))
            return true;
        if (isTemporaryOutputName(fileName(relativeName))) { // ours: never input
            noteLeftover(walk.source, relativeName);
            return true;
        }
        const std::string inputPath = joinPath(walk.source, relativeName);
        const FilePlan plan = walk.tree.plan(relativeName);
        if (plan.role == FileRole::EudoraFile || plan.role == FileRole::AttachmentFile) {
            ++(plan.role == FileRole::EudoraFile ? summary_.eudoraFiles : summary_.attachmentFiles);
            return true;
        }
        if (useRecords_ && passedOver(inputPath, plan))
            return true;
        if (maildir_)
            return convertFolderMailbox(walk.destination, relativeName, inputPath, plan, walker);
        const std::optional<OutputClaim> claim = claimOutput(plan.outputPath, walker);
        if (!claim) {
            startFile(inputPath); // counted as done with, unconverted
            finishFile();
            return failMailbox(claimError_);
        }
        if (walk.destinationIsSource)
            walk.ownOutputs.insert(claim->identity.inode);
        reporter_.statusText(translate("Processing \"%1\"...", {relativeName}));
        startFile(inputPath);
        if (!convertInto(inputPath, claim->path, claim->identity, LinkPolicy::Refuse, useRecords_ ? plan.displayName : relativeName,
                         claim->folder.get()))
            return false;
        if (const std::optional<FileIdentity> output = walk.destinationIsSource ? identityAt(claim->path).identity : std::nullopt)
            walk.ownOutputs.insert(output->inode);
        return true;
    }

    EscapingReporter reporter_;
    const std::atomic<bool>& hasCanceled_;
    const std::atomic<bool>& stopsAtOnce_;
    std::optional<std::string> errorText_;
    std::string claimError_; // why the last claimOutput failed
    JobSummary summary_;
    std::optional<std::vector<std::string>> userFolders_;
    std::optional<AttachmentFolderSearch> attachmentSearch_;
    NameNumbers nameNumbers_;                               // outputs of one name are numbered on from the last
    FolderNameLookup folderNames_;                          // indexes in another letter case, each folder listed once
    std::unordered_set<std::string> unreadableMailFolders_; // passed over only because of keep going
    bool useRecords_ = false;
    bool treeLayout_ = false;
    bool thunderbirdLayout_ = false; // tree layout, folders as NAME.sbd and no extensions
    // The NAME.sbd folders made, each with the folder it was made in.
    std::vector<std::pair<std::shared_ptr<const FolderHandle>, std::string>> subFolders_;
    std::shared_ptr<const FolderHandle> destinationFolder_; // held for the job (mbox outputs)
    std::unique_ptr<MaildirPlacement> maildirPlacement_;    // held for the job (Maildir outputs)
    std::optional<OutputFolders> outputFolders_;
    bool maildir_ = false;       // Maildir folders rather than mbox files
    bool removedApart_ = false;  // messages removed in Eudora into a mailbox of their own
    FolderWalk* walk_ = nullptr; // the folder walk under way
    std::string destination_;    // standardised
    bool keepGoing_ = false;
    // One candidate list per job, from the options of its first file.
    std::optional<CharsetCandidates> candidates_;
    JobProgress progress_;
    std::chrono::steady_clock::time_point lastProgress_;
};

const std::atomic<bool> kNeverStops{false};

} // namespace

JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled)
{
    return Job(reporter, hasCanceled, kNeverStops).run();
}

JobOutcome runBatchJob(BatchReporter& reporter, const std::atomic<bool>& hasCanceled, const std::atomic<bool>& stopsAtOnce)
{
    return Job(reporter, hasCanceled, stopsAtOnce).run();
}

} // namespace tarnwick
