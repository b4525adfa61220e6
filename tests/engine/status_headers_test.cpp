// Status headers from an index record: what each status and priority gives, and that
// a header the message already has is never added a second time.
#include "engine/output/StatusHeaders.h"

#include "EncodedWordDecoder.h"

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
    const struct Case {
        const char* name;
        MessageFacts message;
        const char* expected;
    } cases[] = {
        {"unread", record(false, false, false, 3), "Status: O\nX-Mozilla-Status: 0000\n"},
        {"read", record(true, false, false, 3), "Status: RO\nX-Mozilla-Status: 0001\n"},
        {"replied", record(true, true, false, 3), "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\n"},
        {"forwarded", record(true, false, true, 3), "Status: RO\nX-Mozilla-Status: 1001\n"},
        {"highest", record(false, false, false, 1), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 1 (Highest)\n"},
        {"high", record(false, false, false, 2), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 2 (High)\n"},
        {"low", record(true, false, false, 4), "Status: RO\nX-Mozilla-Status: 0001\nX-Priority: 4 (Low)\n"},
        {"lowest", record(false, false, false, 5), "Status: O\nX-Mozilla-Status: 0000\nX-Priority: 5 (Lowest)\n"},
        {"unknown priority", record(false, false, false, 0), "Status: O\nX-Mozilla-Status: 0000\n"},
        {"redirected",
         [] {
             MessageFacts f = record(true, false, false, 3);
             f.redirected = true;
             return f;
         }(),
         "Status: RO\nX-Mozilla-Status: 1001\n"},
        {"queued or unsent: a draft",
         [] {
             MessageFacts f = record(true, false, false, 3);
             f.draft = true;
             return f;
         }(),
         "Status: RO\nX-Status: T\nX-Mozilla-Status: 0801\n"},
        {"replied draft",
         [] {
             MessageFacts f = record(true, true, false, 3);
             f.draft = true;
             return f;
         }(),
         "Status: RO\nX-Status: AT\nX-Mozilla-Status: 0803\n"},
        {"sent",
         [] {
             MessageFacts f = record(true, false, false, 3);
             f.sent = true;
             return f;
         }(),
         "Status: RO\nX-Mozilla-Status: 0001\n"},
        {"out of range priority", record(false, false, false, 9), "Status: O\nX-Mozilla-Status: 0000\n"},
    };
    for (const Case& c : cases) {
        std::string out = "kept";
        appendStatusHeaders(c.message, {}, ExtraStatusHeaders::None, "\n", out);
        EXPECT_EQ(out, std::string("kept") + c.expected) << c.name;
    }
    std::string crlf;
    appendStatusHeaders(record(true, true, false, 3), {}, ExtraStatusHeaders::None, "\r\n", crlf);
    EXPECT_EQ(crlf, "Status: RO\r\nX-Status: A\r\nX-Mozilla-Status: 0003\r\n");
}

// Thunderbird's X-Mozilla-Keys line with its room for tags.
std::string mozillaKeys(std::string keys)
{
    keys.resize(80, ' ');
    return "X-Mozilla-Keys: " + keys + "\r\n";
}

TEST(StatusHeaders, KeywordHeadersOfEachKind)
{
    using enum ExtraStatusHeaders;
    const std::string tb = "Status: O\r\nX-Mozilla-Status: 0000\r\nX-Mozilla-Status2: 00000000\r\n";
    const std::string tbForwarded = "Status: O\r\nX-Mozilla-Status: 1000\r\nX-Mozilla-Status2: 00000000\r\n";
    const struct Case {
        ExtraStatusHeaders extra;
        std::uint8_t label;
        bool forwarded;
        const char* own;
        std::string expected;
    } cases[] = {
        {None, 2, true, nullptr, "Status: O\r\nX-Mozilla-Status: 1000\r\n"},
        {Labels, 0, false, nullptr, "Status: O\r\nX-Mozilla-Status: 0000\r\n"},
        {Labels, 1, false, nullptr, "Status: O\r\nX-Mozilla-Status: 0000\r\nX-Keywords: $Label1\r\n"},
        {Labels, 7, true, nullptr, "Status: O\r\nX-Mozilla-Status: 1000\r\nX-Keywords: $Label7\r\n"},
        {Labels, 8, false, nullptr, "Status: O\r\nX-Mozilla-Status: 0000\r\n"},
        {Labels, 3, false, "X-Keywords: own", "Status: O\r\nX-Mozilla-Status: 0000\r\n"},
        {Thunderbird, 0, false, nullptr, tb + mozillaKeys("")},
        {Thunderbird, 5, false, nullptr, tb + mozillaKeys("$label5") + "X-Keywords: $Label5\r\n"},
        {Thunderbird, 0, true, nullptr, tbForwarded + mozillaKeys("") + "X-Keywords: $Forwarded\r\n"},
        {Thunderbird, 7, true, nullptr, tbForwarded + mozillaKeys("$label7") + "X-Keywords: $Forwarded $Label7\r\n"},
        {Thunderbird, 9, false, nullptr, tb + mozillaKeys("")},
        {Thunderbird, 2, false, "x-mozilla-keys: $label4", tb + "X-Keywords: $Label2\r\n"},
        {Thunderbird, 2, true, "X-Mozilla-Status2: 10000000",
         "Status: O\r\nX-Mozilla-Status: 1000\r\n" + mozillaKeys("$label2") + "X-Keywords: $Forwarded $Label2\r\n"},
        {Thunderbird, 2, false, "X-Keywords: Work", tb + mozillaKeys("$label2")},
    };
    for (const Case& c : cases) {
        MessageFacts facts;
        facts.label = c.label;
        facts.forwarded = c.forwarded;
        PresentStatusHeaders present;
        if (c.own) {
            EXPECT_FALSE(noteStatusHeader(c.own, c.extra, present)) << c.own;
        }
        std::string out;
        appendStatusHeaders(facts, present, c.extra, "\r\n", out);
        EXPECT_EQ(out, c.expected) << int(c.extra) << ' ' << int(c.label) << ' ' << c.forwarded;
    }
}

// The label's name beside the keywords, only where keywords are written: printable ASCII
// as it is, anything else as encoded-words that decode to the name.
TEST(StatusHeaders, LabelNameBesideTheKeywords)
{
    using enum ExtraStatusHeaders;
    const std::vector<std::string> names = {"Urgent", "Caf\u00e9 \u20ac", "", "=?utf-8?q?x?=", "Tab\there", std::string(70, 'w'), "Later"};
    const struct Case {
        ExtraStatusHeaders extra;
        std::uint8_t label;
        std::size_t nameCount; // how many of `names` are given
        const char* own;
        std::string expected; // after the keyword lines
    } cases[] = {
        {Labels, 1, 7, nullptr, "X-Keywords: $Label1\nX-Eudora-Label: Urgent\n"},
        {Labels, 2, 7, nullptr, "X-Keywords: $Label2\nX-Eudora-Label: =?utf-8?B?Q2Fmw6kg4oKs?=\n"},
        {Labels, 3, 7, nullptr, "X-Keywords: $Label3\n"},
        {Labels, 4, 7, nullptr, "X-Keywords: $Label4\nX-Eudora-Label: =?utf-8?B?PT91dGYtOD9xP3g/PQ==?=\n"},
        {Labels, 5, 7, nullptr, "X-Keywords: $Label5\nX-Eudora-Label: =?utf-8?Q?Tab=09here?=\n"},
        {Labels, 7, 6, nullptr, "X-Keywords: $Label7\n"},
        {Labels, 0, 7, nullptr, ""},
        {Labels, 1, 7, "X-Eudora-Label: Mine", "X-Keywords: $Label1\n"},
        {Labels, 1, 7, "X-Keywords: own", "X-Eudora-Label: Urgent\n"},
        {Thunderbird, 7, 7, nullptr, "X-Keywords: $Label7\nX-Eudora-Label: Later\n"},
        {None, 1, 7, nullptr, ""},
    };
    for (const Case& c : cases) {
        MessageFacts facts;
        facts.label = c.label;
        PresentStatusHeaders present;
        if (c.own) {
            EXPECT_FALSE(noteStatusHeader(c.own, c.extra, present)) << c.own;
        }
        std::string out;
        appendStatusHeaders(facts, present, c.extra, "\n", out, std::span(names).first(c.nameCount));
        const std::size_t keywords = std::min(out.find("X-Keywords:"), out.find("X-Eudora-Label:"));
        EXPECT_EQ(keywords == std::string::npos ? std::string() : out.substr(keywords), c.expected) << int(c.extra) << ' ' << int(c.label);
    }
    // A long name: encoded-words on lines of at most 78 characters, CR LF kept.
    MessageFacts facts;
    facts.label = 6;
    std::string out;
    appendStatusHeaders(facts, {}, Labels, "\r\n", out, names);
    const std::size_t start = out.find("X-Eudora-Label: =?utf-8?Q?www");
    ASSERT_NE(start, std::string::npos) << out;
    const std::string field = out.substr(start);
    for (std::size_t at = 0, end; (end = field.find("\r\n", at)) != std::string::npos; at = end + 2)
        EXPECT_LE(end - at, 78u) << field;
    const std::vector<testing::UnfoldedField> fields = testing::unfoldFields(std::u16string(field.begin(), field.end()));
    ASSERT_EQ(fields.size(), 1u) << field;
    EXPECT_EQ(testing::decodeText(fields[0].value), u" " + std::u16string(70, u'w')) << field;
}

// A blank header gives way to the one added only where that one is added: in plain mbox
// output a message's blank keyword lines stay as they are.
TEST(StatusHeaders, BlankKeywordHeadersGiveWayOnlyToTheirOwnKind)
{
    using enum ExtraStatusHeaders;
    const struct Case {
        const char* line;
        bool none;
        bool labels;
        bool thunderbird;
    } cases[] = {
        {"Status: ", true, true, true},
        {"X-Keywords:", false, true, true},
        {"x-keywords: \t", false, true, true},
        {"X-Mozilla-Keys:                 ", false, false, true},
        {"X-Mozilla-Status2:", false, false, true},
        {"X-Eudora-Label:  ", false, true, true},
        {"X-Mozilla-Keyss:", false, false, false},
    };
    for (const Case& c : cases) {
        PresentStatusHeaders present;
        EXPECT_EQ(noteStatusHeader(c.line, None, present), c.none) << c.line;
        EXPECT_EQ(noteStatusHeader(c.line, Labels, present), c.labels) << c.line;
        EXPECT_EQ(noteStatusHeader(c.line, Thunderbird, present), c.thunderbird) << c.line;
    }
}

TEST(StatusHeaders, PresentHeadersAreNotRepeated)
{
    const struct Case {
        std::vector<const char*> lines;
        const char* expected;
        int blank;
    } cases[] = {
        {{"Status: R"}, "X-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 0},
        {{"status:RO", "x-status: F"}, "X-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n", 0},
        {{"X-MOZILLA-STATUS: 0001", "X-Priority: 3"}, "Status: RO\nX-Status: A\n", 0},
        {{"Statuses: none", "X-Status-Note: a", "Subject: Status: RO", "X-Priority"},
         "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n",
         0},
        {{"Status: O", "X-Status: A", "X-Mozilla-Status: 0000", "X-Priority: 5"}, "", 0},
        // Eudora's own "Status:   " says nothing: it gives way, and so do other blank ones.
        {{"Status:   ", "X-Status:", "X-Priority: \t", "Subject:  "},
         "Status: RO\nX-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n",
         3},
    };
    for (const Case& c : cases) {
        PresentStatusHeaders present;
        int blank = 0;
        for (const char* line : c.lines)
            blank += noteStatusHeader(line, ExtraStatusHeaders::None, present) ? 1 : 0;
        EXPECT_EQ(blank, c.blank) << c.lines.front();
        std::string out;
        appendStatusHeaders(record(true, true, false, 1), present, ExtraStatusHeaders::None, "\n", out);
        EXPECT_EQ(out, c.expected) << c.lines.front();
    }
}

} // namespace
} // namespace tarnwick
