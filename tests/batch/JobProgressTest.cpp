// What a job tells its front end besides its texts: where it is (the file under way
// of the files counted before the walk, and the bytes of that file), and each line it
// logs, which still goes to the log as before.
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

// Each status text is followed by the next file's start (0 of its size) and, once it is
// done, by its end (all of its size); the number of files counted before the walk is
// the number of files the walk takes up, with or without Eudora's records.
TEST_F(JobProgressTest, FileOfFilesAndItsBytes)
{
    const std::string made = path("made");
    std::filesystem::create_directories(made + "/Sub");
    write(made + "/In", "From a\n\nbody\n");
    write(made + "/Sub/Out", "From b\n\nmore body text\n");
    write(made + "/Empty", "");
    write(made + "/Notes.txt", "not a mailbox\n");
    ASSERT_EQ(::symlink("In", (made + "/Link").c_str()), 0);
    struct Case {
        std::string name;
        std::string source;
        bool records;
        std::size_t files;
    };
    std::vector<Case> cases = {
        {"made folder", made, false, 4},
        {"made folder, records", made, true, 4},
        {"single file", made + "/Sub/Out", false, 1},
        {"Windows folder, records", test::fixtureFolder(test::kWindowsFixture), true, 0},
        {"Windows folder", test::fixtureFolder(test::kWindowsFixture), false, 0},
        {"Mac folder, records", test::fixtureFolder(test::kMacFixture), true, 0},
    };
    if (const std::optional<std::string> samples = test::realSamplesFolder()) {
        cases.push_back({"real Windows sample, records", *samples + "Windows Eudora 7.1 Folder", true, 0});
        cases.push_back({"real Mac sample, records", *samples + "Mac Eudora 6.2.4 Folder", true, 0});
    }
    int run = 0;
    for (const auto& c : cases) {
        const std::string destination = path("out" + std::to_string(++run));
        std::filesystem::create_directories(destination);
        store().setVolatile(keys::kSourcePath, c.source);
        store().setVolatile(keys::kDestinationPath, destination + "/");
        store().setVolatile(keys::kUseEudoraRecords, c.records);
        store().setVolatile(keys::kKeepGoing, true);
        Recorder reporter;
        const std::atomic<bool> canceled{false};
        runBatchJob(reporter, canceled);
        EXPECT_EQ(reporter.final, "Completed") << c.name;

        std::size_t statuses = 0;
        for (const Event& event : reporter.events)
            statuses += std::holds_alternative<Status>(event);
        if (c.files > 0) {
            EXPECT_EQ(statuses, c.files) << c.name;
        }
        EXPECT_GT(statuses, 0u) << c.name;
        std::size_t file = 0;
        bool started = false;
        for (std::size_t i = 0; i < reporter.events.size(); ++i) {
            const Event& event = reporter.events[i];
            if (std::holds_alternative<Status>(event)) {
                EXPECT_FALSE(started) << c.name << ": file " << file << " never said done";
                ++file;
                ASSERT_LT(i + 1, reporter.events.size()) << c.name;
                const auto* start = std::get_if<JobProgress>(&reporter.events[i + 1]);
                ASSERT_TRUE(start) << c.name << ": no start after " << std::get<Status>(event).text;
                EXPECT_EQ(start->file, file) << c.name;
                EXPECT_EQ(start->files, statuses) << c.name;
                EXPECT_EQ(start->bytesDone, 0u) << c.name;
                ++i;
                started = true;
            } else if (const auto* progress = std::get_if<JobProgress>(&event)) {
                ASSERT_TRUE(started) << c.name;
                EXPECT_EQ(progress->file, file) << c.name;
                EXPECT_EQ(progress->files, statuses) << c.name;
                if (progress->bytesDone == progress->bytes)
                    started = false;
                else
                    EXPECT_LT(progress->bytesDone, progress->bytes) << c.name;
            }
        }
        EXPECT_FALSE(started) << c.name << ": the last file never said done";
    }
}

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
