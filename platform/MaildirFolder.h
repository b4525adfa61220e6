#pragma once
// One Maildir folder being filled: each message is written to a new file in tmp/ and
// given its file time; once a batch of them is written, they are made durable together
// (one sync of the file system rather than one per message, which costs a journal
// commit each) and only then renamed into cur/ under unique names that no existing entry
// has, so cur/ never holds a partial message and nothing is ever overwritten. The file
// writes go through outputCalls().

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class FolderHandle;

/// One message as a folder hands it to its receiver: its bytes held, or for a large one
/// the file in the folder's tmp/ that holds them, which the receiver then owns.
struct ReceivedMessage {
    std::string bytes;
    std::string spoolPath; // set when the bytes are in this file instead
    std::string flags;     // info flags, as end() was given them
    std::vector<std::string> keywordNames; // the names of the letters a, b, ... in flags
    std::optional<std::int64_t> instant;
};

/// Takes a folder's messages in place of its cur/ (an upload that sends them as the
/// conversion writes them), on the thread that delivers them.
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    /// 0, or the errno the delivery fails with (ECANCELED: no more are taken).
    virtual int receive(ReceivedMessage message) = 0;
    /// Every message of the folder has been received.
    virtual void finished() = 0;
    /// The folder's conversion failed or stopped: those not yet on their way stay behind.
    virtual void discarded() = 0;
};

class MaildirFolder {
public:
    MaildirFolder() = default;
    ~MaildirFolder();
    MaildirFolder(const MaildirFolder&) = delete;
    MaildirFolder& operator=(const MaildirFolder&) = delete;

    /// Makes `path` a new Maildir: the folder itself (which must not exist yet, EEXIST
    /// otherwise) and its tmp, new and cur folders. Returns 0 or the errno of the
    /// failure; a folder it made before failing is removed again.
    int create(const std::string& path);

    /// create() for the entry `name` of the held folder `parent`, made relative to it.
    int create(std::shared_ptr<const FolderHandle> parent, const std::string& name);

    /// Where place() moves the folder: into the held folder `parent`, under the first of
    /// nameFor(1), nameFor(2), ... that no entry has (an empty name: none is left).
    void placeLater(std::shared_ptr<const FolderHandle> parent, std::function<std::string(int)> nameFor);

    /// Moves the folder (made with the parent held) to the place placeLater() gave it,
    /// never over an existing entry; path() is then its new path. Returns 0 (also when no
    /// place was given) or the errno of the failure, the folder then where it was.
    int place();

    /// Makes the tmp, new and cur folders in the existing folder `path` where they are
    /// missing (the root of a Maildir++ tree). Returns 0 or the errno of the failure.
    static int completeRoot(const std::string& path);

    /// The folder made by create().
    const std::string& path() const { return path_; }
    /// Where place() moves it first (its path before it is placed), for messages.
    std::string placePath() const;

    /// The descriptor of its tmp/ (-1 before create()), where spool files may go too.
    int tmpFolder() const { return tmpFd_; }

    /// Makes every later delivery refuse (ECANCELED) once `*stop` is true.
    void stopWhen(const std::atomic<bool>* stop) { stop_ = stop; }

    /// Hands every later message to `receiver` instead of cur/: held in memory up to
    /// kHeldBytes, in a file of tmp/ beyond. finish() and discard() tell it too.
    void sendTo(MessageReceiver* receiver) { receiver_ = receiver; }
    static constexpr std::size_t kHeldBytes = 1u << 20;

    /// Writes one message with the info flags `flags` (already in order, such as "RS")
    /// and, when given, the file time `instant` (seconds since 1970); it reaches cur/
    /// with its batch (at most kBatchMessages messages or kBatchBytes bytes) or at
    /// finish(). False (with error()) on failure: its file in tmp/ is removed.
    bool deliver(std::string_view message, std::string_view flags, std::optional<std::int64_t> instant);

    /// deliver() in steps, for a message that comes in pieces: begin() makes its file
    /// in tmp/, append() writes to it, end() gives it its flags and file time (it then
    /// waits for its batch as a delivered one does). False (with error()) on failure:
    /// its file is removed.
    /// `keywordNames` names the keyword letters of `flags`, for a receiver.
    bool begin();
    bool append(std::string_view bytes);
    bool end(std::string_view flags, std::optional<std::int64_t> instant, const std::vector<std::string>& keywordNames = {});

    static constexpr std::size_t kBatchMessages = 512;
    static constexpr std::uint64_t kBatchBytes = 32u << 20;

    /// Writes Dovecot's keyword list ("0 name" per line, in letter order) as the
    /// folder's dovecot-keywords file, durably, beside the messages. False (with
    /// error()) on failure.
    bool writeKeywords(const std::vector<std::string>& keywords);

    /// Moves the messages still in tmp/ into cur/ and makes the renames durable (fsync
    /// of the folder). False (with error()).
    bool finish();

    /// Removes every message delivered here, the keyword list, then the folders that
    /// create() made (those left empty). For a conversion that failed or was stopped.
    void discard();

    /// Messages delivered so far (in cur/ or waiting in tmp/ for their batch).
    std::uint64_t delivered() const { return delivered_; }

    int error() const { return error_; }
    /// The system's description of the last failure (strerror).
    std::string errorText() const;

private:
    bool fail(int error);
    // Fails the message begun: its file closed and removed.
    bool failMessage(int error);
    bool writeAll(int fd, std::string_view bytes);
    void closeFolders();
    int createAt(int parentFd, const std::string& name, const std::string& path);
    // Makes the waiting messages durable and renames them into cur/.
    bool moveBatch();
    // Opens the message's file in tmp/; closes it (removed when that fails).
    bool openMessageFile();
    bool closeMessageFile();
    // Hands the message begun to the receiver.
    bool handOver(std::string_view flags, std::optional<std::int64_t> instant, const std::vector<std::string>& keywordNames);

    struct Waiting {
        std::string unique; // its name in tmp/, and the start of its name in cur/
        std::string info;   // ",S=size:2,flags"
    };
    std::vector<Waiting> waiting_;
    std::uint64_t waitingBytes_ = 0;

    std::string path_;
    std::shared_ptr<const FolderHandle> parent_; // held, when made in one
    std::string name_;                           // its name in parent_
    std::shared_ptr<const FolderHandle> placeIn_;
    std::function<std::string(int)> placeName_;
    int folderFd_ = -1;
    int tmpFd_ = -1;
    int curFd_ = -1;
    int messageFd_ = -1;      // the file of the message begun
    std::string messageName_; // its name in tmp/
    std::uint64_t messageSize_ = 0;
    std::string token_; // in every name delivered here, and in no other
    std::string host_;  // the host name as Maildir names carry it
    std::uint64_t counter_ = 0;
    std::uint64_t delivered_ = 0;
    int error_ = 0;
    const std::atomic<bool>* stop_ = nullptr;
    MessageReceiver* receiver_ = nullptr;
    std::string held_; // the message begun, for the receiver, while it is small
};

} // namespace tarnwick
