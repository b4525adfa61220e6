// The mailbox pass with attachments put back: only messages whose lines name a found
// file change, in every combination of the options that shape the stream.
#include "engine/mailbox/MboxConverter.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using testSupport::readFile;

class MboxAttachmentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-mbox-attach-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ + "/attach");
        setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    }
    void TearDown() override
    {
        setLogSink({});
        fs::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(dir_ + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }

    ConversionResult convert(const std::string& input, ConversionOptions options)
    {
        write("in", input);
        write("out", "");
        options.attachmentFolders = AttachmentFolders::open({dir_ + "/attach"}, {});
        options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
        options.sourceEncoding = kEncodingISOLatin1;
        const ConversionResult result = convertMbox(dir_ + "/in", dir_ + "/out", options);
        output_ = readFile(dir_ + "/out");
        return result;
    }

    std::string dir_;
    std::string output_;
    std::vector<std::string> log_;
};

TEST_F(MboxAttachmentsTest, OnlyMessagesWithFoundFilesChange)
{
    write("attach/report.txt", "report bytes\n");
    const std::string plain = "From a Mon Dec 13 18:45:29 2010\nSubject: none\n\nJust text.\nAttachment is not a line.\n";
    const std::string with = "From b Mon Dec 13 18:45:29 2010\nSubject: with\n\n<x-flowed>Hi\n</x-flowed>\n"
                             "Attachment Converted: \"c:\\eudora\\attach\\report.txt\"\n";
    const std::string missing = "From c Mon Dec 13 18:45:29 2010\nSubject: gone\n\nText\n"
                                "Attachment Converted: \"c:\\eudora\\attach\\gone.txt\"\n";
    const std::string input = plain + with + missing;
    for (int shape = 0; shape < 16; ++shape) {
        ConversionOptions options;
        options.convertEncodings = shape & 1;
        options.processEudoraTags = shape & 1;
        options.crlfLineEndings = shape & 2;
        options.addEmptyLines = shape & 4;
        options.complementDateHeaders = shape & 8;
        const std::string where = "shape " + std::to_string(shape);
        const ConversionResult before = convert(input, options);
        ASSERT_TRUE(before.succeeded) << where;
        const std::string today = output_;
        EXPECT_EQ(before.attachments.attached + before.attachments.missing, 0u) << where;

        options.putBackAttachments = true;
        log_.clear();
        const ConversionResult after = convert(input, options);
        ASSERT_TRUE(after.succeeded) << where;
        EXPECT_EQ(after.attachments.attached, 1u) << where;
        EXPECT_EQ(after.attachments.missing, 1u) << where;
        ASSERT_EQ(log_.size(), 1u) << where;
        EXPECT_NE(log_[0].find("\"gone.txt\" (message \"gone\")"), std::string::npos) << log_[0];

        const std::size_t todayB = today.find("From b"), todayC = today.find("From c");
        const std::size_t afterB = output_.find("From b"), afterC = output_.find("From c");
        ASSERT_NE(afterC, std::string::npos) << where;
        EXPECT_SAME_BYTES(output_.substr(0, afterB), today.substr(0, todayB)) << where << ": the message before is untouched";
        EXPECT_SAME_BYTES(output_.substr(afterC), today.substr(todayC)) << where << ": the message after is untouched";
        const std::string rebuilt = output_.substr(afterB, afterC - afterB);
        EXPECT_NE(rebuilt.find("Content-Type: multipart/mixed;"), std::string::npos) << where << rebuilt;
        EXPECT_NE(rebuilt.find("cmVwb3J0IGJ5dGVzCg=="), std::string::npos) << where << ": base64 of the file";
        EXPECT_EQ(rebuilt.find("Attachment Converted"), std::string::npos) << where;
        const std::string eol = options.crlfLineEndings ? "\r\n" : "\n";
        EXPECT_TRUE(rebuilt.ends_with("--" + eol + (options.addEmptyLines ? eol : ""))) << where << rebuilt;
        if (options.processEudoraTags) {
            EXPECT_NE(rebuilt.find("Content-Type: text/plain; format=flowed" + eol + "Content-Transfer-Encoding: 7bit" + eol),
                      std::string::npos)
                << where << ": the text part keeps today's Content-Type" << rebuilt;
        }
    }
}

// With Automatic on a Japanese desktop, the subject of Western mail in a log line is
// read in the encoding the conversion takes the message in, not the desktop's family.
TEST_F(MboxAttachmentsTest, MissingFileLinesReadTheSubjectAsTheConversionDoes)
{
    const struct {
        const char* name;
        std::string header, subject;
    } cases[] = {
        {"declared Latin-1", "Subject: \xd8resund\nContent-Type: text/plain; charset=iso-8859-1\n", "\xc3\x98resund"},
        {"declared, not valid Shift_JIS", "Subject: M\xfcller\nContent-Type: text/plain; charset=\"ISO-8859-1\"\n", "M\xc3\xbcller"},
        {"UTF-8", "Subject: M\xc3\xbcller\n", "M\xc3\xbcller"},
        {"undeclared Shift_JIS", "Subject: \x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n",
         "\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf"},
    };
    for (const auto& c : cases) {
        for (const bool convertEncodings : {true, false}) {
            write("in",
                  "From c Mon Dec 13 18:45:29 2010\n" + c.header + "\nText\nAttachment Converted: \"c:\\eudora\\attach\\gone.txt\"\n");
            write("out", "");
            ConversionOptions options;
            options.convertEncodings = convertEncodings;
            options.sourceEncoding = kEncodingAutomatic;
            options.language = "ja";
            options.charsetNames = {"us-ascii", "iso-8859-1", "shift_jis", "utf-8"};
            options.putBackAttachments = true;
            options.attachmentFolders = AttachmentFolders::open({dir_ + "/attach"}, {});
            log_.clear();
            const ConversionResult result = convertMbox(dir_ + "/in", dir_ + "/out", options);
            ASSERT_TRUE(result.succeeded) << c.name;
            ASSERT_EQ(log_.size(), 1u) << c.name;
            EXPECT_EQ(log_[0], "Attachment not found: \"gone.txt\" (message \"" + c.subject + "\")") << c.name << " " << convertEncodings;
            ASSERT_EQ(result.attachments.missingFiles.size(), 1u);
            EXPECT_EQ(result.attachments.missingFiles[0].subject, c.subject) << c.name;
        }
    }
}

// A line over the pass's chunk size goes out before the message ends: that message
// stays as it is, and the log says so.
TEST_F(MboxAttachmentsTest, AMessageWithAHugeLineIsLeftAsItIs)
{
    write("attach/a.txt", "a");
    const std::string input = "From a Mon Dec 13 18:45:29 2010\nSubject: huge\n\n" + std::string(5u << 20, 'x')
        + "\nAttachment Converted: \"c:\\attach\\a.txt\"\nFrom b Mon Dec 13 18:45:29 2010\nSubject: small\n\n"
          "Attachment Converted: \"c:\\attach\\a.txt\"\n";
    ConversionOptions options;
    options.putBackAttachments = true;
    const ConversionResult result = convert(input, options);
    ASSERT_TRUE(result.succeeded) << result.errorText;
    EXPECT_EQ(result.attachments.attached, 1u) << "the next message still gets its file";
    EXPECT_EQ(output_.substr(0, output_.find("From b")), input.substr(0, input.find("From b")));
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0], "Attachments not put back into the message at byte 0: it holds a line over 4 MiB");
    EXPECT_EQ(result.attachments.missing, 1u) << "the file not put back is counted";
}

// A message over 8 MiB is never rebuilt, wherever its attachment line is: memory stays
// bounded. It is written as with attachments off, and the log says so.
TEST_F(MboxAttachmentsTest, AMessageOverEightMiBIsLeftAsItIs)
{
    write("attach/a.txt", "a");
    const std::string line = "Attachment Converted: \"c:\\attach\\a.txt\"\n";
    std::string body;
    while (body.size() < (9u << 20))
        body += std::string(70, 'x') + "\n";
    const std::string next = "From b Mon Dec 13 18:45:29 2010\nSubject: small\n\n" + line;
    for (const bool convertEncodings : {false, true}) {
        for (const bool lineFirst : {true, false}) {
            const std::string where = std::string(convertEncodings ? "converted" : "stream") + (lineFirst ? ", line first" : ", line last");
            // Two lines: one before the size is passed (or both after it).
            const std::string input
                = "From a Mon Dec 13 18:45:29 2010\nSubject: huge\n\n" + (lineFirst ? line + body + line : body + line + line) + next;
            ConversionOptions options;
            options.convertEncodings = convertEncodings;
            const ConversionResult off = convert(input, options);
            ASSERT_TRUE(off.succeeded) << where;
            const std::string today = output_;
            options.putBackAttachments = true;
            log_.clear();
            const ConversionResult result = convert(input, options);
            ASSERT_TRUE(result.succeeded) << where << result.errorText;
            EXPECT_EQ(result.attachments.attached, 1u) << where << ": the next message still gets its file";
            EXPECT_SAME_BYTES(output_.substr(0, output_.find("From b")), today.substr(0, today.find("From b"))) << where;
            ASSERT_EQ(log_.size(), 1u) << where;
            EXPECT_EQ(log_[0], "Attachments not put back into the message at byte 0: it is over 8 MiB") << where;
            EXPECT_EQ(result.attachments.missing, 2u) << where << ": the files not put back are counted";
        }
    }
}

// A message whose file is found but whose converted text has no header to take apart
// goes out as with attachments off: converted once, its log lines and counts once.
TEST_F(MboxAttachmentsTest, AMessageThatCannotBeRebuiltIsConvertedOnce)
{
    write("attach/a.txt", "a");
    const std::string line = "Attachment Converted: \"c:\\eudora\\attach\\a.txt\"\n";
    // Each conversion logs a line; "joins" loses the empty line after the header, as
    // an HZ text whose header ends in '~' does.
    struct Case {
        const char* name;
        bool joins;
        bool rebuilt;
    };
    const Case cases[] = {{"keeps its lines", false, true}, {"joins its header to the body", true, false}};
    for (const Case& c : cases) {
        int calls = 0;
        const MessageConversion conversion = [&](std::string_view message, std::uint64_t, MailboxContext&, std::string& result) {
            ++calls;
            logMessage("converted " + std::to_string(message.size()));
            result.assign(message);
            if (c.joins)
                result.erase(result.find("\n\n"), 1);
            return true;
        };
        const std::string input = "From a Mon Dec 13 18:45:29 2010\nSubject: s\n\nText\n" + line;
        write("in", input);
        write("out", "");
        ConversionOptions options;
        options.convertEncodings = true;
        options.putBackAttachments = true;
        options.attachmentFolders = AttachmentFolders::open({dir_ + "/attach"}, {});
        log_.clear();
        const ConversionResult result = convertMbox(dir_ + "/in", dir_ + "/out", options, conversion);
        ASSERT_TRUE(result.succeeded) << c.name;
        const std::string output = readFile(dir_ + "/out");
        EXPECT_EQ(result.attachments.attached, c.rebuilt ? 1u : 0u) << c.name;
        // The text goes through the conversion without its attachment line when rebuilt,
        // whole when not; either way the log tells of one conversion.
        const std::size_t converted = c.rebuilt ? input.size() - line.size() : input.size();
        EXPECT_EQ(log_, std::vector<std::string>{"converted " + std::to_string(converted)}) << c.name;
        if (!c.rebuilt) {
            EXPECT_EQ(output, "From a Mon Dec 13 18:45:29 2010\nSubject: s\nText\n" + line) << c.name;
            EXPECT_EQ(calls, 2) << c.name << ": the whole message is converted after the attempt";
        }
    }

    // The same through the job's conversion: an HZ header ending in '~' has no empty line
    // once decoded. The bytes, log and counts are those of the message with no file found.
    const std::string hz = "From a Mon Dec 13 18:45:29 2010\nSubject: x~\n\nText\n" + line
        + "From b Mon Dec 13 18:45:29 2010\nSubject: y\n\n~{;c~}\n" + line;
    const PlatformEncoding hzEncoding = encodingForIANAName("HZ-GB-2312");
    ASSERT_TRUE(isEncodingAvailable(hzEncoding));
    ConversionOptions options;
    options.convertEncodings = true;
    options.putBackAttachments = true;
    std::string outputs[2];
    std::vector<std::string> logs[2];
    UnconvertedCounts counts[2];
    for (const bool found : {false, true}) {
        write("attach/a.txt", "a");
        if (!found)
            fs::remove(dir_ + "/attach/a.txt");
        write("in", hz);
        write("out", "");
        options.sourceEncoding = carryEncoding(hzEncoding);
        options.charsetNames = {"us-ascii"};
        options.attachmentFolders = AttachmentFolders::open({dir_ + "/attach"}, {});
        log_.clear();
        const ConversionResult result = convertMbox(dir_ + "/in", dir_ + "/out", options);
        ASSERT_TRUE(result.succeeded);
        EXPECT_EQ(result.attachments.attached, found ? 1u : 0u);
        outputs[found] = readFile(dir_ + "/out");
        std::erase_if(log_, [](const std::string& l) { return l.starts_with("Attachment not found"); });
        logs[found] = log_;
        counts[found] = result.unconverted;
    }
    EXPECT_EQ(outputs[1].substr(0, outputs[1].find("From b")), outputs[0].substr(0, outputs[0].find("From b")));
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(counts[1].unfitting, 1u) << "the second message has Chinese text";
    EXPECT_EQ(counts[0].unfitting, 1u);
    EXPECT_EQ(counts[1].undecodable, counts[0].undecodable);
}

TEST_F(MboxAttachmentsTest, AnIntactMultipartKeepsItsHeader)
{
    const std::string input = "From a Mon Dec 13 18:45:29 2010\nSubject: kept\n"
                              "Content-Type: multipart/mixed; boundary=\"B1\"\n\n<x-html>x</x-html>\n"
                              "--B1\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\nJVBERg==\n--B1--\n"
                              "From b Mon Dec 13 18:45:29 2010\nSubject: stale\n"
                              "Content-Type: multipart/mixed; boundary=\"B2\"\n\n<x-html>y</x-html>\n";
    ConversionOptions options;
    options.convertEncodings = true;
    options.processEudoraTags = true;
    ASSERT_TRUE(convert(input, options).succeeded);
    EXPECT_EQ(output_.find("boundary=\"B1\""), std::string::npos) << "the old bytes without attachments";
    options.putBackAttachments = true;
    ASSERT_TRUE(convert(input, options).succeeded);
    EXPECT_NE(output_.find("Subject: kept\nContent-Type: multipart/mixed; boundary=\"B1\"\n"), std::string::npos) << output_;
    EXPECT_NE(output_.find("Subject: stale\nContent-Type: text/html\n"), std::string::npos)
        << "a boundary that no longer occurs is replaced as before" << output_;
}

} // namespace
} // namespace tarnwick
