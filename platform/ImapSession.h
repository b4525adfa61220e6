#pragma once
// One connection to an IMAP server (libetpan over our own socket and GnuTLS layer):
// connect and log in, the hierarchy delimiter, folders, APPEND with flags and date.
// The certificate is verified against the system's store (and an optional extra CA
// file); a failure never falls back to plain text.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class ImapTransport;

enum class ImapSecurity { Tls, StartTls, Plain };

struct ImapAccount {
    std::string host;
    std::uint16_t port = 993;
    ImapSecurity security = ImapSecurity::Tls;
    std::string user;
    std::string password;
    std::string extraCaFile; // PEM; trusted in addition to the system's store
    int timeoutSeconds = 60;
};

/// What went wrong, as far as the caller must act on it.
enum class ImapFailure {
    None,
    Connection,  // network lost, timed out, or the server hung up: worth a new try
    Certificate, // the server's certificate is not trusted for this host
    Login,       // user name or password refused
    TooBig,      // this message is over the server's size limit
    Quota,       // mailbox full or the provider's limit reached: stop
    Refused,     // the server said NO to this command
    Protocol,    // anything else
};

struct ImapResult {
    ImapFailure failure = ImapFailure::None;
    std::string text; // what the server or the system said, for the user
    bool ok() const { return failure == ImapFailure::None; }
};

/// Flags of an uploaded message.
struct ImapFlags {
    bool seen = false;
    bool answered = false;
    bool forwarded = false; // $Forwarded
    bool draft = false;
    bool flagged = false;
    std::vector<std::string> keywords;
};

/// Classifies a server's tagged NO/BAD line (its response code and text).
ImapFailure classifyServerRefusal(std::string_view line);

/// The size n of a literal "{n}" (or "{n+}") that ends a response line; none when the
/// line ends otherwise or n is not a number below 2^32.
std::optional<std::uint64_t> trailingLiteralSize(std::string_view line);

/// What an APPEND gives after the folder: " (FLAGS) \"DD-Mon-YYYY HH:MM:SS +0000\" {SIZE}",
/// the literal marked "{SIZE+}" when it goes without waiting for the server.
std::string appendArguments(const ImapFlags& flags, std::time_t internalDate, std::uint64_t size, bool nonSynchronizing);

/// A name as an IMAP quoted string (backslash before '"' and '\\').
std::string quotedImapString(std::string_view text);

/// One message for ImapSession::appendMany: its bytes (CR LF line ends), valid until
/// the source is asked for the next one.
struct ImapOutgoing {
    std::string_view bytes;
    const ImapFlags* flags = nullptr;
    std::time_t internalDate = 0;
};

class ImapSession {
public:
    ImapSession();
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    /// Connects, secures the connection as the account says, and logs in.
    ImapResult open(const ImapAccount& account);
    /// Logs in over a connected socket, unencrypted, whatever the account's security (the
    /// session owns fd): for tests and fuzzing of how the server's answers are read.
    ImapResult openOverSocket(int fd, const ImapAccount& account);
    void close();
    bool isOpen() const;

    /// The server's hierarchy delimiter ('/' or '.'; 0 for a flat server).
    char delimiter() const { return delimiter_; }
    /// APPENDLIMIT from the capabilities, when the server announces one.
    std::optional<std::uint64_t> appendLimit() const { return appendLimit_; }

    /// Whether a folder of exactly this (encoded) name exists.
    ImapResult folderExists(const std::string& name, bool& exists);
    ImapResult createFolder(const std::string& name);

    /// APPENDs one message (CRLF line ends) with its flags and internal date (UTC).
    ImapResult append(const std::string& folder, std::string_view message, const ImapFlags& flags, std::time_t internalDate);

    /// Whether the server takes several messages in one APPEND (MULTIAPPEND), and
    /// literals of any size without waiting for its go-ahead (LITERAL+).
    bool hasMultiAppend() const { return multiAppend_; }
    bool hasLiteralPlus() const { return literalPlus_; }

    /// APPENDs count messages (source(i) gives each) without waiting for the server
    /// between them. With multi, in one MULTIAPPEND command: one result, all or none of
    /// them stored. Otherwise one APPEND each, sent back to back: one result each. A
    /// message whose answer never came (the connection was lost) has a Connection result.
    std::vector<ImapResult> appendMany(const std::string& folder, std::size_t count, const std::function<ImapOutgoing(std::size_t)>& source,
                                       bool multi);

    /// Whether the folder holds a message of exactly this size (RFC822.SIZE), with this
    /// Message-ID when one is given: how an APPEND whose answer was lost is looked for.
    ImapResult containsMessage(const std::string& folder, std::uint64_t size, const std::string& messageId, bool& found);

private:
    /// The connection made, secured as the account says, and greeted; not yet logged in.
    ImapResult connectSecured(const ImapAccount& account);
    /// The server's greeting read over the transport (the session's from then on).
    ImapResult greet(std::unique_ptr<ImapTransport> transport);
    /// Login, capabilities and delimiter over the greeted connection.
    ImapResult logIn(const ImapAccount& account);
    /// MULTIAPPEND, LITERAL+/-, APPENDLIMIT from the capabilities after login.
    void readCapabilities();
    /// The capabilities among the names of a CAPABILITY line.
    void noteCapabilities(std::string_view names);
    ImapResult readDelimiter();

    struct State;
    std::unique_ptr<State> state_;
    char delimiter_ = 0;
    std::optional<std::uint64_t> appendLimit_;
    bool multiAppend_ = false;
    bool literalPlus_ = false;
    bool literalMinus_ = false; // non-synchronizing literals up to 4096 bytes
    std::uint64_t tagCounter_ = 0;
};

} // namespace tarnwick
