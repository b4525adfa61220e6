// Several APPENDs without a round trip each. libetpan sends one command and waits
// for its answer, and knows neither MULTIAPPEND nor non-synchronizing literals; so
// these commands are written and their answers read here, over libetpan's own
// stream (its buffers stay consistent), between libetpan's commands.

#include "platform/ImapSessionState.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace tarnwick {

namespace {

constexpr std::size_t kLineTextLimit = 2000; // of a response line kept for the user
constexpr std::uint64_t kLiteralMinusLimit = 4096;

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Writes commands and reads the server's lines through a libetpan stream.
class RawExchange {
public:
    explicit RawExchange(mailstream* stream) : stream_(stream), line_(mmap_string_new("")) {}
    ~RawExchange() { mmap_string_free(line_); }
    RawExchange(const RawExchange&) = delete;
    RawExchange& operator=(const RawExchange&) = delete;

    bool send(std::string_view bytes)
    {
        return bytes.empty() || mailstream_write(stream_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    bool flush() { return mailstream_flush(stream_) == 0; }

    /// The next response line without its end (literals inside it read and left out,
    /// long text cut); none when the connection failed or ended (libetpan gives what
    /// came before the end, or an empty line, as a line: only a line ended by LF is one).
    std::optional<std::string> readLine()
    {
        std::string whole;
        for (;;) {
            if (!line_ || !mailstream_read_line(stream_, line_) || line_->len == 0 || line_->str[line_->len - 1] != '\n')
                return std::nullopt;
            std::string_view part(line_->str, line_->len - 1);
            if (!part.empty() && part.back() == '\r')
                part.remove_suffix(1);
            whole.append(part.substr(0, kLineTextLimit - std::min(whole.size(), kLineTextLimit)));
            std::optional<std::uint64_t> literal = trailingLiteralSize(part);
            if (!literal)
                return whole;
            char skipped[4096];
            while (*literal > 0) {
                const ssize_t n = mailstream_read(stream_, skipped, std::min<std::uint64_t>(*literal, sizeof skipped));
                if (n <= 0)
                    return std::nullopt;
                *literal -= static_cast<std::uint64_t>(n);
            }
        }
    }

private:
    mailstream* stream_;
    MMAPString* line_;
};

// The tag of a tagged line, or empty for "*" and "+" lines.
std::string_view tagOf(std::string_view line)
{
    if (line.empty() || line[0] == '*' || line[0] == '+')
        return {};
    return line.substr(0, line.find(' '));
}

ImapResult resultOf(std::string_view line, const std::string& what)
{
    const std::size_t space = line.find(' ');
    const std::string_view status = space == std::string_view::npos ? std::string_view() : line.substr(space + 1, 3);
    if (status == "OK " || status == "OK")
        return {};
    const ImapFailure kind = classifyServerRefusal(line);
    return {status.substr(0, 2) == "NO" || kind != ImapFailure::Refused ? kind : ImapFailure::Protocol, what + ": " + std::string(line)};
}

} // namespace

std::optional<std::uint64_t> trailingLiteralSize(std::string_view line)
{
    if (line.empty() || line.back() != '}')
        return std::nullopt;
    const std::size_t open = line.rfind('{');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::string_view digits = line.substr(open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+')
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoull(std::string(digits));
}

std::string quotedImapString(std::string_view text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string appendArguments(const ImapFlags& flags, std::time_t internalDate, std::uint64_t size, bool nonSynchronizing)
{
    std::string list;
    auto add = [&](std::string_view flag) {
        list += list.empty() ? "" : " ";
        list += flag;
    };
    if (flags.seen)
        add("\\Seen");
    if (flags.answered)
        add("\\Answered");
    if (flags.flagged)
        add("\\Flagged");
    if (flags.draft)
        add("\\Draft");
    if (flags.forwarded)
        add("$Forwarded");
    for (const std::string& keyword : flags.keywords)
        add(keyword);
    std::tm utc{};
    gmtime_r(&internalDate, &utc);
    char date[40];
    std::snprintf(date, sizeof date, "\"%02d-%s-%04d %02d:%02d:%02d +0000\"", utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return " (" + list + ") " + date + " {" + std::to_string(size) + (nonSynchronizing ? "+}" : "}");
}

void ImapSession::noteCapabilities(std::string_view names)
{
    std::size_t start = 0;
    while (start < names.size()) {
        const std::size_t end = std::min(names.find(' ', start), names.size());
        std::string name(names.substr(start, end - start));
        start = end + 1;
        for (char& c : name)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        multiAppend_ = multiAppend_ || name == "MULTIAPPEND";
        literalPlus_ = literalPlus_ || name == "LITERAL+";
        literalMinus_ = literalMinus_ || name == "LITERAL-";
        const std::string_view digits = std::string_view(name).substr(std::min<std::size_t>(name.size(), 12));
        if (name.rfind("APPENDLIMIT=", 0) == 0 && !digits.empty() && digits.size() < 19
            && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            appendLimit_ = std::stoull(std::string(digits));
    }
}

// CAPABILITY is asked here rather than through libetpan, whose mailimap_capability reads
// through a null pointer when the server answers OK without an untagged CAPABILITY line.
void ImapSession::readCapabilities()
{
    appendLimit_.reset();
    multiAppend_ = literalPlus_ = literalMinus_ = false;
    if (!state_->imap || !state_->imap->imap_stream)
        return;
    RawExchange exchange(state_->imap->imap_stream);
    const std::string tag = "TW" + std::to_string(++tagCounter_);
    if (!exchange.send(tag + " CAPABILITY\r\n") || !exchange.flush())
        return; // the next command reports the lost connection
    constexpr std::string_view untagged = "* CAPABILITY ";
    for (std::optional<std::string> line = exchange.readLine(); line && tagOf(*line) != tag; line = exchange.readLine()) {
        if (line->size() > untagged.size() && std::equal(untagged.begin(), untagged.end(), line->begin(), [](char a, char b) {
                return a == (b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
            })) {
            std::string_view names = std::string_view(*line).substr(untagged.size());
            if (line->size() >= kLineTextLimit)
                names = names.substr(0, names.rfind(' ')); // the last name may be cut short
            noteCapabilities(names);
        }
    }
}

std::vector<ImapResult> ImapSession::appendMany(const std::string& folder, std::size_t count,
                                                const std::function<ImapOutgoing(std::size_t)>& source, bool multi)
{
    const std::string what = "Could not upload to \"" + folder + "\"";
    std::vector<ImapResult> results(multi ? std::min<std::size_t>(count, 1) : count);
    if (!state_->imap || !state_->imap->imap_stream) {
        std::fill(results.begin(), results.end(), ImapResult{ImapFailure::Connection, "Not connected"});
        return results;
    }
    RawExchange exchange(state_->imap->imap_stream);
    std::map<std::string, std::size_t, std::less<>> waiting; // tag -> result index
    bool lost = false;
    // Reads lines until the tag is answered (or, with plus, a go-ahead arrives first);
    // answers to other tags are kept. False when the connection failed.
    auto readUntil = [&](const std::string& tag, bool plus) {
        for (;;) {
            const std::optional<std::string> line = exchange.readLine();
            if (!line)
                return false;
            if (plus && !line->empty() && (*line)[0] == '+')
                return true;
            const auto found = waiting.find(tagOf(*line));
            if (found == waiting.end())
                continue;
            results[found->second] = resultOf(*line, what);
            const bool done = found->first == tag;
            waiting.erase(found);
            if (done)
                return true;
        }
    };
    const std::string prefix = " APPEND " + quotedImapString(folder);
    std::string tag;
    for (std::size_t i = 0; i < count && !lost; ++i) {
        const ImapOutgoing message = source(i);
        if (!multi || i == 0) {
            tag = "TW" + std::to_string(++tagCounter_);
            waiting.emplace(tag, multi ? 0 : i);
        }
        const bool nonSync = literalPlus_ || (literalMinus_ && message.bytes.size() <= kLiteralMinusLimit);
        const ImapFlags none;
        std::string header = (!multi || i == 0 ? tag + prefix : std::string())
            + appendArguments(message.flags ? *message.flags : none, message.internalDate, message.bytes.size(), nonSync) + "\r\n";
        lost = !exchange.send(header);
        if (!lost && !nonSync) {
            lost = !exchange.flush() || !readUntil(tag, true);
            if (!lost && !waiting.count(tag)) {
                if (multi)
                    break; // refused before this message: the command is over
                continue;
            }
        }
        lost = lost || !exchange.send(message.bytes) || (!multi && !exchange.send("\r\n"));
    }
    if (!lost && multi && waiting.count(tag))
        lost = !exchange.send("\r\n");
    lost = lost || !exchange.flush();
    while (!lost && !waiting.empty())
        lost = !readUntil(waiting.begin()->first, false);
    if (lost) {
        const ImapResult failure = state_->failure(MAILIMAP_ERROR_STREAM, what);
        for (const auto& entry : waiting)
            results[entry.second] = failure;
    }
    return results;
}

} // namespace tarnwick
