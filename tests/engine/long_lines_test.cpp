// Lines longer than the stream pass's chunk are carried through in pieces: the bytes
// written are those of any other line (expected bytes built here by plain string
// operations), and an exception while converting fails the file with a clear text.
#include "engine/mailbox/MboxConverter.h"
#include "platform/Localization.h"
#include "engine/ConversionTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>

namespace tarnwick {
namespace {

void writeFile(const std::string& file, const std::string& bytes) { std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes; }

using testSupport::readFile;

class LongLinesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-long-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    ConversionResult convert(const std::string& input, const ConversionOptions& options, const MessageConversion& hand)
    {
        writeFile(dir_ + "/in", input);
        writeFile(dir_ + "/out", "");
        return convertMbox(dir_ + "/in", dir_ + "/out", options, hand);
    }
    std::string output() const { return readFile(dir_ + "/out"); }

    std::string dir_;
};

TEST_F(LongLinesTest, WrittenLikeShortLinesWhateverTheTerminators)
{
    // Longer than two chunks, and not a multiple of the page size.
    const std::string big(9 * 1024 * 1024 + 4097, 'x');
    const std::string from = "From a Wed Jan 3 01:05:34 1996";
    const std::string date = "Date: Wed, 3 Jan 1996 01:05:34 +0100";
    struct Case {
        const char* name;
        std::string input;
        bool crlf;
        std::string expected;
    };
    const Case cases[] = {
        {"body line, LF kept", from + "\n\n" + big + "\nend\n", false, from + "\n" + date + "\n\n" + big + "\nend\n\n"},
        {"body line, LF to CR LF", from + "\n\n" + big + "\nend\n", true, from + "\r\n" + date + "\r\n\r\n" + big + "\r\nend\r\n\r\n"},
        {"CR first, long CR LF line", from + "\r\n" + big + "\r\n", false, from + "\r\n" + big + "\r\n\r\n"},
        {"long header line", from + "\nS: " + big + "\n\nb", false, from + "\nS: " + big + "\n" + date + "\n\nb\n\n"},
        {"long last line without terminator", from + "\r\rb" + big, false, from + "\r" + date + "\r\rb" + big + "\r\r"},
        {"long separator line, open terminator", from + big, false, from + big},
        // (a separator with text after the date gives no Date line)
        {"long separator, then a message", from + big + "\n\nb\n" + from + "\n\nc\n", true,
         from + big + "\r\n\r\nb\r\n\r\n" + from + "\r\n" + date + "\r\n\r\nc\r\n\r\n"},
    };
    ::setenv("TZ", "Europe/Paris", 1);
    ::tzset();
    for (const Case& c : cases) {
        for (const bool encodings : {false, true}) {
            ConversionOptions options;
            options.convertEncodings = encodings;
            options.crlfLineEndings = c.crlf;
            options.complementDateHeaders = true;
            options.addEmptyLines = std::string_view(c.name) != "long separator line, open terminator";
            std::string handed;
            const ConversionResult result
                = convert(c.input, options, [&](std::string_view m, std::uint64_t, MailboxContext&, std::string&) {
                      handed += m;
                      return false;
                  });
            ASSERT_TRUE(result.succeeded) << c.name << ": " << result.errorText;
            EXPECT_SAME_BYTES(output(), c.expected)
                << c.name << (encodings ? " (messages handed over)" : "") << ": " << output().size() << " bytes for " << c.expected.size();
            if (encodings) {
                EXPECT_SAME_BYTES(handed, c.expected) << c.name << ": the hand-over sees the same bytes";
            }
        }
    }
}

TEST_F(LongLinesTest, AnExceptionWhileConvertingFailsTheFileWithAClearText)
{
    setTranslator({});
    const std::string input = "From a\n\nbody\n";
    ConversionOptions options;
    options.convertEncodings = true;
    struct Case {
        const char* name;
        MessageConversion hand;
        std::string expected;
    };
    const std::string in = dir_ + "/in";
    const Case cases[] = {
        {"out of memory", [](auto, auto, auto&, auto&) -> bool { throw std::bad_alloc(); },
         "Could not convert \"" + in + "\": not enough memory"},
        {"any other exception", [](auto, auto, auto&, auto&) -> bool { throw std::runtime_error("broken table"); },
         "Could not convert \"" + in + "\": broken table"},
    };
    for (const Case& c : cases) {
        const ConversionResult result = convert(input, options, c.hand);
        EXPECT_FALSE(result.succeeded) << c.name;
        EXPECT_EQ(result.errorText, c.expected) << c.name;
    }
}

} // namespace
} // namespace tarnwick
