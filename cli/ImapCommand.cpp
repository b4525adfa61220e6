#include "cli/ImapCommand.h"

#include "batch/ConversionUpload.h"
#include "batch/ImapTarget.h"
#include "batch/ImapUpload.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/UploadFiles.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnwick::cli {

namespace {

void printLine(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

class ConsoleUploadReporter : public UploadReporter {
public:
    explicit ConsoleUploadReporter(bool quiet) : quiet_(quiet) {}
    void statusText(const std::string& text) override
    {
        if (!quiet_)
            printLine(stderr, text);
    }
    void logLine(const std::string& line) override { printLine(stderr, escapeControlCharacters(line)); }

private:
    bool quiet_;
};

// Asks on the terminal with echo off; none without a terminal.
std::optional<std::string> askPassword(const std::string& prompt)
{
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios saved{};
    const bool isTerminal = tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    (void)!write(tty, prompt.data(), prompt.size());
    std::string password;
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n')
        password.push_back(c);
    if (isTerminal)
        tcsetattr(tty, TCSAFLUSH, &saved);
    (void)!write(tty, "\n", 1);
    close(tty);
    return password;
}

// Waits between reconnections, in milliseconds ("500,1000"), for tests and slow links.
std::optional<std::vector<int>> retryDelays()
{
    const char* text = std::getenv("TARNWICK_IMAP_RETRY_DELAYS");
    if (!text || !*text)
        return std::nullopt;
    std::vector<int> delays;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == ',' || *p == '\0') {
            if (item.empty() || item.size() > 7)
                return std::nullopt;
            delays.push_back(std::stoi(item));
            item.clear();
            if (*p == '\0')
                break;
        } else if (*p >= '0' && *p <= '9') {
            item.push_back(*p);
        } else {
            return std::nullopt;
        }
    }
    return delays;
}

} // namespace

std::string stagingFolder(const CommandLine& line, const std::string& source)
{
    // The account and folder, not the port or the way in: a run through another port
    // goes on with the same files.
    std::string account;
    if (const auto parsed = parseImapTarget(line.imapAddress); parsed.target) {
        account = parsed.target->user + '@' + parsed.target->host;
        for (const std::string& component : parsed.target->topFolder)
            account += '/' + component;
    }
    return uploadStagingFolder(account, source);
}

std::string imapUsageError(const CommandLine& line)
{
    const ImapTargetResult parsed = parseImapTarget(line.imapAddress);
    if (!parsed.target)
        return "--imap: " + parsed.error;
    if (line.imapPlain && parsed.target->security != ImapSecurity::StartTls)
        return "--imap-plain goes with an imap:// address";
    return {};
}

namespace {

// The request for uploading `source` into the account the command line names; none, with
// the exit status, on a usage error or without a password.
std::optional<UploadRequest> uploadRequest(const CommandLine& line, const std::string& source, int& status)
{
    if (const std::string error = imapUsageError(line); !error.empty()) {
        printLine(stderr, "tarnwick-cli: " + error);
        status = 2;
        return std::nullopt;
    }
    const ImapTarget target = *parseImapTarget(line.imapAddress).target;

    UploadRequest request;
    request.account.host = target.host;
    request.account.port = target.port;
    request.account.security = line.imapPlain ? ImapSecurity::Plain : target.security;
    request.account.user = target.user;
    request.account.extraCaFile = line.imapCaFile;
    request.topFolder = target.topFolder;
    request.stagingRoot = source;
    request.journalPath = uploadJournalPath(target.user, target.host);
    if (line.imapConnections > 0)
        request.connections = line.imapConnections;
    if (const auto delays = retryDelays())
        request.retryDelaysMs = *delays;

    if (const char* password = std::getenv("TARNWICK_IMAP_PASSWORD"); password && *password) {
        request.account.password = password;
    } else if (auto typed = askPassword(translate("Password for %1 at %2: ", {target.user, target.host}))) {
        request.account.password = *typed;
    } else {
        printLine(stderr, "tarnwick-cli: " + translate("no password: set TARNWICK_IMAP_PASSWORD or run on a terminal"));
        printLine(stdout, translate("Error: %1", {translate("no password")}));
        status = 1;
        return std::nullopt;
    }
    return request;
}

int uploadResult(const CommandLine& line, const UploadSummary& summary, bool printCompleted)
{
    if (!line.quiet) {
        for (const std::string& text : uploadSummaryLines(summary))
            printLine(stderr, text);
    }
    if (summary.canceled) {
        printLine(stdout, translate("Canceled"));
        return 130;
    }
    if (!summary.stopReason.empty()) {
        printLine(stdout, translate("Error: %1", {summary.stopReason}));
        return 1;
    }
    if (summary.refused + summary.failed > 0) {
        const std::uint64_t left = summary.refused + summary.failed;
        printLine(stdout,
                  left == 1 ? translate("Error: 1 message was not uploaded")
                            : translate("Error: %1 messages were not uploaded", {std::to_string(left)}));
        return 1;
    }
    if (printCompleted)
        printLine(stdout, translate("Completed"));
    return 0;
}

} // namespace

int runImapUpload(const CommandLine& line, const std::string& source, const std::atomic<bool>& cancel, bool printCompleted)
{
    int status = 0;
    const std::optional<UploadRequest> request = uploadRequest(line, source, status);
    if (!request)
        return status;
    ConsoleUploadReporter reporter(line.quiet);
    return uploadResult(line, uploadMaildir(*request, reporter, cancel), printCompleted);
}

int runImapUploadBeside(const CommandLine& line, const std::string& staging, const std::atomic<bool>& cancel,
                        const std::function<int(ConversionUpload&, std::string&)>& convert)
{
    int status = 0;
    std::optional<UploadRequest> request = uploadRequest(line, staging, status);
    if (!request)
        return status;
    ConsoleUploadReporter reporter(line.quiet);
    ConversionUpload upload(*request, reporter, cancel);
    if (!upload.start())
        return uploadResult(line, upload.finish(false), true);
    std::string conversionError;
    const int converted = convert(upload, conversionError);
    if (converted >= 0 && !upload.stopped()) {
        // The conversion failed: what was on its way is up, the rest is not.
        const UploadSummary summary = upload.finish(false);
        if (!line.quiet && summary.uploaded + summary.alreadyPresent > 0) {
            for (const std::string& text : uploadSummaryLines(summary))
                printLine(stderr, text);
        }
        return converted;
    }
    const int result = uploadResult(line, upload.finish(converted < 0), conversionError.empty());
    if (result != 0 || conversionError.empty())
        return result;
    // Every converted message is up; a failed mailbox, of which the messages converted before
    // it failed may be up too, goes in a run of its own once mended.
    if (!line.quiet)
        printLine(stderr, translate("The mailboxes that could not be converted were not uploaded, or only in "
                                    "part: upload each on its own once it is mended"));
    printLine(stdout, conversionError);
    return 1;
}

} // namespace tarnwick::cli
