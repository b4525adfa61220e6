#include "batch/ImapUpload.h"

#include "batch/ImapTarget.h"
#include "batch/UploadJournal.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Localization.h"
#include "platform/MappedFile.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/UploadFiles.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <map>
#include <memory>
#include <unordered_map>
#include <set>
#include <thread>
#include <utility>

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
    std::string path; // or what names a message that has no file
    std::string key;
    std::unique_ptr<MappedFile> file;
    std::string held; // the bytes of a message without a file
    std::uint64_t size = 0; // with CR LF
    std::time_t date = 0;
    ImapFlags flags;

    std::string_view bytes() const { return file ? file->bytes() : std::string_view(held); }
};

struct FolderRun;

struct Batch {
    FolderRun* run = nullptr;
    std::vector<Outgoing> messages;
    std::uint64_t bytes = 0;
};

struct FolderRun {
    std::vector<std::string> components; // with the top folder
    std::string serverName;
    std::vector<std::string> keywords;
    std::unordered_map<std::string, std::uint32_t> copies; // digest -> copies seen
    // Under the shared lock: connections upload batches of one folder at the same time.
    UploadedFolder tally;
    bool keywordsAllowed = true;
    bool unusable = false; // cannot be created: its messages fail
    bool fed = false; // its messages are handed over one by one, into `filling`
    Batch filling;
};

bool stopsTheRun(ImapFailure failure)
{
    return failure == ImapFailure::Quota || failure == ImapFailure::Login || failure == ImapFailure::Certificate;
}

// What the connections share. The lock guards the journal, the summary, the folders'
// tallies, the queue of batches and the reporter.
struct Shared {
    Shared(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
        : request(request), reporter(reporter), cancel(cancel)
    {}

    const UploadRequest& request;
    UploadReporter& reporter;
    const std::atomic<bool>& cancel;
    std::mutex mutex;
    std::condition_variable changed;
    UploadJournal journal;
    UploadSummary summary;
    std::deque<Batch> queue;
    std::size_t unfinishedBatches = 0; // queued or being sent
    std::size_t busyLanes = 0;
    bool producing = true;
    bool laneRefused = false; // a further connection could not be made
    std::atomic<bool> stopping{false};
    // Folders found or created on the server, by any connection.
    std::mutex folderMutex;
    std::set<std::string> knownFolders;
    char delimiter = 0;
    std::optional<std::uint64_t> appendLimit;

    /// Under the lock: false (and the run stopped) when the journal could not be written.
    bool note(const std::string& journalError)
    {
        if (journalError.empty())
            return true;
        stopWith(journalError);
        return false;
    }
    void stopWith(const std::string& reason)
    {
        if (summary.stopReason.empty())
            summary.stopReason = reason;
        stopping = true;
    }
    bool canceled()
    {
        if (!cancel.load(std::memory_order_relaxed))
            return false;
        summary.canceled = true;
        stopping = true;
        return true;
    }
};

// One connection, on a thread of its own: takes batches from the queue and sends them.
class Lane {
public:
    explicit Lane(Shared& shared) : shared_(shared) {}

    ImapSession& session() { return session_; }

    /// Connects; a connection lost after the first one is tried again with the waits
    /// of retryDelaysMs (a first one that fails is most likely a wrong server or port,
    /// said at once). False when the run must stop.
    bool connect(bool retry = false)
    {
        for (;;) {
            const ImapResult result = session_.open(shared_.request.account);
            if (result.ok())
                return true;
            if (!retry || result.failure != ImapFailure::Connection || losses_ >= shared_.request.retryDelaysMs.size()) {
                std::lock_guard lock(shared_.mutex);
                shared_.stopWith(result.text);
                return false;
            }
            if (!waitBeforeRetry(result.text))
                return false;
        }
    }

    /// The thread's work until the batches run out or the run stops. A connection
    /// other than the first is made for its first batch; when the server will not
    /// give it (too many at once, say), the batch goes back to the others.
    void work(bool connected)
    {
        for (;;) {
            Batch batch;
            {
                std::unique_lock lock(shared_.mutex);
                shared_.changed.wait(lock, [&] {
                    return shared_.stopping || !shared_.queue.empty() || (!shared_.producing && shared_.unfinishedBatches == 0);
                });
                if (shared_.stopping || shared_.queue.empty())
                    break;
                batch = std::move(shared_.queue.front());
                shared_.queue.pop_front();
                ++shared_.busyLanes;
            }
            shared_.changed.notify_all();
            if (!connected) {
                if (const ImapResult opened = session_.open(shared_.request.account); !opened.ok()) {
                    std::lock_guard lock(shared_.mutex);
                    shared_.queue.push_front(std::move(batch));
                    --shared_.busyLanes;
                    if (!std::exchange(shared_.laneRefused, true))
                        shared_.reporter.logLine(translate("%1; going on over the connections already open", {opened.text}));
                    break;
                }
            }
            connected = true;
            const bool goOn = sendBatch(batch);
            std::lock_guard lock(shared_.mutex);
            --shared_.unfinishedBatches;
            --shared_.busyLanes;
            if (!goOn)
                shared_.stopping = true;
            shared_.changed.notify_all();
        }
        shared_.changed.notify_all();
        session_.close();
    }

private:
    bool waitBeforeRetry(const std::string& why)
    {
        const int delay = shared_.request.retryDelaysMs[losses_++];
        {
            std::lock_guard lock(shared_.mutex);
            shared_.reporter.logLine(translate("%1; trying again in %2 s", {why, std::to_string((delay + 999) / 1000)}));
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
        while (std::chrono::steady_clock::now() < until) {
            if (shared_.cancel.load(std::memory_order_relaxed) || shared_.stopping) {
                std::lock_guard lock(shared_.mutex);
                shared_.canceled();
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
        if (losses_ >= shared_.request.retryDelaysMs.size()) {
            std::lock_guard lock(shared_.mutex);
            shared_.stopWith(result.text);
            return false;
        }
        return waitBeforeRetry(result.text) && connect(true);
    }

    /// The folder and its parents, created where missing; never emptied.
    ImapResult ensureFolder(const std::vector<std::string>& components)
    {
        std::lock_guard folders(shared_.folderMutex);
        for (std::size_t n = 1; n <= components.size(); ++n) {
            const std::vector<std::string> prefix(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(n));
            const std::string name = serverFolderName(prefix, shared_.delimiter);
            if (shared_.knownFolders.count(name))
                continue;
            bool exists = false;
            if (ImapResult result = session_.folderExists(name, exists); !result.ok())
                return result;
            if (!exists) {
                if (ImapResult result = session_.createFolder(name); !result.ok())
                    return result;
                std::lock_guard lock(shared_.mutex);
                shared_.reporter.logLine(translate("Created the folder \"%1\"", {shownName(prefix)}));
            }
            shared_.knownFolders.insert(name);
        }
        return {};
    }

    /// The folder made ready, and the messages of the batch that an earlier attempt may
    /// have stored (begun, never confirmed) looked for on the server.
    ImapResult prepareServer(Batch& batch)
    {
        FolderRun& run = *batch.run;
        if (ImapResult result = ensureFolder(run.components); !result.ok())
            return result;
        for (auto it = batch.messages.begin(); it != batch.messages.end();) {
            bool pending = false;
            {
                std::lock_guard lock(shared_.mutex);
                pending = shared_.journal.isPending(it->key);
            }
            bool present = false;
            if (pending) {
                ImapResult result = session_.containsMessage(run.serverName, it->size, messageIdOf(it->bytes()), present);
                if (!result.ok())
                    return result;
            }
            if (!present) {
                ++it;
                continue;
            }
            std::lock_guard lock(shared_.mutex);
            if (!shared_.note(shared_.journal.markDone(it->key)))
                return {ImapFailure::Protocol, shared_.summary.stopReason};
            ++shared_.summary.alreadyPresent;
            it = batch.messages.erase(it);
        }
        return {};
    }

    /// After prepareServer failed: true to try the batch again, false when the run
    /// must stop; a folder that cannot be created fails the batch (empties it).
    bool afterServerFailure(Batch& batch, const ImapResult& result)
    {
        if (shared_.stopping)
            return false;
        if (result.failure == ImapFailure::Connection)
            return reconnectAfter(result);
        std::lock_guard lock(shared_.mutex);
        if (stopsTheRun(result.failure)) {
            shared_.stopWith(result.text);
            return false;
        }
        // The folder cannot be made: none of its messages can go anywhere.
        if (!batch.run->unusable)
            shared_.reporter.logLine(result.text);
        shared_.summary.failed += batch.messages.size();
        batch.messages.clear();
        batch.run->unusable = true;
        return true;
    }

    /// Every message of the batch with its "P" line on disk. False when the run must stop.
    bool markPending(const Batch& batch)
    {
        std::lock_guard lock(shared_.mutex);
        for (const Outgoing& message : batch.messages) {
            if (!shared_.journal.isPending(message.key) && !shared_.note(shared_.journal.markPending(message.key)))
                return false;
        }
        return shared_.note(shared_.journal.commit());
    }

    /// Uploads the batch; false when the run must stop.
    bool sendBatch(Batch& batch)
    {
        bool singles = false;
        bool probing = false; // after a lost connection: one message at a time, each answered
        while (!batch.messages.empty()) {
            if (shared_.stopping || shared_.cancel.load(std::memory_order_relaxed)) {
                std::lock_guard lock(shared_.mutex);
                shared_.canceled();
                return false;
            }
            if (ImapResult result = prepareServer(batch); !result.ok()) {
                if (!afterServerFailure(batch, result))
                    return false;
                continue;
            }
            if (batch.messages.empty())
                break;
            if (!markPending(batch))
                return false;
            const std::string sentHead = batch.messages.front().key;
            const std::size_t count = probing ? 1 : batch.messages.size();
            const bool multi = !singles && count > 1 && session_.hasMultiAppend();
            const std::vector<ImapResult> results = session_.appendMany(
                batch.run->serverName, count,
                [&](std::size_t i) {
                    const Outgoing& message = batch.messages[i];
                    return ImapOutgoing{withCrlf(message.bytes(), crlfBuffer_), &message.flags, message.date};
                },
                multi);
            if (multi && !results.front().ok() && results.front().failure != ImapFailure::Connection) {
                // All or none: each goes on its own, to say which is refused (or to fill
                // the space a quota leaves).
                singles = true;
                continue;
            }
            std::optional<ImapResult> lost;
            bool progress = false;
            if (!handleResults(batch, multi ? std::vector<ImapResult>(count, results.front()) : results, lost, progress))
                return false;
            if (lost && !afterDrop(batch, *lost, sentHead, count == 1, progress))
                return false;
            probing = probing || lost.has_value();
        }
        std::lock_guard lock(shared_.mutex);
        const UploadSummary& summary = shared_.summary;
        shared_.reporter.progress(summary.uploaded + summary.alreadyPresent + summary.refused + summary.failed, summary.messages,
                                  summary.bytesSent);
        return true;
    }

    /// After the connection was lost during the batch (whose messages then go one at a
    /// time). A server that hangs up on a message (one over its size limit, say) does
    /// so each time it comes: lost twice in a row while that message went alone, it is
    /// refused and the rest goes on. The waits before reconnecting start over after a
    /// message was handled. False when the run must stop.
    bool afterDrop(Batch& batch, const ImapResult& lost, const std::string& sentHead, bool alone, bool progress)
    {
        const bool again = alone && droppedAlone_ && sentHead == dropHead_;
        if (again && !batch.messages.empty() && batch.messages.front().key == sentHead) {
            const Outgoing& message = batch.messages.front();
            {
                std::lock_guard lock(shared_.mutex);
                shared_.reporter.logLine(
                    translate("\"%1\" (%2) was refused as too large: %3", {message.path, byteCount(message.size), lost.text}));
                ++shared_.summary.refused;
            }
            batch.messages.erase(batch.messages.begin());
            progress = true;
        }
        if (progress || sentHead != dropHead_)
            losses_ = 0;
        dropHead_ = sentHead;
        droppedAlone_ = alone;
        return reconnectAfter(lost);
    }

    /// Counts the answers to the batch's first messages; those to send again (the connection
    /// was lost, or keywords were refused) stay in the batch. progress tells whether a
    /// message was handled. False when the run must stop.
    bool handleResults(Batch& batch, const std::vector<ImapResult>& results, std::optional<ImapResult>& lost, bool& progress)
    {
        std::lock_guard lock(shared_.mutex);
        FolderRun& run = *batch.run;
        std::vector<Outgoing> again;
        for (std::size_t i = 0; i < results.size(); ++i) {
            Outgoing& message = batch.messages[i];
            const ImapResult& result = results[i];
            progress = progress || (result.failure != ImapFailure::Connection && result.failure != ImapFailure::Refused);
            if (result.ok()) {
                if (!shared_.note(shared_.journal.markDone(message.key)))
                    return false;
                ++shared_.summary.uploaded;
                ++run.tally.uploaded;
                run.tally.bytes += message.size;
                shared_.summary.bytesSent += message.size;
            } else if (result.failure == ImapFailure::Connection) {
                lost = result;
                again.push_back(std::move(message));
            } else if (result.failure == ImapFailure::TooBig) {
                shared_.reporter.logLine(
                    translate("\"%1\" (%2) was refused as too large: %3", {message.path, byteCount(message.size), result.text}));
                ++shared_.summary.refused;
            } else if (stopsTheRun(result.failure)) {
                shared_.stopWith(result.text);
            } else if (result.failure == ImapFailure::Refused && !message.flags.keywords.empty()) {
                // A server that takes no keywords of ours: the messages go without them.
                if (run.keywordsAllowed)
                    shared_.reporter.logLine(translate("%1; uploading \"%2\" without keywords", {result.text, run.tally.name}));
                run.keywordsAllowed = false;
                message.flags.keywords.clear();
                again.push_back(std::move(message));
            } else {
                shared_.reporter.logLine("\"" + message.path + "\": " + result.text);
                ++shared_.summary.failed;
                progress = true;
            }
        }
        for (std::size_t i = results.size(); i < batch.messages.size(); ++i)
            again.push_back(std::move(batch.messages[i])); // not sent this time
        batch.messages = std::move(again);
        return shared_.summary.stopReason.empty();
    }

    Shared& shared_;
    ImapSession session_;
    std::string crlfBuffer_;
    std::size_t losses_ = 0;
    std::string dropHead_; // the first message sent when the connection was last lost
    bool droppedAlone_ = false;
};

// Cuts the messages of the staged folders, or those a conversion hands over one by one,
// into batches for the connections: the first made at the start, further ones (up to
// the request's connections) while batches wait.
class Uploader {
public:
    Uploader(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel) : shared_(request, reporter, cancel)
    {}

    ~Uploader() { finish(); }

    /// Opens the journal and the first connection. False when the run cannot begin
    /// (finish() says why).
    bool start()
    {
        if (std::string error = shared_.journal.open(shared_.request.journalPath); !error.empty()) {
            shared_.stopWith(error);
            return false;
        }
        shared_.reporter.statusText(translate("Connecting to %1...", {shared_.request.account.host}));
        lanes_.push_back(std::make_unique<Lane>(shared_));
        if (!lanes_.front()->connect())
            return false;
        shared_.delimiter = lanes_.front()->session().delimiter();
        shared_.appendLimit = lanes_.front()->session().appendLimit();
        threads_.emplace_back([lane = lanes_.front().get()] { lane->work(true); });
        return true;
    }

    /// Uploads the staged tree at the request's staging root.
    UploadSummary uploadTree()
    {
        const bool started = start();
        const std::vector<StagedFolder> folders = stagedFolders(shared_.request.stagingRoot);
        if (started) {
            for (const StagedFolder& folder : folders) {
                if (!uploadFolder(folder))
                    break;
            }
        }
        UploadSummary summary = finish();
        if (summary.stopReason.empty() && !summary.canceled)
            return summary;
        // A run that stopped early counts the messages it did not reach.
        std::uint64_t staged = 0;
        for (const StagedFolder& folder : folders)
            staged += folder.messages.size();
        summary.messages = std::max(summary.messages, staged);
        return summary;
    }

    /// A folder fed message by message (components below the top folder).
    FolderRun& openFolder(const std::vector<std::string>& components)
    {
        FolderRun& run = startRun(components, {});
        run.fed = true;
        run.filling.run = &run;
        statusUploading(run, 0);
        return run;
    }

    /// One message of a folder fed message by message; full batches go at once. False
    /// when the run has stopped.
    bool add(FolderRun& run, Outgoing message)
    {
        {
            std::lock_guard lock(shared_.mutex);
            if (shared_.canceled() || shared_.stopping)
                return false;
            ++run.tally.messages;
            ++shared_.summary.messages;
            if (run.unusable) {
                ++shared_.summary.failed;
                return true;
            }
        }
        admit(run, run.filling, std::move(message));
        return sendIfFull(run.filling);
    }

    /// The folder's last messages go; with `sent` false they stay behind (its
    /// conversion failed), counted as not uploaded yet.
    void closeFolder(FolderRun& run, bool sent)
    {
        if (run.filling.messages.empty())
            return;
        if (sent) {
            dispatch(std::exchange(run.filling, Batch{&run, {}, 0}));
            return;
        }
        std::lock_guard lock(shared_.mutex);
        run.tally.messages -= run.filling.messages.size();
        shared_.summary.messages -= run.filling.messages.size();
        run.filling = Batch{&run, {}, 0};
    }

    /// Messages left as files in the staged tree (by a folder that had no receiver) go too.
    void uploadStagedFiles()
    {
        for (const StagedFolder& folder : stagedFolders(shared_.request.stagingRoot)) {
            if (!folder.messages.empty() && !uploadFolder(folder))
                return;
        }
    }

    bool stopped()
    {
        std::lock_guard lock(shared_.mutex);
        return shared_.stopping || shared_.canceled();
    }

    /// Waits for the batches on their way; the summary.
    UploadSummary finish()
    {
        if (finished_)
            return shared_.summary;
        finished_ = true;
        {
            std::lock_guard lock(shared_.mutex);
            shared_.producing = false;
        }
        shared_.changed.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
        shared_.note(shared_.journal.commit());
        for (const FolderRun& run : runs_) {
            if (run.tally.messages > 0 || !run.fed)
                shared_.summary.folders.push_back(run.tally);
        }
        return shared_.summary;
    }

private:
    FolderRun& startRun(const std::vector<std::string>& components, const std::string& path)
    {
        FolderRun& run = runs_.emplace_back();
        run.components = shared_.request.topFolder;
        run.components.insert(run.components.end(), components.begin(), components.end());
        run.serverName = serverFolderName(run.components, shared_.delimiter);
        run.tally.name = shownName(run.components);
        if (!path.empty())
            run.keywords = keywordsOf(path);
        return run;
    }

    /// Puts the messages at `paths` in batches; false when the whole run must stop.
    bool takeMessages(const std::vector<std::string>& paths, FolderRun& run)
    {
        {
            std::lock_guard lock(shared_.mutex);
            run.tally.messages += paths.size();
            shared_.summary.messages += paths.size();
        }
        Batch batch{&run, {}, 0};
        for (const std::string& path : paths) {
            std::unique_lock lock(shared_.mutex);
            if (shared_.canceled() || shared_.stopping)
                return false;
            if (run.unusable) {
                ++shared_.summary.failed;
                continue;
            }
            lock.unlock();
            prepare(path, run, batch);
            if (!sendIfFull(batch))
                return false;
        }
        return batch.messages.empty() || dispatch(std::exchange(batch, Batch{&run, {}, 0}));
    }

    bool sendIfFull(Batch& batch)
    {
        if (batch.messages.size() < kBatchMessages && batch.bytes < kBatchBytes)
            return true;
        return dispatch(std::exchange(batch, Batch{batch.run, {}, 0}));
    }

    /// False when the whole run must stop.
    bool uploadFolder(const StagedFolder& staged)
    {
        FolderRun& run = startRun(staged.components, staged.path);
        statusUploading(run, staged.messages.size());
        return takeMessages(staged.messages, run);
    }

    void statusUploading(const FolderRun& run, std::uint64_t messages)
    {
        std::lock_guard lock(shared_.mutex);
        shared_.reporter.statusText(messages == 0 ? translate("Uploading \"%1\"...", {run.tally.name})
                                                  : translate("Uploading \"%1\" (%2)...", {run.tally.name, messageCount(messages)}));
    }

    /// Queues the batch for the connections (waiting while as many wait as there are
    /// connections), and opens one more when none is free. False when the run stops.
    bool dispatch(Batch batch)
    {
        std::unique_lock lock(shared_.mutex);
        shared_.changed.wait(lock, [&] { return shared_.stopping || shared_.queue.size() < lanes_.size(); });
        if (shared_.stopping)
            return false;
        shared_.queue.push_back(std::move(batch));
        ++shared_.unfinishedBatches;
        if (shared_.queue.size() > lanes_.size() - shared_.busyLanes && lanes_.size() < std::max(1u, shared_.request.connections)) {
            Lane* lane = lanes_.emplace_back(std::make_unique<Lane>(shared_)).get();
            threads_.emplace_back([lane] { lane->work(false); });
        }
        lock.unlock();
        shared_.changed.notify_all();
        return true;
    }

    /// Reads the message file at `path` and puts it in the batch unless the journal has
    /// it or it cannot go.
    void prepare(const std::string& path, FolderRun& run, Batch& batch)
    {
        auto file = std::make_unique<MappedFile>();
        const std::optional<std::time_t> date = file->open(path, LinkPolicy::Refuse) ? modificationTime(path) : std::nullopt;
        if (!date) {
            std::lock_guard lock(shared_.mutex);
            shared_.reporter.logLine(translate("Could not read \"%1\"", {path}));
            ++shared_.summary.failed;
            return;
        }
        admit(run, batch, Outgoing{path, {}, std::move(file), {}, 0, *date, flagsFromMaildirName(fileName(path), run.keywords)});
    }

    /// Puts the message in the batch unless the journal has it or it cannot go.
    void admit(FolderRun& run, Batch& batch, Outgoing message)
    {
        const std::string_view bytes = message.bytes();
        const std::string digest = sha256Hex(bytes);
        message.key = journalKey(run.serverName, digest, run.copies[digest]++);
        message.size = crlfSize(bytes);
        std::lock_guard lock(shared_.mutex);
        if (shared_.journal.isDone(message.key)) {
            ++shared_.summary.alreadyPresent;
            return;
        }
        if (message.size == 0) {
            shared_.reporter.logLine(translate("\"%1\" is empty and was not uploaded", {message.path}));
            ++shared_.summary.refused;
            return;
        }
        if (shared_.appendLimit && message.size > *shared_.appendLimit) {
            shared_.reporter.logLine(translate("\"%1\" (%2) is larger than %3 accepts (%4) and was not uploaded",
                                               {message.path, byteCount(message.size), shared_.request.account.host,
                                                byteCount(*shared_.appendLimit)}));
            ++shared_.summary.refused;
            return;
        }
        if (!run.keywordsAllowed)
            message.flags.keywords.clear();
        batch.bytes += message.size;
        batch.messages.push_back(std::move(message));
    }

    Shared shared_;
    std::deque<FolderRun> runs_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<std::thread> threads_;
    bool finished_ = false;
};

// Hands a folder's messages, as its conversion writes them, to the upload.
class FolderReceiver final : public MessageReceiver {
public:
    FolderReceiver(Uploader& uploader, FolderRun& run) : uploader_(uploader), run_(run) {}

    int receive(ReceivedMessage message) override
    {
        Outgoing outgoing;
        outgoing.path = translate("%1, message %2", {run_.tally.name, std::to_string(++number_)});
        outgoing.date = message.instant.value_or(std::time(nullptr));
        outgoing.flags = flagsFromMaildirName(":2," + message.flags, message.keywordNames);
        if (message.spoolPath.empty()) {
            outgoing.held = std::move(message.bytes);
        } else {
            // Mapped, the file can go at once: nothing is left behind whatever happens next.
            outgoing.file = std::make_unique<MappedFile>();
            const bool opened = outgoing.file->open(message.spoolPath, LinkPolicy::Refuse);
            removeFile(message.spoolPath);
            if (!opened)
                return outgoing.file->error();
        }
        return uploader_.add(run_, std::move(outgoing)) ? 0 : ECANCELED;
    }
    void finished() override { uploader_.closeFolder(run_, true); }
    void discarded() override { uploader_.closeFolder(run_, false); }

private:
    Uploader& uploader_;
    FolderRun& run_;
    std::uint64_t number_ = 0;
};

} // namespace

struct MessageUpload::Parts {
    Parts(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel) : uploader(request, reporter, cancel) {}
    Uploader uploader;
    std::deque<FolderReceiver> receivers;
};

MessageUpload::MessageUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel)
    : parts_(std::make_unique<Parts>(request, reporter, cancel))
{}

MessageUpload::~MessageUpload() = default;

bool MessageUpload::start() { return parts_->uploader.start(); }

MessageReceiver* MessageUpload::folder(const std::vector<std::string>& components)
{
    return &parts_->receivers.emplace_back(parts_->uploader, parts_->uploader.openFolder(components));
}

bool MessageUpload::stopped() const { return parts_->uploader.stopped(); }

UploadSummary MessageUpload::finish(bool stagedFilesToo)
{
    if (stagedFilesToo && !stopped())
        parts_->uploader.uploadStagedFiles();
    return parts_->uploader.finish();
}

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
    // The account and folder, not the port or the way in, as for a conversion's private folder.
    std::string account = request.account.user + '@' + request.account.host;
    for (const std::string& component : request.topFolder)
        account += '/' + component;
    RunLock lock;
    if (std::string refused = takeUploadLock(lock, uploadStagingFolder(account, request.stagingRoot) + ".lock"); !refused.empty()) {
        UploadSummary summary;
        summary.stopReason = std::move(refused);
        return summary;
    }
    return Uploader(request, reporter, cancel).uploadTree();
}

std::string takeUploadLock(RunLock& lock, const std::string& path)
{
    const int error = lock.acquire(path);
    if (error == 0)
        return {};
    return error == EWOULDBLOCK ? translate("Another upload of the same mail into this account is running")
                                : translate("Could not lock \"%1\": %2", {path, systemErrorText(error)});
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
