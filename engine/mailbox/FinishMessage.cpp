// The mailbox pass at the end of each message: conversion, the hand-over to the
// batches, and the messages whose attachments are put back.
#include "engine/mailbox/StreamPass.h"

#include "engine/message/MessageDecoder.h"
#include "platform/Localization.h"
#include "platform/Log.h"

namespace tarnwick {

bool StreamPass::finishMessage(std::uint64_t next)
{
    const bool finished = finishMessageBytes(next);
    if (onAutomaticChange_ && mailbox_.automatic != watchedState_) {
        onAutomaticChange_();
        onAutomaticChange_ = nullptr;
    }
    return finished;
}

bool StreamPass::finishMessageBytes(std::uint64_t next)
{
    // The bytes of a message whose spool file could not be made or written are not held
    // anywhere: the conversion fails rather than write the rest of it.
    if (spoolFailed_) {
        spoolError_ = spool_.errorText();
        return false;
    }
    ++messages_;
    // Collected whole for encoding conversion, a message over the bound would have to
    // be rebuilt in memory that grows with it.
    const bool tooLarge = messageWritten_ == 0 && messageLength() > kPendingBytesBound;
    if ((!attachmentLines_.empty() || lostAttachmentLines_ > 0) && (messageWritten_ > 0 || tooLarge)) {
        // Part of the message went out already (a long line, or more than 8 MiB), or it
        // is too large: it cannot be rebuilt.
        if (pipeline_ && !drainPipeline()) // the line follows those of the messages before
            return false;
        const std::string at = std::to_string(separator_.location);
        logMessage(splitBySize_ || tooLarge
                       ? formatMessage("Attachments not put back into the message at byte %1: it is over 8 MiB", {at})
                       : formatMessage("Attachments not put back into the message at byte %1: it holds a line over 4 MiB", {at}));
        // Their files are not in the output: counted with the missing ones.
        tally_.missing += attachmentLines_.size() + lostAttachmentLines_;
        attachmentLines_.clear();
    }
    lostAttachmentLines_ = 0;
    // The ways below write the message themselves, after everything before it.
    if (pipeline_ && spool_.size() > 0 && !drainPipeline())
        return false;
    // Putting attachments back needs the whole message in memory.
    if (!attachmentLines_.empty() && spool_.size() > 0 && !unspool())
        return false;
    if (!attachmentLines_.empty()) {
        const ReattachOutcome outcome = finishWithAttachments();
        attachmentLines_.clear();
        if (outcome == ReattachOutcome::Written) {
            messageStart_ = batch_.length();
            batch_.releaseInputBefore(next);
            return true;
        }
        if (outcome != ReattachOutcome::Unchanged)
            return false;
    }
    if (options_.addEmptyLines)
        appendBytes(terminator_);
    if (options_.convertEncodings && spool_.size() > 0) {
        if (pipeline_ && !drainPipeline())
            return false;
        const SpooledOutcome spooled = finishSpooled();
        if (spooled == SpooledOutcome::Failed)
            return false;
        if (spooled == SpooledOutcome::Written) {
            messageStart_ = batch_.length();
            batch_.releaseInputBefore(next);
            return true;
        }
    }
    if (pipeline_) {
        messageWritten_ = 0;
        splitBySize_ = false;
        const bool handedOn = pipeline_->finishMessage(headerLength_, next, head_);
        message_.attach(pipeline_->collecting(), pipeline_->messageStart());
        return handedOn;
    }
    if (options_.convertEncodings) {
        batch_.markMessage(head_);
        if (convert_(message_.view(), headerLength_, mailbox_, converted_))
            batch_.append(converted_);
        else
            batch_.append(message_.view());
        message_.clear();
    }
    messageStart_ = batch_.length();
    messageWritten_ = 0;
    splitBySize_ = false;
    if (batch_.length() < kBatchBytes)
        return true;
    messageStart_ = 0;
    return batch_.writeBehind(next);
}

bool StreamPass::drainPipeline()
{
    const bool drained = pipeline_->drain();
    message_.attach(pipeline_->collecting(), pipeline_->messageStart());
    return drained;
}

ReattachOutcome StreamPass::finishWithAttachments()
{
    std::string_view message = message_.view();
    if (!options_.convertEncodings) {
        batch_.takeFrom(messageStart_, collected_);
        message = collected_;
    }
    // Collected for conversion, the message is marked where its first bytes are written.
    DirectSink sink(batch_, output_, options_.convertEncodings ? &head_ : nullptr);
    // The text is converted before it is known whether the message can be rebuilt;
    // when it cannot, the whole message is converted again the usual way, so this
    // attempt must leave no trace: its log lines wait, and the mailbox state and the
    // counts it changed are put back.
    std::vector<std::string> attemptLog;
    std::optional<MailboxContext> mailboxBefore;
    UnconvertedCounts countsBefore;
    const TextConversion convertText = [&](std::string_view text, std::uint64_t length, std::string& result) {
        mailboxBefore = mailbox_;
        if (counts_)
            countsBefore = *counts_;
        const LogCapture capture(attemptLog);
        return convert_(text, length, mailbox_, result);
    };
    // With Automatic, names in attachment lines are taken in the mailbox's legacy encoding.
    const EncodingId namesEncoding = options_.sourceEncoding == kEncodingAutomatic
        ? mailbox_.automatic.family->primary(mailbox_.automatic.origin)
        : options_.sourceEncoding;
    // A subject in a log line reads as the converted message does: in the message's
    // own encoding. Chosen without the detector's memory of earlier messages, which
    // the pass does not have yet when the messages are converted on another thread.
    const std::function<EncodingId()> subjectEncoding = [&] {
        return messageEncoding(message, headerLength_, options_,
                               AutomaticSource{mailbox_.automatic.origin, mailbox_.automatic.family, nullptr});
    };
    const ReattachmentContext context{options_.attachmentFolders,
                                      namesEncoding,
                                      terminator_,
                                      options_.convertEncodings ? &convertText : nullptr,
                                      tally_,
                                      &subjectEncoding,
                                      options_.sourceEncoding,
                                      AutomaticSource{mailbox_.automatic.origin, mailbox_.automatic.family, nullptr},
                                      options_.labelTextAttachments};
    ReattachResult result;
    if (pipeline_) {
        // Only a message with a file found is written here, after everything before
        // it; of the others, only the missing files are logged, in their place.
        std::vector<std::string> missing;
        std::optional<AttachmentLookup> found;
        {
            const LogCapture capture(missing);
            found = lookUpAttachments(message, headerLength_, attachmentLines_, context);
        }
        if (found->parts.empty()) {
            for (std::string& line : missing)
                pipeline_->note(std::move(line));
            return ReattachOutcome::Unchanged;
        }
        if (!drainPipeline())
            return ReattachOutcome::WriteFailed;
        for (const std::string& line : missing)
            logMessage(line);
        message = message_.view(); // moved to the front of the buffer
        result = writeWithAttachments(message, headerLength_, *found, context, sink);
    } else {
        result = writeWithAttachments(message, headerLength_, attachmentLines_, context, sink);
    }
    if (result.outcome == ReattachOutcome::Unchanged && mailboxBefore) {
        mailbox_ = *mailboxBefore;
        if (counts_)
            *counts_ = countsBefore;
    } else {
        for (const std::string& line : attemptLog)
            logMessage(line);
    }
    return settleReattached(result, sink);
}

ReattachOutcome StreamPass::settleReattached(const ReattachResult& result, DirectSink& sink)
{
    switch (result.outcome) {
    case ReattachOutcome::Unchanged:
        if (!options_.convertEncodings)
            batch_.append(collected_);
        break;
    case ReattachOutcome::Written:
        message_.clear();
        if (!(options_.addEmptyLines ? sink.write(terminator_) && sink.flush() : sink.flush()))
            return ReattachOutcome::WriteFailed;
        break;
    case ReattachOutcome::ReadFailed:
        readFailure_ = result.failedPath;
        readError_ = result.error;
        break;
    case ReattachOutcome::WriteFailed:
        break;
    }
    return result.outcome;
}

} // namespace tarnwick
