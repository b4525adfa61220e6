#pragma once
// The byte stream under an IMAP session: a TCP socket with read and write time-outs,
// secured by GnuTLS with the certificate verified for the host name. Handed to
// libetpan as a stream of its own (ImapTransport::release).

#include <cstdint>
#include <memory>
#include <string>

struct _mailstream_low;

namespace tarnwick {

class ImapTransport;
struct SocketRef;

struct TransportResult {
    std::unique_ptr<ImapTransport> transport; // set by connect on success
    std::string error;
    bool certificateProblem = false;
};

class ImapTransport {
public:
    ~ImapTransport();
    ImapTransport(const ImapTransport&) = delete;
    ImapTransport& operator=(const ImapTransport&) = delete;

    /// Opens a TCP connection. With loopbackOnly, refuses an address that is not on
    /// this machine (plain text goes nowhere else).
    static TransportResult connect(const std::string& host, std::uint16_t port, int timeoutSeconds, bool loopbackOnly);
    /// A transport over a connected socket that is already open (the session owns fd
    /// from then on): for tests and fuzzing, a server's answers played from a socket pair.
    static std::unique_ptr<ImapTransport> adopt(int fd, const std::string& host, int timeoutSeconds);
    /// TLS handshake on the open connection; the chain must lead to a trusted root
    /// (the system's, or one in extraCaFile) and name the host.
    TransportResult startTls(const std::string& host, const std::string& extraCaFile);

    /// Gives the transport to a libetpan stream, which frees it when closed.
    static _mailstream_low* release(std::unique_ptr<ImapTransport> transport);

    /// The last complete line the server sent (without CR LF).
    std::string lastLine() const;
    /// Set when a read or write failed or timed out.
    const std::string& error() const { return error_; }
    bool closedByPeer() const { return closedByPeer_; }

    long read(void* buffer, std::size_t size);
    long write(const void* buffer, std::size_t size);
    int fd() const { return fd_; }

private:
    ImapTransport(int fd, std::string host, int timeoutMs);
    bool waitFor(short events);
    void remember(const char* data, std::size_t size);

    int fd_ = -1;
    std::string host_;
    int timeoutMs_ = 60000;
    void* tls_ = nullptr;         // gnutls_session_t
    void* credentials_ = nullptr; // gnutls_certificate_credentials_t
    std::unique_ptr<SocketRef> socketRef_;
    std::string tail_; // the end of what the server sent
    std::string error_;
    bool closedByPeer_ = false;
};

} // namespace tarnwick
