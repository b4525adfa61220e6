#pragma once
// Runs the batch job on one worker thread and reports its texts as queued signals.

#include "batch/ThunderbirdProfile.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace tarnwick {

class JobRunner : public QObject {
    Q_OBJECT
public:
    explicit JobRunner(QObject* parent = nullptr);
    /// Cancels a running job and waits for it: the job stops before its next file.
    ~JobRunner() override;

    /// Starts a job with the settings stored now; with a profile, into its Local
    /// Folders (runJobIntoThunderbird). Call only when no job runs.
    void start(std::optional<ThunderbirdProfile> intoThunderbird = std::nullopt);
    /// Asks the running job to stop before its next file.
    void cancel() { m_cancelRequested = true; }
    /// Asks the running job to stop at once: the mailbox under way is left
    /// unconverted and its output removed.
    void stopAtOnce()
    {
        m_stopAtOnce = true;
        m_cancelRequested = true;
    }
    /// True from cancel() until the job's end has been delivered.
    bool isCancelRequested() const { return m_cancelRequested; }
    /// True from start() until the job's end has been delivered.
    bool isRunning() const { return m_running; }

signals:
    /// The job's progress text ("Processing ..."), once before each file.
    void statusChanged(const QString& text);
    /// Where the job is (JobProgress): the file under way from 1 of `files` (0: not
    /// known), and how far it has been read of its `bytes` (0: not known).
    void progressChanged(qulonglong file, qulonglong files, qulonglong bytesDone, qulonglong bytes);
    /// A line the job logged, as it was logged.
    void logged(const QString& line);
    /// The mailbox under way was abandoned by stopAtOnce(): what it logged is of no
    /// use. Once, just before summaryReady().
    void mailboxAbandoned();
    /// What the job passed over or put back, one line each (empty when nothing),
    /// once, just before finished().
    void summaryReady(const QString& text);
    /// The result in one line, what was converted first ("Converted 12 mailboxes,
    /// 34,567 messages; 3 messages left unconverted", "3 of 4 mailboxes converted, 9
    /// messages; 1 failed (REASON)", or the final text with it), and whether the
    /// summary holds something to look at; once, just before finished(), after
    /// summaryReady().
    void resultReady(const QString& line, bool needsAttention);
    /// The job's last text ("Completed", "Canceled" or an error), exactly once. The
    /// runner itself receives it first: the cancel request is cleared and the thread
    /// joined before any other receiver sees it.
    void finished(const QString& text);

private:
    void run();
    void joinEndedJob();

    std::thread m_thread;
    std::optional<ThunderbirdProfile> m_intoThunderbird;
    // Written on the UI thread; the job reads it between files.
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_stopAtOnce{false};
    bool m_running = false;
};

} // namespace tarnwick
