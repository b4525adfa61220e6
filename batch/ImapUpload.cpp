#include "batch/ImapUpload.h"

#include "batch/ImapTarget.h"
#include "batch/UploadJournal.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/MappedFile.h"
#include "platform/Paths.h"
#include "platform/UploadFiles.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <map>
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
    return std::to_string(count) + (count == 1 ? " message" : " messages");
}

std::string byteCount(std::uint64_t bytes)
{
    if (bytes < 1024 * 1024)
        return std::to_string((bytes + 1023) / 1024) + " KB";
    const std::uint64_t tenths = bytes * 10 / (1024 * 1024);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

class Uploader {
public:
    Uploader(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
        : request_(request), reporter_(reporter), cancel_(cancel)
    {
    }

    UploadSummary run()
    {
        const std::vector<StagedFolder> folders = stagedFolders(request_.stagingRoot);
        for (const StagedFolder& folder : folders)
            summary_.messages += folder.messages.size();
        if (std::string error = journal_.open(request_.journalPath); !error.empty()) {
            summary_.stopReason = error;
            return summary_;
        }
        reporter_.statusText("Connecting to " + request_.account.host + "...");
        if (!connect())
            return summary_;
        for (const StagedFolder& folder : folders) {
            if (!uploadFolder(folder))
                break;
        }
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
        reporter_.logLine(why + "; trying again in " + std::to_string((delay + 999) / 1000) + " s");
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
                reporter_.logLine("Created the folder \"" + shownName(prefix) + "\"");
            }
            createdFolders_.insert(name);
        }
        return {};
    }

    /// False when the whole run must stop.
    bool uploadFolder(const StagedFolder& staged)
    {
        std::vector<std::string> components = request_.topFolder;
        components.insert(components.end(), staged.components.begin(), staged.components.end());
        UploadedFolder tally;
        tally.name = shownName(components);
        tally.messages = staged.messages.size();
        reporter_.statusText("Uploading \"" + tally.name + "\" (" + messageCount(staged.messages.size()) + ")...");
        std::map<std::string, std::uint32_t> copies; // digest -> copies seen in this folder
        const std::vector<std::string> keywords = keywordsOf(staged.path);
        bool keywordsAllowed = true;
        bool keepGoing = true;
        bool folderReady = false;
        for (std::size_t i = 0; i < staged.messages.size() && keepGoing; ++i) {
            if (cancel_.load(std::memory_order_relaxed)) {
                summary_.canceled = true;
                keepGoing = false;
                break;
            }
            const std::string& path = staged.messages[i];
            MappedFile file;
            if (!file.open(path, LinkPolicy::Refuse)) {
                reporter_.logLine("Could not read \"" + path + "\"");
                ++summary_.failed;
                continue;
            }
            const std::string digest = sha256Hex(file.bytes());
            const std::string name = serverFolderName(components, session_.delimiter());
            const std::string key = journalKey(name, digest, copies[digest]++);
            if (journal_.isDone(key)) {
                ++summary_.alreadyPresent;
                continue;
            }
            const std::string_view wire = withCrlf(file.bytes(), crlfBuffer_);
            if (wire.empty()) {
                reporter_.logLine("\"" + path + "\" is empty and was not uploaded");
                ++summary_.refused;
                continue;
            }
            if (session_.appendLimit() && wire.size() > *session_.appendLimit()) {
                reporter_.logLine("\"" + path + "\" (" + byteCount(wire.size()) + ") is larger than " + request_.account.host
                                  + " accepts (" + byteCount(*session_.appendLimit()) + ") and was not uploaded");
                ++summary_.refused;
                continue;
            }
            const std::time_t date = modificationTime(path).value_or(0);
            ImapFlags flags = flagsFromMaildirName(fileName(path), keywords);
            if (!keywordsAllowed)
                flags.keywords.clear();
            for (;;) {
                ImapResult result;
                if (!folderReady) {
                    result = ensureFolder(components);
                    folderReady = result.ok();
                }
                bool present = false;
                if (result.ok() && journal_.isPending(key))
                    result = session_.containsMessage(name, wire.size(), messageIdOf(wire), present);
                if (result.ok() && present) {
                    if (!note(journal_.markDone(key)))
                        return false;
                    ++summary_.alreadyPresent;
                    break;
                }
                if (result.ok()) {
                    if (!note(journal_.markPending(key)))
                        return false;
                    result = session_.append(name, wire, flags, date);
                }
                if (result.ok()) {
                    if (!note(journal_.markDone(key)))
                        return false;
                    ++summary_.uploaded;
                    ++tally.uploaded;
                    tally.bytes += wire.size();
                    summary_.bytesSent += wire.size();
                    break;
                }
                if (result.failure == ImapFailure::Connection) {
                    folderReady = false;
                    if (reconnectAfter(result))
                        continue;
                    keepGoing = false;
                    break;
                }
                if (result.failure == ImapFailure::TooBig) {
                    reporter_.logLine("\"" + path + "\" (" + byteCount(wire.size()) + ") was refused as too large: " + result.text);
                    ++summary_.refused;
                    break;
                }
                if (result.failure == ImapFailure::Quota || result.failure == ImapFailure::Login
                    || result.failure == ImapFailure::Certificate) {
                    summary_.stopReason = result.text;
                    keepGoing = false;
                    break;
                }
                if (result.failure == ImapFailure::Refused && !flags.keywords.empty()) {
                    // A server that takes no keywords of ours: the message goes without them.
                    reporter_.logLine(result.text + "; uploading \"" + tally.name + "\" without keywords");
                    keywordsAllowed = false;
                    flags.keywords.clear();
                    continue;
                }
                if (!folderReady) {
                    // The folder cannot be made: none of its messages can go anywhere.
                    reporter_.logLine(result.text);
                    summary_.failed += staged.messages.size() - i;
                    i = staged.messages.size();
                    break;
                }
                reporter_.logLine("\"" + path + "\": " + result.text);
                ++summary_.failed;
                break;
            }
            reporter_.progress(summary_.uploaded + summary_.alreadyPresent + summary_.refused + summary_.failed,
                               summary_.messages, summary_.bytesSent);
        }
        summary_.folders.push_back(tally);
        return keepGoing;
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
        case 'S': flags.seen = true; break;
        case 'R': flags.answered = true; break;
        case 'P': flags.forwarded = true; break;
        case 'D': flags.draft = true; break;
        case 'F': flags.flagged = true; break;
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
        if (line.size() >= field.size()
            && std::equal(field.begin(), field.end(), line.begin(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
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
        lines.push_back("  " + folder.name + ": " + std::to_string(folder.uploaded) + " of "
                        + messageCount(folder.messages) + " uploaded (" + byteCount(folder.bytes) + ")");
    lines.push_back("Uploaded " + messageCount(summary.uploaded) + " (" + byteCount(summary.bytesSent) + "); "
                    + std::to_string(summary.alreadyPresent) + " already present, " + std::to_string(summary.refused)
                    + " refused, " + std::to_string(summary.failed) + " failed");
    const std::uint64_t handled = summary.uploaded + summary.alreadyPresent + summary.refused + summary.failed;
    if (handled < summary.messages)
        lines.push_back(messageCount(summary.messages - handled) + " not uploaded yet");
    if (!summary.stopReason.empty()) {
        lines.push_back("Stopped: " + summary.stopReason);
        if (summary.uploaded + summary.alreadyPresent > 0)
            lines.push_back("What was uploaded stays on the server. Run the same command again (after the limit "
                            "resets or the problem is solved) to upload the rest: nothing is uploaded twice.");
    } else if (summary.canceled) {
        lines.push_back("Canceled. Run the same command again to upload the rest: nothing is uploaded twice.");
    }
    return lines;
}

} // namespace tarnwick
