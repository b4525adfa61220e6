// Maildir output: the marks read from a converted message's status headers, the cut of
// converted mbox bytes into messages with their info flags, keyword letters and dates,
// and whole mailboxes delivered into a Maildir (every message once, LF line ends, file
// times, nothing left in tmp/, and nothing in cur/ after a failed or stopped delivery).
#include "engine/text/CharsetCandidates.h"
#include "engine/output/MaildirWriter.h"
#include "platform/MaildirFolder.h"
#include "platform/OutputCalls.h"

#include "ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

std::string marksText(const MessageMarks& marks)
{
    std::string text;
    text += marks.seen ? "S" : "";
    text += marks.answered ? "A" : "";
    text += marks.forwarded ? "P" : "";
    text += marks.flagged ? "F" : "";
    text += marks.draft ? "D" : "";
    for (const std::string_view keyword : marks.keywords)
        text += " " + std::string(keyword);
    return text;
}

TEST(MaildirMarks, EachStatusHeader)
{
    const struct Case {
        const char* name;
        const char* header;
        const char* expected;
    } cases[] = {
        {"none", "Subject: x\n\n", ""},
        {"unread", "Status: O\nX-Mozilla-Status: 0000\n\n", ""},
        {"read", "Status: RO\n\n", "S"},
        {"read, CR LF", "Status: RO\r\nX-Status: A\r\n\r\n", "SA"},
        {"mozilla bits", "X-Mozilla-Status: 1007\n\n", "SAPF"},
        {"mozilla, upper case", "X-MOZILLA-STATUS: 000F\n\n", "SAF"},
        {"mozilla, not hex", "X-Mozilla-Status: zz01\n\n", ""},
        {"mozilla, too long", "X-Mozilla-Status: 100001\n\n", ""},
        {"x-status flags", "x-status: FT\n\n", "FD"},
        {"union of headers", "Status: O\nX-Mozilla-Status: 0001\n\n", "S"},
        {"after the header", "Subject: x\n\nStatus: RO\n", ""},
        {"name prefix only", "Statuses: R\nX-Status-Note: A\n\n", ""},
        {"keywords", "X-Keywords: $Label1, work  home\n\n", " $Label1 work home"},
        {"keywords folded", "X-Keywords: a\n b\nSubject: c d\n\n", " a b"},
        {"keywords once", "X-Keywords: a a\nX-Keywords: a b\n\n", " a b"},
        {"bad keywords", "X-Keywords: (x) ok \"q\" a\\b x]y\n\n", " ok"},
        {"no end of header", "Status: R", "S"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(marksText(readMessageMarks(c.header)), c.expected) << c.name;
}

struct Cut {
    std::string bytes;
    std::string flags;
    std::optional<std::int64_t> instant;
};

std::vector<Cut> cut(std::string_view bytes, std::vector<std::string>& keywords, std::uint64_t& leftOut)
{
    std::vector<Cut> cuts;
    MarkTally tally;
    EXPECT_TRUE(forEachMaildirMessage(bytes, keywords, tally, leftOut, [&cuts](const MaildirMessage& message) {
        cuts.push_back({std::string(message.bytes), message.flags, message.instant});
        return true;
    }));
    EXPECT_EQ(tally.messages, cuts.size());
    return cuts;
}

TEST(MaildirCut, MessagesFlagsAndDates)
{
    const std::string bytes = "junk before\n"
                              "From a Mon Dec 13 18:45:29 2010\nStatus: RO\nX-Status: A\n\nbody\n>From x\n"
                              "From b Sat Jan  1 00:00:01 +0100 2000\r\nX-Mozilla-Status: 1000\r\n\r\nFrom-less\r\n"
                              "From c no date\nX-Keywords: k2 k1\n\n";
    std::vector<std::string> keywords;
    std::uint64_t leftOut = 0;
    const std::vector<Cut> cuts = cut(bytes, keywords, leftOut);
    ASSERT_EQ(cuts.size(), 3u);
    EXPECT_EQ(cuts[0].bytes, "Status: RO\nX-Status: A\n\nbody\n>From x\n");
    EXPECT_EQ(cuts[0].flags, "RS");
    EXPECT_EQ(cuts[0].instant, 1292262329); // TZ=Europe/Paris: 17:45:29 UTC
    EXPECT_EQ(cuts[1].bytes, "X-Mozilla-Status: 1000\r\n\r\nFrom-less\r\n");
    EXPECT_EQ(cuts[1].flags, "Pa"); // P, and Dovecot's $Forwarded as keyword a
    EXPECT_EQ(cuts[1].instant, 946684801 - 3600);
    EXPECT_EQ(cuts[2].bytes, "X-Keywords: k2 k1\n\n");
    EXPECT_EQ(cuts[2].flags, "bc");
    EXPECT_FALSE(cuts[2].instant);
    EXPECT_EQ(keywords, (std::vector<std::string>{"$Forwarded", "k2", "k1"}));
    EXPECT_EQ(leftOut, 0u);

    std::vector<std::string> none;
    EXPECT_TRUE(cut("", none, leftOut).empty());
    EXPECT_TRUE(cut("no separator\nat all\n", none, leftOut).empty());
    EXPECT_EQ(cut("From a", none, leftOut).size(), 1u);
}

TEST(MaildirCut, AtMost26Keywords)
{
    std::string bytes;
    for (int i = 0; i < 30; ++i)
        bytes += "From a\nX-Keywords: k" + std::to_string(i) + " k0\n\n";
    std::vector<std::string> keywords;
    std::uint64_t leftOut = 0;
    const std::vector<Cut> cuts = cut(bytes, keywords, leftOut);
    ASSERT_EQ(cuts.size(), 30u);
    EXPECT_EQ(keywords.size(), kMaildirKeywordLetters);
    EXPECT_EQ(cuts[0].flags, "a");
    EXPECT_EQ(cuts[25].flags, "az");
    EXPECT_EQ(cuts[29].flags, "a");
    EXPECT_EQ(leftOut, 4u);
}

// Injected through the OutputCalls table: the n-th write fails.
int failingWrite = 0;
int writes = 0;
ssize_t countingWritev(int fd, const iovec* vectors, int count)
{
    if (++writes == failingWrite) {
        errno = ENOSPC;
        return -1;
    }
    return ::writev(fd, vectors, count);
}

class MaildirConversion : public testSupport::ScratchFolderTest {
protected:
    MaildirConversion() : ScratchFolderTest("/tmp/tarnwick-maildir-XXXXXX") {}

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::vector<std::string> entries(const std::string& folder) const
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(path(folder)))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    // A Windows mailbox of three messages, the first two indexed: read; read, replied and label 3.
    std::string writeInput()
    {
        const std::string first = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: one\r\n\r\nFrom me to you\r\n";
        const std::string second = "From ???@??? Tue Dec 14 08:00:00 2010\r\nSubject: two\r\n\r\nb\r\n";
        const std::string third = "From ???@??? Wed Dec 15 08:00:00 2010\r\nSubject: three\r\n\r\nc\r\n";
        std::ofstream(path("In.mbx"), std::ios::binary) << first << second << third;
        MessageFacts read;
        read.read = true;
        MessageFacts replied = read;
        replied.replied = true;
        replied.label = 3;
        options_.messageIndex = {{0, first.size(), read}, {first.size(), second.size(), replied}};
        return path("In.mbx");
    }

    ConversionOptions options_ = testSupport::everyStepOn(kEncodingAutomatic, {"us-ascii", "utf-8"}, "");
};

TEST_F(MaildirConversion, EveryMessageOnceWithFlagsDatesAndLFLines)
{
    options_.crlfLineEndings = false;
    const std::string input = writeInput();
    MaildirFolder folder;
    ASSERT_EQ(folder.create(path("out")), 0);
    CharsetCandidates candidates(options_.charsetNames);
    const MaildirResult result = convertMaildir(input, folder, options_, candidates);
    ASSERT_TRUE(result.conversion.succeeded) << result.conversion.errorText;
    EXPECT_EQ(result.conversion.messages, 3u);
    EXPECT_EQ(result.marks.seen, 2u);
    EXPECT_EQ(result.marks.answered, 1u);
    EXPECT_TRUE(entries("out/tmp").empty());
    EXPECT_TRUE(entries("out/new").empty());
    const std::vector<std::string> names = entries("out/cur");
    ASSERT_EQ(names.size(), 3u);
    std::vector<std::string> flags;
    std::string bodies;
    for (const std::string& name : names) {
        flags.push_back(name.substr(name.find(":2,") + 3));
        const std::string bytes = testSupport::readFile(path("out/cur/" + name));
        EXPECT_EQ(bytes.find('\r'), std::string::npos) << name;
        EXPECT_NE(name.find(",S=" + std::to_string(bytes.size()) + ":2,"), std::string::npos) << name;
        EXPECT_NE(bytes.compare(0, 5, "From "), 0) << name; // no separator line
        bodies += bytes;
        struct stat info {};
        ASSERT_EQ(::stat(path("out/cur/" + name).c_str(), &info), 0);
        EXPECT_TRUE(info.st_mtime == 1292262329 || info.st_mtime == 1292310000 || info.st_mtime == 1292396400)
            << name << " " << info.st_mtime;
    }
    std::sort(flags.begin(), flags.end());
    EXPECT_EQ(flags, (std::vector<std::string>{"", "RSa", "S"}));
    EXPECT_EQ(testSupport::readFile(path("out/dovecot-keywords")), "0 $Label3\n"); // the label, as a keyword
    EXPECT_NE(bodies.find("\n>From me to you\n"), std::string::npos);              // body text of an indexed message
    EXPECT_EQ(bodies.find("\n\n\n"), std::string::npos);                           // no empty line added after each
}

TEST_F(MaildirConversion, CRLFWhenAskedFor)
{
    const std::string input = writeInput();
    MaildirFolder folder;
    ASSERT_EQ(folder.create(path("out")), 0);
    CharsetCandidates candidates(options_.charsetNames);
    ASSERT_TRUE(convertMaildir(input, folder, options_, candidates).conversion.succeeded);
    for (const std::string& name : entries("out/cur"))
        EXPECT_NE(testSupport::readFile(path("out/cur/" + name)).find("Subject: "), std::string::npos);
    const std::string one = testSupport::readFile(path("out/cur/" + entries("out/cur").front()));
    EXPECT_EQ(one.find('\n'), one.find("\r\n") + 1);
}

TEST_F(MaildirConversion, AFailedOrStoppedDeliveryLeavesNoMessage)
{
    const std::string input = writeInput();
    OutputCalls calls = systemOutputCalls();
    calls.writev = countingWritev;
    const OutputCalls previous = setOutputCalls(calls);
    // The staged mbox takes the first write; each message one more.
    for (const int failing : {2, 3, 4}) {
        writes = 0;
        failingWrite = failing;
        MaildirFolder folder;
        ASSERT_EQ(folder.create(path("out")), 0);
        CharsetCandidates candidates(options_.charsetNames);
        const MaildirResult result = convertMaildir(input, folder, options_, candidates);
        EXPECT_FALSE(result.conversion.succeeded) << failing;
        EXPECT_NE(result.conversion.errorText.find("No space left on device"), std::string::npos) << result.conversion.errorText;
        EXPECT_FALSE(std::filesystem::exists(path("out"))) << failing;
    }
    setOutputCalls(previous);
    failingWrite = 0;

    const std::atomic<bool> stop = true;
    MaildirFolder folder;
    ASSERT_EQ(folder.create(path("out")), 0);
    CharsetCandidates candidates(options_.charsetNames);
    ConversionControl control;
    control.stop = &stop;
    EXPECT_FALSE(convertMaildir(input, folder, options_, candidates, control).conversion.succeeded);
    EXPECT_FALSE(std::filesystem::exists(path("out")));
}

TEST_F(MaildirConversion, NeverOverwritesAndRefusesAnExistingFolder)
{
    MaildirFolder folder;
    ASSERT_EQ(folder.create(path("out")), 0);
    MaildirFolder again;
    EXPECT_EQ(again.create(path("out")), EEXIST);
    // A batch waits in tmp/ until it is whole (or finish()), then goes into cur/ at once.
    const std::size_t batch = MaildirFolder::kBatchMessages;
    for (std::size_t i = 0; i + 1 < batch; ++i)
        ASSERT_TRUE(folder.deliver("Subject: x\n\n", "S", std::nullopt));
    EXPECT_TRUE(entries("out/cur").empty());
    EXPECT_EQ(entries("out/tmp").size(), batch - 1);
    ASSERT_TRUE(folder.deliver("Subject: x\n\n", "S", std::nullopt));
    ASSERT_TRUE(folder.deliver("Subject: y\n\n", "RS", 1000000000));
    EXPECT_EQ(entries("out/cur").size(), batch);
    ASSERT_TRUE(folder.finish());
    EXPECT_EQ(entries("out/cur").size(), batch + 1);
    EXPECT_EQ(folder.delivered(), batch + 1);
    ASSERT_TRUE(folder.writeKeywords({"$Forwarded", "work"}));
    EXPECT_EQ(testSupport::readFile(path("out/dovecot-keywords")), "0 $Forwarded\n1 work\n");
    EXPECT_FALSE(folder.writeKeywords({"other"})); // the list is written once, never replaced
    EXPECT_EQ(testSupport::readFile(path("out/dovecot-keywords")), "0 $Forwarded\n1 work\n");
    EXPECT_TRUE(entries("out/tmp").empty());
}

} // namespace
} // namespace tarnwick
