// Header fields are measured on the raw bytes, block by block: a message with a field
// over the limit is left unconverted, whichever way it is converted.
#include "ByteDiff.h"
#include "engine/ByteRange.h"
#include "engine/header/FieldLength.h"
#include "engine/message/MessageConverter.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

// Fed in blocks of `block` bytes, as a spool file read would give them.
bool tooLongInBlocks(std::string_view message, std::size_t block, std::uint64_t limit)
{
    HeaderFieldMeter meter(limit);
    for (std::size_t at = 0; at < message.size(); at += block) {
        if (!meter.feed(message.substr(at, block)))
            break;
    }
    return meter.tooLong();
}

TEST(HeaderFieldMeter, FindsAFieldOverTheLimitAtEveryBlockSize)
{
    struct Case {
        const char* name;
        std::string message;
        bool tooLong; // with a limit of 10 bytes
    };
    const std::string body(100, 'b');
    const Case cases[] = {
        {"short fields, a long body", "From a\r\nX: 1234567\r\n\r\n" + body, false},
        {"a field of exactly the limit", "From a\r\nX: 1234567\r\n\r\n", false},
        {"a field one byte over", "From a\r\nX: 12345678\r\n\r\n", true},
        {"folded: its lines and the terminator between count", "From a\r\nX: 1234\r\n 56\r\n\r\n", true},
        {"folded with LF: one terminator byte fewer", "From a\nX: 1234\n 5\n\n", false},
        {"a tab continues the field", "From a\nX: 12\n\t3456\n\n", true},
        {"a new field starts the count again", "From a\nX: 12345\nY: 12345\nZ: 1\n\n", false},
        {"the separator line counts", "From abcdefghij\r\n\r\n", true},
        {"an empty first line does not end the header", "\r\nX: 123456789\r\n\r\n", true},
        {"CR alone ends lines", "From a\rX: 1234\r\r" + body, false},
        {"CR alone: a continuation after it", "From a\rX: 1234\r 567\r\r", true},
        {"no empty line: the last line is a field", "From a\r\nX: 1\r\n" + body, true},
        {"after the empty line nothing counts", "From a\r\n\r\n" + body + "\r\n " + body, false},
        {"a CR LF pair counts its two bytes", "From a\r\nX: 12\r\n 45\r\n\r\n", false},
        {"empty message", "", false},
    };
    const std::size_t blocks[] = {1, 2, 3, 7, 64, 4096};
    for (const Case& c : cases) {
        EXPECT_EQ(hasOverlongHeaderField(c.message, 10), c.tooLong) << c.name << ", whole";
        for (const std::size_t block : blocks)
            EXPECT_EQ(tooLongInBlocks(c.message, block, 10), c.tooLong) << c.name << ", blocks of " << block;
    }
}

struct Outcome {
    bool converted = false;
    std::string bytes;
    std::vector<std::string> log;
    UnconvertedReason reason = UnconvertedReason::None;
};

Outcome convert(std::string_view message, bool large)
{
    Outcome outcome;
    setLogSink([&outcome](std::string_view line) { outcome.log.emplace_back(line); });
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = 12; // windows-1252
    options.charsetNames = {"us-ascii", "iso-8859-1", "utf-8"};
    CharsetCandidates candidates(options.charsetNames);
    MailboxContext mailbox;
    const std::uint64_t headerLength = message.find("\r\n\r\n") + 4;
    if (large) {
        const MessageReader read = [&](std::uint64_t offset, std::size_t length) { return message.substr(offset, length); };
        const LargeMessageOutcome result
            = convertMessage(read, message.size(), headerLength, options, candidates, mailbox, [&](std::string_view bytes) {
                  outcome.bytes += bytes;
                  return true;
              });
        outcome.converted = result == LargeMessageOutcome::Converted;
    } else {
        outcome.converted = convertMessage(message, headerLength, options, candidates, mailbox, outcome.bytes);
    }
    outcome.reason = mailbox.lastReason;
    setLogSink({});
    return outcome;
}

TEST(HeaderFieldMeter, AMessageWithAFieldOverOneMebibyteIsLeftAsItIs)
{
    const std::string from = "From a Wed Jan 3 01:05:34 1996\r\n";
    const std::string body = "caf\xe9\r\n";
    auto withField = [&](std::size_t length, const std::string& text) {
        std::string field = "Subject:";
        while (field.size() < length)
            field += text;
        field.resize(length);
        return from + field + "\r\n\r\n" + body;
    };
    struct Case {
        const char* name;
        std::string message;
        bool converted;
    };
    const Case cases[] = {
        {"a Latin-1 field of 1 MiB", withField(kLongestConvertedField, " caf\xe9"), true},
        {"a Latin-1 field of 1 MiB and a byte", withField(kLongestConvertedField + 1, " caf\xe9"), false},
        {"an ASCII field over 1 MiB", withField(kLongestConvertedField + 100, " plain"), false},
        {"a folded field over 1 MiB",
         from + "To: a" + std::string(kLongestConvertedField / 2, 'x') + "\r\n " + std::string(kLongestConvertedField / 2, 'y') + "\r\n\r\n"
             + body,
         false},
    };
    for (const Case& c : cases) {
        for (const bool large : {false, true}) {
            const Outcome outcome = convert(c.message, large);
            const std::string where = std::string(c.name) + (large ? ", large" : ", in memory");
            EXPECT_EQ(outcome.converted, c.converted) << where;
            if (c.converted) {
                EXPECT_EQ(outcome.reason, UnconvertedReason::None) << where;
                EXPECT_TRUE(outcome.log.empty()) << where;
                continue;
            }
            EXPECT_EQ(outcome.reason, UnconvertedReason::FieldTooLong) << where;
            EXPECT_EQ(outcome.log, std::vector<std::string>{"Message left unconverted: a header field is too long to convert"}) << where;
        }
        const Outcome inMemory = convert(c.message, false);
        const Outcome large = convert(c.message, true);
        EXPECT_SAME_BYTES(large.bytes, inMemory.bytes) << c.name;
    }
}

} // namespace
} // namespace tarnwick
