#pragma once
// The libetpan session behind an ImapSession, shared by its source files.

#include "platform/ImapSession.h"
#include "platform/ImapTransport.h"

#include <libetpan/libetpan.h>

namespace tarnwick {

struct ImapSession::State {
    mailimap* imap = nullptr;
    ImapTransport* transport = nullptr; // owned by the libetpan stream
    std::string host;

    ~State() { reset(); }
    void reset()
    {
        if (imap) {
            // Closed here, not by mailimap_free: it would send LOGOUT and read the answer of a
            // server that has just failed (a wait, and libetpan leaks what it half-parses).
            // ImapSession::close logs out itself while the connection is sound.
            if (imap->imap_stream) {
                mailstream_close(imap->imap_stream); // closes the transport
                imap->imap_stream = nullptr;
            }
            mailimap_free(imap);
            imap = nullptr;
        }
        transport = nullptr;
    }

    /// A result for a libetpan return code, with the server's last line when it refused.
    ImapResult failure(int code, const std::string& what) const
    {
        if (transport && !transport->error().empty())
            return {ImapFailure::Connection, what + ": " + transport->error()};
        if (code == MAILIMAP_ERROR_STREAM || code == MAILIMAP_ERROR_CONNECTION_REFUSED || (transport && transport->closedByPeer()))
            return {ImapFailure::Connection, what + ": the connection to " + host + " was closed"};
        std::string line = transport ? transport->lastLine() : std::string();
        if (line.empty() && imap && imap->imap_response)
            line = imap->imap_response;
        if (code == MAILIMAP_ERROR_LOGIN) {
            const ImapFailure kind = classifyServerRefusal(line);
            return {kind == ImapFailure::Quota ? kind : ImapFailure::Login, what + ": " + line};
        }
        if (code == MAILIMAP_ERROR_PARSE)
            return {ImapFailure::Protocol, what + ": the server's answer could not be read (" + line + ")"};
        return {classifyServerRefusal(line), what + ": " + line};
    }
};

} // namespace tarnwick
