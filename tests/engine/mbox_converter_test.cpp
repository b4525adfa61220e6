#include "engine/ByteRange.h"
#include "engine/mailbox/MboxConverter.h"
#include "engine/mailbox/SeparatorDate.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace tarnwick {
namespace {

using Lengths = std::vector<std::uint64_t>;
constexpr std::uint64_t kNone = kHeaderLengthNone;

struct Options {
    bool lineEndings = false, dates = false, emptyLines = false, encodings = false;
};

void writeFile(const std::string& file, const std::string& bytes) { std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes; }

using testSupport::readFile;

class MboxConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-mbox-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ::setenv("TZ", "Europe/Paris", 1); // the dates below are Paris time
        ::tzset();
        setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    }
    void TearDown() override
    {
        setLogSink({});
        setTranslator({});
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // The sorted names in the test's folder.
    static std::vector<std::string> listing(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Converts `input` into a fresh output; the hand-over sees each message and header length.
    std::string convert(const std::string& input, const Options& o)
    {
        options_.convertEncodings = o.encodings;
        options_.crlfLineEndings = o.lineEndings;
        options_.complementDateHeaders = o.dates;
        options_.addEmptyLines = o.emptyLines;
        writeFile(path("in"), input);
        writeFile(path("out"), "");
        lengths_.clear();
        messages_.clear();
        const ConversionResult result = convertMbox(path("in"), path("out"), options_, [this](auto m, auto length, auto&, auto&) {
            lengths_.push_back(length);
            messages_.emplace_back(m);
            return false; // declined: the message is written as it stands
        });
        EXPECT_TRUE(result.succeeded) << result.errorText;
        return readFile(path("out"));
    }

    std::string dir_;
    ConversionOptions options_; // those of the last convert()
    std::vector<std::string> log_, messages_;
    Lengths lengths_;
};

TEST_F(MboxConverterTest, WorkedExampleByteForByte)
{
    const std::string input = "From sender1 Wed Jan 3 01:05:34 1996\nSubject: hi\n\nbody\n"
                              "From sender2 Thu Jan 4 02:00:00 1996\r\ndate: Thu, 4 Jan 1996 02:00:00 +0000\n\ntext";
    for (const bool crlf : {false, true}) {
        const std::string e = crlf ? "\r\n" : "\n";
        const std::string expected = "From sender1 Wed Jan 3 01:05:34 1996" + e + "Subject: hi" + e + "Date: Wed, 3 Jan 1996 01:05:34 +0100"
            + e + e + "body" + e + e + "From sender2 Thu Jan 4 02:00:00 1996" + e + "date: Thu, 4 Jan 1996 02:00:00 +0000" + e + e + "text"
            + e + e;
        for (const bool encodings : {false, true})
            EXPECT_SAME_BYTES(convert(input, {crlf, true, true, encodings}), expected) << crlf << encodings;
        EXPECT_EQ(lengths_, (crlf ? Lengths{91, 78} : Lengths{87, 75}));
        ASSERT_EQ(messages_.size(), 2u);
        EXPECT_SAME_BYTES(messages_[0] + messages_[1], expected) << "whole messages are handed over, added empty line too";
    }
    EXPECT_TRUE(log_.empty());
}

TEST_F(MboxConverterTest, LinesMessagesAndDateLines)
{
    const std::string from = "From s Wed Jan 3 01:05:34 1996\n", date = "Date: Wed, 3 Jan 1996 01:05:34 +0100\n";
    const std::string mixed = "From a\nx\r\ny\rz\n\r\nlast", x100 = "From a\nS: " + std::string(100, 'x') + "\n\n";
    const Options crlf{.lineEndings = true}, split{.emptyLines = true, .encodings = true}, dates{.dates = true};
    const struct {
        const char* name;
        std::string input;
        Options options;
        std::string expected;
        Lengths lengths; // checked when encodings are converted
    } cases[] = {
        // Every line takes the first line's terminator, or CR LF when asked.
        {"LF first", mixed, {}, "From a\nx\ny\nz\n\nlast\n", {}},
        {"LF first, CR LF wanted", mixed, crlf, "From a\r\nx\r\ny\r\nz\r\n\r\nlast\r\n", {}},
        {"CR first", "From a\rx\r\ny\n\nz", {}, "From a\rx\ry\r\rz\r", {}},
        {"CR LF first", "From a\r\nx\ny\r", {}, "From a\r\nx\r\ny\r\n", {}},
        {"LF CR is two lines", "From a\n\rb\n", {}, "From a\n\nb\n", {}},
        {"lone line, open terminator", "From a", {.emptyLines = true}, "From a", {}},
        {"lone line, CR LF and empty lines", "From a", {.lineEndings = true, .emptyLines = true}, "From a\r\n\r\n", {}},
        // Messages start at every "From " line; the header ends after the first empty line.
        {"From line in a body", "From a\nS: 1\n\nbody\nFrom b\n\nt\n", split, "From a\nS: 1\n\nbody\n\nFrom b\n\nt\n\n", {13, 8}},
        {"only \"From \" starts a message",
         "From a\n\nfrom b\nFROM c\nFrom\td\nFromage\n From e\n>From f\n",
         split,
         "From a\n\nfrom b\nFROM c\nFrom\td\nFromage\n From e\n>From f\n\n",
         {8}},
        {"no empty line", "From a\nS: 1\nT: 2\n", split, "From a\nS: 1\nT: 2\n\n", {kNone}},
        {"empty line last", "From a\nS: 1\n\n", split, "From a\nS: 1\n\n\n", {kNone}},
        {"separator of 5 bytes", "From a\n\nx\nFrom \ny\n", split, "From a\n\nx\n\nFrom \ny\n\n", {8, kNone}},
        {"later empty lines stay body", "From a\n\n\nx\n\n", split, "From a\n\n\nx\n\n\n", {8}},
        {"spaces are no empty line", "From a\n \nx\n\ny\n", split, "From a\n \nx\n\ny\n\n", {12}},
        {"header over 100 bytes", x100 + "b\n", split, x100 + "b\n\n", {112}},
        // A Date line goes last in a header that has no "Date:" line.
        {"no Date header", from + "S: x\n\nb\n", dates, from + "S: x\n" + date + "\nb\n", {}},
        {"capital DATE:", from + "DATE: y\n\nb\n", dates, from + "DATE: y\n\nb\n", {}},
        {"lower case date:", from + "S: x\ndate:y\n\nb\n", dates, from + "S: x\ndate:y\n\nb\n", {}},
        {"space before the colon", from + "Date : y\n\nb\n", dates, from + "Date : y\n" + date + "\nb\n", {}},
        {"Date only in the body", from + "\nDate: y\n", dates, from + date + "\nDate: y\n", {}},
        {"no empty line: no Date", from + "S: x\n", dates, from + "S: x\n", {}},
        {"no date after the sender", "From  a  \nS: x\n\nb\n", dates, "From  a  \nS: x\n\nb\n", {}},
        {"nothing after From", "From \n\nb\n", dates, "From \n\nb\n", {}},
        {"Date does not carry over", from + "Date: y\n\n" + from + "\nb\n", dates, from + "Date: y\n\n" + from + date + "\nb\n", {}},
        {"Date line with the output terminator, in the header length",
         "From s Wed Jan 3 01:05:34 1996\r\rb\r",
         {.lineEndings = true, .dates = true, .encodings = true},
         "From s Wed Jan 3 01:05:34 1996\r\nDate: Wed, 3 Jan 1996 01:05:34 +0100\r\n\r\nb\r\n",
         {72}},
    };
    for (const auto& c : cases) {
        EXPECT_SAME_BYTES(convert(c.input, c.options), c.expected) << c.name;
        EXPECT_EQ(lengths_, c.lengths) << c.name;
    }
}

// The body loop finds line breaks 64 bytes at a time and copies lines in 32-byte
// pieces: line ends at every offset of a chunk, a CR LF cut by a chunk's end, empty
// lines, "From " lines and attachment-like lines must all come out as line-by-line
// rewriting gives them. Several blocks and batches, so the writes behind the pass and
// the lines that reach past a block are met too.
TEST_F(MboxConverterTest, BodyLinesAtEveryOffsetOfTheScannersChunks)
{
    // Splits at CR, LF and CR LF and ends every line with `terminator`.
    const auto rewritten = [](const std::string& input, const std::string& terminator) {
        std::string out;
        for (std::size_t p = 0; p < input.size();) {
            const std::size_t t = std::min(input.find_first_of("\r\n", p), input.size());
            out.append(input, p, t - p).append(terminator);
            p = t + (input.compare(t, 2, "\r\n") == 0 ? 2 : 1);
        }
        return out;
    };
    const char* const specials[] = {"From someone else",
                                    "Re: not an attachment line",
                                    "Attachment Converted: \"c:\\attach\\none.txt\"",
                                    "",
                                    "Embedded Content: none.png:1234abcd",
                                    "From"};
    const struct {
        const char* name;
        std::vector<std::string> terminators; // taken in turn
    } kinds[] = {{"LF", {"\n"}}, {"CR", {"\r"}}, {"CR LF", {"\r\n"}}, {"mixed", {"\r\n", "\n", "\r", "\r\n", "\r\n"}}};
    for (const auto& kind : kinds) {
        std::string input = "From a" + kind.terminators[0] + kind.terminators[0];
        for (int line = 0; input.size() < (600u << 10); ++line) {
            std::string contents;
            if (line % 97 == 13)
                contents = specials[(line / 97) % std::size(specials)];
            else
                for (int i = 0; i < (line * 7) % 131; ++i)
                    contents += static_cast<char>('a' + (line + i) % 26);
            input += contents + kind.terminators[static_cast<std::size_t>(line) % kind.terminators.size()];
        }
        for (const bool crlf : {false, true})
            for (const bool attachments : {false, true}) {
                options_.putBackAttachments = attachments;
                const std::string expected = rewritten(input, crlf ? "\r\n" : kind.terminators[0]);
                EXPECT_SAME_BYTES(convert(input, {.lineEndings = crlf}), expected)
                    << kind.name << (crlf ? ", CR LF" : "") << (attachments ? ", attachments" : "");
            }
    }
    options_.putBackAttachments = false;
}

TEST_F(MboxConverterTest, SkipsForeignInputAndReportsUnreadableInputAndUnopenableOutput)
{
    for (const std::string bytes : {"", "From", "from x\n", ">From x\n", "From:x\n", " From x\n"}) {
        log_.clear();
        writeFile(path("in"), bytes);
        const ConversionResult skipped = convertMbox(path("in"), path("missing"), options_);
        EXPECT_TRUE(skipped.succeeded) << bytes; // opening it would fail
        EXPECT_EQ(skipped.errorText, "") << bytes;
        const std::string text = "'" + path("in") + "' is not Mbox format";
        EXPECT_EQ(log_, bytes.empty() ? std::vector<std::string>{} : std::vector{text}) << bytes;
    }
    // "not found" only for a missing input; any other failure names the system's reason.
    ASSERT_EQ(::symlink("in", path("link").c_str()), 0);
    const struct {
        std::string input;
        LinkPolicy links;
        std::string expected;
    } inputs[] = {
        {path("nothing"), LinkPolicy::Follow, "\"" + path("nothing") + "\" not found"},
        {dir_, LinkPolicy::Follow, "Could not open \"" + dir_ + "\": Is a directory"},
        {"/dev/null", LinkPolicy::Follow, "Could not open \"/dev/null\": No such device"},
        {path("link"), LinkPolicy::Refuse, "Could not open \"" + path("link") + "\": Too many levels of symbolic links"},
    };
    writeFile(path("in"), "From a\n");
    for (const auto& c : inputs) {
        const ConversionResult result = convertMbox(c.input, path("out"), options_, ConversionControl{c.links});
        EXPECT_FALSE(result.succeeded);
        EXPECT_EQ(result.errorText, c.expected);
    }
    ConversionResult result = convertMbox(path("in"), path("missing"), options_);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.errorText, "Could not create \"" + path("missing") + "\": No such file or directory");
    EXPECT_NE(::access(path("missing").c_str(), F_OK), 0) << "the output must not be created";
    EXPECT_EQ(listing(dir_), (std::vector<std::string>{"in", "link"})) << "nor any temporary file";
    // The text is looked up before its placeholders are filled.
    setTranslator([](std::string_view key) {
        return key == "Could not create \"%1\": %2" ? std::string("Création impossible : %1 (%2)") : std::string(key);
    });
    result = convertMbox(path("in"), path("missing"), options_);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.errorText, "Création impossible : " + path("missing") + " (No such file or directory)");
}

TEST_F(MboxConverterTest, SeparatorDatesInParisTime)
{
    const struct {
        const char* text;
        const char* expected; // nullptr: no date
    } cases[] = {
        {"Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan  3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan 03 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Mon Jul 15 12:00:00 2002", "Mon, 15 Jul 2002 12:00:00 +0200"},
        {"wed JAN 3 1:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Tue Feb 29 10:00:00 2000", "Tue, 29 Feb 2000 10:00:00 +0100"},
        {"Fri Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"}, // the date's own day name
        {"Thu Jan 4 02:00:00 +0000 1996", "Thu, 4 Jan 1996 02:00:00 +0000"},
        {"Thu Jan 4 02:00:00 -0530 1996", "Thu, 4 Jan 1996 02:00:00 -0530"},
        {"Thu Jul 4 02:00:00 -0000 1996", "Thu, 4 Jul 1996 02:00:00 -0000"},
        {"Sat Mar  1 00:00:00 +0100 1600", "Wed, 1 Mar 1600 00:00:00 +0100"},
        {"Wed Jan 3 01:05:34 1996 remote from kremvax", "Wed, 3 Jan 1996 01:05:34 +0100"},
        // Refused: anything that could give a wrong date, or that is no date.
        {"Wed Jan 3 01:05:34 1996 PST", nullptr},
        {"Wed Jan 3 01:05:34 PST 1996", nullptr},
        {"Wed Jan 3 01:05:34 96", nullptr},
        {"Wed Jan 3 01:05:34", nullptr},
        {"Wed Jan 32 01:05:34 1996", nullptr},
        {"Wed Jan 0 01:05:34 1996", nullptr},
        {"Thu Feb 29 10:00:00 1997", nullptr},
        {"Thu Feb 29 10:00:00 1900", nullptr},
        {"Wed Apr 31 10:00:00 1996", nullptr},
        {"Wed Jan 3 24:00:00 1996", nullptr},
        {"Wed Jan 3 23:60:00 1996", nullptr},
        {"Wed Jan 3 23:5:00 1996", nullptr},
        {"Wed Jan 3 01:05:34 +2400 1996", nullptr},
        {"Wed Jan 3 01:05:34 +0160 1996", nullptr},
        {"Wed Jan 3 01:05:34 +100 1996", nullptr},
        {"Wednesday Jan 3 01:05:34 1996", nullptr},
        {"Wed Jan\t3 01:05:34 1996", nullptr},
        {"Wed Jan 3 01:05:34 1996 remote from", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "keep:";
        EXPECT_EQ(appendFormattedDate(c.text, out), c.expected != nullptr) << c.text;
        EXPECT_EQ(out, "keep:" + std::string(c.expected ? c.expected : "")) << c.text; // a refusal appends nothing
    }
}

// Edges of every field, in Paris time and with a written offset (whose weekday is computed,
// not taken from the C library). Weekdays from Python's datetime.
TEST_F(MboxConverterTest, SeparatorDatesAtFieldEdges)
{
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"Mon Jan 1 00:00:00 1996", "Mon, 1 Jan 1996 00:00:00 +0100"},
        {"Mon Jan 9 23:59:59 1996", "Tue, 9 Jan 1996 23:59:59 +0100"},
        {"Mon Jan 10 0:00:00 1996", "Wed, 10 Jan 1996 00:00:00 +0100"},
        {"Mon Jan 31 23:00:00 1996", "Wed, 31 Jan 1996 23:00:00 +0100"},
        {"Mon Feb 28 12:00:00 1996", "Wed, 28 Feb 1996 12:00:00 +0100"},
        {"Mon Feb 29 12:00:00 1996", "Thu, 29 Feb 1996 12:00:00 +0100"},
        {"Mon Apr 30 23:30:00 1996", "Tue, 30 Apr 1996 23:30:00 +0200"},
        {"Mon Dec 31 23:59:59 1999", "Fri, 31 Dec 1999 23:59:59 +0100"},
        {"Mon Jan 1 12:00:00 1925", "Thu, 1 Jan 1925 12:00:00 +0000"}, // Paris kept UTC then
        {"Mon Feb 28 12:00:00 2100", "Sun, 28 Feb 2100 12:00:00 +0100"},
        {"Mon Jan 1 00:00:00 +0000 2000", "Sat, 1 Jan 2000 00:00:00 +0000"},
        {"Mon Jan 9 23:59:59 +0100 1996", "Tue, 9 Jan 1996 23:59:59 +0100"},
        {"Mon Jan 10 00:00:00 -0800 1996", "Wed, 10 Jan 1996 00:00:00 -0800"},
        {"Mon Jan 31 12:00:00 +0000 1996", "Wed, 31 Jan 1996 12:00:00 +0000"},
        {"Mon Feb 1 12:00:00 +0000 1996", "Thu, 1 Feb 1996 12:00:00 +0000"},
        {"Mon Feb 28 12:00:00 +0900 1996", "Wed, 28 Feb 1996 12:00:00 +0900"},
        {"Mon Feb 29 23:00:00 -0800 1996", "Thu, 29 Feb 1996 23:00:00 -0800"},
        {"Mon Feb 29 12:00:00 +0000 2000", "Tue, 29 Feb 2000 12:00:00 +0000"},
        {"Mon Mar 1 12:00:00 +0000 2000", "Wed, 1 Mar 2000 12:00:00 +0000"},
        {"Mon Feb 28 12:00:00 +0000 2100", "Sun, 28 Feb 2100 12:00:00 +0000"},
        {"Mon Mar 1 12:00:00 +0000 2100", "Mon, 1 Mar 2100 12:00:00 +0000"},
        {"Mon Feb 29 12:00:00 +0000 2024", "Thu, 29 Feb 2024 12:00:00 +0000"},
        {"Mon Feb 28 12:00:00 +0000 1900", "Wed, 28 Feb 1900 12:00:00 +0000"},
        {"Mon Mar 31 12:00:00 +0000 1996", "Sun, 31 Mar 1996 12:00:00 +0000"},
        {"Mon Oct 27 12:00:00 +0000 1996", "Sun, 27 Oct 1996 12:00:00 +0000"},
        {"Mon Dec 31 23:59:59 +2359 1999", "Fri, 31 Dec 1999 23:59:59 +2359"},
        {"Mon Feb 29 12:00:00 +0000 2100", nullptr},
        {"Mon Feb 30 12:00:00 +0000 2000", nullptr},
        {"Mon Jun 31 12:00:00 1996", nullptr},
        {"Mon Jan 9 23:59:60 1996", nullptr},
        {"Mon Jan 9 -1:00:00 1996", nullptr},
        {"Mon Jan 100 12:00:00 1996", nullptr},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(appendFormattedDate(c.text, out), c.expected != nullptr) << c.text;
        EXPECT_EQ(out, c.expected ? c.expected : "") << c.text;
    }
}

// A real failing write, far into a long mailbox: a child process with a file size limit
// (SIGXFSZ ignored, so the write fails with EFBIG).
TEST_F(MboxConverterTest, FailedWriteStopsAndKeepsEverythingBefore)
{
    std::string input, expected;
    for (int message = 0; input.size() < (2u << 20); ++message) {
        const std::string tail = std::to_string(message) + "\nS: " + std::string(message % 900, 'x') + "\n\nb\n";
        input += "From s" + tail;
        expected += "From s" + tail + "\n";
    }
    ASSERT_SAME_BYTES(convert(input, {.emptyLines = true}), expected);
    writeFile(path("out"), "");
    const rlim_t limit = 1234567;
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        const ConversionResult result = convertMbox(path("in"), path("out"), options_);
        writeFile(path("error"), result.errorText);
        ::_exit(result.succeeded ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 1 << 8) << "the child must report a failure";
    EXPECT_EQ(readFile(path("error")), "Could not write to \"" + path("out") + "\": File too large");
    EXPECT_EQ(readFile(path("out")), "") << "the claim is left as it was";
    EXPECT_EQ(listing(dir_), (std::vector<std::string>{"error", "in", "out"})) << "the partial output is removed";
}

} // namespace
} // namespace tarnwick

namespace tarnwick {
namespace {

// Another program truncating the mailbox mid-pass takes the mapped pages away; the call
// must fail with a clear text instead of the process dying of SIGBUS.
TEST_F(MboxConverterTest, InputTruncatedDuringThePassFailsCleanly)
{
    options_.convertEncodings = true;
    const std::string second = "From b\n\n" + std::string(256 * 1024, 'x') + "\n";
    writeFile(path("in"), "From a\n\nfirst\n" + second);
    writeFile(path("out"), "");
    const ConversionResult result = convertMbox(path("in"), path("out"), options_, [this](auto, auto, auto&, auto&) {
        EXPECT_EQ(::truncate(path("in").c_str(), 0), 0);
        return false;
    });
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.errorText, "Could not read \"" + path("in") + "\": it was shortened while being converted");
}

} // namespace
} // namespace tarnwick

namespace tarnwick {
namespace {

IndexedMessage indexed(std::uint64_t offset, std::uint64_t length, bool read = false, bool replied = false, std::uint8_t priority = 3)
{
    IndexedMessage message;
    message.offset = offset;
    message.length = length;
    message.facts.read = read;
    message.facts.replied = replied;
    message.facts.priority = priority;
    return message;
}

// Messages bounded by the mailbox's index: a "From " line inside one is body text
// written as ">From ", every indexed message gets its status headers, and input the
// index does not cover is split by separator lines as before.
TEST_F(MboxConverterTest, IndexBoundsMessagesAndGivesStatus)
{
    const std::string one = "From a Wed Jan 3 01:05:34 1996\nSubject: one\n\nFrom what I hear,\n>From quoted\nFrom b\n";
    const std::string two = "From c Wed Jan 3 01:05:34 1996\nStatus: R\n\nbody\n";
    const std::string three = "From d Wed Jan 3 01:05:34 1996\nSubject: lost\nStatus:   \n\nFrom e\n";
    const std::string mailbox = one + two + three;
    const std::uint64_t a = one.size(), b = two.size(), c = three.size();
    const std::string status = "Status: O\nX-Mozilla-Status: 0000\n";
    const struct Case {
        const char* name;
        MessageIndex index;
        std::string expected;
        std::size_t messages;
    } cases[] = {
        {"no index", {}, mailbox, 6},
        {"every message indexed",
         {indexed(0, a), indexed(a, b, true, true, 1), indexed(a + b, c, false, false, 5)},
         "From a Wed Jan 3 01:05:34 1996\nSubject: one\n" + status
             + "\n>From what I hear,\n>From quoted\n>From b\n"
               "From c Wed Jan 3 01:05:34 1996\nStatus: R\nX-Status: A\nX-Mozilla-Status: 0003\nX-Priority: 1 (Highest)\n\nbody\n"
               "From d Wed Jan 3 01:05:34 1996\nSubject: lost\n"
             + status + "X-Priority: 5 (Lowest)\n\n>From e\n",
         3},
        {"a message the index lost",
         {indexed(0, a), indexed(a + b, c)},
         "From a Wed Jan 3 01:05:34 1996\nSubject: one\n" + status + "\n>From what I hear,\n>From quoted\n>From b\n" + two
             + "From d Wed Jan 3 01:05:34 1996\nSubject: lost\n" + status + "\n>From e\n",
         3},
        {"index covers the start only",
         {indexed(0, a)},
         "From a Wed Jan 3 01:05:34 1996\nSubject: one\n" + status + "\n>From what I hear,\n>From quoted\n>From b\n" + two + three,
         4}, // without a record, Eudora's blank "Status:" stays as it is
    };
    for (const Case& c : cases) {
        for (const bool encodings : {false, true}) {
            options_.messageIndex = c.index;
            EXPECT_SAME_BYTES(convert(mailbox, {.encodings = encodings}), c.expected) << c.name << encodings;
            if (encodings) {
                EXPECT_EQ(messages_.size(), c.messages) << c.name;
            }
        }
    }
    options_.messageIndex = {indexed(0, a)};
    const std::string crlf = convert(mailbox, {.lineEndings = true, .dates = true});
    EXPECT_EQ(crlf.substr(0, crlf.find("\r\n\r\n") + 4),
              "From a Wed Jan 3 01:05:34 1996\r\nSubject: one\r\nDate: Wed, 3 Jan 1996 01:05:34 +0100\r\n"
              "Status: O\r\nX-Mozilla-Status: 0000\r\n\r\n");
    EXPECT_NE(crlf.find("\r\n>From b\r\n"), std::string::npos);
}

// Messages in the order the index lists them, and the input it does not cover (deleted
// or moved away in Eudora) kept inside, left out, or alone; a stretch that begins inside
// a message gets a separator line and an empty header of its own. On one thread and on
// two, with encodings converted or not, and with CR LF written: the same messages.
TEST_F(MboxConverterTest, IndexOrderAndUnindexedInput)
{
    const std::string one = "From a Wed Jan 3 01:05:34 1996\nSubject: one\n\nFrom here on\n";
    const std::string two = "From b Wed Jan 3 01:05:34 1996\nSubject: two\n\nbody\n";
    const std::string tail = "the tail of a longer message\nwritten over\n";
    const std::string three = "From c Wed Jan 3 01:05:34 1996\nSubject: three\n\nend\n";
    const std::string lost = "From d Wed Jan 3 01:05:34 1996\nSubject: deleted\n\ngone\n";
    const std::string mailbox = one + two + tail + three + lost;
    const std::uint64_t a = one.size(), b = two.size(), t = tail.size(), c = three.size();
    const std::string status = "Status: O\nX-Mozilla-Status: 0000\n";
    const std::string outOne = "From a Wed Jan 3 01:05:34 1996\nSubject: one\n" + status + "\n>From here on\n";
    const std::string outTwo = "From b Wed Jan 3 01:05:34 1996\nSubject: two\n" + status + "\nbody\n";
    const std::string outThree = "From c Wed Jan 3 01:05:34 1996\nSubject: three\n" + status + "\nend\n";
    const std::string outTail = "From ???@??? Thu Jan  1 00:00:00 1970\n\n" + tail;
    const MessageIndex sorted = {indexed(a + b + t, c), indexed(0, a), indexed(a, b)};
    const MessageIndex inOrder = {indexed(0, a), indexed(a, b), indexed(a + b + t, c)};
    const struct Case {
        const char* name;
        MessageIndex index;
        UnindexedInput unindexed;
        std::string expected;
        std::size_t messages;
    } cases[] = {
        {"sorted, kept inside: after the indexed ones", sorted, UnindexedInput::Inside, outThree + outOne + outTwo + outTail + lost, 5},
        {"sorted, apart", sorted, UnindexedInput::Apart, outThree + outOne + outTwo, 3},
        {"sorted, the uncovered alone", sorted, UnindexedInput::Only, outTail + lost, 2},
        {"in order, kept inside", inOrder, UnindexedInput::Inside, outOne + outTwo + outTail + outThree + lost, 5},
        {"in order, apart", inOrder, UnindexedInput::Apart, outOne + outTwo + outThree, 3},
        {"everything covered, nothing alone", {indexed(0, a), indexed(a, mailbox.size() - a)}, UnindexedInput::Only, "", 0},
    };
    for (const Case& c : cases) {
        options_.messageIndex = c.index;
        options_.unindexed = c.unindexed;
        for (const bool encodings : {false, true}) {
            EXPECT_SAME_BYTES(convert(mailbox, {.encodings = encodings}), c.expected) << c.name << encodings;
            if (encodings) {
                EXPECT_EQ(messages_.size(), c.messages) << c.name;
            }
        }
        std::string crlf = c.expected;
        for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
            crlf.replace(at, 1, "\r\n");
        EXPECT_SAME_BYTES(convert(mailbox, {.lineEndings = true}), crlf) << c.name;
        writeFile(path("out2"), "");
        ConversionControl control;
        control.conversionBatchBytes = 40; // a batch of about one message
        const ConversionResult result = convertMbox(path("in"), path("out2"), options_, control);
        EXPECT_TRUE(result.succeeded) << c.name;
        EXPECT_EQ(result.messages, c.messages) << c.name;
        if (c.unindexed == UnindexedInput::Only) {
            EXPECT_EQ(unindexedMessageCount(mailbox, c.index), c.messages) << c.name << ": counted as converted alone";
        }
    }
    // Alone, line ends left between indexed messages are no message; a "From " that
    // begins no line starts none.
    const std::string midLine = "Re: From here\n";
    options_.messageIndex = {indexed(0, a), indexed(a + 2, b), indexed(a + 2 + b + 4, c)};
    options_.unindexed = UnindexedInput::Only;
    EXPECT_SAME_BYTES(convert(one + "\r\n" + two + " \n\t\n" + three, {}), "");
    EXPECT_EQ(unindexedMessageCount(one + "\r\n" + two + " \n\t\n" + three, options_.messageIndex), 0u);
    options_.messageIndex = {indexed(0, a), indexed(a + midLine.size(), b)};
    EXPECT_SAME_BYTES(convert(one + midLine + two, {.encodings = true}), "From ???@??? Thu Jan  1 00:00:00 1970\n\n" + midLine);
    EXPECT_EQ(unindexedMessageCount(one + midLine + two, options_.messageIndex), 1u);
    // Kept inside with the messages in input order and every stretch starting at a
    // "From " line: the whole input as it lies, as without the order.
    options_.messageIndex = {indexed(0, a), indexed(a, b)};
    options_.unindexed = UnindexedInput::Inside;
    EXPECT_SAME_BYTES(convert(one + two + lost, {}), outOne + outTwo + lost);
    options_ = {};
}

// Where only separator lines of Eudora's form start a message (no index), a body line
// that merely begins "From " stays in its message as ">From "; a sender and a date the
// separator date reading accepts make a separator, and the input's first line is one
// whatever it holds. Off, every "From " line starts a message, as before.
TEST_F(MboxConverterTest, OnlySeparatorsOfEudorasFormStartMessages)
{
    const std::string first = "From nobody\nSubject: a\n\nFrom here on we walk to the harbour.\n";
    const std::string second = "From ???@??? Mon Dec 13 18:14:25 2010\nSubject: b\n\nFrom: a quoted header\n";
    const std::string third = "From someone@example.com Tue Jan  4 01:05:34 2011\nSubject: c\n\nFrom ???@??? soon\n";
    const std::string mailbox = first + second + third;
    const struct Case {
        bool separatorForm;
        std::string expected;
        std::size_t messages;
    } cases[] = {
        {true,
         "From nobody\nSubject: a\n\n>From here on we walk to the harbour.\n"
         "From ???@??? Mon Dec 13 18:14:25 2010\nSubject: b\n\nFrom: a quoted header\n"
         "From someone@example.com Tue Jan  4 01:05:34 2011\nSubject: c\n\n>From ???@??? soon\n",
         3},
        {false, mailbox, 5},
    };
    for (const Case& c : cases) {
        options_.separatorsOfEudorasForm = c.separatorForm;
        for (const bool encodings : {false, true}) {
            EXPECT_SAME_BYTES(convert(mailbox, {.encodings = encodings}), c.expected) << c.separatorForm << encodings;
            if (encodings) {
                EXPECT_EQ(messages_.size(), c.messages) << c.separatorForm;
            }
        }
        // Split in two parts from anywhere: never at a body line.
        for (std::uint64_t from : {std::uint64_t{10}, std::uint64_t{first.size() + 3}, std::uint64_t{first.size() + second.size() + 3}}) {
            writeFile(path("out2"), "");
            ConversionControl control;
            control.splitBytes = 1;
            control.splitCores = 1;
            control.splitFrom = from;
            const ConversionResult split = convertMbox(path("in"), path("out2"), options_, control);
            EXPECT_TRUE(split.succeeded);
            EXPECT_EQ(split.messages, c.messages) << c.separatorForm << " from " << from;
        }
    }
    options_ = {};
}

// Mending CR-only mailboxes and dropping stale lengths; each off gives the old bytes.
// The pass says how far it has read about every kProgressStep bytes, whatever path the
// lines take (body blocks, messages collected whole, one long line), and the output is
// the same with or without anyone listening.
TEST_F(MboxConverterTest, ProgressEveryStepNeverPerLine)
{
    const std::string message = "From a Mon Jan  1 00:00:00 2001\nSubject: s\n\n" + std::string(90, 'x') + "\n";
    std::string small;
    while (small.size() < 3 * kProgressStep + kProgressStep / 2)
        small += message;
    const std::string longLine = "From a Mon Jan  1 00:00:00 2001\n\n" + std::string(kProgressStep * 9 / 4, 'y') + "\n" + small;
    const struct {
        const char* name;
        std::string input;
        bool encodings;
        std::size_t calls; // 0: at least one
    } cases[] = {
        {"body blocks", small, false, 3},
        {"messages collected", small, true, 3},
        {"a long line", longLine, false, 0},
        {"below one step", message, false, 0},
    };
    for (const auto& c : cases) {
        options_.convertEncodings = c.encodings;
        writeFile(path("in"), c.input);
        writeFile(path("out"), "");
        ASSERT_TRUE(convertMbox(path("in"), path("out"), options_).succeeded) << c.name;
        const std::string unheard = readFile(path("out"));
        writeFile(path("out"), "");
        std::vector<std::uint64_t> heard;
        ConversionControl control;
        control.progress = [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(total, c.input.size()) << c.name;
            heard.push_back(done);
        };
        ASSERT_TRUE(convertMbox(path("in"), path("out"), options_, control).succeeded) << c.name;
        EXPECT_SAME_BYTES(readFile(path("out")), unheard) << c.name;
        if (c.input.size() <= kProgressStep)
            EXPECT_TRUE(heard.empty()) << c.name;
        else if (c.calls > 0)
            EXPECT_EQ(heard.size(), c.calls) << c.name;
        else
            EXPECT_FALSE(heard.empty()) << c.name;
        for (std::size_t i = 0; i < heard.size(); ++i) {
            EXPECT_GE(heard[i], (i == 0 ? 0 : heard[i - 1]) + kProgressStep) << c.name << " call " << i;
            EXPECT_LT(heard[i], c.input.size()) << c.name;
        }
    }
}

TEST_F(MboxConverterTest, MendsCROnlyAndDropsStaleLengths)
{
    const std::string cr = "From a\rContent-Length: 100202\rSubject: s\rLines: 3\r\r\rbody\rLines: 9\r";
    const std::string crlf = "From a\r\nX: 1\r\nCONTENT-LENGTH:\r\n 12\r\n\tmore\r\nlines: 2\r\nY: 2\r\n\r\nb\r\n";
    const std::string lfStart = "From a\nx\ry\r\n\n";
    struct Case {
        const char* name;
        std::string input;
        bool mend, drop, lineEndings;
        std::string expected;
    };
    const Case cases[] = {
        {"mended and dropped", cr, true, true, false, "From a\nSubject: s\n\n\nbody\nLines: 9\n"},
        {"old bytes", cr, false, false, false, cr},
        {"mended, kept", cr, true, false, false, "From a\nContent-Length: 100202\nSubject: s\nLines: 3\n\n\nbody\nLines: 9\n"},
        {"crlf wins over mending", cr, true, false, true,
         "From a\r\nContent-Length: 100202\r\nSubject: s\r\nLines: 3\r\n\r\n\r\nbody\r\nLines: 9\r\n"},
        {"continuation lines go with the field", crlf, true, true, false, "From a\r\nX: 1\r\nY: 2\r\n\r\nb\r\n"},
        {"an LF mailbox is not mended", lfStart, true, true, false, "From a\nx\ny\n\n"},
    };
    for (const Case& c : cases) {
        options_.mendCROnlyLineEndings = c.mend;
        options_.dropStaleLengths = c.drop;
        for (const bool encodings : {false, true})
            EXPECT_SAME_BYTES(convert(c.input, {.lineEndings = c.lineEndings, .encodings = encodings}), c.expected) << c.name;
    }
}

// A message left unconverted is counted by its reason whatever its size: one over 4 MiB
// goes through the spool file and the streamed conversion, a small one through
// convertMessage; both are written as they stand.
TEST_F(MboxConverterTest, UnconvertedMessagesAreCountedAtAnySize)
{
    struct Case {
        const char* name;
        std::string line;
        std::vector<std::string> charsets;
        UnconvertedCounts expected;
    };
    const Case cases[] = {
        {"Japanese text, ASCII only", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e text\n", {"us-ascii"}, {0, 1}},
        {"no charset of the list fits", "caf\xc3\xa9 \xe2\x82\xac\n", {"us-ascii", "iso-8859-1"}, {0, 1}},
        {"not UTF-8", "caf\xe9 au lait\n", {"utf-8"}, {1, 0}},
        {"converts", "plain text\n", {"us-ascii"}, {0, 0}},
    };
    const std::string ascii = "From b Mon Dec 13 18:45:29 2010\nSubject: fits\n\nplain\n";
    for (const Case& c : cases) {
        for (const std::size_t size : {std::size_t{200}, std::size_t{5} << 20}) {
            const std::string where = std::string(c.name) + ", " + std::to_string(size) + " bytes";
            std::string message = "From a Mon Dec 13 18:45:29 2010\nSubject: big\n\n";
            while (message.size() < size)
                message += c.line;
            const std::string input = ascii + message + ascii;
            writeFile(path("in"), input);
            writeFile(path("out"), "");
            ConversionOptions options;
            options.convertEncodings = true;
            options.sourceEncoding = kEncodingUTF8;
            options.charsetNames = c.charsets;
            const ConversionResult result = convertMbox(path("in"), path("out"), options);
            ASSERT_TRUE(result.succeeded) << where << result.errorText;
            EXPECT_EQ(result.messages, 3u) << where;
            EXPECT_EQ(result.unconverted.undecodable, c.expected.undecodable) << where;
            EXPECT_EQ(result.unconverted.unfitting, c.expected.unfitting) << where;
            if (c.expected.undecodable + c.expected.unfitting > 0) {
                EXPECT_SAME_BYTES(readFile(path("out")), input) << where << ": written as it stands";
            }
        }
    }
}

} // namespace
} // namespace tarnwick
