#pragma once
// The status sheet shown over the main window while a job runs, and its busy
// indicator.

#include <QCoreApplication>
#include <QDialog>
#include <QProgressBar>

class QLabel;
class QPushButton;

namespace tarnwick {

/// An indeterminate progress bar that animates between startAnimation and
/// stopAnimation and may be hidden while stopped.
class ProgressIndicator : public QProgressBar {
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    void setDisplayedWhenStopped(bool flag);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animating_; }

private:
    bool displayedWhenStopped_ = true;
    bool animating_ = false;
};

class StatusSheet : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    explicit StatusSheet(QWidget* window);

    /// Shows the sheet window-modal over its window.
    void beginSheet();
    /// Takes the sheet down.
    void endSheet();

    QLabel* titleField;
    QLabel* messageField;
    ProgressIndicator* progressIndicator;
    QPushButton* cancelButton;

    /// Escape and the window's close button act as Cancel: the sheet stays up until
    /// the job has ended, so it can never hide a job that still runs.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tarnwick
