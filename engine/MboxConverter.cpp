#include "engine/MboxConverter.h"

#include "engine/ByteRange.h"
#include "engine/LineScanner.h"
#include "engine/MessageBuffer.h"
#include "engine/MessageConverter.h"
#include "engine/SeparatorDate.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MappedFile.h"
#include "platform/OutputFile.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <cstring>

namespace tarnwick {
namespace {

constexpr std::string_view kSeparatorPrefix = "From ";
constexpr std::size_t kInitialBufferCapacity = 256 * 1024;

struct Options {
    bool convertEncodings = false;
    bool convertLineEndings = false;
    bool complementDateHeaders = false;
    bool addEmptyLines = false;
};

bool isSeparator(const char* contents, std::uint64_t length)
{
    return length >= 5 && contents[0] == 'F' && contents[1] == 'r' && contents[2] == 'o' && contents[3] == 'm'
        && contents[4] == ' ';
}

// "Date:" in any ASCII letter case; independent of the C locale.
bool isDateHeader(const char* contents, std::uint64_t length)
{
    return length >= 5 && (contents[0] | 0x20) == 'd' && (contents[1] | 0x20) == 'a' && (contents[2] | 0x20) == 't'
        && (contents[3] | 0x20) == 'e' && contents[4] == ':';
}

// One call's pass over the input. The message being collected is `buffer_` followed by
// the input bytes [runStart_, runEnd_): lines whose terminator already is the output
// terminator are not copied one by one but kept as one span of the input, copied (or
// written directly) when the message is complete.
class StreamPass {
public:
    StreamPass(MappedFile& input, OutputFile& output, const Options& options, const MessageConversion& convert)
        : input_(input), bytes_(input.bytes()), output_(output), options_(options), convert_(convert),
          buffer_(kInitialBufferCapacity)
    {
        if (options_.convertLineEndings)
            setTerminator("\r\n");
        dateSatisfied_ = !options_.complementDateHeaders;
    }

    // False when a write failed; the output's error says why.
    bool run()
    {
        const std::uint64_t n = bytes_.size();
        const char* const data = bytes_.data();
        std::uint64_t position = 0;
        while (position < n) {
            std::uint64_t start = 0;
            std::uint64_t lineEnd = 0;
            std::uint64_t contentsEnd = 0;
            ZQ_getLineStart(bytes_, &start, &lineEnd, &contentsEnd, ByteRange {position, 0});
            if (terminatorOpen_ && lineEnd > contentsEnd)
                setTerminator(bytes_.substr(contentsEnd, lineEnd - contentsEnd));

            const char* const contents = data + start;
            const std::uint64_t length = contentsEnd - start;
            if (isSeparator(contents, length)) {
                if (messageLength() > 0 && !flush(start))
                    return false;
                dateSatisfied_ = !options_.complementDateHeaders;
                separator_ = ByteRange {start, length};
                inHeaders_ = true;
                headerLength_ = kHeaderLengthNone;
            } else if (!inHeaders_) {
                if (headerLength_ == kHeaderLengthNone)
                    headerLength_ = messageLength();
            } else if (length == 0) {
                if (!dateSatisfied_)
                    appendDateLine();
                inHeaders_ = false;
            } else if (!dateSatisfied_ && isDateHeader(contents, length)) {
                dateSatisfied_ = true;
            }
            appendLine(start, contentsEnd, lineEnd);
            position = lineEnd;
        }
        return messageLength() == 0 || flush(n);
    }

private:
    void setTerminator(std::string_view terminator)
    {
        std::memcpy(terminatorBytes_, terminator.data(), terminator.size());
        terminator_ = std::string_view(terminatorBytes_, terminator.size());
        terminatorOpen_ = false;
    }

    std::uint64_t messageLength() const { return buffer_.size() + (runEnd_ - runStart_); }

    // Moves the pending input span into the buffer (before anything else is appended).
    void takeRun()
    {
        if (runEnd_ != runStart_)
            buffer_.append(bytes_.data() + runStart_, static_cast<std::size_t>(runEnd_ - runStart_));
        runStart_ = runEnd_ = 0;
    }

    void appendLine(std::uint64_t start, std::uint64_t contentsEnd, std::uint64_t lineEnd)
    {
        if (hasOutputTerminator(contentsEnd, lineEnd)) {
            if (runEnd_ != runStart_ && runEnd_ == start) {
                runEnd_ = lineEnd;
            } else {
                takeRun();
                runStart_ = start;
                runEnd_ = lineEnd;
            }
            return;
        }
        takeRun();
        buffer_.appendLine(bytes_.data() + start, static_cast<std::size_t>(contentsEnd - start), terminator_);
    }

    // Whether the line's own terminator is the output terminator (then the line can be
    // written as it stands).
    bool hasOutputTerminator(std::uint64_t contentsEnd, std::uint64_t lineEnd) const
    {
        const std::uint64_t length = lineEnd - contentsEnd;
        if (length == 0 || length != terminator_.size())
            return false;
        const char* const terminator = bytes_.data() + contentsEnd;
        return terminator[0] == terminatorBytes_[0] && (length == 1 || terminator[1] == terminatorBytes_[1]);
    }

    void appendDateLine()
    {
        const std::string_view separator = bytes_.substr(separator_.location, separator_.length);
        dateText_.clear();
        if (!appendSeparatorDate(separator, dateText_))
            return;
        takeRun();
        buffer_.append("Date: ");
        buffer_.append(dateText_);
        buffer_.append(terminator_);
    }

    // Writes the collected message with one (gathered) write and empties it. `next` is
    // where the following message starts; nothing before it is read again.
    bool flush(std::uint64_t next)
    {
        const std::string_view emptyLine = options_.addEmptyLines ? terminator_ : std::string_view();
        bool written = false;
        if (options_.convertEncodings) {
            takeRun();
            buffer_.append(emptyLine);
            if (convert_(buffer_.view(), headerLength_, converted_))
                written = output_.write(converted_);
            else
                written = output_.write(buffer_.view());
        } else {
            const std::string_view run = bytes_.substr(runStart_, runEnd_ - runStart_);
            written = output_.write({buffer_.view(), run, emptyLine});
        }
        buffer_.clear();
        runStart_ = runEnd_ = 0;
        input_.releaseBefore(next);
        return written;
    }

    MappedFile& input_;
    const std::string_view bytes_;
    OutputFile& output_;
    const Options options_;
    const MessageConversion& convert_;

    char terminatorBytes_[2] = {};
    std::string_view terminator_; // 0 bytes while open, else 1 or 2 of terminatorBytes_
    bool terminatorOpen_ = true;
    MessageBuffer buffer_;
    std::string converted_;
    std::string dateText_;
    std::uint64_t runStart_ = 0;
    std::uint64_t runEnd_ = 0;
    bool inHeaders_ = false;
    bool dateSatisfied_ = true;
    std::uint64_t headerLength_ = kHeaderLengthNone;
    ByteRange separator_;
};

} // namespace

bool convertMboxWith(const std::string& inputPath, const std::string& outputPath, std::string& errorText,
                     const MessageConversion& convert)
{
    MappedFile input;
    if (!input.open(inputPath)) {
        errorText = localizedFormat("\"%@\" not found", {inputPath});
        return false;
    }
    const std::string_view bytes = input.bytes();
    if (bytes.empty())
        return true;
    if (bytes.size() < kSeparatorPrefix.size() || bytes.substr(0, kSeparatorPrefix.size()) != kSeparatorPrefix) {
        logMessage(formatText("'%@' is not Mbox format", {inputPath}));
        return true;
    }

    OutputFile output;
    if (!output.open(outputPath)) {
        errorText = localizedFormat("Could not open \"%@\"", {outputPath});
        return false;
    }

    const SettingsStore& settings = SettingsStore::standard();
    Options options;
    options.convertEncodings = settings.boolForKey(keys::kConvertEncodings);
    options.convertLineEndings = settings.boolForKey(keys::kConvertLineEndings);
    options.complementDateHeaders = settings.boolForKey(keys::kComplementDateHeaders);
    options.addEmptyLines = settings.boolForKey(keys::kAddEmptyLines);

    bool converted = StreamPass(input, output, options, convert).run();
    // A failing close can report a write that the kernel deferred: that too is a write failure.
    if (!output.close())
        converted = false;
    if (!converted) {
        errorText = localizedFormat("Could not write to \"%@\": %@", {outputPath, output.errorText()});
        return false;
    }
    return true;
}

bool convertMbox(const std::string& inputPath, const std::string& outputPath, std::string& errorText)
{
    static const MessageConversion convertWithMessageConverter = &convertMessage;
    return convertMboxWith(inputPath, outputPath, errorText, convertWithMessageConverter);
}

} // namespace tarnwick
