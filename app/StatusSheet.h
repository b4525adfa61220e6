#pragma once
// The status sheet shown window-modal over the main window while a job runs: a title,
// the job's latest text, a busy bar and Cancel.

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
    QProgressBar* m_progressBar;
    QPushButton* m_cancelButton;
    bool m_cancelSent = false;
};

} // namespace tarnwick
