#pragma once
// Uploads a Maildir++ tree, or the messages a conversion hands over as it writes them,
// into an IMAP account in batches of messages: folders mirrored under a top folder,
// flags from the Maildir info letters (":2," in a file name), the message's date (a
// file's modification time) as internal date. A journal makes a run after an
// interruption upload only what the server does not have yet.

#include "platform/ImapSession.h"
#include "platform/MaildirFolder.h"
#include "platform/UploadFiles.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct UploadRequest {
    ImapAccount account;
    std::vector<std::string> topFolder; // components, UTF-8
    std::string stagingRoot;            // the Maildir++ tree
    std::string journalPath;
    /// Waits before each new connection after one was lost; one more loss stops the run.
    std::vector<int> retryDelaysMs = {1000, 2000, 5000, 10000, 30000, 60000};
    /// Connections at most: one more opens while batches wait for a free one, so the
    /// server stores several at once (its disk syncs overlap); one the server refuses
    /// leaves the batches to those already open. With more than one, a large folder's
    /// batches may arrive out of their order (each batch in order).
    unsigned connections = 4;
};

struct UploadedFolder {
    std::string name; // the server's name, as shown (UTF-8)
    std::uint64_t messages = 0;
    std::uint64_t uploaded = 0;
    std::uint64_t bytes = 0;
};

struct UploadSummary {
    std::uint64_t uploaded = 0;
    std::uint64_t alreadyPresent = 0;
    std::uint64_t refused = 0; // over the server's size limit, or an empty file
    std::uint64_t failed = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t messages = 0; // found in the staged tree
    std::vector<UploadedFolder> folders;
    bool canceled = false;
    std::string stopReason; // why the run ended before every message was handled
};

class UploadReporter {
public:
    virtual ~UploadReporter() = default;
    virtual void statusText(const std::string& text) = 0;
    /// After each message: messages handled of all, bytes sent so far.
    virtual void progress(std::uint64_t done, std::uint64_t total, std::uint64_t bytesSent) { (void)done, (void)total, (void)bytesSent; }
    virtual void logLine(const std::string& line) = 0;
};

/// The flags that a Maildir file name's ":2," suffix gives (S, R, P, D, F), and for
/// the letters a to z the keywords of the folder's dovecot-keywords file.
ImapFlags flagsFromMaildirName(std::string_view fileName, const std::vector<std::string>& keywords = {});

/// The keywords of a dovecot-keywords file ("0 $Label1" a line; index 0 to 25 gives the
/// letters a to z), empty where a letter has none. Lines that are not such an entry,
/// and names that are not IMAP atoms, are passed over.
std::vector<std::string> parseMaildirKeywords(std::string_view text);

/// The Message-ID field's value (unfolded, blanks trimmed) from a message's header;
/// empty when it has none.
std::string messageIdOf(std::string_view message);

/// The message with every line ended by CR LF (a lone LF gains its CR); the bytes as
/// they are when nothing needs changing, else built in buffer.
std::string_view withCrlf(std::string_view message, std::string& buffer);

/// Uploads the Maildir++ tree at request.stagingRoot. Stops early on a refused login or
/// certificate, a quota or limit, connections lost more often than retryDelaysMs allows,
/// or cancel. One run at a time uploads the same tree into the same account: a second
/// stops at once (takeUploadLock).
UploadSummary uploadMaildir(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel);

/// Takes `lock` on the lock file `path` of an upload: empty, or why it cannot be had
/// ("Another upload of the same mail into this account is running").
std::string takeUploadLock(RunLock& lock, const std::string& path);

/// An upload fed message by message as a conversion writes them, on the conversion's
/// thread: each folder's messages go up in batches over the connections while the
/// conversion goes on, and stop as uploadMaildir's do. Memory stays bounded: the feeding
/// thread waits while as many batches wait as there are connections.
class MessageUpload {
public:
    MessageUpload(const UploadRequest& request, UploadReporter& reporter, const std::atomic<bool>& cancel);
    /// Waits for the batches on their way.
    ~MessageUpload();
    MessageUpload(const MessageUpload&) = delete;
    MessageUpload& operator=(const MessageUpload&) = delete;

    /// Opens the journal and the first connection: false when the upload cannot begin
    /// (finish() says why).
    bool start();
    /// Takes the messages of the folder at `components` below the top folder; valid
    /// until this upload is destroyed.
    MessageReceiver* folder(const std::vector<std::string>& components);
    /// The upload has stopped (or was canceled): no more messages are taken.
    bool stopped() const;
    /// Waits for the batches on their way; the summary. With `stagedFilesToo`, the
    /// messages written as files into request.stagingRoot go first.
    UploadSummary finish(bool stagedFilesToo = false);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

/// The summary's lines: each folder, then "Uploaded N messages (...); N already
/// present, N refused, N failed", then why it stopped and how to go on.
std::vector<std::string> uploadSummaryLines(const UploadSummary& summary);

} // namespace tarnwick
