// How a session reads what an IMAP server says: the server's whole side of the talk is
// played from a socket pair (what the session writes is left unread).

#include "KnownLibraryLeaks.h"
#include "platform/ImapSession.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

// Greeting, login (tag 1), CAPABILITY (TW1) and LIST "" "" (2), as Dovecot answers them.
std::string loggedIn(const std::string& capabilities)
{
    return "* OK ready\r\n1 OK Logged in\r\n* CAPABILITY IMAP4rev1 " + capabilities
        + "\r\nTW1 OK done\r\n* LIST (\\Noselect) \"/\" \"\"\r\n2 OK done\r\n";
}

// The session opened over a server that says `answers`, then nothing more.
class Replay {
public:
    explicit Replay(const std::string& answers)
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        EXPECT_EQ(::write(fds_[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
        ::shutdown(fds_[1], SHUT_WR);
        ImapAccount account;
        account.host = "127.0.0.1";
        account.user = "anna";
        account.timeoutSeconds = 2;
        opened = session.openOverSocket(fds_[0], account);
    }
    ~Replay() { ::close(fds_[1]); }

    std::vector<ImapResult> append(std::size_t count, bool multi)
    {
        const std::string message = "Subject: x\r\n\r\nbody\r\n";
        return session.appendMany(
            "In", count,
            [&](std::size_t) {
                return ImapOutgoing{message, nullptr, 0};
            },
            multi);
    }

    ImapSession session;
    ImapResult opened;

private:
    int fds_[2] = {-1, -1};
};

TEST(ImapAnswers, CapabilitiesAfterLoginSayHowToAppend)
{
    const struct {
        std::string capabilities;
        bool multi, literalPlus;
        std::optional<std::uint64_t> limit;
    } cases[] = {
        {"MULTIAPPEND LITERAL+ APPENDLIMIT=35882577", true, true, 35882577},
        {"multiappend appendlimit=0", true, false, 0},
        {"APPENDLIMIT=99999999999999999999 LITERAL-", false, false, std::nullopt}, // past 64 bits
        {"APPENDLIMIT= APPENDLIMIT=1x", false, false, std::nullopt},
        {"", false, false, std::nullopt},
        {"MULTIAPPEND " + std::string(2100, 'X') + " LITERAL+", true, false, std::nullopt}, // cut after 2,000 characters
    };
    for (const auto& c : cases) {
        Replay replay(loggedIn(c.capabilities));
        SCOPED_TRACE(c.capabilities.substr(0, 60));
        ASSERT_TRUE(replay.opened.ok()) << c.capabilities << ": " << replay.opened.text;
        EXPECT_EQ(replay.session.hasMultiAppend(), c.multi) << c.capabilities;
        EXPECT_EQ(replay.session.hasLiteralPlus(), c.literalPlus) << c.capabilities;
        EXPECT_EQ(replay.session.appendLimit(), c.limit) << c.capabilities;
        EXPECT_EQ(replay.session.delimiter(), '/');
    }
}

// A server that answers CAPABILITY without naming any (or hangs up meanwhile) leaves
// the session without them, or closed, and never reads through a null pointer.
TEST(ImapAnswers, ACapabilityAnswerWithoutCapabilities)
{
    const std::string login = "* OK ready\r\n1 OK Logged in\r\n";
    Replay bare(login + "TW1 OK done\r\n* LIST () \"/\" \"\"\r\n2 OK done\r\n");
    ASSERT_TRUE(bare.opened.ok()) << bare.opened.text;
    EXPECT_FALSE(bare.session.hasMultiAppend());
    for (const char* end : {"TW1 OK ", "TW1 OK", "2 OK \r\n", ""}) {
        Replay cut(login + end);
        EXPECT_EQ(cut.opened.failure, ImapFailure::Connection) << end << ": " << cut.opened.text;
        EXPECT_FALSE(cut.session.isOpen());
    }
}

TEST(ImapAnswers, EachAppendGetsTheAnswerToItsOwnTag)
{
    const struct {
        const char* name;
        std::string answers; // after login, to APPENDs tagged TW2, TW3, TW4
        bool multi;
        std::vector<ImapFailure> expected;
    } cases[] = {
        {"in order",
         "TW2 OK\r\nTW3 OK [APPENDUID 1 2] done\r\nTW4 OK\r\n",
         false,
         {ImapFailure::None, ImapFailure::None, ImapFailure::None}},
        {"out of order, refusals classified",
         "TW4 NO [TOOBIG] too large\r\nTW2 OK\r\nTW3 NO [OVERQUOTA] full\r\n",
         false,
         {ImapFailure::None, ImapFailure::Quota, ImapFailure::TooBig}},
        {"untagged lines and literals between",
         "* 3 EXISTS\r\nTW2 OK\r\n* 1 FETCH (BODY[] {12}\r\nTW3 NO spoof)\r\nTW3 BAD what\r\nTW4 OK\r\n",
         false,
         {ImapFailure::None, ImapFailure::Protocol, ImapFailure::None}},
        {"an unknown tag is passed over",
         "TW9 NO other\r\nTW2 OK\r\nTW3 OK\r\nTW4 OK\r\n",
         false,
         {ImapFailure::None, ImapFailure::None, ImapFailure::None}},
        {"the connection ends before the last answers",
         "TW2 OK\r\nTW3 O",
         false,
         {ImapFailure::None, ImapFailure::Connection, ImapFailure::Connection}},
        {"one answer for a MULTIAPPEND", "TW2 NO [OVERQUOTA] full\r\n", true, {ImapFailure::Quota}},
        {"a MULTIAPPEND never answered", "", true, {ImapFailure::Connection}},
    };
    for (const auto& c : cases) {
        Replay replay(loggedIn("MULTIAPPEND LITERAL+") + c.answers);
        ASSERT_TRUE(replay.opened.ok()) << c.name << ": " << replay.opened.text;
        const std::vector<ImapResult> results = replay.append(3, c.multi);
        ASSERT_EQ(results.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < results.size(); ++i)
            EXPECT_EQ(results[i].failure, c.expected[i]) << c.name << ", message " << i << ": " << results[i].text;
    }
}

TEST(ImapAnswers, ALoginThatFailsSaysWhy)
{
    const struct {
        std::string answers;
        ImapFailure expected;
    } cases[] = {
        {"* OK ready\r\n1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", ImapFailure::Login},
        {"* BYE Too many connections\r\n", ImapFailure::Quota}, // a limit: no use trying again at once
        {"* BYE Shutting down\r\n", ImapFailure::Refused},
        {"* OK ready\r\n", ImapFailure::Connection},
        {"", ImapFailure::Connection},
        // Cut off in the middle of an answer: libetpan, told of the end rather than of a
        // failure, crashed freeing the half-read list.
        {"* OK ready\r\n* OK [PERMANENTFLAGS (", ImapFailure::Connection},
        {"* OK ready\r\n* FLAGS (\\Seen", ImapFailure::Connection},
    };
    for (const auto& c : cases) {
        Replay replay(c.answers);
        EXPECT_EQ(replay.opened.failure, c.expected) << c.answers << replay.opened.text;
        EXPECT_FALSE(replay.opened.text.empty());
        EXPECT_FALSE(replay.session.isOpen());
    }
}

} // namespace
} // namespace tarnwick
