#include "app/MainWindow.h"

#include "app/Choosers.h"
#include "app/JobRunner.h"
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
#include <QVBoxLayout>

namespace tarnwick {
namespace {

std::string pathBytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

QString pathText(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

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
    : m_sourceEdit(new QLineEdit(this))
    , m_sourceButton(new QPushButton(tr("Choose..."), this))
    , m_destinationEdit(new QLineEdit(this))
    , m_destinationButton(new QPushButton(tr("Choose..."), this))
    , m_convertEncodingsBox(new QCheckBox(tr("Convert text encodings"), this))
    , m_encodingMenu(new QComboBox(this))
    , m_charsetEdit(new QLineEdit(this))
    , m_eudoraTagsBox(new QCheckBox(tr("Process Eudora tags"), this))
    , m_lineEndingsBox(new QCheckBox(tr("Convert line endings to CR LF"), this))
    , m_dateHeadersBox(new QCheckBox(tr("Add a Date header where one is missing"), this))
    , m_emptyLinesBox(new QCheckBox(tr("Add an empty line after each message"), this))
    , m_attachmentsBox(new QCheckBox(tr("Put attachments back into messages"), this))
    , m_attachmentsFolderEdit(new QLineEdit(this))
    , m_attachmentsFolderButton(new QPushButton(tr("Choose..."), this))
    , m_eudoraRecordsBox(new QCheckBox(tr("Read Eudora's indexes and folder names"), this))
    , m_layoutMenu(new QComboBox(this))
    , m_resultLabel(new QLabel(this))
    , m_summaryLabel(new QLabel(this))
    , m_startButton(new QPushButton(tr("Start"), this))
    , m_statusSheet(new StatusSheet(this))
    , m_job(new JobRunner(this))
    , m_geometrySaveTimer(new QTimer(this))
{
    setWindowTitle(tr("Tarnwick"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.png")));
    buildLayout();
    connectSignals();

    SettingsStore& store = SettingsStore::instance();
    registerDefaultSettings(store);
    centerOnScreen(this);
    if (const auto geometry = store.stringValue(kWindowGeometryKey))
        restoreGeometry(QByteArray::fromStdString(*geometry));
    loadSettings();
}

MainWindow::~MainWindow()
{
    // The job's signals must not reach a window that is half gone.
    delete m_job;
}

void MainWindow::buildLayout()
{
    // Object names let the tests find the controls.
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
    name(m_resultLabel, "resultLabel");
    name(m_summaryLabel, "summaryLabel");
    name(m_startButton, "startButton");

    m_sourceEdit->setToolTip(tr("A Eudora mailbox file, or a folder of mailbox files"));
    m_sourceEdit->setMinimumWidth(340);
    m_destinationEdit->setToolTip(tr("A folder, or a new file name for a single mailbox"));
    auto* paths = new QGridLayout;
    paths->addWidget(new QLabel(tr("Source:"), this), 0, 0);
    paths->addWidget(m_sourceEdit, 0, 1);
    paths->addWidget(m_sourceButton, 0, 2);
    paths->addWidget(new QLabel(tr("Destination:"), this), 1, 0);
    paths->addWidget(m_destinationEdit, 1, 1);
    paths->addWidget(m_destinationButton, 1, 2);

    m_charsetEdit->setToolTip(tr("Charset names in order of preference, separated by commas"));
    auto* encodingLabel = new QLabel(tr("Mailbox encoding:"), this);
    encodingLabel->setBuddy(m_encodingMenu);
    auto* charsetLabel = new QLabel(tr("Output charsets:"), this);
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

    auto* options = new QGroupBox(tr("Options"), this);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addLayout(encodings);
    optionsLayout->addWidget(m_lineEndingsBox);
    optionsLayout->addWidget(m_dateHeadersBox);
    optionsLayout->addWidget(m_emptyLinesBox);

    m_attachmentsBox->setToolTip(tr("Files that Eudora saved in its attachment folders go back into their messages"));
    m_attachmentsFolderEdit->setToolTip(tr("Another folder to look for attachment files in (optional)"));
    auto* folderLabel = new QLabel(tr("Also look in:"), this);
    folderLabel->setBuddy(m_attachmentsFolderEdit);
    auto* attachments = new QGridLayout;
    attachments->addWidget(m_attachmentsBox, 0, 0, 1, 3);
    attachments->addWidget(folderLabel, 1, 0);
    attachments->addWidget(m_attachmentsFolderEdit, 1, 1);
    attachments->addWidget(m_attachmentsFolderButton, 1, 2);
    attachments->setColumnMinimumWidth(0, 150);
    attachments->setColumnStretch(1, 1);
    optionsLayout->addLayout(attachments);

    m_eudoraRecordsBox->setToolTip(tr("Message boundaries and read/replied status from each mailbox's .toc, real names "
                                      "from descmap.pce; attachment folders and Eudora's own files are not converted"));
    m_layoutMenu->addItem(tr("One file per mailbox (flat)"), QStringLiteral("flat"));
    m_layoutMenu->addItem(tr("Folders as in Eudora (tree)"), QStringLiteral("tree"));
    m_layoutMenu->setToolTip(tr("Tree recreates Eudora's folders; choose it to import into Thunderbird, Dovecot or mutt, "
                                "or to copy to a FAT or exFAT disk"));
    auto* layoutLabel = new QLabel(tr("Output layout:"), this);
    layoutLabel->setBuddy(m_layoutMenu);
    auto* records = new QGridLayout;
    records->addWidget(m_eudoraRecordsBox, 0, 0, 1, 2);
    records->addWidget(layoutLabel, 1, 0);
    records->addWidget(m_layoutMenu, 1, 1);
    records->setColumnMinimumWidth(0, 150);
    records->setColumnStretch(1, 1);
    optionsLayout->addLayout(records);

    m_resultLabel->setTextFormat(Qt::PlainText);
    m_resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_resultLabel->setWordWrap(true);
    m_resultLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_startButton->setDefault(true);
    m_summaryLabel->setTextFormat(Qt::PlainText);
    m_summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summaryLabel->setWordWrap(true);
    m_summaryLabel->hide();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_resultLabel, 1);
    bottom->addWidget(m_startButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(paths);
    layout->addWidget(options);
    layout->addStretch();
    layout->addWidget(m_summaryLabel);
    layout->addLayout(bottom);
}

void MainWindow::connectSignals()
{
    connect(m_sourceButton, &QPushButton::clicked, this, &MainWindow::chooseSource);
    connect(m_destinationButton, &QPushButton::clicked, this, &MainWindow::chooseDestination);
    connect(m_convertEncodingsBox, &QCheckBox::stateChanged, this, &MainWindow::updateEncodingControls);
    connect(m_attachmentsBox, &QCheckBox::stateChanged, this, &MainWindow::updateAttachmentControls);
    connect(m_attachmentsFolderButton, &QPushButton::clicked, this, &MainWindow::chooseAttachmentsFolder);
    connect(m_charsetEdit, &QLineEdit::textEdited, this, [this] { m_charsetEditPending = true; });
    connect(m_charsetEdit, &QLineEdit::editingFinished, this, &MainWindow::normalizeCharsetField);
    connect(m_startButton, &QPushButton::clicked, this, &MainWindow::start);
    connect(m_statusSheet, &StatusSheet::cancelRequested, m_job, &JobRunner::cancel);
    connect(m_job, &JobRunner::statusChanged, m_statusSheet, &StatusSheet::setMessage);
    connect(m_job, &JobRunner::summaryReady, this, [this](const QString& text) {
        m_summaryLabel->setText(text);
        m_summaryLabel->setVisible(!text.isEmpty());
    });
    connect(m_job, &JobRunner::finished, this, &MainWindow::showJobEnd);

    m_geometrySaveTimer->setSingleShot(true);
    m_geometrySaveTimer->setInterval(500);
    connect(m_geometrySaveTimer, &QTimer::timeout, this, &MainWindow::saveGeometryNow);
}

void MainWindow::chooseSource()
{
    openChooser(createSourceChooser(this), ChooserKind::Source, m_sourceEdit);
}

void MainWindow::chooseDestination()
{
    openChooser(createDestinationChooser(this), ChooserKind::Destination, m_destinationEdit);
}

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
}

void MainWindow::updateAttachmentControls()
{
    const bool on = m_attachmentsBox->checkState() == Qt::Checked;
    m_attachmentsFolderEdit->setEnabled(on);
    m_attachmentsFolderButton->setEnabled(on);
}

void MainWindow::showError(const QString& message)
{
    m_resultLabel->setText(tr("Error: %1").arg(message));
}

void MainWindow::start()
{
    // A line edit commits as it goes; what matters is the end-of-editing normalisation
    // of a charset field edit that has not ended yet.
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    if (m_charsetEditPending)
        normalizeCharsetField();

    SettingsStore& store = SettingsStore::instance();
    const QString source = m_sourceEdit->text();
    if (source.isEmpty() || targetType(standardizePath(pathBytes(source))) == EntryType::None) {
        showError(tr("Source not found"));
        return;
    }
    store.setString(keys::kSourcePath, pathBytes(source));
    const QString destination = m_destinationEdit->text();
    if (destination.isEmpty()) {
        showError(tr("Destination not found"));
        return;
    }
    store.setString(keys::kDestinationPath, pathBytes(destination));
    storeSettings();

    m_resultLabel->clear();
    m_summaryLabel->clear();
    m_summaryLabel->hide();
    m_statusSheet->begin(tr("Converting Mbox files..."), tr("Waiting..."));
    m_job->start();
}

void MainWindow::showJobEnd(const QString& text)
{
    m_statusSheet->end();
    m_resultLabel->setText(text);
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

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveGeometryNow();
    QWidget::closeEvent(event);
}

void MainWindow::saveGeometrySoon()
{
    m_geometrySaveTimer->start();
}

void MainWindow::saveGeometryNow()
{
    m_geometrySaveTimer->stop();
    SettingsStore::instance().setString(kWindowGeometryKey, saveGeometry().toStdString());
}

} // namespace tarnwick
