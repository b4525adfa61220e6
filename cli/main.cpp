// tarnwick-cli: runs the batch job without a window.

#include "batch/BatchJob.h"
#include "batch/BatchReporter.h"
#include "batch/ConversionUpload.h"
#include "batch/ThunderbirdProfile.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleProgress.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "cli/ImapCommand.h"
#include "platform/UploadFiles.h"
#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "settings/DefaultSettings.h"
#include "settings/EncodingMenuOrder.h"
#include "settings/SettingsKeys.h"

#include <QFileInfo>
#include <QStringList>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCanceled = 130;

// Written by the signal handler: lock-free atomic stores are async-signal-safe.
// The first SIGINT, SIGTERM or SIGHUP lets the file under way finish; a second one
// stops it at once (its output removed).
std::atomic<bool> hasCanceled{false};
std::atomic<bool> stopsAtOnce{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void requestCancel(int)
{
    if (hasCanceled.exchange(true, std::memory_order_relaxed))
        stopsAtOnce.store(true, std::memory_order_relaxed);
}

void installSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = requestCancel;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A closed reader of our status lines, or a file size limit, must end in a failed
    // write (EPIPE, EFBIG) that the job reports and cleans up, never in sudden death.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

// Descriptors 0, 1 and 2 closed by whoever started us would otherwise be handed out
// to the first files we open, and status or log lines would go into an output.
void openStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free descriptor is taken, and the lower ones are open by now.
        if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            _exit(kExitError); // nowhere safe to write: no output may be created
    }
}

void writeLine(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Status and summary lines on stderr; on a terminal (and not --quiet) a progress
// line below them, redrawn in place.
class ConsoleReporter : public tarnwick::BatchReporter {
public:
    ConsoleReporter(bool quiet, tarnwick::cli::ConsoleProgress& progress) : quiet_(quiet), progress_(progress) {}
    void statusText(const std::string& text) override
    {
        if (!quiet_)
            progress_.writeLine(text);
    }
    void progress(const tarnwick::JobProgress& progress) override { progress_.update(progress); }
    void summary(const tarnwick::JobSummary& summary) override
    {
        progress_.clear();
        if (quiet_)
            return;
        for (const std::string& line : tarnwick::summaryLines(summary))
            writeLine(stderr, line);
    }
    void finalText(const std::string& text) override
    {
        progress_.clear();
        writeLine(stdout, text);
    }

private:
    bool quiet_;
    tarnwick::cli::ConsoleProgress& progress_;
};

// Log lines take a shown progress line away first, then go out as ever.
void sendLogPastProgress(tarnwick::cli::ConsoleProgress& progress)
{
    if (!progress.shown())
        return;
    const std::string prefix = "tarnwick[" + std::to_string(::getpid()) + "]: ";
    tarnwick::setLogSink(
        [&progress, prefix](std::string_view message) { progress.writeLine(prefix + tarnwick::escapeControlCharacters(message)); });
}

// The progress line is drawn only for a person watching: stderr a terminal that can
// move the cursor back, and no --quiet.
bool showsProgress(bool quiet)
{
    const char* term = std::getenv("TERM");
    return !quiet && ::isatty(STDERR_FILENO) == 1 && !(term && std::string_view(term) == "dumb");
}

// Installs Qt's translation of the user's locale when one is found beside the
// program, in its install tree or in the build tree; without one the English texts
// are shown.
std::unique_ptr<QTranslator> loadTranslator()
{
    // The running binary itself, not argv[0]: started through PATH, argv[0] has no folder.
    const QString programDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    const QStringList folders = {
        programDir + QStringLiteral("/translations"),
        programDir + QStringLiteral("/../share/tarnwick/translations"),
        programDir + QStringLiteral("/../app"),
    };
    auto translator = std::make_unique<QTranslator>();
    for (const QString& folder : folders) {
        if (translator->load(QLocale(), QStringLiteral("tarnwick"), QStringLiteral("_"), folder))
            return translator;
    }
    return nullptr;
}

void installTranslator(std::unique_ptr<QTranslator> translator)
{
    if (!translator)
        return;
    std::shared_ptr<QTranslator> shared(std::move(translator));
    tarnwick::setTranslator([shared](std::string_view key) {
        const QByteArray source(key.data(), static_cast<qsizetype>(key.size()));
        const QString text = shared->translate("Tarnwick", source.constData());
        return text.isEmpty() ? std::string(key) : text.toStdString();
    });
}

int usageError(const std::string& message)
{
    writeLine(stderr, "tarnwick-cli: " + message);
    writeLine(stderr, "Try 'tarnwick-cli --help' for more information.");
    return kExitUsage;
}

void listEncodings()
{
    for (const auto& entry : tarnwick::encodingMenuEntries())
        writeLine(stdout, std::to_string(entry.encoding) + '\t' + entry.name);
}

// Converts the source for the upload, its lines and summary on standard error; the
// job's result only when it failed and the upload has not stopped (the upload's result
// is then the run's last line). Returns the exit status when the run ends here, else -1
// (the job's final line in conversionError when it went past failed mailboxes).
int convertForUpload(const tarnwick::cli::CommandLine& line, tarnwick::SettingsStore& store, tarnwick::ConversionUpload& upload,
                     std::string& conversionError)
{
    for (const auto& [key, value] : line.settings)
        store.setVolatile(key, value);
    tarnwick::cli::ConsoleProgress progress(stderr, false);
    ConsoleReporter reporter(line.quiet, progress);
    const tarnwick::UploadConversion conversion = upload.convert(store, line.operands[0], reporter, hasCanceled, stopsAtOnce);
    if (conversion.converted) {
        if (conversion.outcome == tarnwick::JobOutcome::Failed)
            conversionError = conversion.finalText;
        return -1;
    }
    if (!upload.stopped())
        writeLine(stdout, conversion.finalText);
    return conversion.outcome == tarnwick::JobOutcome::Canceled ? kExitCanceled : kExitError;
}

// --imap: a Maildir tree is uploaded as it is; a Eudora mailbox or folder is converted,
// its messages uploaded as the conversion writes them.
int uploadIntoMailAccount(const tarnwick::cli::CommandLine& line, tarnwick::SettingsStore& store)
{
    if (const std::string error = tarnwick::cli::imapUsageError(line); !error.empty())
        return usageError(error);
    const std::string source = tarnwick::standardizePath(line.operands[0]);
    if (tarnwick::isMaildirTree(source))
        return tarnwick::cli::runImapUpload(line, source, hasCanceled);
    return tarnwick::cli::runImapUploadBeside(line, tarnwick::cli::stagingFolder(line, source), hasCanceled,
                                              [&](tarnwick::ConversionUpload& upload, std::string& conversionError) {
                                                  return convertForUpload(line, store, upload, conversionError);
                                              });
}

// The process's exit status for how the job ended.
int exitCode(tarnwick::JobOutcome outcome)
{
    switch (outcome) {
    case tarnwick::JobOutcome::Completed:
        return kExitCompleted;
    case tarnwick::JobOutcome::Canceled:
        return kExitCanceled;
    case tarnwick::JobOutcome::Failed:
        break;
    }
    return kExitError;
}

// --into-thunderbird: converted in Thunderbird's layout into a hidden folder inside the
// Local Folders of the default profile (or the one named), then renamed into place as a new top folder. Nothing
// is placed unless the whole job completed.
int convertIntoThunderbird(const tarnwick::cli::CommandLine& line, tarnwick::SettingsStore& store)
{
    const tarnwick::ProfileSearch search = tarnwick::findThunderbirdProfile(tarnwick::homeDirectory(), line.thunderbirdProfile);
    if (!search.profile) {
        writeLine(stdout, tarnwick::translate("Error: %1", {search.problem}));
        return kExitError;
    }
    store.setVolatile(tarnwick::keys::kSourcePath, tarnwick::SettingValue(line.operands[0]));
    for (const auto& [key, value] : line.settings)
        store.setVolatile(key, value);
    tarnwick::cli::ConsoleProgress progress(stderr, showsProgress(line.quiet));
    sendLogPastProgress(progress);
    // The result line waits for the announcement of where the folder went.
    class Reporter : public ConsoleReporter {
    public:
        using ConsoleReporter::ConsoleReporter;
        void finalText(const std::string& text) override { final = text; }
        std::string final;
    } reporter(line.quiet, progress);
    const tarnwick::PlacementOutcome placed = tarnwick::runJobIntoThunderbird(*search.profile, reporter, hasCanceled, stopsAtOnce);
    tarnwick::setLogSink({});
    if (!placed.placedFolder.empty() && !line.quiet)
        writeLine(stderr,
                  tarnwick::translate("Placed into Thunderbird: Local Folders > %1 (\"%2\")",
                                      {tarnwick::fileName(placed.placedFolder), placed.placedFolder + ".sbd"}));
    reporter.ConsoleReporter::finalText(reporter.final);
    return exitCode(placed.outcome);
}

} // namespace

int main(int argc, char** argv)
{
    openStandardDescriptors();
    installSignalHandlers();
    tzset();
    installTranslator(loadTranslator());

    const auto [line, error] = tarnwick::cli::parseCommandLine(argc, argv);
    if (!line)
        return usageError(error);
    if (line->help) {
        std::fputs(tarnwick::cli::usageText().c_str(), stdout);
        return kExitCompleted;
    }
    if (line->version) {
        writeLine(stdout, std::string("tarnwick-cli ") + TARNWICK_VERSION);
        return kExitCompleted;
    }
    if (line->listEncodings) {
        listEncodings();
        return kExitCompleted;
    }

    // Unset options read the user's saved values, then the registered defaults. This
    // run's values live in the volatile layer only: the user's store is never written.
    tarnwick::SettingsStore& store = tarnwick::SettingsStore::instance();
    store.setPersistentBackend(tarnwick::makeUserSettingsBackend());
    tarnwick::registerDefaultSettings(store);
    if (!line->imapAddress.empty())
        return uploadIntoMailAccount(*line, store);
    if (line->intoThunderbird)
        return convertIntoThunderbird(*line, store);
    store.setVolatile(tarnwick::keys::kSourcePath, tarnwick::SettingValue(line->operands[0]));
    store.setVolatile(tarnwick::keys::kDestinationPath, tarnwick::SettingValue(line->operands[1]));
    for (const auto& [key, value] : line->settings)
        store.setVolatile(key, value);

    tarnwick::cli::ConsoleProgress progress(stderr, showsProgress(line->quiet));
    sendLogPastProgress(progress);
    ConsoleReporter reporter(line->quiet, progress);
    const tarnwick::JobOutcome outcome = tarnwick::runBatchJob(reporter, hasCanceled, stopsAtOnce);
    tarnwick::setLogSink({});
    return exitCode(outcome);
}
