#include "engine/output/MaildirWriter.h"

#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MaildirFolder.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {
namespace {

constexpr std::string_view kForwardedKeyword = "$Forwarded";

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The value of `line` when it is the field `name` ("x-status"), else none.
std::optional<std::string_view> fieldValue(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (lowerASCII(line[i]) != name[i])
            return std::nullopt;
    }
    return line.substr(name.size() + 1);
}

unsigned hexValue(std::string_view text)
{
    unsigned value = 0;
    std::size_t digits = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            if (digits > 0)
                break;
            continue;
        }
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (lowerASCII(c) >= 'a' && lowerASCII(c) <= 'f')
            digit = static_cast<unsigned>(lowerASCII(c) - 'a' + 10);
        else
            break;
        if (++digits > 4)
            return 0;
        value = value * 16 + digit;
    }
    return value;
}

bool isKeywordByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F && !std::strchr("(){%*\"\\]", c);
}

void addKeywords(std::string_view value, std::vector<std::string_view>& keywords)
{
    std::size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && (value[at] == ' ' || value[at] == '\t' || value[at] == ','))
            ++at;
        std::size_t end = at;
        while (end < value.size() && value[end] != ' ' && value[end] != '\t' && value[end] != ',')
            ++end;
        const std::string_view word = value.substr(at, end - at);
        if (!word.empty() && std::all_of(word.begin(), word.end(), isKeywordByte)
            && std::find(keywords.begin(), keywords.end(), word) == keywords.end())
            keywords.push_back(word);
        at = end;
    }
}

// The line at `at` without its terminator, and where the next one begins.
std::pair<std::string_view, std::size_t> lineAt(std::string_view bytes, std::size_t at)
{
    const std::size_t newline = bytes.find('\n', at);
    const std::size_t next = newline == std::string_view::npos ? bytes.size() : newline + 1;
    std::size_t end = newline == std::string_view::npos ? bytes.size() : newline;
    if (end > at && bytes[end - 1] == '\r')
        --end;
    return {bytes.substr(at, end - at), next};
}

// Takes one header line (without its terminator) into `marks`; false at the empty
// line that ends the header.
bool readMarkLine(std::string_view line, MessageMarks& marks, bool& inKeywords)
{
    if (line.empty())
        return false;
    if (line[0] == ' ' || line[0] == '\t') {
        if (inKeywords)
            addKeywords(line, marks.keywords);
        return true;
    }
    inKeywords = false;
    if (const auto value = fieldValue(line, "status")) {
        marks.seen = marks.seen || value->find('R') != std::string_view::npos;
    } else if (const auto value = fieldValue(line, "x-status")) {
        marks.answered = marks.answered || value->find('A') != std::string_view::npos;
        marks.flagged = marks.flagged || value->find('F') != std::string_view::npos;
        marks.draft = marks.draft || value->find('T') != std::string_view::npos;
    } else if (const auto value = fieldValue(line, "x-mozilla-status")) {
        const unsigned bits = hexValue(*value);
        marks.seen = marks.seen || (bits & 0x0001u);
        marks.answered = marks.answered || (bits & 0x0002u);
        marks.flagged = marks.flagged || (bits & 0x0004u);
        marks.forwarded = marks.forwarded || (bits & 0x1000u);
    } else if (const auto value = fieldValue(line, "x-keywords")) {
        addKeywords(*value, marks.keywords);
        inKeywords = true;
    }
    return true;
}

} // namespace

MessageMarks readMessageMarks(std::string_view header)
{
    MessageMarks marks;
    bool inKeywords = false;
    for (std::size_t at = 0; at < header.size();) {
        const auto [line, next] = lineAt(header, at);
        at = next;
        if (!readMarkLine(line, marks, inKeywords))
            break;
    }
    return marks;
}

void MarkTally::add(const MessageMarks& marks)
{
    ++messages;
    seen += marks.seen;
    answered += marks.answered;
    forwarded += marks.forwarded;
    flagged += marks.flagged;
    keyworded += !marks.keywords.empty();
}

void MarkReader::reset()
{
    marks_ = {};
    words_.clear();
    carry_.clear();
    done_ = false;
    inKeywords_ = false;
}

void MarkReader::readLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const std::size_t known = marks_.keywords.size();
    done_ = !readMarkLine(line, marks_, inKeywords_);
    // The new keywords are views into the line: kept as the reader's own.
    for (std::size_t i = known; i < marks_.keywords.size(); ++i)
        marks_.keywords[i] = words_.emplace_back(marks_.keywords[i]);
}

void MarkReader::feed(std::string_view bytes)
{
    while (!done_ && !bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        const std::string_view part = bytes.substr(0, newline);
        if (carry_.size() < kMaxLine)
            carry_.append(part.substr(0, kMaxLine - carry_.size()));
        if (newline == std::string_view::npos)
            return;
        bytes.remove_prefix(newline + 1);
        readLine(carry_);
        carry_.clear();
    }
}

const MessageMarks& MarkReader::finish()
{
    if (!done_ && !carry_.empty())
        readLine(carry_);
    carry_.clear();
    done_ = true;
    return marks_;
}

std::string maildirFlags(const MessageMarks& marks, std::vector<std::string>& keywords, std::uint64_t& keywordsLeftOut)
{
    std::string flags;
    if (marks.draft)
        flags += 'D';
    if (marks.flagged)
        flags += 'F';
    if (marks.forwarded)
        flags += 'P';
    if (marks.answered)
        flags += 'R';
    if (marks.seen)
        flags += 'S';
    const std::size_t letters = flags.size();
    // IMAP has no forwarded flag: Dovecot reads the keyword, mutt and notmuch the P.
    std::vector<std::string_view> messageKeywords = marks.keywords;
    if (marks.forwarded && std::find(messageKeywords.begin(), messageKeywords.end(), kForwardedKeyword) == messageKeywords.end())
        messageKeywords.insert(messageKeywords.begin(), kForwardedKeyword);
    for (const std::string_view keyword : messageKeywords) {
        auto known = std::find(keywords.begin(), keywords.end(), keyword);
        if (known == keywords.end()) {
            if (keywords.size() == kMaildirKeywordLetters) {
                ++keywordsLeftOut;
                continue;
            }
            known = keywords.insert(keywords.end(), std::string(keyword));
        }
        flags += static_cast<char>('a' + (known - keywords.begin()));
    }
    std::sort(flags.begin() + static_cast<std::ptrdiff_t>(letters), flags.end());
    return flags;
}

bool MaildirOutput::write(const std::string_view* pieces, std::size_t count, const MessageStart* starts, std::size_t startCount)
{
    std::uint64_t at = 0; // of the piece under way, in this write
    std::size_t next = 0; // the next start
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view piece = pieces[i];
        std::size_t done = 0;
        while (done < piece.size()) {
            for (; next < startCount && starts[next].at <= at + done; ++next) {
                if (open_ && taken_ > 0 && !endMessage())
                    return false;
                beginMessage(starts[next].head);
            }
            std::size_t until = piece.size();
            if (next < startCount && starts[next].at < at + piece.size())
                until = static_cast<std::size_t>(starts[next].at - at);
            if (!take(piece.substr(done, until - done)))
                return false;
            done = until;
        }
        at += piece.size();
    }
    for (; next < startCount; ++next) {
        if (open_ && taken_ > 0 && !endMessage())
            return false;
        beginMessage(starts[next].head);
    }
    return true;
}

void MaildirOutput::beginMessage(const MessageHead& head)
{
    // A start marked twice before any of its bytes is one message.
    open_ = true;
    head_ = head;
    taken_ = 0;
    inSeparator_ = true;
    fileBegun_ = false;
    pending_.clear();
    reader_.reset();
}

bool MaildirOutput::take(std::string_view bytes)
{
    if (!open_ || bytes.empty())
        return true; // bytes before the first message are none
    taken_ += bytes.size();
    if (inSeparator_) {
        const std::size_t newline = bytes.find('\n');
        if (newline == std::string_view::npos)
            return true;
        bytes.remove_prefix(newline + 1);
        inSeparator_ = false;
    }
    reader_.feed(bytes);
    pending_.append(bytes);
    return pending_.size() < kGathered || flush();
}

bool MaildirOutput::flush()
{
    if (!fileBegun_ && !folder_.begin())
        return false;
    fileBegun_ = true;
    const bool written = folder_.append(pending_);
    pending_.clear();
    return written;
}

bool MaildirOutput::endMessage()
{
    open_ = false;
    const MessageMarks& marks = reader_.finish();
    tally_.add(marks);
    const std::string flags = maildirFlags(marks, keywords_, keywordsLeftOut_);
    return flush() && folder_.end(flags, head_.instant, keywords_);
}

bool MaildirOutput::finish()
{
    if (open_ && !endMessage())
        return false;
    return (keywords_.empty() || folder_.writeKeywords(keywords_)) && folder_.finish();
}

int MaildirOutput::error() const { return folder_.error(); }

std::string MaildirOutput::errorText() const { return folder_.errorText(); }

int MaildirOutput::spoolFolder() const { return folder_.tmpFolder(); }

namespace {

// A Maildir folder as the output of convertMailboxInto.
class MaildirDestination final : public OutputDestination {
public:
    explicit MaildirDestination(MaildirFolder& folder)
        : folder_(folder), output_(folder), spoolPath_(folder.path() + "/tmp/"), name_(folder.placePath())
    {}

    bool open(const MappedFile&, const ConversionControl& control) override
    {
        folder_.stopWhen(control.stop);
        return true;
    }
    MailboxOutput& output() override { return output_; }
    bool finish() override { return output_.finish(); }
    void discard() override { folder_.discard(); }
    const std::string& spoolPath() const override { return spoolPath_; }
    const std::string& name() const override { return name_; } // where it goes, not where it is filled
    std::string errorText() const override { return folder_.errorText(); }

    const MaildirOutput& maildir() const { return output_; }

private:
    MaildirFolder& folder_;
    MaildirOutput output_;
    const std::string spoolPath_;
    const std::string name_;
};

} // namespace

MaildirResult convertMaildir(const std::string& inputPath, MaildirFolder& folder, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control)
{
    ConversionOptions maildirOptions = options;
    maildirOptions.addEmptyLines = false;
    maildirOptions.lfLineEndings = !options.crlfLineEndings;
    maildirOptions.extraStatusHeaders = ExtraStatusHeaders::Labels; // labels become the messages' keywords
    MaildirDestination destination(folder);
    MaildirResult result;
    result.conversion = convertMailboxInto(inputPath, destination, maildirOptions, candidates, control);
    if (!result.conversion.succeeded) {
        folder.discard();
        return result;
    }
    result.marks = destination.maildir().marks();
    if (const std::uint64_t leftOut = destination.maildir().keywordsLeftOut(); leftOut > 0)
        logMessage(formatMessage("'%1': %2 keywords past the 26th left out", {folder.placePath(), std::to_string(leftOut)}));
    result.conversion.messages = result.marks.messages;
    return result;
}

} // namespace tarnwick
