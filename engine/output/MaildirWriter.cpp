#include "engine/output/MaildirWriter.h"

#include "engine/mailbox/SeparatorDate.h"
#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MaildirFolder.h"
#include "platform/MappedFile.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {
namespace {

constexpr std::string_view kSeparatorPrefix = "From ";
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

// Where the next message begins at or after `from` (a line start), or the end.
std::size_t nextSeparator(std::string_view bytes, std::size_t from)
{
    if (bytes.substr(from, kSeparatorPrefix.size()) == kSeparatorPrefix)
        return from;
    for (std::size_t at = from; (at = bytes.find("\nFrom ", at)) != std::string_view::npos; ++at)
        return at + 1;
    return bytes.size();
}

} // namespace

MessageMarks readMessageMarks(std::string_view header)
{
    MessageMarks marks;
    bool inKeywords = false;
    for (std::size_t at = 0; at < header.size();) {
        const auto [line, next] = lineAt(header, at);
        at = next;
        if (line.empty())
            break;
        if (line[0] == ' ' || line[0] == '\t') {
            if (inKeywords)
                addKeywords(line, marks.keywords);
            continue;
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

bool forEachMaildirMessage(std::string_view bytes, std::vector<std::string>& keywords, MarkTally& tally, std::uint64_t& keywordsLeftOut,
                           const std::function<bool(const MaildirMessage&)>& deliver)
{
    MaildirMessage message;
    for (std::size_t start = nextSeparator(bytes, 0); start < bytes.size();) {
        const auto [separator, bodyStart] = lineAt(bytes, start);
        const std::size_t end = nextSeparator(bytes, bodyStart);
        message.bytes = bytes.substr(bodyStart, end - bodyStart);
        message.instant = separatorInstant(separator);
        const MessageMarks marks = readMessageMarks(message.bytes);
        tally.add(marks);
        message.flags.clear();
        if (marks.draft)
            message.flags += 'D';
        if (marks.flagged)
            message.flags += 'F';
        if (marks.forwarded)
            message.flags += 'P';
        if (marks.answered)
            message.flags += 'R';
        if (marks.seen)
            message.flags += 'S';
        const std::size_t letters = message.flags.size();
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
            message.flags += static_cast<char>('a' + (known - keywords.begin()));
        }
        std::sort(message.flags.begin() + static_cast<std::ptrdiff_t>(letters), message.flags.end());
        if (!deliver(message))
            return false;
        start = end;
    }
    return true;
}

MaildirResult convertMaildir(const std::string& inputPath, MaildirFolder& folder, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control)
{
    MaildirResult result;
    auto failure = [&result](std::string text) {
        result.conversion.succeeded = false;
        result.conversion.errorText = std::move(text);
        return result;
    };
    // The mailbox converted whole first: what the mbox pass writes is the message
    // stream, cut again at its separator lines.
    const std::string staged = folder.path() + "/tmp/converted.mbox";
    const CreateResult claim = createExclusively(staged);
    if (!claim.created())
        return failure(translate("Could not create \"%1\": %2", {staged, systemErrorText(claim.error)}));
    ConversionOptions stagedOptions = options;
    stagedOptions.addEmptyLines = false;
    stagedOptions.lfLineEndings = !options.crlfLineEndings;
    stagedOptions.extraStatusHeaders = ExtraStatusHeaders::Labels; // labels become the messages' keywords
    ConversionControl stagedControl = control;
    stagedControl.claim = claim.identity;
    result.conversion = convertMbox(inputPath, staged, stagedOptions, candidates, stagedControl);
    if (!result.conversion.succeeded || result.conversion.messages == 0) {
        removeFile(staged, claim.identity);
        if (!result.conversion.succeeded)
            folder.discard();
        return result;
    }
    MappedFile converted;
    if (!converted.open(staged, LinkPolicy::Refuse)) {
        removeFile(staged);
        folder.discard();
        return failure(translate("Could not open \"%1\": %2", {staged, systemErrorText(converted.error())}));
    }
    folder.stopWhen(control.stop);
    std::vector<std::string> keywords;
    std::uint64_t keywordsLeftOut = 0;
    const std::string_view bytes = converted.bytes();
    const bool delivered = forEachMaildirMessage(bytes, keywords, result.marks, keywordsLeftOut, [&](const MaildirMessage& message) {
        if (!folder.deliver(message.bytes, message.flags, message.instant))
            return false;
        converted.releaseBefore(static_cast<std::uint64_t>(message.bytes.data() + message.bytes.size() - bytes.data()));
        return true;
    });
    const bool finished = delivered && (keywords.empty() || folder.writeKeywords(keywords)) && folder.finish();
    removeFile(staged);
    if (!finished) {
        const std::string error = folder.errorText();
        folder.discard();
        return failure(translate("Could not write to \"%1\": %2", {folder.path(), error}));
    }
    if (keywordsLeftOut > 0)
        logMessage(formatMessage("'%1': %2 keywords past the 26th left out", {folder.path(), std::to_string(keywordsLeftOut)}));
    result.conversion.messages = result.marks.messages;
    return result;
}

} // namespace tarnwick
