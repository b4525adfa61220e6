// The mailbox pass's messages too large for memory: collected in a spool file beside
// the output and converted from there.
#include "engine/mailbox/StreamPass.h"

#include <algorithm>

namespace tarnwick {

void StreamPass::spillIfLarge()
{
    if (message_.size() < kSpillStep || (spool_.size() == 0 && message_.size() < kSpoolBound))
        return;
    if (!spool_.append(spoolDirectory_, message_.view(), output_.spoolFolder()))
        spoolFailed_ = true;
    message_.clear();
}

bool StreamPass::unspool()
{
    const std::string tail(message_.view());
    message_.clear();
    for (std::uint64_t at = 0; at < spool_.size(); at += kLongLineChunk) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kLongLineChunk, spool_.size() - at));
        const std::string_view bytes = spool_.read(at, length, spoolBuffer_);
        if (bytes.size() != length) {
            spoolError_ = spool_.errorText();
            return false;
        }
        message_.append(bytes);
    }
    message_.append(tail);
    spool_.clear();
    return true;
}

StreamPass::SpooledOutcome StreamPass::finishSpooled()
{
    if (spoolFailed_ || !spool_.append(spoolDirectory_, message_.view(), output_.spoolFolder())) {
        spoolError_ = spool_.errorText();
        return SpooledOutcome::Failed;
    }
    message_.clear();
    bool readFailed = false;
    const MessageReader read = [this, &readFailed](std::uint64_t offset, std::size_t length) {
        const std::string_view bytes = spool_.read(offset, length, spoolBuffer_);
        if (bytes.size() != length) {
            // Never hand on fewer bytes than asked: the pass goes on over spaces and fails below.
            readFailed = true;
            spoolBuffer_.assign(length, ' ');
            return std::string_view(spoolBuffer_);
        }
        return bytes;
    };
    LargeMessageOutcome outcome = LargeMessageOutcome::NeedsWholeMessage;
    if (convertLarge_ && attachmentLines_.empty()) {
        batch_.markMessage(head_);
        if (!batch_.write())
            return SpooledOutcome::Failed;
        outcome
            = convertLarge_(spool_.size(), read, headerLength_, mailbox_, [this](std::string_view bytes) { return output_.write(bytes); });
    }
    switch (outcome) {
    case LargeMessageOutcome::Converted:
        break;
    case LargeMessageOutcome::Unconverted:
        for (std::uint64_t at = 0; at < spool_.size() && !readFailed; at += kLongLineChunk) {
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kLongLineChunk, spool_.size() - at));
            if (!output_.write(read(at, length)))
                return SpooledOutcome::Failed;
        }
        break;
    case LargeMessageOutcome::WriteFailed:
        return SpooledOutcome::Failed;
    case LargeMessageOutcome::NeedsWholeMessage:
        // Not one for the large path (attachment lines to put back, or no large path
        // at all): memory grows with this message.
        if (readFailed || !unspool()) {
            spoolError_ = spool_.errorText();
            return SpooledOutcome::Failed;
        }
        return SpooledOutcome::InMemory;
    }
    if (readFailed) {
        spoolError_ = spool_.errorText();
        return SpooledOutcome::Failed;
    }
    spool_.clear();
    message_.shrink(kInitialBufferCapacity);
    return SpooledOutcome::Written;
}

} // namespace tarnwick
