#include "platform/ImapTransport.h"

#include <libetpan/libetpan.h>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick {

struct SocketRef {
    int fd;
    int timeoutMs;
};

namespace {

constexpr std::size_t tailLimit = 4096;

bool isLoopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    }
    return false;
}

// Connects without blocking longer than the time-out; the descriptor is blocking after.
int connectWithin(const addrinfo* info, int timeoutMs, std::string& error)
{
    const int fd = socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC, info->ai_protocol);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(fd, info->ai_addr, info->ai_addrlen);
    if (r < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        r = poll(&p, 1, timeoutMs);
        if (r == 0) {
            error = "timed out";
            ::close(fd);
            return -1;
        }
        int soError = 0;
        socklen_t length = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
        if (r < 0 || soError != 0) {
            error = std::strerror(r < 0 ? errno : soError);
            ::close(fd);
            return -1;
        }
    } else if (r < 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// GnuTLS reaches the socket through these, so that a write to a vanished peer raises
// no SIGPIPE and a stalled one times out.
ssize_t tlsPush(gnutls_transport_ptr_t ptr, const void* data, size_t size)
{
    const auto* ref = static_cast<const SocketRef*>(ptr);
    pollfd p{ref->fd, POLLOUT, 0};
    const int r = poll(&p, 1, ref->timeoutMs);
    if (r == 0)
        errno = ETIMEDOUT;
    if (r <= 0)
        return -1;
    return ::send(ref->fd, data, size, MSG_NOSIGNAL);
}

ssize_t tlsPull(gnutls_transport_ptr_t ptr, void* data, size_t size)
{
    return ::recv(static_cast<const SocketRef*>(ptr)->fd, data, size, 0);
}

int tlsPullTimeout(gnutls_transport_ptr_t ptr, unsigned int ms)
{
    pollfd p{static_cast<const SocketRef*>(ptr)->fd, POLLIN, 0};
    return poll(&p, 1, ms == GNUTLS_INDEFINITE_TIMEOUT ? -1 : static_cast<int>(ms));
}

ImapTransport* transportOf(mailstream_low* low) { return static_cast<ImapTransport*>(low->data); }

ssize_t lowRead(mailstream_low* low, void* buffer, size_t size) { return transportOf(low)->read(buffer, size); }
ssize_t lowWrite(mailstream_low* low, const void* buffer, size_t size) { return transportOf(low)->write(buffer, size); }
int lowClose(mailstream_low*) { return 0; }
int lowFd(mailstream_low* low) { return transportOf(low)->fd(); }
void lowFree(mailstream_low* low)
{
    delete transportOf(low);
    free(low);
}
void lowCancel(mailstream_low*) {}

mailstream_low_driver lowDriver = {lowRead, lowWrite, lowClose, lowFd, lowFree, lowCancel, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

ImapTransport::ImapTransport(int fd, std::string host, int timeoutMs) : fd_(fd), host_(std::move(host)), timeoutMs_(timeoutMs) {}

ImapTransport::~ImapTransport()
{
    if (tls_)
        gnutls_deinit(static_cast<gnutls_session_t>(tls_));
    if (credentials_)
        gnutls_certificate_free_credentials(static_cast<gnutls_certificate_credentials_t>(credentials_));
    if (fd_ >= 0)
        ::close(fd_);
}

TransportResult ImapTransport::connect(const std::string& host, std::uint16_t port, int timeoutSeconds, bool loopbackOnly)
{
    TransportResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (r != 0) {
        result.error = "Could not find the server " + host + ": " + gai_strerror(r);
        return result;
    }
    std::string why = "no address";
    for (const addrinfo* info = found; info; info = info->ai_next) {
        if (loopbackOnly && !isLoopback(info->ai_addr)) {
            why = "an unencrypted connection is only made to a server on this machine";
            continue;
        }
        const int fd = connectWithin(info, timeoutSeconds * 1000, why);
        if (fd >= 0) {
            result.transport.reset(new ImapTransport(fd, host, timeoutSeconds * 1000));
            break;
        }
    }
    freeaddrinfo(found);
    if (!result.transport)
        result.error = "Could not connect to " + host + " port " + service + ": " + why;
    return result;
}

std::unique_ptr<ImapTransport> ImapTransport::adopt(int fd, const std::string& host, int timeoutSeconds)
{
    return std::unique_ptr<ImapTransport>(new ImapTransport(fd, host, timeoutSeconds * 1000));
}

TransportResult ImapTransport::startTls(const std::string& host, const std::string& extraCaFile)
{
    TransportResult result;
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    credentials_ = credentials;
    if (gnutls_certificate_set_x509_system_trust(credentials) < 0 && extraCaFile.empty()) {
        result.error = "The system's certificate store could not be read";
        result.certificateProblem = true;
        return result;
    }
    if (!extraCaFile.empty() && gnutls_certificate_set_x509_trust_file(credentials, extraCaFile.c_str(), GNUTLS_X509_FMT_PEM) <= 0) {
        result.error = "No certificate could be read from " + extraCaFile;
        result.certificateProblem = true;
        return result;
    }
    gnutls_session_t session = nullptr;
    gnutls_init(&session, GNUTLS_CLIENT);
    tls_ = session;
    in6_addr ignored{};
    const bool literalAddress = inet_pton(AF_INET, host.c_str(), &ignored) == 1 || inet_pton(AF_INET6, host.c_str(), &ignored) == 1;
    if (!literalAddress)
        gnutls_server_name_set(session, GNUTLS_NAME_DNS, host.data(), host.size());
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
    gnutls_session_set_verify_cert(session, host.c_str(), 0);
    socketRef_ = std::make_unique<SocketRef>(SocketRef{fd_, timeoutMs_});
    gnutls_transport_set_ptr(session, socketRef_.get());
    gnutls_transport_set_push_function(session, tlsPush);
    gnutls_transport_set_pull_function(session, tlsPull);
    gnutls_transport_set_pull_timeout_function(session, tlsPullTimeout);
    gnutls_handshake_set_timeout(session, static_cast<unsigned>(timeoutMs_));
    int r;
    do {
        r = gnutls_handshake(session);
    } while (r < 0 && gnutls_error_is_fatal(r) == 0);
    if (r == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
        const unsigned status = gnutls_session_get_verify_cert_status(session);
        gnutls_datum_t text{};
        gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0);
        result.error = "The certificate of " + host + " was refused: " + std::string(reinterpret_cast<const char*>(text.data), text.size);
        gnutls_free(text.data);
        result.certificateProblem = true;
    } else if (r < 0) {
        result.error = "Could not set up an encrypted connection to " + host + ": " + gnutls_strerror(r);
    }
    return result;
}

_mailstream_low* ImapTransport::release(std::unique_ptr<ImapTransport> transport)
{
    mailstream_low* low = mailstream_low_new(transport.get(), &lowDriver);
    if (low)
        transport.release();
    return low;
}

bool ImapTransport::waitFor(short events)
{
    pollfd p{fd_, events, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs_);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        error_ = "no answer from " + host_ + " for " + std::to_string(timeoutMs_ / 1000) + " s";
    else if (r < 0)
        error_ = std::strerror(errno);
    return r > 0;
}

long ImapTransport::read(void* buffer, std::size_t size)
{
    auto* session = static_cast<gnutls_session_t>(tls_);
    for (;;) {
        if (!(session && gnutls_record_check_pending(session) > 0) && !waitFor(POLLIN))
            return -1;
        long n;
        if (session) {
            n = gnutls_record_recv(session, buffer, size);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
                continue;
            if (n < 0) {
                error_ = std::string("the connection to ") + host_ + " failed: " + gnutls_strerror(static_cast<int>(n));
                return -1;
            }
        } else {
            n = ::recv(fd_, buffer, size, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error_ = std::string("the connection to ") + host_ + " failed: " + std::strerror(errno);
                return -1;
            }
        }
        if (n == 0) {
            // Said as a failure, not as the end of the stream: libetpan, handed the end in
            // the middle of an answer, may ask again for ever or crash freeing what it
            // half read (a cut "[PERMANENTFLAGS ("), where a failure ends its parse cleanly.
            closedByPeer_ = true;
            error_ = std::string("the connection to ") + host_ + " was closed";
            return -1;
        }
        remember(static_cast<const char*>(buffer), static_cast<std::size_t>(n));
        return n;
    }
}

long ImapTransport::write(const void* buffer, std::size_t size)
{
    auto* session = static_cast<gnutls_session_t>(tls_);
    for (;;) {
        long n;
        if (session) {
            n = gnutls_record_send(session, buffer, size);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
                continue;
            if (n < 0) {
                error_ = std::string("the connection to ") + host_ + " failed: " + gnutls_strerror(static_cast<int>(n));
                return -1;
            }
            return n;
        }
        if (!waitFor(POLLOUT))
            return -1;
        n = ::send(fd_, buffer, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = std::string("the connection to ") + host_ + " failed: " + std::strerror(errno);
            return -1;
        }
        return n;
    }
}

void ImapTransport::remember(const char* data, std::size_t size)
{
    tail_.append(data, size);
    if (tail_.size() > tailLimit)
        tail_.erase(0, tail_.size() - tailLimit);
}

std::string ImapTransport::lastLine() const
{
    std::size_t end = tail_.size();
    while (end > 0 && (tail_[end - 1] == '\n' || tail_[end - 1] == '\r'))
        --end;
    const std::size_t start = tail_.rfind('\n', end == 0 ? 0 : end - 1);
    return tail_.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

} // namespace tarnwick
