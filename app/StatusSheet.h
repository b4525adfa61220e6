#pragma once
// The status sheet shown window-modal over the main window while a job runs: a title,
// the job's latest text, how far it has come in numbers, a bar and Cancel (which, once
// pressed, says that the job stops when the mailbox under way is done).

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnwick {

class StatusSheet : public QDialog {
    Q_OBJECT
public:
    explicit StatusSheet(QWidget* window);

    /// Shows the sheet with `title` and `message`, the bar busy and Cancel enabled.
    void begin(const QString& title, const QString& message);
    /// Replaces the message under the title.
    void setMessage(const QString& message);
    /// Shows how far the job has come (JobProgress): "3 of 12 files" with the bar
    /// determinate when the number of files is known, the bytes of a single file with
    /// the bar at its share; busy and no numbers when neither is known.
    void setProgress(qulonglong file, qulonglong files, qulonglong bytesDone, qulonglong bytes);
    /// Stops and hides the bar and takes the sheet down.
    void end();

    /// Escape and the window's close button act as Cancel: the sheet stays up until
    /// the job has ended, so it can never hide a job that still runs.
    void reject() override;

signals:
    /// Cancel was pressed; the button then offers to stop at once.
    void cancelRequested();
    /// "Stop Now" was pressed after Cancel: the mailbox under way is abandoned.
    void stopAtOnceRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void requestCancel();

    QLabel* m_titleLabel;
    QLabel* m_messageLabel;
    QLabel* m_progressLabel;
    QProgressBar* m_progressBar;
    QLabel* m_hintLabel; // what Cancel does, once pressed
    QPushButton* m_cancelButton;
    bool m_cancelSent = false;
};

} // namespace tarnwick
