#include "engine/mailbox/StreamPass.h"

#include "engine/attachments/AttachmentLine.h"
#include "engine/mailbox/SeparatorDate.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnwick {
namespace {

// The separator line written before input that does not begin with one of its own (a
// stretch of a mailbox's unindexed input that starts inside a message): Eudora's form,
// with no sender and no time known.
constexpr std::string_view kFragmentSeparator = "From ???@??? Thu Jan  1 00:00:00 1970";
// Body lines are copied in blocks of at most this much input (see copyBodyLines).
constexpr std::uint64_t kBodyBlock = 64u << 10;
// How far ahead of the body scan the input is asked into the cache.
constexpr std::uint64_t kPrefetchDistance = 2048;

bool isSeparator(const char* contents, std::uint64_t length)
{
    return length >= 5 && contents[0] == 'F' && contents[1] == 'r' && contents[2] == 'o' && contents[3] == 'm' && contents[4] == ' ';
}

// A body line that names an attachment file. Only these lines make a message go
// through the rebuilding with its files; the cheap test rules out nearly every line.
bool isAttachmentLine(const char* contents, std::uint64_t length)
{
    return mayBeAttachmentLine(contents, static_cast<std::size_t>(length))
        && parseAttachmentLine(std::string_view(contents, static_cast<std::size_t>(length))).has_value();
}

bool startsWithName(const char* contents, std::uint64_t length, std::string_view lowerName)
{
    if (length < lowerName.size())
        return false;
    for (std::size_t i = 0; i < lowerName.size(); ++i) {
        const char c = contents[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lowerName[i])
            return false;
    }
    return true;
}

// Eudora keeps the Content-Length: and Lines: of the mail as it arrived, before it
// decoded the body; readers that trust them cut the mailbox in the wrong places.
bool isStaleLengthHeader(const char* contents, std::uint64_t length)
{
    return startsWithName(contents, length, "content-length:") || startsWithName(contents, length, "lines:");
}

// "Date:" in any ASCII letter case; independent of the C locale.
bool isDateHeader(const char* contents, std::uint64_t length)
{
    return length >= 5 && (contents[0] | 0x20) == 'd' && (contents[1] | 0x20) == 'a' && (contents[2] | 0x20) == 't'
        && (contents[3] | 0x20) == 'e' && contents[4] == ':';
}

} // namespace

StreamPass::StreamPass(const std::string& inputPath, const std::string& outputPath, MappedFile& input, MailboxOutput& output,
                       const ConversionOptions& options, const MessageConversion& convert, const LargeMessageConversion& convertLarge,
                       const ParallelSetup& parallel, std::uint64_t partStart)
    : inputPath_(inputPath), input_(input), bytes_(input.bytes()), output_(output), options_(options), convert_(convert),
      batch_(input, output, partStart),
      ownMessage_(options.convertEncodings && !(parallel.candidates && parallel.secondThread) ? kInitialBufferCapacity : 0),
      spoolDirectory_(outputPath.substr(0, outputPath.find_last_of('/') + 1)), convertLarge_(convertLarge)
{
    mailbox_.automatic.family = &familyForLanguage(options.language);
    if (options_.convertEncodings && parallel.candidates && parallel.secondThread) {
        pipeline_.emplace(options_, *parallel.candidates, mailbox_, *parallel.counts, parallel.batchBytes, [this](MessageBatch& batch) {
            if (batch_.marksMessages()) {
                for (const BatchedMessage& message : batch.messages)
                    batch_.markMessageAt(batch_.length() + message.outputOffset, message.head);
            }
            batch_.take(batch.output);
            if (batch_.length() < kBatchBytes)
                return true;
            return batch_.writeBehind(batch.inputEnd);
        });
        message_.attach(pipeline_->collecting(), pipeline_->messageStart());
    } else {
        message_.attach(ownMessage_, 0);
    }
    if (options_.convertEncodings && parallel.candidates)
        counts_ = parallel.counts;
    if (options_.crlfLineEndings)
        setTerminator("\r\n");
    else if (options_.lfLineEndings)
        setTerminator("\n");
    dateSatisfied_ = !options_.complementDateHeaders;
}

bool StreamPass::run(const std::function<void(std::uint64_t, std::uint64_t)>& progress, std::uint64_t from, std::uint64_t to)
{
    const std::uint64_t n = to;
    limit_ = to;
    const char* const data = bytes_.data();
    std::uint64_t position = from;
    std::uint64_t nextProgress = progress ? from + kProgressStep : std::numeric_limits<std::uint64_t>::max();
    while (position < n) {
        if (position >= nextProgress) {
            progress(position, n);
            nextProgress = position + kProgressStep;
        }
        if (!inHeaders_ && headerLength_ != kHeaderLengthNone && !terminatorOpen_) {
            position = options_.convertEncodings ? collectBodyLines(position) : copyBodyLines(position);
            if (position == n)
                break;
        }
        const auto [start, contentsEnd, lineEnd] = lineAt(position);
        if (terminatorOpen_ && lineEnd > contentsEnd)
            setInputTerminator(bytes_.substr(contentsEnd, lineEnd - contentsEnd));
        if (start == 0)
            mailbox_.automatic.origin = originOfMailbox(bytes_.substr(contentsEnd, lineEnd - contentsEnd));

        const char* const contents = data + start;
        const std::uint64_t length = contentsEnd - start;
        const bool fromLine = isSeparator(contents, length);
        const bool separator
            = fromLine && (!options_.separatorsOfEudorasForm || start == 0 || hasSeparatorDate(std::string_view(contents, length)));
        if (separator && !insideIndexedMessage(start)) {
            if ((messageLength() > 0 || spoolFailed_) && !finishMessage(start))
                return false;
            dateSatisfied_ = !options_.complementDateHeaders;
            droppingField_ = false;
            separator_ = ByteRange{start, length};
            inHeaders_ = true;
            headerLength_ = kHeaderLengthNone;
            startRecord(start);
            beginHead(start, length);
        } else if (!inHeaders_) {
            if (headerLength_ == kHeaderLengthNone)
                headerLength_ = messageLength();
            if (options_.putBackAttachments && isAttachmentLine(contents, length))
                noteAttachmentLine(length);
        } else if (!keepHeaderLine(contents, length)) {
            position = lineEnd;
            continue;
        }
        // A "From " line inside a message that the index bounds, or not of the
        // separator's form where only that starts a message, is body text.
        if (fromLine && start != separator_.location)
            appendBytes(">");
        appendLine(start, contentsEnd, lineEnd);
        position = lineEnd;
        boundPendingMessage(position);
        if (writeFailed_)
            return false;
    }
    if ((messageLength() > 0 || spoolFailed_) && !finishMessage(n))
        return false;
    if (pipeline_ && !drainPipeline())
        return false;
    // Everything is written: the next message, if the pass goes on, begins the batch.
    messageStart_ = 0;
    return batch_.write();
}

bool StreamPass::keepHeaderLine(const char* contents, std::uint64_t length)
{
    if (length == 0) {
        if (!dateSatisfied_)
            appendDateLine();
        if (record_)
            appendStatusLines();
        inHeaders_ = false;
        return true;
    }
    if (options_.dropStaleLengths && isDroppedHeaderLine(contents, length))
        return false;
    if (!dateSatisfied_ && isDateHeader(contents, length))
        dateSatisfied_ = true;
    // A blank status header gives way to the one the record gives.
    return !(record_ && record_->facts.marksKnown
             && noteStatusHeader(std::string_view(contents, length), options_.extraStatusHeaders, presentStatus_));
}

void StreamPass::boundPendingMessage(std::uint64_t position)
{
    if (!options_.convertEncodings && batch_.length() - messageStart_ >= kPendingBytesBound) {
        // Too large to be rebuilt in bounded memory: its attachments stay as lines.
        lostAttachmentLines_ += attachmentLines_.size();
        attachmentLines_.clear();
        splitBySize_ = splitBySize_ || messageWritten_ == 0;
        writePartOfMessage(position);
    } else if (spool_.size() > 0) {
        batch_.releaseInputBefore(position); // what is spooled is not read from the input again
    }
}

void StreamPass::beginAtSplit(std::string_view firstTerminator)
{
    if (terminatorOpen_)
        setInputTerminator(firstTerminator);
    mailbox_.automatic.origin = originOfMailbox(firstTerminator);
}

void StreamPass::beginRange(std::uint64_t from, std::uint64_t to)
{
    const MessageIndex& index = options_.messageIndex;
    nextRecord_ = static_cast<std::size_t>(
        std::partition_point(index.begin(), index.end(), [from](const IndexedMessage& m) { return m.offset + m.length <= from; })
        - index.begin());
    if (from >= to || (to - from >= kSeparatorPrefix.size() && bytes_.substr(from, kSeparatorPrefix.size()) == kSeparatorPrefix))
        return;
    if (terminatorOpen_)
        setTerminator("\n");
    record_ = nullptr;
    presentStatus_ = {};
    separator_ = ByteRange{from, 0};
    dateSatisfied_ = true;
    droppingField_ = false;
    beginHead(from, 0);
    appendBytes(kFragmentSeparator);
    appendBytes(terminator_);
    appendBytes(terminator_);
    inHeaders_ = false;
    headerLength_ = kHeaderLengthNone;
}

void StreamPass::setInputTerminator(std::string_view terminator)
{
    setTerminator(options_.mendCROnlyLineEndings && terminator == "\r" ? std::string_view("\n") : terminator);
}

bool StreamPass::isDroppedHeaderLine(const char* contents, std::uint64_t length)
{
    if (contents[0] == ' ' || contents[0] == '\t')
        return droppingField_;
    droppingField_ = isStaleLengthHeader(contents, length);
    return droppingField_;
}

void StreamPass::setTerminator(std::string_view terminator)
{
    std::memcpy(terminatorBytes_, terminator.data(), terminator.size());
    terminator_ = std::string_view(terminatorBytes_, terminator.size());
    terminatorOpen_ = false;
}

LineBounds StreamPass::lineAt(std::uint64_t position)
{
    const std::uint64_t n = limit_;
    const char* const b = bytes_.data();
    std::uint64_t t = position;
    for (;;) {
        const std::uint64_t limit = n - t > kLongLineChunk ? t + kLongLineChunk : n;
        t = static_cast<std::uint64_t>(lineScanner::findLineBreak(b + t, b + limit) - b);
        if (t < limit || limit == n)
            break;
        input_.dropPages(t - kLongLineChunk, t);
    }
    LineBounds line{position, t, n};
    if (t < n)
        line.end = (b[t] == '\r' && t + 1 < n && b[t + 1] == '\n') ? t + 2 : t + 1;
    return line;
}

void StreamPass::appendBytes(std::string_view bytes)
{
    if (options_.convertEncodings) {
        message_.append(bytes);
        spillIfLarge();
    } else {
        batch_.append(bytes);
    }
}

void StreamPass::appendLine(std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t lineEnd)
{
    const char* const contents = bytes_.data() + start;
    const auto length = static_cast<std::size_t>(contentsEnd - start);
    if (options_.convertEncodings) {
        if (length > kLongLineChunk) {
            for (std::size_t at = 0; at < length; at += kLongLineChunk) {
                message_.append(contents + at, std::min<std::size_t>(kLongLineChunk, length - at));
                spillIfLarge();
                input_.dropPages(start, start + at);
            }
            appendBytes(terminator_);
            input_.dropPages(start, contentsEnd);
        } else {
            message_.appendLine(contents, length, terminator_);
            spillIfLarge();
        }
    } else if (length > kLongLineChunk && attachmentLines_.empty())
        appendLongLine(start, contentsEnd);
    else if (hasOutputTerminator(contentsEnd, lineEnd))
        batch_.appendInput(start, lineEnd - start);
    else
        batch_.appendLine(contents, length, terminator_);
}

void StreamPass::appendLongLine(std::uint64_t start, std::uint64_t contentsEnd)
{
    for (std::uint64_t at = start; at < contentsEnd && !writeFailed_;) {
        const std::uint64_t length = std::min(kLongLineChunk, contentsEnd - at);
        batch_.appendInput(at, length);
        at += length;
        writePartOfMessage(at);
        input_.dropPages(start, at);
    }
    batch_.append(terminator_);
}

void StreamPass::noteAttachmentLine(std::uint64_t length)
{
    if (messageWritten_ == 0)
        attachmentLines_.push_back({messageLength(), length});
    else
        ++lostAttachmentLines_;
}

void StreamPass::writePartOfMessage(std::uint64_t consumed)
{
    messageWritten_ += batch_.length() - messageStart_;
    messageStart_ = 0;
    if (!batch_.write())
        writeFailed_ = true;
    batch_.releaseInputBefore(consumed);
}

std::uint64_t StreamPass::bodyBlockEnd(std::uint64_t position) const
{
    const std::uint64_t n = limit_;
    const std::uint64_t blockEnd = n - position > kBodyBlock ? position + kBodyBlock : n;
    return blockEnd - position < 64 ? position : blockEnd;
}

template <typename OnLine> std::uint64_t StreamPass::walkBodyLines(std::uint64_t position, std::uint64_t blockEnd, OnLine&& onLine)
{
    const char* const b = bytes_.data();
    const std::uint64_t n = bytes_.size();
    const std::size_t terminatorLength = terminator_.size();
    const char t0 = terminatorBytes_[0];
    const char t1 = terminatorBytes_[1];
    const std::uint64_t lastChunk = blockEnd - 64; // the last chunk start whose 64 bytes are in the block
    std::uint64_t chunk = position;
    std::uint64_t breaks = lineScanner::lineBreakMask64(b + chunk); // of [chunk, chunk + 64), none before p
    std::uint64_t p = position;
    for (;;) {
        if (n - p >= 5 && b[p] == 'F' && std::memcmp(b + p, "From ", 5) == 0)
            return p;
        while (breaks == 0) {
            if (chunk + 64 > lastChunk)
                return p;
            chunk += 64;
            __builtin_prefetch(b + std::min(chunk + kPrefetchDistance, n - 1));
            breaks = lineScanner::lineBreakMask64(b + chunk);
            if (p > chunk) // the LF of a CR LF that ended the chunk before
                breaks &= ~std::uint64_t{0} << (p - chunk);
        }
        const std::uint64_t t = chunk + static_cast<std::uint64_t>(__builtin_ctzll(breaks));
        if (options_.putBackAttachments && isAttachmentLine(b + p, static_cast<std::size_t>(t - p)))
            return p;
        breaks &= breaks - 1;
        std::uint64_t next = t + 1;
        if (b[t] == '\r' && next < n && b[next] == '\n') {
            if (next < chunk + 64)
                breaks &= breaks - 1; // that LF's bit
            ++next;
        }
        onLine(p, t, next, next - t == terminatorLength && b[t] == t0 && (terminatorLength == 1 || b[t + 1] == t1));
        p = next;
    }
}

std::uint64_t StreamPass::copyBodyLines(std::uint64_t position)
{
    const std::uint64_t blockEnd = bodyBlockEnd(position);
    if (blockEnd == position)
        return position;
    const char* const b = bytes_.data();
    const std::uint64_t n = bytes_.size();
    const std::size_t terminatorLength = terminator_.size();
    const char t0 = terminatorBytes_[0];
    const char t1 = terminatorBytes_[1];
    // Every line grows by at most one byte (CR or LF to CR LF); 32 bytes of slack for
    // the wide copies, which may store up to 31 bytes past a line.
    char* out = batch_.reserveBytes(2 * static_cast<std::size_t>(blockEnd - position) + 32);
    // Pending is either the run [kept, p) of lines written from the input or the
    // rewritten bytes [copied, out), never both.
    char* copied = out;
    std::uint64_t kept = position;
    const std::uint64_t p
        = walkBodyLines(position, blockEnd, [&](std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t end, bool endsAsOutput) {
              if (endsAsOutput) {
                  if (out != copied) { // the run starts here, where the last rewritten line ended
                      batch_.commitBytes(static_cast<std::size_t>(out - copied));
                      copied = out;
                  }
                  return;
              }
              if (kept < start)
                  batch_.appendInput(kept, start - kept);
              kept = end;
              const auto length = static_cast<std::size_t>(contentsEnd - start);
              if (n - start >= length + 32) {
                  // Whole 16-byte loads, never past the input: cheaper than a call for the
                  // usual short line.
                  for (std::size_t at = 0; at < length; at += 32) {
                      std::memcpy(out + at, b + start + at, 16);
                      std::memcpy(out + at + 16, b + start + at + 16, 16);
                  }
              } else {
                  std::memcpy(out, b + start, length);
              }
              out += length;
              out[0] = t0;
              out[1] = t1;
              out += terminatorLength;
          });
    if (out != copied)
        batch_.commitBytes(static_cast<std::size_t>(out - copied));
    else if (kept < p)
        batch_.appendInput(kept, p - kept);
    return p;
}

std::uint64_t StreamPass::collectBodyLines(std::uint64_t position)
{
    const std::uint64_t blockEnd = bodyBlockEnd(position);
    if (blockEnd == position)
        return position;
    const char* const b = bytes_.data();
    std::uint64_t kept = position; // the run of lines not yet collected: [kept, p)
    const std::uint64_t p
        = walkBodyLines(position, blockEnd, [&](std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t end, bool endsAsOutput) {
              if (endsAsOutput)
                  return;
              message_.append(b + kept, static_cast<std::size_t>(start - kept));
              message_.appendLine(b + start, static_cast<std::size_t>(contentsEnd - start), terminator_);
              kept = end;
          });
    message_.append(b + kept, static_cast<std::size_t>(p - kept));
    spillIfLarge();
    if (spool_.size() > 0)
        batch_.releaseInputBefore(p); // what is spooled is not read from the input again
    return p;
}

bool StreamPass::hasOutputTerminator(std::uint64_t contentsEnd, std::uint64_t lineEnd) const
{
    const std::uint64_t length = lineEnd - contentsEnd;
    if (length == 0 || length != terminator_.size())
        return false;
    const char* const terminator = bytes_.data() + contentsEnd;
    return terminator[0] == terminatorBytes_[0] && (length == 1 || terminator[1] == terminatorBytes_[1]);
}

bool StreamPass::insideIndexedMessage(std::uint64_t start)
{
    const MessageIndex& index = options_.messageIndex;
    while (nextRecord_ < index.size() && index[nextRecord_].offset + index[nextRecord_].length <= start)
        ++nextRecord_;
    return nextRecord_ < index.size() && index[nextRecord_].offset < start;
}

void StreamPass::startRecord(std::uint64_t start)
{
    const MessageIndex& index = options_.messageIndex;
    record_ = nextRecord_ < index.size() && index[nextRecord_].offset == start ? &index[nextRecord_] : nullptr;
    presentStatus_ = {};
}

void StreamPass::appendStatusLines()
{
    statusLines_.clear();
    appendStatusHeaders(record_->facts, presentStatus_, options_.extraStatusHeaders, terminator_, statusLines_, options_.labelNames);
    appendBytes(statusLines_);
}

void StreamPass::beginHead(std::uint64_t start, std::uint64_t length)
{
    if (!batch_.marksMessages())
        return;
    head_.facts = record_ && record_->facts.marksKnown ? &record_->facts : nullptr;
    head_.instant = length > 0 ? separatorInstant(bytes_.substr(start, length)) : std::nullopt;
    // Collected whole for conversion, the message is marked where its result joins the output.
    if (!options_.convertEncodings)
        batch_.markMessage(head_);
}

void StreamPass::appendDateLine()
{
    const std::string_view separator = bytes_.substr(separator_.location, separator_.length);
    dateLine_.assign("Date: ");
    if (!appendSeparatorDate(separator, dateLine_))
        return;
    dateLine_.append(terminator_);
    appendBytes(dateLine_);
}

} // namespace tarnwick
