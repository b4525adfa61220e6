#include "app/JobRunner.h"

#include "batch/BatchJob.h"
#include "batch/BatchReporter.h"
#include "platform/Localization.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <exception>

namespace tarnwick {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Tarnwick", text);
}

QString count(std::uint64_t value)
{
    return QLocale().toString(static_cast<qulonglong>(value));
}

// "Converted 12 mailboxes, 34,567 messages; 3 messages left unconverted; 1 failed".
QString resultHeadline(const JobSummary& summary)
{
    const std::uint64_t mailboxes = summary.mailboxes.size();
    const std::uint64_t messages = summary.messages();
    QString text = tr("Converted %1, %2")
                       .arg(mailboxes == 1 ? tr("1 mailbox") : tr("%1 mailboxes").arg(count(mailboxes)),
                            messages == 1 ? tr("1 message") : tr("%1 messages").arg(count(messages)));
    if (const std::uint64_t left = summary.unconvertedMessages(); left > 0)
        text += QLatin1String("; ") + (left == 1 ? tr("1 message left unconverted") : tr("%1 messages left unconverted").arg(count(left)));
    if (summary.attachments.missing > 0)
        text += QLatin1String("; ") + tr("attachments missing: %1").arg(count(summary.attachments.missing));
    if (!summary.failures.empty())
        text += QLatin1String("; ") + tr("failed: %1").arg(count(summary.failures.size()));
    return text;
}

// Emits the job's texts from the worker thread; the connections to receivers on the
// UI thread are queued, and queued calls run in emission order, so the last status
// text is shown before the end.
class SignallingReporter final : public BatchReporter {
public:
    explicit SignallingReporter(JobRunner& runner)
        : m_runner(runner)
    {
    }

    void statusText(const std::string& text) override { emit m_runner.statusChanged(QString::fromStdString(text)); }

    void progress(const JobProgress& progress) override
    {
        emit m_runner.progressChanged(progress.file, progress.files, progress.bytesDone, progress.bytes);
    }

    void logLine(const std::string& line) override { emit m_runner.logged(QString::fromStdString(line)); }

    void summary(const JobSummary& summary) override
    {
        QStringList lines;
        for (const std::string& line : summaryLines(summary))
            lines << QString::fromStdString(line);
        emit m_runner.resultReady(resultHeadline(summary), needsAttention(summary));
        emit m_runner.summaryReady(lines.join(QLatin1Char('\n')));
    }

    void finalText(const std::string& text) override
    {
        m_ended = true;
        emit m_runner.finished(QString::fromStdString(text));
    }

    bool ended() const { return m_ended; }

private:
    JobRunner& m_runner;
    bool m_ended = false;
};

} // namespace

JobRunner::JobRunner(QObject* parent)
    : QObject(parent)
{
    connect(this, &JobRunner::finished, this, &JobRunner::joinEndedJob);
}

JobRunner::~JobRunner()
{
    if (m_thread.joinable()) {
        m_cancelRequested = true;
        m_thread.join();
    }
}

void JobRunner::start()
{
    if (m_thread.joinable()) // a previous job has delivered its end already
        m_thread.join();
    m_cancelRequested = false;
    m_stopAtOnce = false;
    m_running = true;
    m_thread = std::thread(&JobRunner::run, this);
}

void JobRunner::run()
{
    SignallingReporter reporter(*this);
    // An exception must not end the process from a worker thread, nor leave the status
    // sheet up for good: it becomes the job's error text.
    try {
        runBatchJob(reporter, m_cancelRequested, m_stopAtOnce);
    } catch (const std::exception& error) {
        if (!reporter.ended())
            reporter.finalText(translate("Error: %1", {error.what()}));
    }
}

void JobRunner::joinEndedJob()
{
    m_cancelRequested = false;
    m_stopAtOnce = false;
    m_running = false;
    // The job emitted its end as its last act; its thread is ending.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

} // namespace tarnwick
