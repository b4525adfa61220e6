#include "app/MainWindow.h"

#include "app/AboutDialog.h"
#include "app/Choosers.h"
#include "app/JobRunner.h"
#include "app/MailAccountDestination.h"
#include "app/MailProgramChoice.h"
#include "app/MailAccountDialog.h"
#include "app/OpenLocation.h"
#include "app/StatusSheet.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "settings/DefaultSettings.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QFileInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStyle>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace tarnwick {
namespace {

std::string pathBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString pathText(std::string_view bytes) { return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size()))); }

void centerOnScreen(QWidget* window)
{
    window->adjustSize();
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace

MainWindow::MainWindow()
    : m_sourceEdit(new QLineEdit(this)), m_sourceButton(new QPushButton(tr("&Choose..."), this)), m_destinationEdit(new QLineEdit(this)),
      m_destinationButton(new QPushButton(tr("Choos&e..."), this)),
      m_convertEncodingsBox(new QCheckBox(tr("Con&vert text encodings"), this)), m_encodingMenu(new QComboBox(this)),
      m_charsetEdit(new QLineEdit(this)), m_eudoraTagsBox(new QCheckBox(tr("&Process Eudora tags"), this)),
      m_lineEndingsBox(new QCheckBox(tr("Convert line e&ndings to CR LF"), this)),
      m_dateHeadersBox(new QCheckBox(tr("&Add a Date header where one is missing"), this)),
      m_emptyLinesBox(new QCheckBox(tr("Add an empt&y line after each message"), this)),
      m_attachmentsBox(new QCheckBox(tr("Put attachments &back into messages"), this)), m_attachmentsFolderEdit(new QLineEdit(this)),
      m_attachmentsFolderButton(new QPushButton(tr("Ch&oose..."), this)),
      m_eudoraRecordsBox(new QCheckBox(tr("Read Eudora's inde&xes and folder names"), this)), m_layoutMenu(new QComboBox(this)),
      m_removedMenu(new QComboBox(this)), m_keepGoingBox(new QCheckBox(tr("Keep &going after a mailbox fails"), this)),
      m_resultIcon(new QLabel(this)), m_resultLabel(new QLabel(this)), m_detailsButton(new QPushButton(tr("Deta&ils..."), this)),
      m_openDestinationButton(new QPushButton(tr("Open Des&tination"), this)), m_summaryLabel(new QLabel(this)),
      m_startButton(new QPushButton(tr("&Start"), this)), m_statusSheet(new StatusSheet(this)), m_job(new JobRunner(this)),
      m_geometrySaveTimer(new QTimer(this))
{
    setWindowTitle(tr("Tarnwick"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.png")));
    buildLayout();
    makeCharsetWarningReachable();
    connectSignals();

    SettingsStore& store = SettingsStore::instance();
    registerDefaultSettings(store);
    centerOnScreen(this);
    if (const auto geometry = store.stringValue(kWindowGeometryKey))
        restoreGeometry(QByteArray::fromStdString(*geometry));
    loadSettings();
    saveOptionsAsTheyChange();
}

// Each option is stored as it changes (text fields when their editing ends), so that
// quitting without a job keeps them. Connected only once they are loaded.
void MainWindow::saveOptionsAsTheyChange()
{
    for (QCheckBox* box : {m_convertEncodingsBox, m_eudoraTagsBox, m_lineEndingsBox, m_dateHeadersBox, m_emptyLinesBox, m_attachmentsBox,
                           m_eudoraRecordsBox, m_keepGoingBox})
        connect(box, &QCheckBox::toggled, this, &MainWindow::storeSettings);
    for (QComboBox* menu : {m_encodingMenu, m_layoutMenu, m_removedMenu, m_mailProgram->menu()})
        connect(menu, &QComboBox::currentIndexChanged, this, &MainWindow::storeSettings);
    for (QLineEdit* field : {m_charsetEdit, m_attachmentsFolderEdit})
        connect(field, &QLineEdit::editingFinished, this, &MainWindow::storeSettings);
}

// The warning icon in the charset field takes Tab focus right after the field, so
// that the keyboard reaches it; the focus, Space or a click shows which names are
// unknown.
void MainWindow::makeCharsetWarningReachable()
{
    for (QToolButton* button : m_charsetEdit->findChildren<QToolButton*>()) {
        if (button->defaultAction() != m_charsetWarning)
            continue;
        button->setObjectName(QStringLiteral("charsetWarningButton"));
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(tr("Unknown charset names"));
        setTabOrder(m_charsetEdit, button);
        setTabOrder(button, m_eudoraTagsBox);
        connect(m_charsetWarning, &QAction::triggered, button, [this, button] { showCharsetWarning(button); });
        button->installEventFilter(this);
    }
}

// The icon draws no focus mark of its own: taking the focus shows what it says.
void MainWindow::showCharsetWarning(QWidget* button)
{
    QToolTip::showText(button->mapToGlobal(QPoint(0, button->height())), m_charsetWarning->toolTip(), button);
}

void MainWindow::setSourcePath(const QString& path)
{
    m_sourceEdit->setText(pathText(abbreviateHomeFolder(pathBytes(QFileInfo(path).absoluteFilePath()))));
}

// Enter in a field, on a check box or on a closed menu starts, as Start is the
// default button; buttons keep Enter for themselves.
void MainWindow::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget* focus = focusWidget();
    if (enter && event->modifiers() == Qt::NoModifier
        && (qobject_cast<QLineEdit*>(focus) || qobject_cast<QCheckBox*>(focus) || qobject_cast<QComboBox*>(focus))) {
        start();
        return;
    }
    QWidget::keyPressEvent(event);
}

MainWindow::~MainWindow()
{
    // The job's signals must not reach a window that is half gone.
    delete m_job;
}

void MainWindow::buildLayout()
{
    nameControls();
    QLayout* paths = buildPathRows();
    QGroupBox* options = buildOptions(buildEncodingRows());
    prepareResultLine();
    auto* result = new QHBoxLayout;
    result->addWidget(m_resultIcon);
    result->addWidget(m_resultLabel, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_detailsButton);
    bottom->addWidget(m_openDestinationButton);
    bottom->addWidget(m_startButton);

    auto* layout = new QVBoxLayout(this);
    // Controls keep their natural size: the window grows instead.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    buildMenu();
    layout->setMenuBar(m_menuBar);
    layout->addLayout(paths);
    m_mailAccount = new MailAccountDestination(this);
    layout->addWidget(m_mailAccount);
    m_mailProgram = new MailProgramChoice(m_layoutMenu, m_lineEndingsBox, this);
    layout->addWidget(m_mailProgram);
    layout->addWidget(options);
    layout->addStretch();
    layout->addLayout(result);
    layout->addLayout(bottom);
}

// Object names let the tests find the controls.
void MainWindow::nameControls()
{
    const auto name = [](QObject* object, const char* objectName) { object->setObjectName(QLatin1String(objectName)); };
    name(m_sourceEdit, "sourceEdit");
    name(m_sourceButton, "sourceButton");
    name(m_destinationEdit, "destinationEdit");
    name(m_destinationButton, "destinationButton");
    name(m_convertEncodingsBox, "convertEncodingsBox");
    name(m_encodingMenu, "encodingMenu");
    name(m_charsetEdit, "charsetEdit");
    name(m_eudoraTagsBox, "eudoraTagsBox");
    name(m_lineEndingsBox, "lineEndingsBox");
    name(m_dateHeadersBox, "dateHeadersBox");
    name(m_emptyLinesBox, "emptyLinesBox");
    name(m_attachmentsBox, "attachmentsBox");
    name(m_attachmentsFolderEdit, "attachmentsFolderEdit");
    name(m_attachmentsFolderButton, "attachmentsFolderButton");
    name(m_eudoraRecordsBox, "eudoraRecordsBox");
    name(m_layoutMenu, "layoutMenu");
    name(m_removedMenu, "removedMenu");
    name(m_resultLabel, "resultLabel");
    name(m_keepGoingBox, "keepGoingBox");
    name(m_detailsButton, "detailsButton");
    name(m_openDestinationButton, "openDestinationButton");
    name(m_summaryLabel, "summaryLabel");
    name(m_startButton, "startButton");
}

// The source and destination rows, with their labels and choosers.
QLayout* MainWindow::buildPathRows()
{
    m_sourceEdit->setToolTip(tr("A Eudora mailbox file, or a folder of mailbox files"));
    m_sourceEdit->setMinimumWidth(340);
    m_destinationEdit->setToolTip(tr("A folder, or a new file name for a single mailbox"));
    auto* sourceLabel = new QLabel(tr("Sou&rce:"), this);
    sourceLabel->setBuddy(m_sourceEdit);
    auto* destinationLabel = new QLabel(tr("&Destination:"), this);
    destinationLabel->setBuddy(m_destinationEdit);
    m_sourceButton->setAccessibleName(tr("Choose the source"));
    // A folder or a single mailbox file, each with the dialog that fits it.
    auto* sourceMenu = new QMenu(m_sourceButton);
    sourceMenu->addAction(tr("&Folder..."), this, &MainWindow::chooseSourceFolder)->setObjectName(QStringLiteral("sourceFolderAction"));
    sourceMenu->addAction(tr("&Mailbox File..."), this, &MainWindow::chooseSource)->setObjectName(QStringLiteral("sourceFileAction"));
    m_sourceButton->setMenu(sourceMenu);
    m_destinationButton->setAccessibleName(tr("Choose the destination"));
    m_attachmentsFolderButton->setAccessibleName(tr("Choose another attachments folder"));
    for (QLineEdit* field : {m_sourceEdit, m_destinationEdit, m_attachmentsFolderEdit})
        field->installEventFilter(this);
    setAcceptDrops(true);
    auto* paths = new QGridLayout;
    paths->addWidget(sourceLabel, 0, 0);
    paths->addWidget(m_sourceEdit, 0, 1);
    paths->addWidget(m_sourceButton, 0, 2);
    paths->addWidget(destinationLabel, 1, 0);
    paths->addWidget(m_destinationEdit, 1, 1);
    paths->addWidget(m_destinationButton, 1, 2);
    return paths;
}

// Convert text encodings with the controls that depend on it, and Eudora's tags.
QLayout* MainWindow::buildEncodingRows()
{
    m_charsetEdit->setToolTip(tr("Charset names in order of preference, separated by commas"));
    m_convertEncodingsBox->setToolTip(tr("Each message is read in its mailbox encoding and written in the first output "
                                         "charset that holds all of its text"));
    m_encodingMenu->setToolTip(tr("The character set the mailboxes were written in; Automatic reads it from each message"));
    m_eudoraTagsBox->setToolTip(tr("Eudora marks styled text with tags such as x-html and x-rich: x-html becomes an "
                                   "ordinary HTML part, x-rich enriched text that mail programs show formatted "
                                   "(inside an HTML part, HTML formatting)"));
    m_charsetWarning = m_charsetEdit->addAction(style()->standardIcon(QStyle::SP_MessageBoxWarning), QLineEdit::TrailingPosition);
    m_charsetWarning->setObjectName(QStringLiteral("charsetWarning"));
    m_charsetWarning->setVisible(false);
    auto* encodingLabel = new QLabel(tr("&Mailbox encoding:"), this);
    encodingLabel->setBuddy(m_encodingMenu);
    auto* charsetLabel = new QLabel(tr("O&utput charsets:"), this);
    charsetLabel->setBuddy(m_charsetEdit);
    auto* encodings = new QGridLayout;
    encodings->addWidget(m_convertEncodingsBox, 0, 0, 1, 2);
    encodings->addWidget(encodingLabel, 1, 0);
    encodings->addWidget(m_encodingMenu, 1, 1);
    encodings->addWidget(charsetLabel, 2, 0);
    encodings->addWidget(m_charsetEdit, 2, 1);
    encodings->addWidget(m_eudoraTagsBox, 3, 0, 1, 2);
    encodings->setColumnMinimumWidth(0, 150);
    encodings->setColumnStretch(1, 1);
    // The controls that depend on the check box sit indented under it, labels included.
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    for (QWidget* widget : std::initializer_list<QWidget*>{encodingLabel, charsetLabel, m_eudoraTagsBox})
        widget->setContentsMargins(indent, 0, 0, 0);
    m_encodingDependents = {encodingLabel, charsetLabel};
    return encodings;
}

// The options group: encodings, line endings and the like, attachments, Eudora's records.
QGroupBox* MainWindow::buildOptions(QLayout* encodings)
{
    auto* options = new QGroupBox(tr("Options"), this);
    m_lineEndingsBox->setToolTip(tr("CR LF is the pair of characters that ends a line on Windows and in mail; "
                                    "Thunderbird and Apple Mail read either"));
    m_dateHeadersBox->setToolTip(tr("A message without a Date header gets one from the time on its \"From \" line, "
                                    "so that mail programs sort it by date"));
    m_emptyLinesBox->setToolTip(tr("An empty line between messages, as the mbox format expects"));
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addLayout(encodings);
    optionsLayout->addWidget(m_lineEndingsBox);
    optionsLayout->addWidget(m_dateHeadersBox);
    optionsLayout->addWidget(m_emptyLinesBox);
    optionsLayout->addLayout(buildAttachmentRows());
    optionsLayout->addLayout(buildRecordRows());
    m_keepGoingBox->setToolTip(tr("A mailbox that cannot be converted is listed and the job goes on with the next"));
    optionsLayout->addWidget(m_keepGoingBox);
    return options;
}

// Put attachments back, with another folder to look in.
QLayout* MainWindow::buildAttachmentRows()
{
    m_attachmentsBox->setToolTip(tr("Files that Eudora saved in its attachment folders go back into their messages"));
    m_attachmentsFolderEdit->setToolTip(tr("Another folder to look for attachment files in (optional)"));
    auto* folderLabel = new QLabel(tr("Also loo&k in:"), this);
    folderLabel->setBuddy(m_attachmentsFolderEdit);
    auto* attachments = new QGridLayout;
    attachments->addWidget(m_attachmentsBox, 0, 0, 1, 3);
    attachments->addWidget(folderLabel, 1, 0);
    attachments->addWidget(m_attachmentsFolderEdit, 1, 1);
    attachments->addWidget(m_attachmentsFolderButton, 1, 2);
    attachments->setColumnMinimumWidth(0, 150);
    attachments->setColumnStretch(1, 1);
    return attachments;
}

// Read Eudora's records, with the output layout.
QLayout* MainWindow::buildRecordRows()
{
    m_eudoraRecordsBox->setToolTip(tr("Message boundaries and read/replied status from each mailbox's .toc, real names "
                                      "from descmap.pce; attachment folders and Eudora's own files are not converted"));
    m_layoutMenu->addItem(tr("One file per mailbox (flat)"), QStringLiteral("flat"));
    m_layoutMenu->addItem(tr("Folders as in Eudora (tree)"), QStringLiteral("tree"));
    m_layoutMenu->setToolTip(tr("Tree recreates Eudora's folders; choose it to import into Thunderbird, Dovecot or mutt, "
                                "or to copy to a FAT or exFAT disk"));
    auto* layoutLabel = new QLabel(tr("Output &layout:"), this);
    layoutLabel->setBuddy(m_layoutMenu);
    auto* records = new QGridLayout;
    records->addWidget(m_eudoraRecordsBox, 0, 0, 1, 2);
    records->addWidget(layoutLabel, 1, 0);
    records->addWidget(m_layoutMenu, 1, 1);
    // Without a keyboard letter: the window's letters are all taken.
    const QString removed = tr("Removed in Eudora:");
    m_removedMenu->addItem(tr("In a mailbox of their own"), QStringLiteral("apart"));
    m_removedMenu->addItem(tr("Left out"), QStringLiteral("omit"));
    m_removedMenu->addItem(tr("Among the mailbox's messages"), QStringLiteral("inside"));
    m_removedMenu->setAccessibleName(removed);
    m_removedMenu->setToolTip(tr("Messages deleted or moved away in Eudora stay in the mailbox file until Eudora compacts it; "
                                 "kept apart, they go to \"NAME (removed in Eudora)\" beside the mailbox"));
    m_removedLabel = new QLabel(removed, this);
    records->addWidget(m_removedLabel, 2, 0);
    records->addWidget(m_removedMenu, 2, 1);
    records->setColumnMinimumWidth(0, 150);
    records->setColumnStretch(1, 1);
    return records;
}

// One line: a long result or error is elided (the whole text in the tooltip and in
// Details), so it never squeezes the options nor moves Start.
void MainWindow::prepareResultLine()
{
    m_resultLabel->setTextFormat(Qt::PlainText);
    m_resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_resultLabel->setWordWrap(false);
    m_resultLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_resultIcon->hide();
    m_resultLabel->installEventFilter(this);
    m_startButton->setDefault(true);
    m_summaryLabel->setTextFormat(Qt::PlainText);
    m_summaryLabel->hide(); // the summary is read in Details
    m_detailsButton->setAutoDefault(false);
    m_detailsButton->hide();
    m_openDestinationButton->setAutoDefault(false);
    m_openDestinationButton->hide();
    // The result has a line of its own, always there, so showing it moves nothing.
    m_resultLabel->setMinimumHeight(std::max(m_resultLabel->fontMetrics().height(), style()->pixelMetric(QStyle::PM_SmallIconSize)));
}

void MainWindow::buildMenu()
{
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    file->addAction(tr("&Upload to a Mail Account..."), this,
                    [this] {
                        auto* dialog = new MailAccountDialog(this);
                        dialog->setAttribute(Qt::WA_DeleteOnClose);
                        dialog->open();
                    })
        ->setObjectName(QStringLiteral("uploadToMailAccountAction"));
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    // The desktop's Quit keys; Ctrl+Q where the platform names none (its Windows-like
    // default scheme has no Quit key).
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys = {QKeySequence(Qt::CTRL | Qt::Key_Q)};
    quit->setShortcuts(quitKeys);
    quit->setShortcutContext(Qt::ApplicationShortcut);
    // The status sheet blocks the window during a job: it carries the shortcut too, so
    // that Ctrl+Q then still reaches close() and its offer to stop at once.
    m_statusSheet->addAction(quit);
    QMenu* help = m_menuBar->addMenu(tr("&Help"));
    QAction* manual = help->addAction(tr("Tarnwick &Help"), this, &MainWindow::showHelp);
    manual->setObjectName(QStringLiteral("helpAction"));
    manual->setShortcuts(QKeySequence::HelpContents);
    if (manual->shortcuts().isEmpty())
        manual->setShortcut(QKeySequence(Qt::Key_F1));
    addAction(manual); // F1 works with the menu bar closed
    help->addAction(tr("&About Tarnwick"), this, &MainWindow::showAbout);
}

void MainWindow::connectSignals()
{
    connect(m_destinationButton, &QPushButton::clicked, this, &MainWindow::chooseDestination);
    connect(m_convertEncodingsBox, &QCheckBox::stateChanged, this, &MainWindow::updateEncodingControls);
    connect(m_attachmentsBox, &QCheckBox::stateChanged, this, &MainWindow::updateAttachmentControls);
    connect(m_eudoraRecordsBox, &QCheckBox::stateChanged, this, &MainWindow::updateRecordControls);
    connect(m_attachmentsFolderButton, &QPushButton::clicked, this, &MainWindow::chooseAttachmentsFolder);
    connect(m_charsetEdit, &QLineEdit::textEdited, this, [this] { m_charsetEditPending = true; });
    connect(m_charsetEdit, &QLineEdit::editingFinished, this, &MainWindow::normalizeCharsetField);
    connect(m_charsetEdit, &QLineEdit::textChanged, this, &MainWindow::markUnknownCharsets);
    connect(m_startButton, &QPushButton::clicked, this, &MainWindow::start);
    connect(m_statusSheet, &StatusSheet::cancelRequested, m_job, &JobRunner::cancel);
    connect(m_statusSheet, &StatusSheet::stopAtOnceRequested, m_job, &JobRunner::stopAtOnce);
    connect(m_job, &JobRunner::statusChanged, m_statusSheet, &StatusSheet::setMessage);
    connect(m_job, &JobRunner::statusChanged, this, [this](const QString& text) {
        m_jobLines << text;
        m_mailboxLinesStart = m_jobLines.size();
    });
    connect(m_job, &JobRunner::mailboxAbandoned, this, &MainWindow::dropAbandonedLines);
    connect(m_job, &JobRunner::progressChanged, m_statusSheet, &StatusSheet::setProgress);
    connect(m_job, &JobRunner::logged, this, [this](const QString& line) { m_jobLines << line; });
    connect(m_job, &JobRunner::resultReady, this, [this](const QString& line, bool attention) {
        m_jobHeadline = line;
        m_jobNeedsAttention = attention;
    });
    connect(m_job, &JobRunner::summaryReady, this, [this](const QString& text) {
        m_summaryLabel->setText(text);
        if (!text.isEmpty())
            m_jobLines << QString() << text;
    });
    connect(m_detailsButton, &QPushButton::clicked, this, &MainWindow::showDetails);
    connect(m_openDestinationButton, &QPushButton::clicked, this, &MainWindow::openDestination);
    connect(m_job, &JobRunner::finished, this, &MainWindow::showJobEnd);

    m_geometrySaveTimer->setSingleShot(true);
    m_geometrySaveTimer->setInterval(500);
    connect(m_geometrySaveTimer, &QTimer::timeout, this, &MainWindow::saveGeometryNow);
}

void MainWindow::chooseSource() { openChooser(createSourceChooser(this), ChooserKind::Source, m_sourceEdit); }

void MainWindow::chooseSourceFolder() { openChooser(createSourceFolderChooser(this), ChooserKind::Source, m_sourceEdit); }

void MainWindow::chooseDestination() { openChooser(createDestinationChooser(this), ChooserKind::Destination, m_destinationEdit); }

void MainWindow::chooseAttachmentsFolder()
{
    openChooser(createAttachmentsFolderChooser(this), ChooserKind::AttachmentsFolder, m_attachmentsFolderEdit);
}

// The chooser opens where the field points (chooserStartLocation); OK puts the chosen
// path into the field, abbreviated with "~".
void MainWindow::openChooser(QFileDialog* chooser, ChooserKind kind, QLineEdit* field)
{
    const ChooserStart start = chooserStartLocation(kind, pathBytes(field->text()));
    if (start.folder)
        chooser->setDirectory(pathText(*start.folder));
    if (start.name)
        chooser->selectFile(pathText(*start.name));
    connect(chooser, &QFileDialog::accepted, field, [chooser, field] {
        const QStringList chosen = chooser->selectedFiles();
        field->setText(chosen.isEmpty() ? QString() : pathText(abbreviateHomeFolder(pathBytes(chosen.last()))));
    });
    connect(chooser, &QFileDialog::finished, chooser, &QObject::deleteLater);
    chooser->open();
}

// Only the on state counts: a mixed check box is off.
void MainWindow::updateEncodingControls()
{
    const bool on = m_convertEncodingsBox->checkState() == Qt::Checked;
    m_encodingMenu->setEnabled(on);
    m_charsetEdit->setEnabled(on);
    m_eudoraTagsBox->setEnabled(on);
    for (QWidget* label : m_encodingDependents)
        label->setEnabled(on);
}

// The choice for messages removed in Eudora applies only with Eudora's indexes read.
void MainWindow::updateRecordControls()
{
    const bool on = m_eudoraRecordsBox->checkState() == Qt::Checked;
    m_removedMenu->setEnabled(on);
    m_removedLabel->setEnabled(on);
}

void MainWindow::updateAttachmentControls()
{
    const bool on = m_attachmentsBox->checkState() == Qt::Checked;
    m_attachmentsFolderEdit->setEnabled(on);
    m_attachmentsFolderButton->setEnabled(on);
}

void MainWindow::showError(const QString& message) { showResult(tr("Error: %1").arg(message), true); }

// Start is refused before a job: the error, what to do about it, and the field at
// fault focused with its text selected.
void MainWindow::refuseStart(const QString& message, const QString& hint, QLineEdit* field)
{
    showResult(tr("%1. %2").arg(tr("Error: %1").arg(message), hint), true);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

// What the last job left on show goes when the next Start is pressed.
void MainWindow::clearLastJob()
{
    showResult(QString(), false);
    m_summaryLabel->clear();
    m_detailsText.clear();
    m_detailsButton->hide();
    m_openDestinationButton->hide();
}

// What an abandoned mailbox logged goes down to a count: its output is gone.
void MainWindow::dropAbandonedLines()
{
    const qsizetype dropped = m_jobLines.size() - m_mailboxLinesStart;
    if (dropped <= 0)
        return;
    m_jobLines.remove(m_mailboxLinesStart, dropped);
    m_jobLines << (dropped == 1 ? tr("1 line about an abandoned mailbox not shown")
                                : tr("%1 lines about an abandoned mailbox not shown").arg(QLocale().toString(dropped)));
}

// Errors and results that need a look carry a warning icon and the error colour;
// plain success looks plain.
void MainWindow::showResult(const QString& text, bool attention)
{
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
    m_resultLine = firstLine == text ? text : firstLine + QStringLiteral(" \u2026");
    elideResult();
    m_resultLabel->setToolTip(text);
    m_resultLabel->setAccessibleName(text);
    m_resultLabel->setProperty("needsAttention", attention);
    QPalette palette = this->palette();
    if (attention)
        palette.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
    m_resultLabel->setPalette(palette);
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_resultIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    m_resultIcon->setVisible(attention);
}

// Where the label is too narrow, the result line is cut in the middle ("\u2026"), where
// a long path is, so that what was converted and the reason both stay; a label not on
// screen yet shows it whole and is elided once it gets its width.
void MainWindow::elideResult()
{
    m_resultLabel->setText(m_resultLabel->isVisible() ? m_resultLabel->fontMetrics().elidedText(m_resultLine, Qt::ElideMiddle,
                                                                                                m_resultLabel->contentsRect().width())
                                                      : m_resultLine);
}

namespace {

// A path as typed or pasted: blanks around it dropped, a file:// URL taken as its path.
QString fieldPath(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1String("file://"))) {
        const QUrl url(trimmed);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return trimmed;
}

} // namespace

void MainWindow::start()
{
    if (m_job->isRunning() || !m_startButton->isEnabled())
        return;
    // A line edit commits as it goes; what matters is the end-of-editing normalisation
    // of a charset field edit that has not ended yet.
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    if (m_charsetEditPending)
        normalizeCharsetField();
    clearLastJob();

    for (QLineEdit* field : {m_sourceEdit, m_destinationEdit})
        if (field->text() != fieldPath(field->text()))
            field->setText(fieldPath(field->text()));
    const QString source = m_sourceEdit->text();
    if (source.isEmpty() || targetType(standardizePath(pathBytes(source))) == EntryType::None) {
        refuseStart(tr("Source not found"),
                    source.isEmpty() ? tr("Choose the Eudora folder or a mailbox file with Choose..., or type its path")
                                     : tr("Check the path, or choose the Eudora folder or a mailbox file with Choose..."),
                    m_sourceEdit);
        return;
    }
    if (m_mailAccount->isChosen()) {
        storeSettings();
        m_mailAccount->start(pathText(standardizePath(pathBytes(source))));
        return;
    }
    // Straight into Thunderbird, when the user says so: no destination folder is needed.
    m_startButton->setEnabled(false);
    m_mailProgram->askPlacement(homeDirectory(), [this, source](MailProgramChoice::Placement placement) {
        if (placement == MailProgramChoice::Placement::IntoThunderbird)
            runJob();
        else if (placement == MailProgramChoice::Placement::Destination)
            startIntoDestination(source);
        else
            m_startButton->setEnabled(true);
    });
}

void MainWindow::startIntoDestination(const QString& source)
{
    const QString destination = m_destinationEdit->text();
    if (destination.isEmpty()) {
        m_startButton->setEnabled(true);
        refuseStart(tr("Choose a destination folder"), tr("Choose the folder for the converted files with Choose..., or type its path"),
                    m_destinationEdit);
        return;
    }
    // Start stays disabled from the first click until the job has ended.
    confirmDestination(source, destination, [this] { runJob(); });
}

namespace {

// `path` made absolute, its longest existing beginning resolved (links, ".."), so
// that a folder still to be made compares with the source as it will lie.
QString resolvedPath(const QString& path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList rest;
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/")) {
        rest.prepend(QFileInfo(existing).fileName());
        existing = QFileInfo(existing).path();
    }
    rest.prepend(QFileInfo(existing).canonicalFilePath());
    return QDir::cleanPath(rest.join(QLatin1Char('/')));
}

} // namespace

void MainWindow::confirmDestination(const QString& source, const QString& destination, const std::function<void()>& proceed)
{
    const QString sourcePath = pathText(standardizePath(pathBytes(source)));
    const QString destinationPath = pathText(standardizePath(pathBytes(destination)));
    const QFileInfo sourceInfo(sourcePath);
    const QFileInfo destinationInfo(destinationPath);
    const QString canonicalSource = sourceInfo.canonicalFilePath();
    const QString resolvedDestination = resolvedPath(destinationPath);
    const bool insideSource = sourceInfo.isDir()
        && (resolvedDestination == canonicalSource || resolvedDestination.startsWith(canonicalSource + QLatin1Char('/')));
    // Into the source, refusing is the default: Enter must not write into it.
    auto ask = [this, proceed, insideSource](const QString& text, const QString& yes, const std::function<bool()>& onYes) {
        auto* box = new QMessageBox(QMessageBox::Question, windowTitle(), text, QMessageBox::Cancel, this);
        box->setObjectName(QStringLiteral("confirmationBox"));
        QPushButton* accept = box->addButton(yes, QMessageBox::AcceptRole);
        if (insideSource)
            box->setDefaultButton(QMessageBox::Cancel);
        else
            box->setDefaultButton(accept);
        if (insideSource)
            box->setIcon(QMessageBox::Warning);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, [this, box, accept, proceed, onYes] {
            if (box->clickedButton() == accept && onYes())
                proceed();
            else
                m_startButton->setEnabled(true);
        });
        box->open();
    };
    const QString inside = insideSource ? tr("The destination is the source folder or lies inside it.") + QLatin1Char(' ') : QString();
    if (!destinationInfo.exists()) {
        if (!sourceInfo.isDir())
            return proceed(); // a new file name for a single mailbox
        ask(inside + tr("The destination folder \"%1\" does not exist. Create it?").arg(destination), tr("Create Folder"),
            [this, destinationPath] {
                if (QDir().mkpath(destinationPath))
                    return true;
                refuseStart(tr("Could not create \"%1\"").arg(destinationPath), tr("Check the path, or choose an existing folder"),
                            m_destinationEdit);
                return false;
            });
        return;
    }
    if (!destinationInfo.isDir())
        return proceed(); // the job says what is wrong
    const qsizetype held = QDir(destinationPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size();
    if (!insideSource && held == 0)
        return proceed();
    QString text = inside;
    if (held > 0)
        text += (held == 1 ? tr("The destination already holds 1 file.")
                           : tr("The destination already holds %1 files.").arg(QLocale().toString(held)))
            + QLatin1Char(' ');
    text += tr("Existing files are never overwritten; new ones get names ending in _2, _3... Convert anyway?");
    ask(text, tr("Convert"), [] { return true; });
}

void MainWindow::runJob()
{
    SettingsStore& store = SettingsStore::instance();
    store.setString(keys::kSourcePath, pathBytes(m_sourceEdit->text()));
    store.setString(keys::kDestinationPath, pathBytes(m_destinationEdit->text()));
    storeSettings();

    clearLastJob();
    m_jobLines.clear();
    m_mailboxLinesStart = 0;
    m_jobHeadline.clear();
    m_jobNeedsAttention = false;
    m_startButton->setEnabled(false);
    m_statusSheet->begin(tr("Converting Mbox files..."), tr("Waiting..."));
    m_job->start(m_mailProgram->placementProfile());
}

void MainWindow::showJobEnd(const QString& text)
{
    m_statusSheet->end();
    m_startButton->setEnabled(true);
    const bool completed = text == tr("Completed");
    showResult(m_jobHeadline.isEmpty() ? text : m_jobHeadline, m_jobNeedsAttention || !completed);
    m_jobHeadline.clear();
    m_jobNeedsAttention = false;
    m_detailsText = (m_jobLines + QStringList{QString(), text}).join(QLatin1Char('\n')).trimmed();
    m_detailsButton->show();
    m_openDestinationButton->setVisible(QFileInfo(pathText(standardizePath(pathBytes(m_destinationEdit->text())))).exists());
    // A quit question still open is answered by the job's end: nothing is left to
    // stop, so the quit asked for goes ahead.
    if (m_stopBox) {
        m_stopBox->done(QMessageBox::Cancel);
        m_closeAfterJob = true;
    }
    if (m_closeAfterJob)
        close();
}

void MainWindow::showDetails()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("detailsDialog"));
    dialog->setWindowTitle(tr("Details"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* text = new QPlainTextEdit(m_detailsText, dialog);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setAccessibleName(tr("Details"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    // Not Alt+C: some desktops give Close that key.
    QPushButton* copy = buttons->addButton(tr("Cop&y All"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyDetailsButton"));
    connect(copy, &QPushButton::clicked, dialog, [this] { QGuiApplication::clipboard()->setText(m_detailsText); });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog->resize(640, 420);
    dialog->open();
}

void MainWindow::openDestination()
{
    QFileInfo destination(pathText(standardizePath(pathBytes(m_destinationEdit->text()))));
    const QString folder = destination.isDir() ? destination.absoluteFilePath() : destination.absolutePath();
    openOrShowLocation(this, QUrl::fromLocalFile(folder),
                       tr("No file manager is set up on this computer to open the destination. Open it yourself, or copy its path:"));
}

void MainWindow::showHelp()
{
    openOrShowLocation(this, QUrl(QStringLiteral(TARNWICK_README_URL "#convert-your-eudora-mail-in-three-steps")),
                       tr("No program is set up on this computer to open the manual. Open it yourself (its part \u201cConvert "
                          "your Eudora mail in three steps\u201d), or copy its path:"));
}

void MainWindow::showAbout()
{
    auto* about = new AboutDialog(this, QStringLiteral(TARNWICK_VERSION), QStringLiteral(TARNWICK_README_URL));
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

namespace {

// The first local path of a text/uri-list drag, or none.
std::optional<QString> droppedPath(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return std::nullopt;
}

} // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedPath(event->mimeData()) && !m_job->isRunning())
        event->acceptProposedAction();
}

// Dropped onto the window outside a field: a path goes into the source field.
void MainWindow::dropEvent(QDropEvent* event)
{
    if (const auto path = droppedPath(event->mimeData())) {
        m_sourceEdit->setText(pathText(abbreviateHomeFolder(pathBytes(*path))));
        event->acceptProposedAction();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_resultLabel && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        elideResult();
    // Once the focus has settled: a tooltip goes at any focus change.
    if (event->type() == QEvent::FocusIn && watched->objectName() == QLatin1String("charsetWarningButton")) {
        auto* button = static_cast<QWidget*>(watched);
        QTimer::singleShot(0, button, [this, button] {
            if (button->hasFocus())
                showCharsetWarning(button);
        });
    }
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (field && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        const auto path = droppedPath(drop->mimeData());
        if (!path)
            return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            field->setText(pathText(abbreviateHomeFolder(pathBytes(*path))));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    saveGeometrySoon();
    QWidget::moveEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    saveGeometrySoon();
    QWidget::resizeEvent(event);
}

// Closing during a job offers to stop at once; the window goes when the job has ended.
// The buttons say what they do: the status sheet's own Cancel means something else.
void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_job->isRunning()) {
        event->ignore();
        if (m_closeAfterJob || m_stopBox)
            return;
        auto* box = new QMessageBox(QMessageBox::Question, windowTitle(),
                                    tr("A conversion is running. Stop it now and quit? The mailbox under way is left unconverted "
                                       "and its output removed."),
                                    QMessageBox::NoButton, this);
        box->setObjectName(QStringLiteral("stopBox"));
        QPushButton* stop = box->addButton(tr("Stop and &Quit"), QMessageBox::DestructiveRole);
        QPushButton* keep = box->addButton(tr("&Keep Converting"), QMessageBox::RejectRole);
        box->setDefaultButton(keep);
        box->setEscapeButton(keep);
        box->setAttribute(Qt::WA_DeleteOnClose);
        m_stopBox = box;
        connect(box, &QMessageBox::finished, this, [this, box, stop] {
            m_stopBox = nullptr;
            if (box->clickedButton() != stop || !m_job->isRunning())
                return;
            m_closeAfterJob = true;
            m_job->stopAtOnce();
        });
        box->open();
        return;
    }
    saveGeometryNow();
    QWidget::closeEvent(event);
}

void MainWindow::saveGeometrySoon() { m_geometrySaveTimer->start(); }

void MainWindow::saveGeometryNow()
{
    m_geometrySaveTimer->stop();
    SettingsStore::instance().setString(kWindowGeometryKey, saveGeometry().toStdString());
}

} // namespace tarnwick
