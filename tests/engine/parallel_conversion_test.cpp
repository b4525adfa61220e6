// Converting a mailbox's messages on two threads gives what converting them one after
// the other gives: the same bytes, log lines, counts and attachments, whatever the batch
// size, with Automatic's memory changing from message to message, messages left
// unconverted, a message large enough for the spool file and attachment lines.
#include "engine/mailbox/MboxConverter.h"
#include "platform/Log.h"
#include "engine/CjkSamples.h"
#include "engine/ConversionTestSupport.h"
#include "CaseName.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using namespace testSamples;

using testSupport::readFile;

std::string message(int n, const std::string& subject, const std::string& body)
{
    return "From ???@??? Mon Jan 01 00:00:" + std::to_string(10 + n % 50) + " 2001\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

// Runs of messages that change Automatic's memory (Japanese, Korean or Chinese confirmed),
// short texts read by it, no-break spaces, text no charset list holds, attachment lines
// with and without their file, one message over a megabyte and one over the spool bound.
std::string craftedMailbox()
{
    std::string mailbox;
    for (int n = 0; n < 120; ++n) {
        switch (n % 8) {
        case 0:
            mailbox += message(n, "caf\xE9 " + std::to_string(n), "na\xA0ve caf\xE9\xA0\xA0" + std::string(n * 7, 'x'));
            break;
        case 1:
            mailbox += message(n, "korean or chinese", n / 8 % 2 == 0 ? kKorean + kKorean + kKorean : kChinese + kChinese + kChinese);
            break;
        case 2:
            mailbox += message(n, "short", kShortShiftJIS + " " + std::to_string(n));
            break;
        case 3:
            mailbox += message(n, "files",
                               "see\r\nAttachment Converted: \"c:\\eudora\\attach\\report.txt\"\r\n"
                               "Attachment Converted: \"c:\\eudora\\attach\\gone"
                                   + std::to_string(n) + ".txt\"");
            break;
        case 4:
            mailbox += message(n, "japanese", "TEL\xA0" + kShiftJIS);
            break;
        case 5:
            mailbox += message(n, "missing", "Attachment Converted: \"c:\\eudora\\attach\\lost.txt\"");
            break;
        case 6:
            mailbox += message(n, "plain", std::string(300 + n * 40, 'p'));
            break;
        default:
            mailbox += message(n, "utf-8 \xC3\xA9", "caf\xC3\xA9 \xE2\x82\xAC");
            break;
        }
        if (n == 60)
            mailbox += message(n, "large \xE9", std::string(5u << 20, 'L') + "\xE9\xA0");
        if (n == 90)
            mailbox += message(n, "over a megabyte", std::string(3u << 19, 'M') + "\r\nTEL\xA0" + kShiftJIS);
    }
    return mailbox;
}

struct Outcome {
    std::string output;
    std::vector<std::string> log;
    UnconvertedCounts unconverted;
    ConversionResult result;
};

class ParallelConversionTest : public testSupport::ScratchFolderTest {
protected:
    ParallelConversionTest() : ScratchFolderTest("/tmp/tarnwick-parallel-XXXXXX") {}

    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        if (HasFatalFailure())
            return;
        std::ofstream(dir_ + "/in", std::ios::binary) << craftedMailbox();
    }

    // `batchBytes` 0: every message converted in order on this thread, through a
    // MessageConversion of the test's own.
    Outcome convert(const ConversionOptions& options, std::size_t batchBytes)
    {
        std::ofstream(dir_ + "/out", std::ios::trunc);
        clearLog();
        Outcome run;
        CharsetCandidates candidates(options.charsetNames);
        if (batchBytes == 0) {
            run.result = convertMbox(
                dir_ + "/in", dir_ + "/out", options,
                [&](std::string_view bytes, std::uint64_t headerLength, MailboxContext& mailbox, std::string& result) {
                    if (convertMessage(bytes, headerLength, options, candidates, mailbox, result))
                        return true;
                    run.unconverted.add(mailbox.lastReason);
                    return false;
                },
                [&](std::uint64_t size, const MessageReader& read, std::uint64_t headerLength, MailboxContext& mailbox,
                    const std::function<bool(std::string_view)>& write) {
                    const LargeMessageOutcome outcome = convertMessage(read, size, headerLength, options, candidates, mailbox, write);
                    if (outcome == LargeMessageOutcome::Unconverted)
                        run.unconverted.add(mailbox.lastReason);
                    return outcome;
                });
        } else {
            ConversionControl control;
            control.conversionBatchBytes = batchBytes;
            run.result = convertMbox(dir_ + "/in", dir_ + "/out", options, candidates, control);
            run.unconverted = run.result.unconverted;
        }
        run.output = readFile(dir_ + "/out");
        run.log = loggedLines();
        return run;
    }

    ConversionOptions options(EncodingId source, std::vector<std::string> charsets) const
    {
        return testSupport::everyStepOn(source, std::move(charsets), dir_ + "/attach");
    }
};

struct BatchCase {
    const char* name;
    EncodingId source;
    std::vector<std::string> charsets;
    bool putBackAttachments = true;
};

const BatchCase kBatchCases[] = {
    {"automatic", kEncodingAutomatic, {"us-ascii", "iso-8859-1", "utf-8"}},
    {"automatic, no charset for japanese", kEncodingAutomatic, {"us-ascii", "iso-8859-1"}},
    {"utf-8 source: latin text undecodable", kEncodingUTF8, {"us-ascii", "utf-8"}},
    {"an unsupported name, no attachments", kEncodingAutomatic, {"us-ascii", "iso-8859-1", "utf-8", "x-unknown-name"}, false},
};

class ParallelBatches : public ParallelConversionTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(ParallelBatches, OnTwoThreadsGiveWhatOneThreadGives)
{
    const BatchCase& c = GetParam();
    ConversionOptions caseOptions = options(c.source, c.charsets);
    caseOptions.putBackAttachments = c.putBackAttachments;
    const Outcome sequential = convert(caseOptions, 0);
    ASSERT_TRUE(sequential.result.succeeded) << sequential.result.errorText;
    for (const std::size_t batchBytes : {std::size_t{1}, std::size_t{900}, std::size_t{5000}, kConversionBatchBytes}) {
        const std::string where = "batches of " + std::to_string(batchBytes);
        const Outcome parallel = convert(caseOptions, batchBytes);
        ASSERT_TRUE(parallel.result.succeeded) << where << ": " << parallel.result.errorText;
        EXPECT_SAME_BYTES(parallel.output, sequential.output) << where;
        EXPECT_EQ(parallel.log, sequential.log) << where;
        EXPECT_EQ(parallel.unconverted.undecodable, sequential.unconverted.undecodable) << where;
        EXPECT_EQ(parallel.unconverted.unfitting, sequential.unconverted.unfitting) << where;
        EXPECT_EQ(parallel.result.messages, sequential.result.messages) << where;
        EXPECT_EQ(parallel.result.attachments.attached, sequential.result.attachments.attached) << where;
        EXPECT_EQ(parallel.result.attachments.missing, sequential.result.attachments.missing) << where;
        EXPECT_EQ(parallel.result.attachments.missingFiles.size(), sequential.result.attachments.missingFiles.size()) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelBatches, ::testing::ValuesIn(kBatchCases), testSupport::NamedByLabel());

// The mailbox exercises what the comparison must hold to: Automatic reads the short
// Shift_JIS text according to the memory its earlier messages left, some messages stay
// unconverted, no-break spaces and missing files are logged, files are put back.
TEST_F(ParallelConversionTest, TheMailboxExercisesEveryOrderedEffect)
{
    const Outcome automatic = convert(options(kEncodingAutomatic, {"us-ascii", "iso-8859-1", "utf-8"}), 0);
    // The short text as each confirmed family reads it, in UTF-8.
    for (const char* reading :
         {"\xE3\x81\x8A\xE4\xB8\x96\xE8\xA9\xB1", "\xEA\xB6\x93\xEB\xA7\x8A\xEC\x81\x9E", "\xE5\x81\x8D\xE6\x82\xBD\xE6\xA6\x96"})
        EXPECT_NE(automatic.output.find(reading), std::string::npos) << reading;
    EXPECT_GT(automatic.result.attachments.attached, 0u);
    EXPECT_GT(automatic.result.attachments.missing, 0u);
    auto logged = [&automatic](std::string_view text) {
        return std::count_if(automatic.log.begin(), automatic.log.end(),
                             [text](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    EXPECT_GT(logged("NBSP (U+00A0) replaced"), 0);
    EXPECT_GT(logged("Attachment not found"), 0);

    const Outcome unfitting = convert(options(kEncodingAutomatic, {"us-ascii", "iso-8859-1"}), 0);
    EXPECT_GT(unfitting.unconverted.unfitting, 0u);
    const Outcome undecodable = convert(options(kEncodingUTF8, {"us-ascii", "utf-8"}), 0);
    EXPECT_GT(undecodable.unconverted.undecodable, 0u);
}

} // namespace
} // namespace tarnwick
