// A message collected for encoding conversion holds the lines the stream pass writes:
// when no message converts (each holds a byte that is not UTF-8), the output with
// encoding conversion is the output without it, whatever the line ends, line lengths
// and where lines fall against the pass's blocks.
#include "engine/mailbox/MboxConverter.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using testSupport::readFile;

// Messages with lines of every length up to a few hundred bytes (some far longer),
// ended by `ends` picked at random, with "From " and attachment-like lines in bodies.
std::string randomMailbox(unsigned seed, const std::vector<std::string>& ends)
{
    std::mt19937 random(seed);
    auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    std::string mailbox;
    for (int message = 0; message < 60; ++message) {
        const std::string end = ends[pick(ends.size())];
        mailbox += "From ???@??? Mon Jan 01 00:00:00 2001" + end;
        if (pick(2) == 0)
            mailbox += "Date: Mon, 1 Jan 2001 00:00:00 +0000" + end;
        mailbox += "Subject: \xFF " + std::to_string(message) + end + end;
        const std::size_t lines = pick(400);
        for (std::size_t line = 0; line < lines; ++line) {
            switch (pick(100)) {
            case 0: // a separator line, as no index bounds the messages
                mailbox += "From the body \xFF" + ends[pick(ends.size())];
                break;
            case 1:
            case 2:
                mailbox += "Attachment Converted: \"c:\\attach\\x.txt\"" + ends[pick(ends.size())];
                break;
            case 3:
                mailbox += std::string(70000 + pick(70000), 'w') + ends[pick(ends.size())];
                break;
            default:
                mailbox += std::string(pick(pick(2) == 0 ? 8 : 300), 'a' + static_cast<char>(pick(26))) + ends[pick(ends.size())];
                break;
            }
        }
    }
    return mailbox;
}

TEST(CollectedLines, UnconvertedMessagesAreWhatTheStreamPassWrites)
{
    char pattern[] = "/tmp/tarnwick-collected-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    struct Case {
        const char* name;
        std::vector<std::string> ends;
        bool crlf;
    };
    const Case cases[] = {
        {"CR LF kept", {"\r\n"}, true},
        {"LF kept", {"\n"}, false},
        {"LF to CR LF", {"\n"}, true},
        {"mixed to CR LF", {"\r\n", "\n", "\r"}, true},
        {"mixed to the first line's end", {"\n", "\r\n", "\r"}, false},
    };
    for (const Case& c : cases) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            const std::string where = std::string(c.name) + ", seed " + std::to_string(seed);
            std::ofstream(dir + "/in", std::ios::binary | std::ios::trunc) << randomMailbox(seed, c.ends);
            ConversionOptions options;
            options.sourceEncoding = kEncodingUTF8;
            options.charsetNames = {"utf-8"};
            options.crlfLineEndings = c.crlf;
            options.complementDateHeaders = true;
            options.addEmptyLines = true;
            std::string outputs[2];
            for (const bool convert : {false, true}) {
                options.convertEncodings = convert;
                std::ofstream(dir + "/out", std::ios::trunc);
                const ConversionResult result = convertMbox(dir + "/in", dir + "/out", options);
                ASSERT_TRUE(result.succeeded) << where;
                outputs[convert] = readFile(dir + "/out");
                if (convert) {
                    EXPECT_EQ(result.unconverted.undecodable, result.messages) << where;
                }
            }
            EXPECT_SAME_BYTES(outputs[0], outputs[1]) << where;
        }
    }
    fs::remove_all(dir);
}

} // namespace
} // namespace tarnwick
