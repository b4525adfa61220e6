// A mailbox converted as two parts at the same time gives what the one pass gives: the
// same bytes, log lines, counts and attachment tallies, wherever the split falls, with
// any first-line terminator, with and without --crlf and conversion, with an index whose
// message spans the split, with Automatic's memory changing in the first part (the
// second part's work is then done again by the one pass) and when the second part's
// file cannot be made, written or appended.
#include "engine/text/CharsetCandidates.h"
#include "engine/mailbox/MboxConverter.h"
#include "platform/Log.h"
#include "platform/OutputCalls.h"
#include "engine/CjkSamples.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using namespace testSamples;

using testSupport::readFile;

EncodingId windows1252() { return usableCharset("windows-1252").value_or(kEncodingNone); }

struct Crafted {
    std::string bytes;
    MessageIndex index;
    std::uint64_t spanning = 0; // where the indexed message with "From " body lines begins
};

// 64 messages: Latin text with no-break spaces, Korean or Chinese that confirms its
// family (from message `asianFrom` on), short Shift_JIS read by what was confirmed,
// attachment lines with and without their file (the missing one's Subject in short
// Shift_JIS too), Japanese, UTF-8, and (with `large`)
// one message over the spool bound. Messages 20 to 43 are indexed; message 32 holds
// "From " lines in its body. The first line ends in `first`, every other in `eol`.
Crafted craftedMailbox(std::string_view first, std::string_view eol, int asianFrom, bool large)
{
    Crafted mailbox;
    const std::string e(eol);
    auto add = [&](int n, const std::string& subject, const std::string& body) {
        const std::uint64_t start = mailbox.bytes.size();
        mailbox.bytes += "From ???@??? Mon Jan 01 00:00:" + std::to_string(10 + n % 50) + " 2001" + (start == 0 ? std::string(first) : e)
            + "Subject: " + subject + e + "X-Status: " + e + e + body + e;
        if (n >= 20 && n < 44)
            mailbox.index.push_back({start,
                                     mailbox.bytes.size() - start,
                                     {.read = n % 2 == 0, .replied = n % 3 == 0, .priority = static_cast<std::uint8_t>(n % 6)}});
    };
    for (int n = 0; n < 64; ++n) {
        if (n == 32) {
            mailbox.spanning = mailbox.bytes.size();
            add(n, "quoted", "From the desk of" + e + "From ???@??? Mon Jan 01 00:00:00 2001" + e + std::string(3000, 'q'));
            continue;
        }
        switch (n % 8) {
        case 0:
            add(n, "caf\xE9 " + std::to_string(n), "na\xA0ve caf\xE9\xA0\xA0" + std::string(n * 37, 'x'));
            break;
        case 1:
            add(n, "korean or chinese",
                n < asianFrom ? "plain " + std::string(n * 11, 'k')
                              : (n / 8 % 2 == 0 ? kKorean + kKorean + kKorean : kChinese + kChinese + kChinese));
            break;
        case 2:
            add(n, "short", kShortShiftJIS + " " + std::to_string(n));
            break;
        case 3:
            add(n, "files",
                "see" + e + "Attachment Converted: \"c:\\eudora\\attach\\report.txt\"" + e
                    + "Attachment Converted: \"c:\\eudora\\attach\\gone" + std::to_string(n) + ".txt\"");
            break;
        case 4:
            add(n, "japanese", n < asianFrom ? "TEL\xA0 plain" : "TEL\xA0" + kShiftJIS);
            break;
        case 5:
            add(n, "missing " + kShortShiftJIS, "Attachment Converted: \"c:\\eudora\\attach\\lost.txt\"");
            break;
        case 6:
            add(n, "plain", std::string(300 + n * 40, 'p') + kShortShiftJIS);
            break;
        default:
            add(n, "utf-8 \xC3\xA9", "caf\xC3\xA9 \xE2\x82\xAC");
            break;
        }
        if (n == 52 && large)
            add(n, "large \xE9", std::string(5u << 20, 'L') + "\xE9\xA0");
    }
    return mailbox;
}

struct Outcome {
    ConversionResult result;
    std::string output;
    std::vector<std::string> log;
};

// Compares everything a conversion hands back or leaves behind, but how many parts it took.
void expectSame(const Outcome& split, const Outcome& one, const std::string& where)
{
    EXPECT_EQ(split.result.succeeded, one.result.succeeded) << where;
    EXPECT_EQ(split.result.errorText, one.result.errorText) << where;
    EXPECT_SAME_BYTES(split.output, one.output) << where;
    EXPECT_EQ(split.log, one.log) << where;
    EXPECT_EQ(split.result.messages, one.result.messages) << where;
    EXPECT_EQ(split.result.unconverted.undecodable, one.result.unconverted.undecodable) << where;
    EXPECT_EQ(split.result.unconverted.unfitting, one.result.unconverted.unfitting) << where;
    EXPECT_EQ(split.result.attachments.attached, one.result.attachments.attached) << where;
    EXPECT_EQ(split.result.attachments.missing, one.result.attachments.missing) << where;
    ASSERT_EQ(split.result.attachments.missingFiles.size(), one.result.attachments.missingFiles.size()) << where;
    for (std::size_t i = 0; i < one.result.attachments.missingFiles.size(); ++i)
        EXPECT_EQ(split.result.attachments.missingFiles[i].file, one.result.attachments.missingFiles[i].file) << where;
}

class SplitConversionTest : public testSupport::ScratchFolderTest {
protected:
    SplitConversionTest() : ScratchFolderTest("/tmp/tarnwick-split-XXXXXX") {}

    void writeInput(const std::string& bytes) { std::ofstream(dir_ + "/in", std::ios::binary) << bytes; }

    // splitFrom none: the one pass.
    Outcome convert(const ConversionOptions& options, std::optional<std::uint64_t> splitFrom, const std::atomic<bool>* stop = nullptr)
    {
        std::ofstream(dir_ + "/out", std::ios::trunc);
        clearLog();
        ConversionControl control;
        control.conversionBatchBytes = 3000; // many batches in each part
        control.splitBytes = splitFrom ? 1 : 0;
        control.splitCores = 1; // whatever the machine has
        control.splitFrom = splitFrom;
        control.stop = stop;
        Outcome run;
        run.result = convertMbox(dir_ + "/in", dir_ + "/out", options, control);
        run.output = readFile(dir_ + "/out");
        run.log = loggedLines();
        return run;
    }

    ConversionOptions options(EncodingId source, std::vector<std::string> charsets, bool crlf) const
    {
        ConversionOptions options = testSupport::everyStepOn(source, std::move(charsets), dir_ + "/attach");
        options.crlfLineEndings = crlf;
        options.language = "en";
        return options;
    }
};

TEST_F(SplitConversionTest, TwoPartsGiveWhatTheOnePassGivesWhereverTheSplitFalls)
{
    const std::vector<std::string> all = {"us-ascii", "iso-8859-1", "utf-8"};
    struct Case {
        const char* name;
        ConversionOptions options;
        int asianFrom;        // the first message whose Korean, Chinese or Japanese confirms a family
        unsigned middleParts; // parts taken when the split is looked for from the middle
    };
    ConversionOptions copying = options(kEncodingAutomatic, all, false);
    copying.convertEncodings = false;
    ConversionOptions copyingCrlf = copying;
    copyingCrlf.crlfLineEndings = true;
    ConversionOptions mending = copying;
    mending.mendCROnlyLineEndings = true;
    const Case cases[] = {
        // Automatic's memory changes before the middle: the second part is done again.
        {"automatic, families confirmed early", options(kEncodingAutomatic, all, false), 0, 1},
        {"automatic, families confirmed in the second half, crlf", options(kEncodingAutomatic, all, true), 56, 2},
        {"automatic, no charset for japanese", options(kEncodingAutomatic, {"us-ascii", "iso-8859-1"}, false), 56, 2},
        {"utf-8 source: latin text undecodable", options(kEncodingUTF8, {"us-ascii", "utf-8"}, true), 0, 2},
        {"windows-1252 source", options(windows1252(), all, false), 0, 2},
        {"no conversion", copying, 0, 2},
        {"no conversion, crlf", copyingCrlf, 0, 2},
        {"no conversion, CR mended", mending, 0, 2},
    };
    const struct {
        const char* name;
        std::string_view first;
        std::string_view eol;
        bool large;
    } shapes[] = {
        {"CR first, CR LF after", "\r", "\r\n", false},
        {"LF first, CR LF after", "\n", "\r\n", false},
        {"CR LF first, LF after", "\r\n", "\n", false},
        {"CR LF throughout, a message over 4 MiB", "\r\n", "\r\n", true},
    };
    for (const auto& shape : shapes) {
        for (const Case& c : cases) {
            const Crafted mailbox = craftedMailbox(shape.first, shape.eol, c.asianFrom, shape.large);
            writeInput(mailbox.bytes);
            ConversionOptions options = c.options;
            options.messageIndex = mailbox.index;
            const std::string name = std::string(shape.name) + ", " + c.name;
            const Outcome one = convert(options, std::nullopt);
            ASSERT_TRUE(one.result.succeeded) << name << ": " << one.result.errorText;
            const std::uint64_t size = mailbox.bytes.size();
            // From inside the indexed message with "From " lines: the split goes after it.
            for (const std::uint64_t from : {std::uint64_t{1}, size / 8, mailbox.spanning + 1, size / 2, size * 7 / 8, size - 2}) {
                const std::string where = name + ", split from " + std::to_string(from);
                const Outcome split = convert(options, from);
                expectSame(split, one, where);
                if (from == size / 2) {
                    EXPECT_EQ(split.result.parts, c.middleParts) << where;
                }
            }
        }
    }
}

// The crafted mailbox holds what the comparison must hold to, in both halves: log lines
// (no-break spaces, missing files), files put back, messages left unconverted.
TEST_F(SplitConversionTest, TheMailboxLogsAndCountsInBothHalves)
{
    const Crafted mailbox = craftedMailbox("\r\n", "\r\n", 56, true);
    writeInput(mailbox.bytes);
    ConversionOptions options = this->options(kEncodingAutomatic, {"us-ascii", "iso-8859-1"}, true);
    options.messageIndex = mailbox.index;
    const Outcome one = convert(options, std::nullopt);
    ASSERT_TRUE(one.result.succeeded);
    EXPECT_GT(one.result.attachments.attached, 2u);
    EXPECT_GT(one.result.attachments.missing, 2u);
    EXPECT_GT(one.result.unconverted.unfitting, 2u);
    const std::string firstHalf = "gone3.txt";
    const std::string secondHalf = "gone59.txt";
    auto at = [&one](const std::string& text) {
        for (std::size_t i = 0; i < one.log.size(); ++i)
            if (one.log[i].find(text) != std::string::npos)
                return static_cast<std::ptrdiff_t>(i);
        return std::ptrdiff_t{-1};
    };
    ASSERT_GE(at(firstHalf), 0);
    EXPECT_GT(at(secondHalf), at(firstHalf));
    // Status headers from the index, around the message that spans the middle.
    EXPECT_NE(one.output.find("\r\n>From the desk of\r\n"), std::string::npos);
    EXPECT_NE(one.output.find("X-Mozilla-Status:"), std::string::npos);
}

int tmpfileOpenError = 0;       // an unnamed file cannot be made
bool unnamedWritesFail = false; // writes to an unnamed file fail with ENOSPC
int copyError = 0;              // copy_file_range fails so
int failedCopies = 0;           // copies failed so far
std::atomic<int> unnamedFd{-1};
OutputCalls systemCalls;

int faultyOpen(int folder, const char* path, int flags, mode_t mode)
{
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        if (tmpfileOpenError != 0) {
            errno = tmpfileOpenError;
            return -1;
        }
        const int fd = systemCalls.openAt(folder, path, flags, mode);
        if (unnamedWritesFail)
            unnamedFd = fd;
        return fd;
    }
    return systemCalls.openAt(folder, path, flags, mode);
}

ssize_t faultyWritev(int fd, const iovec* vectors, int count)
{
    if (fd == unnamedFd.load()) {
        errno = ENOSPC;
        return -1;
    }
    return systemCalls.writev(fd, vectors, count);
}

ssize_t faultyCopy(int from, off_t* fromOffset, int to, off_t* toOffset, size_t length, unsigned int flags)
{
    if (copyError != 0) {
        ++failedCopies;
        errno = copyError;
        return -1;
    }
    return systemCalls.copyFileRange(from, fromOffset, to, toOffset, length, flags);
}

// The second part's file cannot be made (no split), written (the one pass goes on over
// its input) or copied in the kernel (read and written instead); an append that fails
// is cut off again. Each gives the one pass's bytes, lines and counts.
TEST_F(SplitConversionTest, FailuresOfTheSecondPartsFileFallBackToTheOnePass)
{
    const Crafted mailbox = craftedMailbox("\r\n", "\n", 56, false);
    writeInput(mailbox.bytes);
    const struct {
        const char* name;
        int openError;
        bool writesFail;
        int copyError;
        unsigned parts;
    } cases[] = {
        {"no unnamed files here", EOPNOTSUPP, false, 0, 1},  {"the part's writes fail", 0, true, 0, 1},
        {"no copy between these files", 0, false, EXDEV, 2}, {"copy_file_range unknown", 0, false, ENOSYS, 2},
        {"the append fails", 0, false, ENOSPC, 1},
    };
    systemCalls = systemOutputCalls();
    OutputCalls calls = systemCalls;
    calls.openAt = faultyOpen;
    calls.writev = faultyWritev;
    calls.copyFileRange = faultyCopy;
    const OutputCalls previous = setOutputCalls(calls);
    for (const bool encodings : {true, false}) {
        ConversionOptions options = this->options(kEncodingAutomatic, {"us-ascii", "iso-8859-1", "utf-8"}, false);
        options.convertEncodings = encodings;
        tmpfileOpenError = 0;
        copyError = 0;
        const Outcome one = convert(options, std::nullopt);
        ASSERT_TRUE(one.result.succeeded);
        for (const auto& c : cases) {
            tmpfileOpenError = c.openError;
            unnamedWritesFail = c.writesFail;
            copyError = c.copyError;
            unnamedFd = -1;
            failedCopies = 0;
            const std::string where = c.name + std::string(encodings ? ", conversion" : ", no conversion");
            const Outcome split = convert(options, mailbox.bytes.size() / 2);
            expectSame(split, one, where);
            // A part taken over before it wrote anything is never copied: no append to fail
            // (seen when the second part's thread starts late).
            const bool appendMet = c.copyError != ENOSPC || failedCopies > 0;
            EXPECT_EQ(split.result.parts, appendMet ? c.parts : 2u) << where;
        }
    }
    tmpfileOpenError = 0;
    unnamedWritesFail = false;
    copyError = 0;
    unnamedFd = -1;
    setOutputCalls(previous);
}

// Told to stop, a split conversion fails as the one pass does, and leaves no file.
TEST_F(SplitConversionTest, StopEndsBothParts)
{
    const Crafted mailbox = craftedMailbox("\n", "\n", 0, false);
    writeInput(mailbox.bytes);
    const ConversionOptions options = this->options(windows1252(), {"us-ascii", "utf-8"}, true);
    const std::atomic<bool> stop = true;
    const Outcome one = convert(options, std::nullopt, &stop);
    EXPECT_FALSE(one.result.succeeded);
    const Outcome split = convert(options, mailbox.bytes.size() / 2, &stop);
    expectSame(split, one, "stopped");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"attach", "in", "out"}));
}

// A mailbox truncated by another program while both parts read it fails as the one pass
// does ("Could not read"), whichever part's thread meets the vanished pages first, and
// leaves no file behind.
TEST_F(SplitConversionTest, InputTruncatedWhileBothPartsReadFailsCleanly)
{
    std::string mailbox;
    for (int n = 0; mailbox.size() < 3 * kProgressStep; ++n)
        mailbox += "From ???@??? Mon Jan 01 00:00:00 2001\nSubject: " + std::to_string(n) + "\n\ncaf\xE9 "
            + std::string(2000 + n % 700, 'x') + "\n";
    const ConversionOptions options = this->options(windows1252(), {"us-ascii", "utf-8"}, false);
    for (const bool split : {false, true}) {
        writeInput(mailbox);
        std::ofstream(dir_ + "/out", std::ios::trunc);
        ConversionControl control;
        control.splitBytes = split ? 1 : 0;
        control.splitCores = 1;
        const std::string input = dir_ + "/in";
        control.progress = [&input](std::uint64_t, std::uint64_t) { ::truncate(input.c_str(), 0); };
        const ConversionResult result = convertMbox(input, dir_ + "/out", options, control);
        EXPECT_FALSE(result.succeeded) << split;
        EXPECT_EQ(result.errorText, "Could not read \"" + input + "\": it was shortened while being converted") << split;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"attach", "in", "out"})) << split;
    }
}

} // namespace
} // namespace tarnwick
