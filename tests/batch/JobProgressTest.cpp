// What a job tells its front end besides its texts: where it is (the file under way
// of the files counted before the walk, and the bytes of that file), and each line it
// logs, which still goes to the log as before.
#include "CaseName.h"
#include "EudoraFolders.h"
#include "batch/BatchJob.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <variant>

namespace tarnwick {
namespace {

struct Status {
    std::string text;
};
struct Logged {
    std::string line;
};
using Event = std::variant<Status, JobProgress, Logged>;

// Every call in the order it came.
struct Recorder : BatchReporter {
    void statusText(const std::string& text) override { events.push_back(Status{text}); }
    void progress(const JobProgress& progress) override { events.push_back(progress); }
    void logLine(const std::string& line) override { events.push_back(Logged{line}); }
    void finalText(const std::string& text) override { final = text; }
    std::vector<Event> events;
    std::string final;
};

class JobProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-progress.XXXXXX";
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
    static void write(const std::string& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

    std::string dir_;
    std::vector<std::string> log_;
};

// A source of a progress case: a folder made by the test (or one file of it), a fixture
// folder, or a real sample (skipped where there is none).
struct ProgressCase {
    const char* name;
    const char* source; // "made/..." under the test's folder, else a fixture or a sample
    bool records;
    std::size_t files; // the files the job takes up; 0: not counted here
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

const ProgressCase kProgressCases[] = {
    {"made folder", "made", false, 4},
    {"made folder, records", "made", true, 4},
    {"single file", "made/Sub/Out", false, 1},
    {"Windows folder, records", test::kWindowsFixture, true, 0},
    {"Windows folder", test::kWindowsFixture, false, 0},
    {"Mac folder, records", test::kMacFixture, true, 0},
    {"real Windows sample, records", "Windows Eudora 7.1 Folder", true, 0},
    {"real Mac sample, records", "Mac Eudora 6.2.4 Folder", true, 0},
};

class JobProgressCases : public JobProgressTest, public testing::WithParamInterface<ProgressCase> {
protected:
    // The case's source; empty for a real sample this machine does not have.
    std::string source(const ProgressCase& c)
    {
        const std::string name = c.source;
        if (name.rfind("made", 0) == 0) {
            const std::string made = path("made");
            std::filesystem::create_directories(made + "/Sub");
            write(made + "/In", "From a\n\nbody\n");
            write(made + "/Sub/Out", "From b\n\nmore body text\n");
            write(made + "/Empty", "");
            write(made + "/Notes.txt", "not a mailbox\n");
            EXPECT_EQ(::symlink("In", (made + "/Link").c_str()), 0);
            return path(name);
        }
        if (name == test::kWindowsFixture || name == test::kMacFixture)
            return test::fixtureFolder(name);
        const std::optional<std::string> samples = test::realSamplesFolder();
        return samples ? *samples + name : std::string();
    }
};

// Each status text is followed by the next file's start (0 of its size) and, once it is
// done, by its end (all of its size); the number of files counted before the walk is
// the number of files the walk takes up, with or without Eudora's records.
TEST_P(JobProgressCases, FileOfFilesAndItsBytes)
{
    const ProgressCase& c = GetParam();
    const std::string from = source(c);
    if (from.empty())
        GTEST_SKIP() << "no real Eudora samples on this machine";
    const std::string destination = path("out");
    std::filesystem::create_directories(destination);
    store().setVolatile(keys::kSourcePath, from);
    store().setVolatile(keys::kDestinationPath, destination + "/");
    store().setVolatile(keys::kUseEudoraRecords, c.records);
    store().setVolatile(keys::kKeepGoing, true);
    Recorder reporter;
    const std::atomic<bool> canceled{false};
    runBatchJob(reporter, canceled);
    EXPECT_EQ(reporter.final, "Completed");

    std::size_t statuses = 0;
    for (const Event& event : reporter.events)
        statuses += std::holds_alternative<Status>(event);
    if (c.files > 0) {
        EXPECT_EQ(statuses, c.files);
    }
    EXPECT_GT(statuses, 0u);
    std::size_t file = 0;
    bool started = false;
    for (std::size_t i = 0; i < reporter.events.size(); ++i) {
        const Event& event = reporter.events[i];
        if (std::holds_alternative<Status>(event)) {
            EXPECT_FALSE(started) << "file " << file << " never said done";
            ++file;
            ASSERT_LT(i + 1, reporter.events.size());
            const auto* start = std::get_if<JobProgress>(&reporter.events[i + 1]);
            ASSERT_TRUE(start) << "no start after " << std::get<Status>(event).text;
            EXPECT_EQ(start->file, file);
            EXPECT_EQ(start->files, statuses);
            EXPECT_EQ(start->bytesDone, 0u);
            ++i;
            started = true;
        } else if (const auto* progress = std::get_if<JobProgress>(&event)) {
            ASSERT_TRUE(started);
            EXPECT_EQ(progress->file, file);
            EXPECT_EQ(progress->files, statuses);
            if (progress->bytesDone == progress->bytes)
                started = false;
            else
                EXPECT_LT(progress->bytesDone, progress->bytes);
        }
    }
    EXPECT_FALSE(started) << "the last file never said done";
}

INSTANTIATE_TEST_SUITE_P(Cases, JobProgressCases, testing::ValuesIn(kProgressCases), testSupport::NamedByLabel());

// The job's log lines reach the reporter too (escaped, as stderr shows them), in their
// place among the status texts, and go to the log as they always did.
TEST_F(JobProgressTest, LoggedLinesReachTheReporter)
{
    const std::string source = path("in");
    std::filesystem::create_directories(source);
    write(source + "/A", "From a\n\nbody\n");
    write(source + "/B\tC", "not a mailbox\n");
    ASSERT_EQ(::symlink("A", (source + "/Link").c_str()), 0);
    std::filesystem::create_directories(path("out"));
    store().setVolatile(keys::kSourcePath, source);
    store().setVolatile(keys::kDestinationPath, path("out"));
    Recorder reporter;
    const std::atomic<bool> canceled{false};
    runBatchJob(reporter, canceled);
    EXPECT_EQ(reporter.final, "Completed");
    std::vector<std::string> logged;
    for (const Event& event : reporter.events)
        if (const auto* line = std::get_if<Logged>(&event))
            logged.push_back(line->line);
    const std::vector<std::string> expected = {"'" + source + "/B\\tC' is not Mbox format", "'Link' is a symbolic link: passed over"};
    std::vector<std::string> sorted = logged;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected);
    ASSERT_EQ(log_.size(), 2u) << "the log itself keeps every line";
    EXPECT_TRUE(std::count(log_.begin(), log_.end(), "'" + source + "/B\tC' is not Mbox format") == 1);
    // A line logged after the job is nobody's but the log's.
    logMessage("after");
    EXPECT_EQ(log_.back(), "after");
    EXPECT_EQ(
        std::count_if(reporter.events.begin(), reporter.events.end(), [](const Event& e) { return std::holds_alternative<Logged>(e); }), 2);
}

} // namespace
} // namespace tarnwick
