// Maildir output: the marks read from a converted message's status headers (whole and
// in pieces), the stream of messages cut into files with their info flags, keyword
// letters and dates whatever the pieces it comes in, and whole mailboxes delivered into
// a Maildir (every message once and as the mbox output holds it, LF line ends, file
// times, nothing left in tmp/, and nothing in cur/ after a failed or stopped delivery).
#include "engine/text/CharsetCandidates.h"
#include "engine/output/MaildirWriter.h"
#include "platform/MaildirFolder.h"
#include "platform/OutputCalls.h"

#include "ByteDiff.h"
#include "ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <tuple>
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
    for (const Case& c : cases) {
        EXPECT_EQ(marksText(readMessageMarks(c.header)), c.expected) << c.name;
        const std::string_view header = c.header;
        for (std::size_t piece = 1; piece <= header.size(); ++piece) {
            MarkReader reader;
            reader.feed("");
            for (std::size_t at = 0; at < header.size(); at += piece)
                reader.feed(header.substr(at, piece));
            EXPECT_EQ(marksText(reader.finish()), c.expected) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(MaildirFlags, AtMost26Keywords)
{
    std::vector<std::string> keywords;
    std::uint64_t leftOut = 0;
    std::vector<std::string> flags;
    for (int i = 0; i < 30; ++i) {
        const std::string header = "X-Keywords: k" + std::to_string(i) + " k0\n\n";
        flags.push_back(maildirFlags(readMessageMarks(header), keywords, leftOut));
    }
    EXPECT_EQ(keywords.size(), kMaildirKeywordLetters);
    EXPECT_EQ(flags[0], "a");
    EXPECT_EQ(flags[25], "az");
    EXPECT_EQ(flags[29], "a");
    EXPECT_EQ(leftOut, 4u);
    EXPECT_EQ(maildirFlags(readMessageMarks("X-Mozilla-Status: 1007\nX-Status: T\nX-Keywords: k3 k1\n\n"), keywords, leftOut), "DFPRSbd");
    EXPECT_EQ(keywords.size(), kMaildirKeywordLetters); // $Forwarded found no letter either
    EXPECT_EQ(leftOut, 5u);
}

// One file of a Maildir: its bytes, its info flags and its file time.
struct Delivered {
    std::string bytes;
    std::string flags;
    std::int64_t time = 0;
    bool operator<(const Delivered& other) const { return std::tie(bytes, flags, time) < std::tie(other.bytes, other.flags, other.time); }
    bool operator==(const Delivered&) const = default;
};

void PrintTo(const Delivered& file, std::ostream* out) { *out << "{\"" << file.bytes << "\", " << file.flags << ", " << file.time << "}"; }

// The file time of the file with `flags` among `files`.
std::int64_t timeOf(const std::vector<Delivered>& files, const std::string& flags)
{
    for (const Delivered& file : files)
        if (file.flags == flags)
            return file.time;
    return -1;
}

std::vector<Delivered> delivered(const std::string& folder)
{
    std::vector<Delivered> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/cur")) {
        const std::string name = entry.path().filename().string();
        struct stat info {};
        EXPECT_EQ(::stat(entry.path().c_str(), &info), 0);
        files.push_back({testSupport::readFile(entry.path().string()), name.substr(name.find(":2,") + 3), info.st_mtime});
    }
    std::sort(files.begin(), files.end());
    return files;
}

class MaildirStream : public testSupport::ScratchFolderTest {
protected:
    MaildirStream() : ScratchFolderTest("/tmp/tarnwick-maildir-stream-XXXXXX") {}

    // Writes `stream` into a new Maildir in pieces of `piece` bytes, the starts given in
    // the write whose pieces hold their offset (or end there).
    std::vector<Delivered> writeInPieces(std::string_view stream, const std::vector<MessageStart>& starts, std::size_t piece,
                                         std::vector<std::string>* keywords = nullptr)
    {
        const std::string folderPath = dir_ + "/out" + std::to_string(piece);
        MaildirFolder folder;
        EXPECT_EQ(folder.create(folderPath), 0);
        MaildirOutput output(folder);
        std::size_t next = 0;
        for (std::size_t at = 0; at < stream.size() || next < starts.size(); at += piece) {
            const std::string_view bytes = stream.substr(std::min(at, stream.size()), piece);
            const std::string_view halves[2] = {bytes.substr(0, bytes.size() / 2), bytes.substr(bytes.size() / 2)};
            std::vector<MessageStart> here;
            for (; next < starts.size() && starts[next].at <= at + bytes.size(); ++next)
                here.push_back({starts[next].at - at, starts[next].head});
            EXPECT_TRUE(output.write(halves, 2, here.data(), here.size()));
        }
        EXPECT_TRUE(output.finish()) << output.errorText();
        if (keywords)
            *keywords = {output.marks().keyworded > 0 ? testSupport::readFile(folderPath + "/dovecot-keywords") : ""};
        return delivered(folderPath);
    }
};

TEST_F(MaildirStream, MessagesFlagsAndDatesWhateverThePieces)
{
    const std::string first = "From a Mon Dec 13 18:45:29 2010\nStatus: RO\nX-Status: A\n\nbody\n>From x\n";
    const std::string second = "From b Sat Jan  1 00:00:01 +0100 2000\r\nX-Mozilla-Status: 1000\r\n\r\nFrom-less\r\n";
    const std::string third = "From c no date\nX-Keywords: k2 k1\n\n";
    const std::string stream = "junk before\n" + first + second + third;
    const std::size_t at = std::string("junk before\n").size();
    const std::vector<MessageStart> starts = {{at, {nullptr, 1292262329}},
                                              {at + first.size(), {nullptr, 946684801 - 3600}},
                                              {at + first.size(), {nullptr, 946684801 - 3600}}, // marked twice: one message
                                              {at + first.size() + second.size(), {nullptr, std::nullopt}}};
    const std::vector<Delivered> whole = writeInPieces(stream, starts, stream.size());
    ASSERT_EQ(whole.size(), 3u);
    std::vector<Delivered> expected = {{"Status: RO\nX-Status: A\n\nbody\n>From x\n", "RS", 1292262329},
                                       {"X-Mozilla-Status: 1000\r\n\r\nFrom-less\r\n", "Pa", 946684801 - 3600},
                                       {"X-Keywords: k2 k1\n\n", "bc", timeOf(whole, "bc")}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(whole, expected);
    // Each Maildir costs a sync of the file system: a few sizes, the smallest included.
    for (const std::size_t piece : {1, 2, 5, 16, 41}) {
        std::vector<std::string> keywords;
        std::vector<Delivered> files = writeInPieces(stream, starts, piece, &keywords);
        ASSERT_EQ(files.size(), 3u) << piece;
        for (Delivered& file : files)
            if (file.flags == "bc")
                file.time = timeOf(whole, "bc"); // no date: the time of writing
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, whole) << "pieces of " << piece;
        EXPECT_EQ(keywords.front(), "0 $Forwarded\n1 k2\n2 k1\n") << piece;
    }
}

TEST_F(MaildirStream, AMessageLargerThanWhatIsGathered)
{
    std::string body;
    while (body.size() < 2 * MaildirOutput::kGathered + 100)
        body += "a line of a long message\n";
    const std::string last = "From b\n\nlast\n";
    const std::string stream = "From a\nStatus: R\n\n" + body + last;
    const std::vector<MessageStart> starts = {{0, {}}, {stream.size() - last.size(), {}}};
    const std::vector<Delivered> files = writeInPieces(stream, starts, 300000);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_SAME_BYTES(files[1].bytes, "Status: R\n\n" + body);
    EXPECT_EQ(files[1].flags, "S");
    EXPECT_EQ(files[0].bytes, "\nlast\n");
}

// Takes what a folder hands over, as an upload does; refuses from the n-th message on.
class RecordingReceiver final : public MessageReceiver {
public:
    int receive(ReceivedMessage message) override
    {
        if (refuseFrom > 0 && received.size() + 1 >= refuseFrom) {
            if (!message.spoolPath.empty())
                std::filesystem::remove(message.spoolPath);
            return ECANCELED;
        }
        if (!message.spoolPath.empty()) {
            spooled.push_back(message.spoolPath);
            message.bytes = testSupport::readFile(message.spoolPath);
            std::filesystem::remove(message.spoolPath);
        }
        received.push_back(std::move(message));
        return 0;
    }
    void finished() override { ++finishes; }
    void discarded() override { ++discards; }

    std::vector<ReceivedMessage> received;
    std::vector<std::string> spooled;
    std::size_t refuseFrom = 0;
    int finishes = 0;
    int discards = 0;
};

TEST_F(MaildirStream, AReceiverTakesEachMessageInsteadOfCur)
{
    std::string body;
    while (body.size() < MaildirFolder::kHeldBytes + 100)
        body += "a line of a long message\n";
    const std::string first = "From a Mon Dec 13 18:45:29 2010\nStatus: RO\nX-Keywords: k1\n\nbody\n";
    const std::string second = "From b\nX-Keywords: k2 k1\n\n" + body;
    const std::string third = "From c\n\nlast\n";
    const std::string stream = first + second + third;
    const std::vector<MessageStart> starts
        = {{0, {nullptr, 1292262329}}, {first.size(), {nullptr, std::nullopt}}, {first.size() + second.size(), {nullptr, 7}}};
    const std::vector<Delivered> files = writeInPieces(stream, starts, 65536);
    ASSERT_EQ(files.size(), 3u);
    for (const std::size_t refuseFrom : {0, 2}) {
        RecordingReceiver receiver;
        receiver.refuseFrom = refuseFrom;
        const std::string folderPath = dir_ + "/received" + std::to_string(refuseFrom);
        MaildirFolder folder;
        ASSERT_EQ(folder.create(folderPath), 0);
        folder.sendTo(&receiver);
        MaildirOutput output(folder);
        bool written = true;
        for (std::size_t at = 0, next = 0; at < stream.size() && written; at += 65536) {
            const std::string_view bytes = std::string_view(stream).substr(at, 65536);
            std::vector<MessageStart> here;
            for (; next < starts.size() && starts[next].at <= at + bytes.size(); ++next)
                here.push_back({starts[next].at - at, starts[next].head});
            written = output.write(&bytes, 1, here.data(), here.size());
        }
        written = written && output.finish();
        EXPECT_TRUE(std::filesystem::is_empty(folderPath + "/cur"));
        EXPECT_TRUE(std::filesystem::is_empty(folderPath + "/tmp")) << "a spooled message left behind";
        if (refuseFrom > 0) {
            // The receiver's refusal is the delivery's failure; what it took stays taken.
            EXPECT_FALSE(written);
            EXPECT_EQ(output.error(), ECANCELED);
            EXPECT_EQ(receiver.received.size(), 1u);
            folder.discard();
            EXPECT_EQ(receiver.discards, 1);
            continue;
        }
        ASSERT_TRUE(written) << output.errorText();
        EXPECT_EQ(receiver.finishes, 1);
        EXPECT_EQ(folder.delivered(), 3u);
        ASSERT_EQ(receiver.received.size(), 3u);
        // Only the message over what is held in memory went through a file of tmp/.
        EXPECT_EQ(receiver.spooled.size(), 1u);
        std::vector<Delivered> taken;
        for (const ReceivedMessage& message : receiver.received)
            taken.push_back({message.bytes, message.flags, message.instant.value_or(timeOf(files, "ab"))});
        std::sort(taken.begin(), taken.end());
        EXPECT_EQ(taken, files);
        EXPECT_EQ(receiver.received[1].keywordNames, (std::vector<std::string>{"k1", "k2"}));
        EXPECT_EQ(receiver.received[1].flags, "ab");
    }
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
    MaildirConversion() : ScratchFolderTest("/tmp/tarnwick-maildir-XXXXXX")
    {
        ::setenv("TZ", "Europe/Paris", 1); // the separator dates below are Paris time
        ::tzset();
    }

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
    // Each message is one write.
    for (const int failing : {1, 2, 3}) {
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
