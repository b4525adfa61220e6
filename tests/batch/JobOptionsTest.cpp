// The job's options: read from the store per key, and a charset candidate list that
// belongs to one job (built once, from that job's names, logged once).
#include "ByteDiff.h"
#include "batch/BatchJob.h"
#include "batch/ConversionSettings.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarnwick {
namespace {

struct Reporter : BatchReporter {
    void statusText(const std::string&) override {}
    void finalText(const std::string& text) override { final = text; }
    std::string final;
};

class JobOptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-job.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        store().setDefaults({});
        store().setPersistentBackend(makeMemorySettingsBackend());
        setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    }
    void TearDown() override
    {
        setLogSink({});
        store().clearVolatile();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    static SettingsStore& store() { return SettingsStore::instance(); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string read(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Converts the folder "in" into a fresh folder `out` with these charset names.
    std::string runJob(const std::string& out, std::vector<std::string> names)
    {
        std::filesystem::create_directories(path(out));
        store().setVolatile(keys::kSourcePath, path("in"));
        store().setVolatile(keys::kDestinationPath, path(out));
        store().setVolatile(keys::kCharsetNames, std::move(names));
        Reporter reporter;
        const std::atomic<bool> canceled{false};
        runBatchJob(reporter, canceled);
        return reporter.final;
    }

    std::string dir_;
    std::vector<std::string> log_;
};

TEST_F(JobOptionsTest, EachKeyReadsIntoItsOption)
{
    EXPECT_EQ(readConversionOptions(store()).charsetNames, std::vector<std::string>{}) << "missing key: no names";
    const struct {
        std::string_view key;
        bool ConversionOptions::*option;
    } flags[] = {
        {keys::kConvertEncodings, &ConversionOptions::convertEncodings},
        {keys::kProcessEudoraTags, &ConversionOptions::processEudoraTags},
        {keys::kConvertLineEndings, &ConversionOptions::crlfLineEndings},
        {keys::kComplementDateHeaders, &ConversionOptions::complementDateHeaders},
        {keys::kAddEmptyLines, &ConversionOptions::addEmptyLines},
        {keys::kReplaceNBSPWithSpaceInMacJapanese, &ConversionOptions::replaceNoBreakSpaces},
        {keys::kPutBackAttachments, &ConversionOptions::putBackAttachments},
    };
    for (const auto& flag : flags) {
        store().clearVolatile();
        store().setVolatile(flag.key, true);
        const ConversionOptions options = readConversionOptions(store());
        for (const auto& other : flags)
            EXPECT_EQ(options.*other.option, other.key == flag.key) << flag.key << " set, " << other.key << " read";
    }
    // The window stores the identifier's 32-bit pattern as a signed number.
    store().setVolatile(keys::kMboxEncoding, std::int64_t{-2147483647});
    store().setVolatile(keys::kCharsetNames, std::vector<std::string>{"utf-8", ""});
    const ConversionOptions options = readConversionOptions(store());
    EXPECT_EQ(options.sourceEncoding, kEncodingMacJapanese);
    EXPECT_EQ(options.charsetNames, (std::vector<std::string>{"utf-8", ""}));
}

// Only Thunderbird's layout gives LF lines and Thunderbird's headers; the others keep
// the headers every mbox reader takes.
TEST_F(JobOptionsTest, LayoutDecidesThunderbirdsHeaders)
{
    const struct Case {
        const char* layout;
        bool lf;
        ExtraStatusHeaders extra;
    } cases[] = {
        {nullptr, false, ExtraStatusHeaders::None},
        {"flat", false, ExtraStatusHeaders::None},
        {"tree", false, ExtraStatusHeaders::None},
        {"thunderbird", true, ExtraStatusHeaders::Thunderbird},
    };
    for (const Case& c : cases) {
        store().clearVolatile();
        if (c.layout)
            store().setVolatile(keys::kOutputLayout, std::string(c.layout));
        const ConversionOptions options = readConversionOptions(store());
        EXPECT_EQ(options.lfLineEndings, c.lf) << (c.layout ? c.layout : "none");
        EXPECT_EQ(options.extraStatusHeaders, c.extra) << (c.layout ? c.layout : "none");
    }
}

TEST_F(JobOptionsTest, OneCandidateListPerJobFromThatJobsNames)
{
    std::filesystem::create_directories(path("in"));
    for (const char* name : {"a", "b"})
        std::ofstream(path("in/") + name, std::ios::binary) << "From x\nSubject: caf\xE9\n\nbody\n";
    store().setVolatile(keys::kConvertEncodings, true);
    store().setVolatile(keys::kMboxEncoding, std::int64_t{kEncodingISOLatin1});

    ASSERT_EQ(runJob("out1", {"bogus", "iso-8859-1"}), "Completed");
    EXPECT_EQ(log_, std::vector<std::string>{"'bogus' is not supported"}) << "built once for the two files";
    EXPECT_SAME_BYTES(read("out1/a"), "From x\nSubject: caf\xE9\n\nbody\n");

    // The next job sees its own names, with nothing cleared in between.
    log_.clear();
    ASSERT_EQ(runJob("out2", {"utf-8"}), "Completed");
    EXPECT_TRUE(log_.empty());
    EXPECT_SAME_BYTES(read("out2/a"), "From x\nSubject: caf\xC3\xA9\n\nbody\n");
    EXPECT_SAME_BYTES(read("out2/b"), read("out2/a"));
}

} // namespace
} // namespace tarnwick
