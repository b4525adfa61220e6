#include "engine/ByteRange.h"
#include "engine/MboxConverter.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::uint64_t kNone = kHeaderLengthNone;

struct Options {
    bool lineEndings = false;
    bool dates = false;
    bool emptyLines = false;
    bool encodings = false;
};

class MboxConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-mbox-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        if (const char* zone = std::getenv("TZ"))
            previousZone_ = zone;
        ::setenv("TZ", "Europe/Paris", 1);
        ::tzset();
        setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    }

    void TearDown() override
    {
        setLogSink({});
        setTranslator({});
        SettingsStore::standard().clearVolatile();
        if (previousZone_.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", previousZone_.c_str(), 1);
        ::tzset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    static void setOptions(const Options& options)
    {
        SettingsStore& store = SettingsStore::standard();
        store.setVolatile(keys::kConvertEncodings, options.encodings);
        store.setVolatile(keys::kConvertLineEndings, options.lineEndings);
        store.setVolatile(keys::kComplementDateHeaders, options.dates);
        store.setVolatile(keys::kAddEmptyLines, options.emptyLines);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    static void writeFile(const std::string& file, const std::string& bytes)
    {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    }

    static std::string readFile(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    // Converts `input` with `options`; the observed header lengths land in `lengths_`.
    std::string convert(const std::string& input, const Options& options, bool expectSuccess = true)
    {
        setOptions(options);
        writeFile(path("in"), input);
        writeFile(path("out"), "");
        lengths_.clear();
        messages_.clear();
        std::string error;
        const bool ok = convertMboxWith(path("in"), path("out"), error,
                                        [this](std::string_view message, std::uint64_t headerLength, std::string&) {
                                            lengths_.push_back(headerLength);
                                            messages_.emplace_back(message);
                                            return false;
                                        });
        EXPECT_EQ(ok, expectSuccess) << error;
        return readFile(path("out"));
    }

    std::string dir_;
    std::string previousZone_;
    std::vector<std::string> log_;
    std::vector<std::uint64_t> lengths_;
    std::vector<std::string> messages_;
};

const std::string kWorkedInput = "From sender1 Wed Jan 3 01:05:34 1996\n"
                                 "Subject: hi\n"
                                 "\n"
                                 "body\n"
                                 "From sender2 Thu Jan 4 02:00:00 1996\r\n"
                                 "date: Thu, 4 Jan 1996 02:00:00 +0000\n"
                                 "\n"
                                 "text";

std::string workedOutput(const std::string& eol)
{
    return "From sender1 Wed Jan 3 01:05:34 1996" + eol + "Subject: hi" + eol + "Date: Wed, 3 Jan 1996 01:05:34 +0100"
        + eol + eol + "body" + eol + eol + "From sender2 Thu Jan 4 02:00:00 1996" + eol
        + "date: Thu, 4 Jan 1996 02:00:00 +0000" + eol + eol + "text" + eol + eol;
}

TEST_F(MboxConverterTest, WorkedExampleByteForByte)
{
    for (bool encodings : {false, true}) {
        EXPECT_EQ(convert(kWorkedInput, {.lineEndings = false, .dates = true, .emptyLines = true, .encodings = encodings}),
                  workedOutput("\n"))
            << "encodings " << encodings;
        EXPECT_EQ(convert(kWorkedInput, {.lineEndings = true, .dates = true, .emptyLines = true, .encodings = encodings}),
                  workedOutput("\r\n"))
            << "encodings " << encodings;
    }
    // The hand-over sees each whole message, added empty line included.
    EXPECT_EQ(lengths_, (std::vector<std::uint64_t> {91, 78}));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0] + messages_[1], workedOutput("\r\n"));

    convert(kWorkedInput, {.lineEndings = false, .dates = true, .emptyLines = true, .encodings = true});
    EXPECT_EQ(lengths_, (std::vector<std::uint64_t> {87, 75}));
    EXPECT_TRUE(log_.empty());
}

TEST_F(MboxConverterTest, WritesTheConversionResultInPlaceOfTheMessage)
{
    setOptions({.encodings = true});
    writeFile(path("in"), "From a\nx\nFrom b\ny\n");
    writeFile(path("out"), "");
    std::string error;
    int calls = 0;
    ASSERT_TRUE(convertMboxWith(path("in"), path("out"), error,
                                [&](std::string_view message, std::uint64_t, std::string& result) {
                                    result = "<" + std::string(message) + ">";
                                    return ++calls == 1; // the second stays unconverted
                                }));
    EXPECT_EQ(readFile(path("out")), "<From a\nx\n>From b\ny\n");
}

TEST_F(MboxConverterTest, SkipsEmptyAndForeignInputWithoutOpeningTheOutput)
{
    const struct {
        const char* name;
        std::string bytes;
        bool logged;
    } cases[] = {
        {"empty", "", false},      {"four bytes", "From", true},   {"lower case", "from x\n", true},
        {"quoted", ">From x\n", true}, {"colon", "From:x\n", true}, {"leading space", " From x\n", true},
    };
    for (const auto& c : cases) {
        log_.clear();
        writeFile(path("in"), c.bytes);
        std::string error = "untouched";
        // The output does not exist: opening it would fail.
        EXPECT_TRUE(convertMbox(path("in"), path("missing"), error)) << c.name;
        EXPECT_EQ(error, "untouched") << c.name;
        if (c.logged)
            EXPECT_EQ(log_, std::vector<std::string> {"'" + path("in") + "' is not Mbox format"}) << c.name;
        else
            EXPECT_TRUE(log_.empty()) << c.name;
    }
}

TEST_F(MboxConverterTest, EveryLineGetsTheFirstLinesTerminator)
{
    const std::string mixed = "From a\nx\r\ny\rz\n\r\nlast";
    const struct {
        const char* name;
        std::string input;
        bool lineEndings;
        std::string expected;
    } cases[] = {
        {"LF first", mixed, false, "From a\nx\ny\nz\n\nlast\n"},
        {"LF first, CR LF wanted", mixed, true, "From a\r\nx\r\ny\r\nz\r\n\r\nlast\r\n"},
        {"CR first", "From a\rx\r\ny\n\nz", false, "From a\rx\ry\r\rz\r"},
        {"CR LF first", "From a\r\nx\ny\r", false, "From a\r\nx\r\ny\r\n"},
        {"LF CR is two lines", "From a\n\rb\n", false, "From a\n\nb\n"},
        {"lone line, open terminator", "From a", false, "From a"},
        {"lone line, CR LF wanted", "From a", true, "From a\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convert(c.input, {.lineEndings = c.lineEndings}), c.expected) << c.name;

    EXPECT_EQ(convert("From a", {.emptyLines = true}), "From a") << "no terminator to add";
    EXPECT_EQ(convert("From a", {.lineEndings = true, .emptyLines = true}), "From a\r\n\r\n");
}

TEST_F(MboxConverterTest, SplitsMessagesAndReportsHeaderLengths)
{
    const struct {
        const char* name;
        std::string input;
        std::string expected;
        std::vector<std::uint64_t> lengths;
    } cases[] = {
        {"body From line starts a message", "From a\nS: 1\n\nbody\nFrom b\n\nt\n",
         "From a\nS: 1\n\nbody\n\nFrom b\n\nt\n\n", {13, 8}},
        {"no empty line", "From a\nS: 1\nT: 2\n", "From a\nS: 1\nT: 2\n\n", {kNone}},
        {"empty line last", "From a\nS: 1\n\n", "From a\nS: 1\n\n\n", {kNone}},
        {"separator of five bytes", "From a\n\nx\nFrom \ny\n", "From a\n\nx\n\nFrom \ny\n\n", {8, kNone}},
        {"later empty lines stay body", "From a\n\n\nx\n\n", "From a\n\n\nx\n\n\n", {8}},
        {"spaces are no empty line", "From a\n \nx\n\ny\n", "From a\n \nx\n\ny\n\n", {12}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert(c.input, {.emptyLines = true, .encodings = true}), c.expected) << c.name;
        EXPECT_EQ(lengths_, c.lengths) << c.name;
    }
}

TEST_F(MboxConverterTest, SuppliesADateLineOnlyWhereTheHeaderHasNone)
{
    const std::string date = "Date: Wed, 3 Jan 1996 01:05:34 +0100\n";
    const std::string from = "From s Wed Jan 3 01:05:34 1996\n";
    const struct {
        const char* name;
        std::string input;
        std::string expected;
    } cases[] = {
        {"no Date header", from + "S: x\n\nb\n", from + "S: x\n" + date + "\nb\n"},
        {"capital DATE:", from + "DATE: y\n\nb\n", from + "DATE: y\n\nb\n"},
        {"lower case date:", from + "S: x\ndate:y\n\nb\n", from + "S: x\ndate:y\n\nb\n"},
        {"space before the colon", from + "Date : y\n\nb\n", from + "Date : y\n" + date + "\nb\n"},
        {"Date only in the body", from + "\nDate: y\n", from + date + "\nDate: y\n"},
        {"no empty line", from + "S: x\n", from + "S: x\n"},
        {"no date after the sender", "From sender   \nS: x\n\nb\n", "From sender   \nS: x\n\nb\n"},
        {"nothing after From", "From \n\nb\n", "From \n\nb\n"},
        {"unreadable date", "From s yesterday\n\n", "From s yesterday\n\n"},
        {"Date does not carry over", from + "Date: y\n\n" + from + "\nb\n",
         from + "Date: y\n\n" + from + date + "\nb\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convert(c.input, {.dates = true}), c.expected) << c.name;

    // The Date line takes the output terminator and counts in the header length.
    EXPECT_EQ(convert("From s Wed Jan 3 01:05:34 1996\r\rb\r", {.lineEndings = true, .dates = true, .encodings = true}),
              "From s Wed Jan 3 01:05:34 1996\r\nDate: Wed, 3 Jan 1996 01:05:34 +0100\r\n\r\nb\r\n");
    EXPECT_EQ(lengths_, (std::vector<std::uint64_t> {72}));
}

TEST_F(MboxConverterTest, LargeInputIsCopiedExactly)
{
    // Large enough to cross the points where processed input is released.
    std::string input;
    input.reserve(40u << 20);
    for (int message = 0; input.size() < (40u << 20); ++message) {
        input += "From sender Wed Jan 3 01:05:34 1996\r\nSubject: " + std::to_string(message) + "\r\n\r\n";
        for (int line = 0; line < 100 + message % 50; ++line)
            input += "Line " + std::to_string(line) + " of a body that is long enough to matter.\r\n";
    }
    EXPECT_TRUE(convert(input, {}) == input);
    std::string bare = input;
    std::erase(bare, '\r');
    EXPECT_TRUE(convert(bare, {.lineEndings = true}) == input);
}

TEST_F(MboxConverterTest, ReadsInputThatCannotBeMapped)
{
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { writeFile(fifo, "From a\rb\r"); });
    setOptions({.lineEndings = true});
    writeFile(path("out"), "");
    std::string error;
    EXPECT_TRUE(convertMbox(fifo, path("out"), error)) << error;
    writer.join();
    EXPECT_EQ(readFile(path("out")), "From a\r\nb\r\n");
}

TEST_F(MboxConverterTest, ReportsUnreadableInputAndUnopenableOutput)
{
    std::string error;
    EXPECT_FALSE(convertMbox(path("nothing"), path("out"), error));
    EXPECT_EQ(error, "\"" + path("nothing") + "\" not found");

    error.clear();
    EXPECT_FALSE(convertMbox(dir_, path("out"), error)) << "a folder cannot be read";
    EXPECT_EQ(error, "\"" + dir_ + "\" not found");

    writeFile(path("in"), "From a\n");
    error.clear();
    EXPECT_FALSE(convertMbox(path("in"), path("missing"), error));
    EXPECT_EQ(error, "Could not open \"" + path("missing") + "\"");
    EXPECT_NE(::access(path("missing").c_str(), F_OK), 0) << "the output must not be created";

    // The text is looked up before its placeholder is filled.
    setTranslator([](std::string_view key) {
        return key == "Could not open \"%@\"" ? std::string("Ouverture impossible : %@") : std::string(key);
    });
    EXPECT_FALSE(convertMbox(path("in"), path("missing"), error));
    EXPECT_EQ(error, "Ouverture impossible : " + path("missing"));
}

// Converts in a child process whose file size limit is `limit` bytes (SIGXFSZ ignored,
// so that the write fails with EFBIG). Returns "true:" or "false:" and the error text.
std::string convertWithSizeLimit(const std::string& in, const std::string& out, rlim_t limit)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit rlimitValue {limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rlimitValue);
        std::string error;
        const bool ok = convertMbox(in, out, error);
        const std::string report = (ok ? "true:" : "false:") + error;
        (void)!::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char chunk[512];
    for (ssize_t count; (count = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
        report.append(chunk, static_cast<std::size_t>(count));
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return report;
}

TEST_F(MboxConverterTest, FailedWriteStopsAndKeepsEarlierMessages)
{
    setOptions({.lineEndings = true, .emptyLines = true});
    const std::string failure = "false:Could not write to \"" + path("out") + "\": File too large";

    // The limit falls exactly after the second message.
    const std::string first = "From a\nfirst message\n";
    const std::string second = "From b\nsecond message\n";
    const auto converted = [](std::string text) {
        std::string out;
        for (char c : text)
            out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return out + "\r\n";
    };
    writeFile(path("in"), first + second + "From c\nthird message\nFrom d\nfourth\n");
    writeFile(path("out"), "");
    EXPECT_EQ(convertWithSizeLimit(path("in"), path("out"), converted(first).size() + converted(second).size()), failure);
    EXPECT_EQ(readFile(path("out")), converted(first) + converted(second));

    // A long mailbox that fails far into the file keeps everything up to the limit intact.
    std::string input;
    std::string expected;
    for (int message = 0; input.size() < (2u << 20); ++message) {
        const std::string text = "From s" + std::to_string(message) + "\nSubject: " + std::string(message % 900, 'x') + "\n\nbody\n";
        input += text;
        expected += converted(text);
    }
    writeFile(path("in"), input);
    writeFile(path("out"), "");
    const rlim_t limit = 1234567;
    EXPECT_EQ(convertWithSizeLimit(path("in"), path("out"), limit), failure);
    const std::string written = readFile(path("out"));
    EXPECT_EQ(written.size(), limit);
    EXPECT_TRUE(written == expected.substr(0, limit)) << "the file must hold exactly the start of the conversion";
}

} // namespace
} // namespace tarnwick
