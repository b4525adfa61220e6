#include "batch/ImapUpload.h"

#include "batch/ImapTarget.h"
#include "batch/UploadJournal.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Localization.h"
#include "platform/MappedFile.h"
#include "platform/Paths.h"
#include "platform/UploadFiles.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <map>
#include <memory>
#include <unordered_map>
#include <set>
#include <thread>

namespace tarnwick {

namespace {

struct StagedFolder {
    std::vector<std::string> components; // below the top folder
    std::string path;
    std::vector<std::string> messages; // paths, oldest first
};

std::vector<std::string> keywordsOf(const std::string& maildir)
{
    const auto text = readSmallFile(joinPath(maildir, "dovecot-keywords"), 64 * 1024);
    return text ? parseMaildirKeywords(*text) : std::vector<std::string>();
}

// The messages of a Maildir folder, oldest first (a message's file time is its date),
// by name where the times are equal.
std::vector<std::string> messagesIn(const std::string& maildir)
{
    std::vector<std::pair<std::time_t, std::string>> found;
    for (const char* part : {"cur", "new"}) {
        const std::string folder = joinPath(maildir, part);
        for (const std::string& name : folderEntryNames(folder)) {
            const std::string path = joinPath(folder, name);
            if (name.front() != '.' && entryType(path) == EntryType::Regular)
                found.emplace_back(modificationTime(path).value_or(0), path);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : fileName(a.second) < fileName(b.second);
    });
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (auto& entry : found)
        paths.push_back(std::move(entry.second));
    return paths;
}

std::vector<StagedFolder> stagedFolders(const std::string& root)
{
    std::vector<StagedFolder> folders;
    if (entryType(joinPath(root, "cur")) == EntryType::Directory)
        folders.push_back({{}, root, messagesIn(root)});
    for (const std::string& name : folderEntryNames(root)) {
        const auto components = maildirFolderComponents(name);
        const std::string path = joinPath(root, name);
        if (!components || entryType(path) != EntryType::Directory || entryType(joinPath(path, "cur")) != EntryType::Directory)
            continue;
        folders.push_back({*components, path, messagesIn(path)});
    }
    return folders;
}

std::string shownName(const std::vector<std::string>& components)
{
    std::string name;
    for (const std::string& component : components)
        name += (name.empty() ? "" : "/") + component;
    return name;
}

// "1 message", "2 messages".
std::string messageCount(std::uint64_t count)
{
    return count == 1 ? translate("1 message") : translate("%1 messages", {std::to_string(count)});
}

std::string byteCount(std::uint64_t bytes)
{
    if (bytes < 1024 * 1024)
        return std::to_string((bytes + 1023) / 1024) + " KB";
    const std::uint64_t tenths = bytes * 10 / (1024 * 1024);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

// Messages go up in batches: their journal lines on disk once, then one MULTIAPPEND
// (or APPENDs sent back to back) for the lot.
constexpr std::size_t kBatchMessages = 200;
constexpr std::uint64_t kBatchBytes = 8 << 20;

// The size of the message with CR LF line ends.
std::uint64_t crlfSize(std::string_view message)
{
    std::uint64_t size = message.size();
    for (std::size_t i = message.find('\n'); i != std::string_view::npos; i = message.find('\n', i + 1))
        size += i == 0 || message[i - 1] != '\r';
    return size;
}

struct Outgoing {
    std::string path;
    std::string key;
    std::unique_ptr<MappedFile> file;
    std::uint64_t size = 0; // with CR LF
    std::time_t date = 0;
    ImapFlags flags;
};

struct FolderRun {
    std::vector<std::string> components; // with the top folder
    std::string serverName;
    UploadedFolder tally;
    std::vector<std::string> keywords;
    bool keywordsAllowed = true;
    bool ready = false;                                    // found or created on the server
    bool unusable = false;                                 // cannot be created: its messages fail
    std::unordered_map<std::string, std::uint32_t> copies; // digest -> copies seen
    std::vector<Outgoing> batch;
    std::uint64_t batchBytes = 0;
};

bool stopsTheRun(ImapFailure failure)
{
    return failure == ImapFailure::Quota || failure == ImapFailure::Login || failure == ImapFailure::Certificate;
}

class Uploader {
public:
    Uploader(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
        : request_(request), reporter_(reporter), cancel_(cancel)
    {}

    UploadSummary run()
    {
        const std::vector<StagedFolder> folders = stagedFolders(request_.stagingRoot);
        for (const StagedFolder& folder : folders)
            summary_.messages += folder.messages.size();
        if (std::string error = journal_.open(request_.journalPath); !error.empty()) {
            summary_.stopReason = error;
            return summary_;
        }
        reporter_.statusText(translate("Connecting to %1...", {request_.account.host}));
        if (!connect())
            return summary_;
        for (const StagedFolder& folder : folders) {
            if (!uploadFolder(folder))
                break;
        }
        note(journal_.commit());
        session_.close();
        return summary_;
    }

private:
    /// Connects; a connection lost after the first one is tried again with the waits
    /// of retryDelaysMs (a first one that fails is most likely a wrong server or port,
    /// said at once). False when the run must stop.
    bool connect(bool retry = false)
    {
        for (;;) {
            const ImapResult result = session_.open(request_.account);
            if (result.ok()) {
                createdFolders_.clear();
                return true;
            }
            if (!retry || result.failure != ImapFailure::Connection || losses_ >= request_.retryDelaysMs.size()) {
                summary_.stopReason = result.text;
                return false;
            }
            if (!waitBeforeRetry(result.text))
                return false;
        }
    }

    bool waitBeforeRetry(const std::string& why)
    {
        const int delay = request_.retryDelaysMs[losses_++];
        reporter_.logLine(translate("%1; trying again in %2 s", {why, std::to_string((delay + 999) / 1000)}));
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
        while (std::chrono::steady_clock::now() < until) {
            if (cancel_.load(std::memory_order_relaxed)) {
                summary_.canceled = true;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    /// Handles a lost connection: false when the run must stop.
    bool reconnectAfter(const ImapResult& result)
    {
        session_.close();
        if (losses_ >= request_.retryDelaysMs.size()) {
            summary_.stopReason = result.text;
            return false;
        }
        return waitBeforeRetry(result.text) && connect(true);
    }

    /// The folder and its parents, created where missing; never emptied.
    ImapResult ensureFolder(const std::vector<std::string>& components)
    {
        for (std::size_t n = 1; n <= components.size(); ++n) {
            const std::vector<std::string> prefix(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(n));
            const std::string name = serverFolderName(prefix, session_.delimiter());
            if (createdFolders_.count(name))
                continue;
            bool exists = false;
            if (ImapResult result = session_.folderExists(name, exists); !result.ok())
                return result;
            if (!exists) {
                if (ImapResult result = session_.createFolder(name); !result.ok())
                    return result;
                reporter_.logLine(translate("Created the folder \"%1\"", {shownName(prefix)}));
            }
            createdFolders_.insert(name);
        }
        return {};
    }

    /// False when the whole run must stop.
    bool uploadFolder(const StagedFolder& staged)
    {
        FolderRun run;
        run.components = request_.topFolder;
        run.components.insert(run.components.end(), staged.components.begin(), staged.components.end());
        run.serverName = serverFolderName(run.components, session_.delimiter());
        run.tally.name = shownName(run.components);
        run.tally.messages = staged.messages.size();
        run.keywords = keywordsOf(staged.path);
        reporter_.statusText(translate("Uploading \"%1\" (%2)...", {run.tally.name, messageCount(staged.messages.size())}));
        bool keepGoing = true;
        for (const std::string& path : staged.messages) {
            if (cancel_.load(std::memory_order_relaxed)) {
                summary_.canceled = true;
                keepGoing = false;
                break;
            }
            if (run.unusable) {
                ++summary_.failed;
                continue;
            }
            keepGoing = prepare(path, run);
            if (keepGoing && (run.batch.size() >= kBatchMessages || run.batchBytes >= kBatchBytes))
                keepGoing = sendBatch(run);
            if (!keepGoing)
                break;
        }
        keepGoing = keepGoing && sendBatch(run);
        summary_.folders.push_back(run.tally);
        return keepGoing;
    }

    /// Reads a message and puts it in the batch unless the journal has it or it cannot
    /// go; false when the run must stop.
    bool prepare(const std::string& path, FolderRun& run)
    {
        auto file = std::make_unique<MappedFile>();
        if (!file->open(path, LinkPolicy::Refuse)) {
            reporter_.logLine(translate("Could not read \"%1\"", {path}));
            ++summary_.failed;
            return true;
        }
        const std::string digest = sha256Hex(file->bytes());
        std::string key = journalKey(run.serverName, digest, run.copies[digest]++);
        if (journal_.isDone(key)) {
            ++summary_.alreadyPresent;
            return true;
        }
        const std::uint64_t size = crlfSize(file->bytes());
        if (size == 0) {
            reporter_.logLine(translate("\"%1\" is empty and was not uploaded", {path}));
            ++summary_.refused;
            return true;
        }
        if (session_.appendLimit() && size > *session_.appendLimit()) {
            reporter_.logLine(translate("\"%1\" (%2) is larger than %3 accepts (%4) and was not uploaded",
                                        {path, byteCount(size), request_.account.host, byteCount(*session_.appendLimit())}));
            ++summary_.refused;
            return true;
        }
        Outgoing message{path,
                         std::move(key),
                         std::move(file),
                         size,
                         modificationTime(path).value_or(0),
                         flagsFromMaildirName(fileName(path), run.keywords)};
        if (!run.keywordsAllowed)
            message.flags.keywords.clear();
        run.batchBytes += size;
        run.batch.push_back(std::move(message));
        return true;
    }

    /// The folder made ready, and the messages of the batch that an earlier attempt may
    /// have stored (begun, never confirmed) looked for on the server.
    ImapResult prepareServer(FolderRun& run)
    {
        if (!run.ready) {
            if (ImapResult result = ensureFolder(run.components); !result.ok())
                return result;
            run.ready = true;
        }
        for (auto it = run.batch.begin(); it != run.batch.end();) {
            if (!journal_.isPending(it->key)) {
                ++it;
                continue;
            }
            bool present = false;
            ImapResult result = session_.containsMessage(run.serverName, it->size, messageIdOf(it->file->bytes()), present);
            if (!result.ok())
                return result;
            if (!present) {
                ++it;
                continue;
            }
            if (!note(journal_.markDone(it->key)))
                return {ImapFailure::Protocol, summary_.stopReason};
            ++summary_.alreadyPresent;
            it = run.batch.erase(it);
        }
        return {};
    }

    /// Uploads the batch; false when the run must stop.
    bool sendBatch(FolderRun& run)
    {
        bool singles = false;
        while (!run.batch.empty()) {
            if (cancel_.load(std::memory_order_relaxed)) {
                summary_.canceled = true;
                return false;
            }
            if (ImapResult result = prepareServer(run); !result.ok()) {
                if (!summary_.stopReason.empty())
                    return false;
                if (result.failure == ImapFailure::Connection) {
                    run.ready = false;
                    if (!reconnectAfter(result))
                        return false;
                    continue;
                }
                if (stopsTheRun(result.failure)) {
                    summary_.stopReason = result.text;
                    return false;
                }
                // The folder cannot be made: none of its messages can go anywhere.
                reporter_.logLine(result.text);
                summary_.failed += run.batch.size();
                run.batch.clear();
                run.unusable = true;
                break;
            }
            for (const Outgoing& message : run.batch) {
                if (!journal_.isPending(message.key) && !note(journal_.markPending(message.key)))
                    return false;
            }
            if (!note(journal_.commit()))
                return false;
            const bool multi = !singles && run.batch.size() > 1 && session_.hasMultiAppend();
            const std::vector<ImapResult> results = session_.appendMany(
                run.serverName, run.batch.size(),
                [&](std::size_t i) {
                    const Outgoing& message = run.batch[i];
                    return ImapOutgoing{withCrlf(message.file->bytes(), crlfBuffer_), &message.flags, message.date};
                },
                multi);
            if (multi && !results.front().ok() && results.front().failure != ImapFailure::Connection) {
                // All or none: each goes on its own, to say which is refused (or to fill
                // the space a quota leaves).
                singles = true;
                continue;
            }
            if (!handleResults(run, multi ? std::vector<ImapResult>(run.batch.size(), results.front()) : results))
                return false;
        }
        run.batchBytes = 0;
        reporter_.progress(summary_.uploaded + summary_.alreadyPresent + summary_.refused + summary_.failed, summary_.messages,
                           summary_.bytesSent);
        return true;
    }

    /// Counts the answers to the batch's messages; those to send again (the connection
    /// was lost, or keywords were refused) stay in the batch. False when the run must stop.
    bool handleResults(FolderRun& run, const std::vector<ImapResult>& results)
    {
        std::vector<Outgoing> again;
        const ImapResult* lost = nullptr;
        for (std::size_t i = 0; i < results.size(); ++i) {
            Outgoing& message = run.batch[i];
            const ImapResult& result = results[i];
            if (result.ok()) {
                if (!note(journal_.markDone(message.key)))
                    return false;
                ++summary_.uploaded;
                ++run.tally.uploaded;
                run.tally.bytes += message.size;
                summary_.bytesSent += message.size;
            } else if (result.failure == ImapFailure::Connection) {
                lost = &result;
                again.push_back(std::move(message));
            } else if (result.failure == ImapFailure::TooBig) {
                reporter_.logLine(
                    translate("\"%1\" (%2) was refused as too large: %3", {message.path, byteCount(message.size), result.text}));
                ++summary_.refused;
            } else if (stopsTheRun(result.failure)) {
                summary_.stopReason = result.text;
            } else if (result.failure == ImapFailure::Refused && !message.flags.keywords.empty()) {
                // A server that takes no keywords of ours: the messages go without them.
                if (run.keywordsAllowed)
                    reporter_.logLine(translate("%1; uploading \"%2\" without keywords", {result.text, run.tally.name}));
                run.keywordsAllowed = false;
                message.flags.keywords.clear();
                again.push_back(std::move(message));
            } else {
                reporter_.logLine("\"" + message.path + "\": " + result.text);
                ++summary_.failed;
            }
        }
        run.batch = std::move(again);
        if (!summary_.stopReason.empty())
            return false;
        if (!lost)
            return true;
        run.ready = false;
        return reconnectAfter(*lost);
    }

    bool note(const std::string& journalError)
    {
        if (journalError.empty())
            return true;
        summary_.stopReason = journalError;
        return false;
    }

    const UploadRequest& request_;
    UploadReporter& reporter_;
    const std::atomic<bool>& cancel_;
    ImapSession session_;
    UploadJournal journal_;
    UploadSummary summary_;
    std::set<std::string> createdFolders_;
    std::string crlfBuffer_;
    std::size_t losses_ = 0;
};

} // namespace

std::vector<std::string> parseMaildirKeywords(std::string_view text)
{
    std::vector<std::string> keywords;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t space = line.find(' ');
        if (space == 0 || space > 2 || space == std::string_view::npos)
            continue;
        int index = 0;
        bool digits = true;
        for (char c : line.substr(0, space)) {
            digits = digits && c >= '0' && c <= '9';
            index = index * 10 + (c - '0');
        }
        const std::string_view name = line.substr(space + 1);
        // An IMAP atom: no controls, blanks, specials or non-ASCII; "\\" starts a system flag.
        const bool atom = !name.empty() && name.size() <= 128 && std::all_of(name.begin(), name.end(), [](char c) {
            return c > 0x20 && c < 0x7F && std::string_view("(){%*\"\\]").find(c) == std::string_view::npos;
        });
        if (!digits || index > 25 || !atom)
            continue;
        if (keywords.size() <= static_cast<std::size_t>(index))
            keywords.resize(static_cast<std::size_t>(index) + 1);
        keywords[static_cast<std::size_t>(index)] = std::string(name);
    }
    return keywords;
}

ImapFlags flagsFromMaildirName(std::string_view fileName, const std::vector<std::string>& keywords)
{
    ImapFlags flags;
    const std::size_t info = fileName.rfind(":2,");
    if (info == std::string_view::npos)
        return flags;
    for (char c : fileName.substr(info + 3)) {
        switch (c) {
        case 'S':
            flags.seen = true;
            break;
        case 'R':
            flags.answered = true;
            break;
        case 'P':
            flags.forwarded = true;
            break;
        case 'D':
            flags.draft = true;
            break;
        case 'F':
            flags.flagged = true;
            break;
        default:
            if (c >= 'a' && c <= 'z' && static_cast<std::size_t>(c - 'a') < keywords.size()
                && !keywords[static_cast<std::size_t>(c - 'a')].empty()) {
                const std::string& keyword = keywords[static_cast<std::size_t>(c - 'a')];
                if (keyword == "$Forwarded")
                    flags.forwarded = true;
                else if (std::find(flags.keywords.begin(), flags.keywords.end(), keyword) == flags.keywords.end())
                    flags.keywords.push_back(keyword);
            }
            break;
        }
    }
    return flags;
}

std::string messageIdOf(std::string_view message)
{
    std::size_t start = 0;
    std::string value;
    bool inField = false;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string_view::npos)
            end = message.size();
        std::string_view line = message.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break; // the end of the header
        if (line.front() == ' ' || line.front() == '\t') {
            if (inField)
                value += line;
            continue;
        }
        if (inField)
            break;
        constexpr std::string_view field = "message-id:";
        if (line.size() >= field.size() && std::equal(field.begin(), field.end(), line.begin(), [](char a, char b) {
                return a == std::tolower(static_cast<unsigned char>(b));
            })) {
            inField = true;
            value = line.substr(field.size());
        }
    }
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::size_t last = value.find_last_not_of(" \t");
    return value.substr(first, last - first + 1);
}

std::string_view withCrlf(std::string_view message, std::string& buffer)
{
    bool loneLf = false;
    for (std::size_t i = message.find('\n'); i != std::string_view::npos; i = message.find('\n', i + 1)) {
        if (i == 0 || message[i - 1] != '\r') {
            loneLf = true;
            break;
        }
    }
    if (!loneLf)
        return message;
    buffer.clear();
    buffer.reserve(message.size() + message.size() / 32 + 2);
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
            buffer.push_back('\r');
        buffer.push_back(message[i]);
    }
    return buffer;
}

UploadSummary uploadMaildir(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
{
    return Uploader(request, reporter, cancel).run();
}

std::vector<std::string> uploadSummaryLines(const UploadSummary& summary)
{
    std::vector<std::string> lines;
    for (const UploadedFolder& folder : summary.folders)
        lines.push_back(
            "  "
            + translate("%1: %2 of %3 uploaded (%4)",
                        {folder.name, std::to_string(folder.uploaded), messageCount(folder.messages), byteCount(folder.bytes)}));
    lines.push_back(translate("Uploaded %1 (%2); %3 already present, %4 refused, %5 failed",
                              {messageCount(summary.uploaded), byteCount(summary.bytesSent), std::to_string(summary.alreadyPresent),
                               std::to_string(summary.refused), std::to_string(summary.failed)}));
    const std::uint64_t handled = summary.uploaded + summary.alreadyPresent + summary.refused + summary.failed;
    if (handled < summary.messages)
        lines.push_back(translate("%1 not uploaded yet", {messageCount(summary.messages - handled)}));
    if (!summary.stopReason.empty()) {
        lines.push_back(translate("Stopped: %1", {summary.stopReason}));
        if (summary.uploaded + summary.alreadyPresent > 0)
            lines.push_back(translate("What was uploaded stays on the server. Run the same command again (after the "
                                      "limit resets or the problem is solved) to upload the rest: nothing is uploaded "
                                      "twice."));
    } else if (summary.canceled) {
        lines.push_back(translate("Canceled. Run the same command again to upload the rest: nothing is uploaded twice."));
    }
    return lines;
}

} // namespace tarnwick
