// Fuzzes how an IMAP session reads the server's answers: the input is all the server
// says (greeting, login, capabilities, LIST, CREATE, the answers to a batch of APPENDs
// with and without MULTIAPPEND, EXAMINE and SEARCH), played from a socket pair to a
// real session. Whatever it says, every APPEND gets one result, and a session told
// nothing it could read reports a failure rather than success.

#include "FuzzSupport.h"
#include "../tests/KnownLibraryLeaks.h"

#include "platform/ImapSession.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string kMessages[] = {"Subject: a\r\n\r\none\r\n", std::string(5000, 'x') + "\r\n", "Subject: c\r\n\r\nthree\r\n"};

void exerciseSession(tarnwick::ImapSession& session)
{
    bool exists = false;
    (void)session.folderExists("Eudora", exists);
    (void)session.createFolder("Eudora/In");
    const tarnwick::ImapFlags flags{true, false, true, false, false, {"$Label1"}};
    for (const bool multi : {true, false}) {
        const std::vector<tarnwick::ImapResult> results = session.appendMany(
            "Eudora/In", 3,
            [&](std::size_t i) {
                return tarnwick::ImapOutgoing{kMessages[i], &flags, 1000000000};
            },
            multi);
        FUZZ_CHECK(results.size() == (multi ? 1u : 3u));
        for (const tarnwick::ImapResult& result : results)
            FUZZ_CHECK(result.ok() == result.text.empty());
    }
    bool found = false;
    const tarnwick::ImapResult searched = session.containsMessage("Eudora/In", 25, "<a@b>", found);
    FUZZ_CHECK(searched.ok() || !found);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0; // more than the socket pair holds unread
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t n = ::write(fds[1], data + sent, size - sent);
        FUZZ_CHECK(n > 0);
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR); // then the end of what the server says
    tarnwick::ImapAccount account;
    account.host = "127.0.0.1";
    account.user = "anna";
    account.password = "secret";
    account.timeoutSeconds = 1;
    tarnwick::ImapSession session;
    const tarnwick::ImapResult opened = session.openOverSocket(fds[0], account);
    FUZZ_CHECK(opened.ok() == session.isOpen());
    FUZZ_CHECK(opened.ok() || !opened.text.empty());
    if (opened.ok()) {
        FUZZ_CHECK(!session.appendLimit() || *session.appendLimit() < 10000000000000000000ull);
        exerciseSession(session);
    }
    session.close();
    ::close(fds[1]);
    return 0;
}
