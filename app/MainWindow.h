#pragma once
// The main window: the source and destination fields with their choosers, the
// conversion options and Start. It shows the settings stored at start-up, stores its
// controls at Start and runs the batch job behind the status sheet.

#include "app/ChooserStart.h"

#include <QCoreApplication>
#include <QWidget>

#include <QMessageBox>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <string_view>

class QAction;
class QCheckBox;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTimer;

namespace tarnwick {

class JobRunner;
class MailAccountDestination;
class MailProgramChoice;
class StatusSheet;

/// The settings key under which the window's geometry is kept.
inline constexpr std::string_view kWindowGeometryKey = "Tarnwick";

class MainWindow : public QWidget {
    // One translation context for every text of the program (AppTranslations.h).
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    /// Builds the window and shows the stored settings (the defaults registered first),
    /// centred on the screen or at its saved geometry.
    MainWindow();
    /// Lets a running job end (it stops before its next file) before the window goes.
    ~MainWindow() override;

    /// The last job's full account, as Details shows it: its status and log lines in
    /// the order they came, the summary, the final text.
    QString detailsText() const { return m_detailsText; }

    /// Puts a path given on the command line into the source field.
    void setSourcePath(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void nameControls();
    QLayout* buildPathRows();
    QLayout* buildEncodingRows();
    QGroupBox* buildOptions(QLayout* encodings);
    QLayout* buildAttachmentRows();
    QLayout* buildRecordRows();
    void prepareResultLine();
    void makeCharsetWarningReachable();
    void showCharsetWarning(QWidget* button);
    void connectSignals();
    void loadSettings();
    void fillEncodingMenu();
    /// The selected item's identifier as a signed 32-bit tag; 0 when none is selected.
    int selectedEncodingTag() const;
    void storeSettings();
    void saveOptionsAsTheyChange();

    void chooseSource();
    void chooseSourceFolder();
    void chooseDestination();
    void chooseAttachmentsFolder();
    void openChooser(QFileDialog* chooser, ChooserKind kind, QLineEdit* field);
    void updateEncodingControls();
    void updateAttachmentControls();
    void updateRecordControls();
    void normalizeCharsetField();
    void markUnknownCharsets();
    void elideResult();
    void start();
    void startIntoDestination(const QString& source);
    /// Asks before converting into a folder that holds files or lies in the source,
    /// and offers to create a missing destination folder. Calls `proceed` when the
    /// user agrees (at once when there is nothing to ask).
    void confirmDestination(const QString& source, const QString& destination, const std::function<void()>& proceed);
    void runJob();
    void showError(const QString& message);
    void refuseStart(const QString& message, const QString& hint, QLineEdit* field);
    void clearLastJob();
    void dropAbandonedLines();
    void showResult(const QString& text, bool attention);
    void showJobEnd(const QString& text);
    void showDetails();
    void openDestination();
    void showHelp();
    void showAbout();
    void buildMenu();
    void saveGeometrySoon();
    void saveGeometryNow();

    QLineEdit* m_sourceEdit;
    QPushButton* m_sourceButton;
    QLineEdit* m_destinationEdit;
    QPushButton* m_destinationButton;
    QCheckBox* m_convertEncodingsBox;
    QComboBox* m_encodingMenu;
    QLineEdit* m_charsetEdit;
    QAction* m_charsetWarning = nullptr;
    QString m_resultLine; // the result line before eliding
    QCheckBox* m_eudoraTagsBox;
    QCheckBox* m_lineEndingsBox;
    QCheckBox* m_dateHeadersBox;
    QCheckBox* m_emptyLinesBox;
    QCheckBox* m_attachmentsBox;
    QLineEdit* m_attachmentsFolderEdit;
    QPushButton* m_attachmentsFolderButton;
    QCheckBox* m_eudoraRecordsBox;
    QComboBox* m_layoutMenu;
    QComboBox* m_removedMenu; // what becomes of messages removed in Eudora
    QLabel* m_removedLabel = nullptr;
    MailProgramChoice* m_mailProgram = nullptr;
    QCheckBox* m_keepGoingBox;
    QLabel* m_resultIcon;
    QLabel* m_resultLabel;
    QPushButton* m_detailsButton;
    QPushButton* m_openDestinationButton;
    QLabel* m_summaryLabel;
    QPushButton* m_startButton;
    QMenuBar* m_menuBar = nullptr;
    MailAccountDestination* m_mailAccount = nullptr; // the other destination: a mail account
    StatusSheet* m_statusSheet;
    JobRunner* m_job;
    QTimer* m_geometrySaveTimer;
    // The charset field was edited and its end of editing has not been seen yet.
    bool m_charsetEditPending = false;
    QString m_detailsText;
    QStringList m_jobLines;
    QString m_jobHeadline;
    bool m_jobNeedsAttention = false;
    // The window was asked to close during a job: it closes once the job has ended.
    bool m_closeAfterJob = false;
    // The quit question while it is open.
    QPointer<QMessageBox> m_stopBox;
    // Where the lines of the mailbox under way begin in m_jobLines.
    qsizetype m_mailboxLinesStart = 0;
    QList<QWidget*> m_encodingDependents;
};

} // namespace tarnwick
