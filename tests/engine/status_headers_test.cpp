// Status headers from an index record: what each status and priority gives, and that
// a header the message already has is never added a second time.
#include "engine/output/StatusHeaders.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

MessageFacts record(bool read, bool replied, bool forwarded, std::uint8_t priority)
{
    MessageFacts facts;
    facts.read = read;
    facts.replied = replied;
    facts.forwarded = forwarded;
    facts.priority = priority;
    return facts;
}

TEST(StatusHeaders, EachStatusAndPriority)
{
    const struct Case { const char* name; MessageFacts message; const char* expected; } cases[] = {
        {"unread", record(false, false, false, 3), "Status: O\nX-Mozilla-Status: 0000\n"},
        {"read", record(true, false, false, 3), "Status: RO\nX-Mozilla-Status: 0001\n"},
        {"replied", record(true, true, false, 3), "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\n"},
        {"forwarded", record(true, false, true, 3), "Status: RO\nX-Mozilla-Status: 1001\n"},
        {"highest", record(false, false, false, 1), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 1 (Highest)\n"},
        {"high", record(false, false, false, 2), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 2 (High)\n"},
        {"low", record(true, false, false, 4), "Status: RO\nX-Mozilla-Status: 0001\nX-Priority: 4 (Low)\n"},
        {"lowest", record(false, false, false, 5), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 5 (Lowest)\n"},
        {"unknown priority", record(false, false, false, 0), "Status: O\nX-Mozilla-Status: 0000\n"},
        {"redirected", [] { MessageFacts f = record(true, false, false, 3); f.redirected = true; return f; }(),
         "Status: RO\nX-Mozilla-Status: 1001\n"},
        {"queued or unsent: a draft", [] { MessageFacts f = record(true, false, false, 3); f.draft = true; return f; }(),
         "Status: RO\nX-Status: T\nX-Mozilla-Status: 0801\n"},
        {"replied draft", [] { MessageFacts f = record(true, true, false, 3); f.draft = true; return f; }(),
         "Status: RO\nX-Status: AT\nX-Mozilla-Status: 0803\n"},
        {"sent", [] { MessageFacts f = record(true, false, false, 3); f.sent = true; return f; }(),
         "Status: RO\nX-Mozilla-Status: 0001\n"},
        {"out of range priority", record(false, false, false, 9), "Status: O\nX-Mozilla-Status: 0000\n"},
    };
    for (const Case& c : cases) {
        std::string out = "kept";
        appendStatusHeaders(c.message, {}, "\n", out);
        EXPECT_EQ(out, std::string("kept") + c.expected) << c.name;
    }
    std::string crlf;
    appendStatusHeaders(record(true, true, false, 3), {}, "\r\n", crlf);
    EXPECT_EQ(crlf, "Status: RO\r\nX-Status: A\r\nX-Mozilla-Status: 0003\r\n");
}

TEST(StatusHeaders, LabelAsKeyword)
{
    const struct Case { std::uint8_t label; bool present; const char* expected; } cases[] = {
        {0, false, ""}, {1, false, "X-Keywords: $Label1\r\n"}, {7, false, "X-Keywords: $Label7\r\n"},
        {8, false, ""}, {3, true, ""},
    };
    for (const Case& c : cases) {
        MessageFacts facts;
        facts.label = c.label;
        PresentStatusHeaders present;
        EXPECT_FALSE(noteStatusHeader(c.present ? "X-Keywords: own" : "Subject: x", present));
        std::string out;
        appendKeywordsHeader(facts, present, "\r\n", out);
        EXPECT_EQ(out, c.expected) << int(c.label) << c.present;
    }
}

TEST(StatusHeaders, PresentHeadersAreNotRepeated)
{
    const struct Case { std::vector<const char*> lines; const char* expected; int blank; } cases[] = {
        {{"Status: R"}, "X-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 0},
        {{"status:RO", "x-status: F"}, "X-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 0},
        {{"X-MOZILLA-STATUS: 0001", "X-Priority: 3"}, "Status: RO\nX-Status: A\n", 0},
        {{"Statuses: none", "X-Status-Note: a", "Subject: Status: RO", "X-Priority"}, "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 0},
        {{"Status: O", "X-Status: A", "X-Mozilla-Status: 0000", "X-Priority: 5"}, "", 0},
        // Eudora's own "Status:   " says nothing: it gives way, and so do other blank ones.
        {{"Status:   ", "X-Status:", "X-Priority: \t", "Subject:  "}, "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 3},
    };
    for (const Case& c : cases) {
        PresentStatusHeaders present;
        int blank = 0;
        for (const char* line : c.lines)
            blank += noteStatusHeader(line, present) ? 1 : 0;
        EXPECT_EQ(blank, c.blank) << c.lines.front();
        std::string out;
        appendStatusHeaders(record(true, true, false, 1), present, "\n", out);
        EXPECT_EQ(out, c.expected) << c.lines.front();
    }
}

} // namespace
} // namespace tarnwick
