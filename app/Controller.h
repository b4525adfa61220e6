#pragma once
// The controller of the main window: fills the controls from the settings at start-up,
// runs the choosers, validates and stores the controls at Start, runs the batch job on
// one worker thread behind the status sheet, and shows the job's result.

#include <QObject>
#include <QString>

#include <atomic>
#include <string_view>
#include <thread>

class QApplication;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;

namespace tarnwick {

class MainWindow;
class OpenPanel;
class ProgressIndicator;
class StatusSheet;

/// The settings key under which the window's frame is kept.
inline constexpr std::string_view kFrameAutosaveName = "Tarnwick";

class Controller : public QObject {
    Q_OBJECT
public:
    /// Takes the window's controls as its fields; call connectController and
    /// awakeFromNib afterwards.
    explicit Controller(MainWindow& window);
    /// Lets a running job end (cancelled at its next test) and joins its thread.
    ~Controller() override;

    // Non-owning references to the controls, which the window owns.
    QWidget* _window;
    QLineEdit* _sourceField;
    QPushButton* _sourceSelectButton;
    QLineEdit* _destinationField;
    QPushButton* _destinationSelectButton;
    QCheckBox* _convertEncodingCheckBox;
    QComboBox* _encodingPopUp;
    QLineEdit* _charsetField;
    QCheckBox* _eudoraCheckBox;
    QCheckBox* _convertLineEndingsCheckBox;
    QCheckBox* _complementDateCheckBox;
    QCheckBox* _addEmptyLineCheckBox;
    QLabel* _resultField;
    QPushButton* _startButton;
    StatusSheet* _statusWindow;
    QLabel* _titleField;
    QLabel* _messageField;
    ProgressIndicator* _progressIndicator;
    QPushButton* _cancelButton;
    /// Written on the UI thread only; the worker reads it between files.
    std::atomic<bool> _hasCanceled{false};

    /// The action of the choose buttons, the convert-encoding check box, Start and
    /// Cancel; any other sender does nothing.
    void controlClicked(QObject* sender);
    /// A chooser ended: with return code 1 the context's field gets the last chosen
    /// path, abbreviated with "~".
    void openPanelDidEnd(OpenPanel* panel, int returnCode, QObject* contextInfo);
    /// The worker thread's body: the batch job, posting to the UI thread.
    void processOnSubThread();
    /// The job's end, on the UI thread: sheet down, `text` (a null text shows as empty)
    /// in the result field, cancel flag cleared.
    void endProcess(const QString& text);

    // Start-up, once, after the interface is built.
    void awakeFromNib();
    // Application delegate: closing the main window quits.
    bool applicationShouldTerminateAfterLastWindowClosed(QApplication* application);
    // End of editing of a text field: normalises the charset field.
    void controlTextDidEndEditing(QObject* object);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openChooser(QPushButton* button);
    void start();
    void showError(std::string_view message);
    void endEditing();
    void fillEncodingMenu();
    /// The selected item's identifier as a signed 32-bit tag; 0 when none is selected.
    int selectedEncodingTag() const;
    void saveFrame();

    QTimer* frameSaveTimer_;
    bool charsetEditPending_ = false;
    std::thread worker_;
};

} // namespace tarnwick
