#include "app/JobRunner.h"

#include "batch/BatchJob.h"
#include "batch/BatchReporter.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <exception>
#include <optional>

namespace tarnwick {
namespace {

QString tr(const char* text) { return QCoreApplication::translate("Tarnwick", text); }

QString count(std::uint64_t value) { return QLocale().toString(static_cast<qulonglong>(value)); }

QString messagesText(std::uint64_t messages) { return messages == 1 ? tr("1 message") : tr("%1 messages").arg(count(messages)); }

// The problems after what was converted: "; 3 messages left unconverted; ...".
QString problemsText(const JobSummary& summary)
{
    QString text;
    if (const std::uint64_t left = summary.unconvertedMessages(); left > 0)
        text += QLatin1String("; ") + (left == 1 ? tr("1 message left unconverted") : tr("%1 messages left unconverted").arg(count(left)));
    if (summary.attachments.missing > 0)
        text += QLatin1String("; ") + tr("attachments missing: %1").arg(count(summary.attachments.missing));
    return text;
}

// "Converted 12 mailboxes, 34,567 messages; 3 messages left unconverted; failed: 1".
QString resultHeadline(const JobSummary& summary)
{
    const std::uint64_t mailboxes = summary.mailboxes.size();
    QString text = tr("Converted %1, %2")
                       .arg(mailboxes == 1 ? tr("1 mailbox") : tr("%1 mailboxes").arg(count(mailboxes)), messagesText(summary.messages()))
        + problemsText(summary);
    if (!summary.failures.empty())
        text += QLatin1String("; ") + tr("failed: %1").arg(count(summary.failures.size()));
    return text;
}

// A job that kept going past failures leads with what it converted: "3 of 4 mailboxes
// converted, 1,234 messages; 1 failed (REASON)".
QString keptGoingLine(const JobSummary& summary)
{
    const std::uint64_t converted = summary.mailboxes.size();
    const std::uint64_t failed = summary.failures.size();
    QString reason = QString::fromStdString(summary.failures.front());
    if (failed > 1)
        reason += tr(", and %1 more").arg(count(failed - 1));
    return tr("%1 of %2 mailboxes converted, %3").arg(count(converted), count(converted + failed), messagesText(summary.messages()))
        + QLatin1String("; ") + tr("%1 failed (%2)").arg(count(failed), reason) + problemsText(summary);
}

// Nothing converted, nothing failed, not even an empty mailbox.
bool noMailboxFound(const JobSummary& summary)
{
    return summary.mailboxes.empty() && summary.failures.empty() && summary.emptyMailboxCount == 0 && summary.abandoned.empty();
}

// The window's result line for a job that ended with `finalText`: its headline when
// it completed; the final text, then what was converted, when not.
QString resultLine(const JobSummary& summary, const QString& finalText)
{
    if (finalText == tr("Completed"))
        return noMailboxFound(summary) ? tr("No mailbox found: nothing was converted") : resultHeadline(summary);
    if (!summary.failures.empty() && finalText.startsWith(tr("Error: %1").section(QLatin1String("%1"), 0, 0)))
        return keptGoingLine(summary);
    if (summary.mailboxes.empty())
        return finalText;
    return finalText + QLatin1String(" (") + resultHeadline(summary) + QLatin1Char(')');
}

// Emits the job's texts from the worker thread; the connections to receivers on the
// UI thread are queued, and queued calls run in emission order, so the last status
// text is shown before the end.
class SignallingReporter final : public BatchReporter {
public:
    // `clearsVolatile`: the job's own values in the store's volatile layer go before
    // its end is told (the window's settings are all stored ones).
    SignallingReporter(JobRunner& runner, bool clearsVolatile) : m_runner(runner), m_clearsVolatile(clearsVolatile) {}

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
        m_summary = summary;
        if (!summary.abandoned.empty())
            emit m_runner.mailboxAbandoned();
        emit m_runner.summaryReady(lines.join(QLatin1Char('\n')));
    }

    void finalText(const std::string& text) override
    {
        m_ended = true;
        if (m_clearsVolatile)
            SettingsStore::instance().clearVolatile();
        const QString finalText = QString::fromStdString(text);
        if (m_summary)
            emit m_runner.resultReady(resultLine(*m_summary, finalText), needsAttention(*m_summary) || noMailboxFound(*m_summary));
        emit m_runner.finished(finalText);
    }

    bool ended() const { return m_ended; }

private:
    JobRunner& m_runner;
    bool m_clearsVolatile;
    std::optional<JobSummary> m_summary;
    bool m_ended = false;
};

} // namespace

JobRunner::JobRunner(QObject* parent) : QObject(parent) { connect(this, &JobRunner::finished, this, &JobRunner::joinEndedJob); }

JobRunner::~JobRunner()
{
    if (m_thread.joinable()) {
        m_cancelRequested = true;
        m_thread.join();
    }
}

void JobRunner::start(std::optional<ThunderbirdProfile> intoThunderbird)
{
    if (m_thread.joinable()) // a previous job has delivered its end already
        m_thread.join();
    m_cancelRequested = false;
    m_stopAtOnce = false;
    m_running = true;
    m_intoThunderbird = std::move(intoThunderbird);
    m_thread = std::thread(&JobRunner::run, this);
}

void JobRunner::run()
{
    SignallingReporter reporter(*this, m_intoThunderbird.has_value());
    // An exception must not end the process from a worker thread, nor leave the status
    // sheet up for good: it becomes the job's error text.
    try {
        if (m_intoThunderbird)
            runJobIntoThunderbird(*m_intoThunderbird, reporter, m_cancelRequested, m_stopAtOnce);
        else
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
