#include "app/MailAccountDialog.h"

#include "batch/BatchJob.h"
#include "batch/BatchReporter.h"
#include "batch/ConversionUpload.h"
#include "batch/ImapTarget.h"
#include "batch/ImapUpload.h"
#include "batch/JobSummary.h"
#include "platform/SettingsStore.h"
#include "platform/UploadFiles.h"
#include "settings/SettingsKeys.h"

#include <qt6keychain/keychain.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>
#include <utility>

namespace tarnwick {

namespace {

const QString kKeychainService = QStringLiteral("Tarnwick mail account");

// The dialog's texts share the one translation context of the program's texts
// (AppTranslations.h), not the class's own.
QString translated(const char* text) { return QCoreApplication::translate("Tarnwick", text); }

// Emits the upload's texts from its thread; the dialog receives them queued, in order.
class SignallingUploadReporter final : public UploadReporter {
public:
    explicit SignallingUploadReporter(MailAccountDialog& dialog) : m_dialog(dialog) {}
    void statusText(const std::string& text) override { emit m_dialog.uploadStatus(QString::fromStdString(text)); }
    void progress(std::uint64_t done, std::uint64_t total, std::uint64_t bytes) override
    {
        // While the mail converts, the count of all is not known yet: the bar follows the
        // conversion, which the upload keeps up with.
        if (!converting)
            emit m_dialog.uploadProgress(done, total, bytes);
    }
    void logLine(const std::string& line) override { emit m_dialog.uploadLogged(QString::fromStdString(line)); }

    std::atomic<bool> converting{false};

private:
    MailAccountDialog& m_dialog;
};

// The conversion's texts before an upload of Eudora mail, shown as the upload's.
class ConversionTextsReporter final : public BatchReporter {
public:
    explicit ConversionTextsReporter(MailAccountDialog& dialog) : m_dialog(dialog) {}
    void statusText(const std::string& text) override { emit m_dialog.uploadStatus(QString::fromStdString(text)); }
    void logLine(const std::string& line) override { emit m_dialog.uploadLogged(QString::fromStdString(line)); }
    void progress(const JobProgress& progress) override
    {
        if (progress.files == 0)
            return;
        const double file = progress.bytes > 0 ? double(progress.bytesDone) / double(progress.bytes) : 0.0;
        const double done = (double(progress.file > 0 ? progress.file - 1 : 0) + file) / double(progress.files);
        emit m_dialog.uploadProgress(static_cast<qulonglong>(done * 1000), 1000, 0);
    }
    void finalText(const std::string&) override {}

private:
    MailAccountDialog& m_dialog;
};

} // namespace

MailAccountDialog::MailAccountDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(translated("Upload to a Mail Account"));
    setObjectName(QStringLiteral("mailAccountDialog"));
    QFormLayout* form = buildAccountForm();
    buildResultArea(form);
    connect(this, &MailAccountDialog::uploadStatus, this, &MailAccountDialog::showStatus, Qt::QueuedConnection);
    connect(this, &MailAccountDialog::uploadProgress, this, &MailAccountDialog::showProgress, Qt::QueuedConnection);
    connect(this, &MailAccountDialog::uploadLogged, this, &MailAccountDialog::appendLog, Qt::QueuedConnection);
    connect(this, &MailAccountDialog::uploadFinished, this, &MailAccountDialog::finishUpload, Qt::QueuedConnection);
    resize(620, 480);
}

QFormLayout* MailAccountDialog::buildAccountForm()
{
    m_folderEdit = new QLineEdit(this);
    m_folderEdit->setObjectName(QStringLiteral("maildirEdit"));
    m_folderEdit->setPlaceholderText(translated("A Maildir folder of converted mail"));
    auto* chooseButton = new QPushButton(translated("Choose..."), this);
    connect(chooseButton, &QPushButton::clicked, this, &MailAccountDialog::chooseFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folderEdit, 1);
    folderRow->addWidget(chooseButton);

    m_serverEdit = new QLineEdit(this);
    m_serverEdit->setObjectName(QStringLiteral("serverEdit"));
    m_serverEdit->setPlaceholderText(QStringLiteral("imap.example.org"));
    m_portSpin = new QSpinBox(this);
    m_portSpin->setObjectName(QStringLiteral("portSpin"));
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(993);
    m_securityCombo = new QComboBox(this);
    m_securityCombo->setObjectName(QStringLiteral("securityCombo"));
    m_securityCombo->addItem(translated("TLS"));
    m_securityCombo->addItem(translated("STARTTLS"));
    m_securityCombo->addItem(translated("None (this computer only)"));
    connect(m_securityCombo, &QComboBox::currentIndexChanged, this, &MailAccountDialog::securityChanged);
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(m_serverEdit, 1);
    serverRow->addWidget(new QLabel(translated("Port:"), this));
    serverRow->addWidget(m_portSpin);
    serverRow->addWidget(m_securityCombo);

    m_userEdit = new QLineEdit(this);
    m_userEdit->setObjectName(QStringLiteral("userEdit"));
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_rememberCheck = new QCheckBox(translated("Remember the password (in the desktop's password store)"), this);
    m_rememberCheck->setObjectName(QStringLiteral("rememberCheck"));
    m_topFolderEdit = new QLineEdit(QStringLiteral("Eudora"), this);
    m_topFolderEdit->setObjectName(QStringLiteral("topFolderEdit"));
    m_connectionsSpin = new QSpinBox(this);
    m_connectionsSpin->setObjectName(QStringLiteral("connectionsSpin"));
    m_connectionsSpin->setRange(1, 10);
    m_connectionsSpin->setValue(4);
    m_connectionsSpin->setToolTip(translated("How many connections upload at once. Some providers allow only a few, "
                                             "and count those of your mail program too."));
    connect(m_serverEdit, &QLineEdit::editingFinished, this, &MailAccountDialog::accountChanged);
    connect(m_userEdit, &QLineEdit::editingFinished, this, &MailAccountDialog::accountChanged);

    auto* form = new QFormLayout;
    m_folderLabel = new QLabel(translated("Converted mail:"), this);
    form->addRow(m_folderLabel, folderRow);
    form->addRow(translated("Server:"), serverRow);
    form->addRow(translated("User name:"), m_userEdit);
    form->addRow(translated("Password:"), m_passwordEdit);
    form->addRow(QString(), m_rememberCheck);
    form->addRow(translated("Into the folder:"), m_topFolderEdit);
    form->addRow(translated("Connections at once:"), m_connectionsSpin);
    return form;
}

void MailAccountDialog::buildResultArea(QFormLayout* form)
{
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("uploadStatusLabel"));
    m_statusLabel->setWordWrap(true);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("uploadProgressBar"));
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(0);
    m_logView = new QPlainTextEdit(this);
    m_logView->setObjectName(QStringLiteral("uploadLog"));
    m_logView->setReadOnly(true);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_uploadButton = m_buttons->addButton(translated("Upload"), QDialogButtonBox::AcceptRole);
    m_uploadButton->setObjectName(QStringLiteral("uploadButton"));
    connect(m_uploadButton, &QPushButton::clicked, this, &MailAccountDialog::startUpload);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &MailAccountDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_logView, 1);
    layout->addWidget(m_buttons);
}

MailAccountDialog::~MailAccountDialog()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void MailAccountDialog::reject()
{
    if (isUploading())
        m_cancel = true;
    else
        QDialog::reject();
}

void MailAccountDialog::chooseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, translated("Converted Mail (Maildir)"), m_folderEdit->text());
    if (!folder.isEmpty())
        m_folderEdit->setText(folder);
}

void MailAccountDialog::securityChanged(int index)
{
    const int port = m_portSpin->value();
    if (index == 0 && port == 143)
        m_portSpin->setValue(993);
    else if (index != 0 && port == 993)
        m_portSpin->setValue(143);
}

QString MailAccountDialog::keychainKey() const { return m_userEdit->text().trimmed() + QLatin1Char('@') + m_serverEdit->text().trimmed(); }

void MailAccountDialog::accountChanged()
{
    if (m_userEdit->text().trimmed().isEmpty() || m_serverEdit->text().trimmed().isEmpty() || !m_passwordEdit->text().isEmpty())
        return;
    auto* job = new QKeychain::ReadPasswordJob(kKeychainService, this);
    job->setAutoDelete(true);
    job->setKey(keychainKey());
    const QString key = keychainKey();
    connect(job, &QKeychain::Job::finished, this, [this, job, key] {
        // Only for the account still shown, and never over what was typed meanwhile.
        if (job->error() == QKeychain::NoError && key == keychainKey() && m_passwordEdit->text().isEmpty()) {
            m_passwordEdit->setText(job->textData());
            m_rememberCheck->setChecked(true);
        }
    });
    job->start();
}

void MailAccountDialog::storePassword()
{
    if (m_rememberCheck->isChecked()) {
        auto* job = new QKeychain::WritePasswordJob(kKeychainService, this);
        job->setAutoDelete(true);
        job->setKey(keychainKey());
        job->setTextData(m_passwordEdit->text());
        connect(job, &QKeychain::Job::finished, this, [this, job] {
            if (job->error() != QKeychain::NoError)
                appendLog(translated("The password could not be remembered: %1").arg(job->errorString()));
        });
        job->start();
    } else {
        auto* job = new QKeychain::DeletePasswordJob(kKeychainService, this);
        job->setAutoDelete(true);
        job->setKey(keychainKey());
        job->start();
    }
}

void MailAccountDialog::setEditable(bool editable)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{m_folderEdit, m_serverEdit, m_portSpin, m_securityCombo, m_userEdit, m_passwordEdit,
                                                           m_rememberCheck, m_topFolderEdit, m_connectionsSpin, m_uploadButton})
        widget->setEnabled(editable);
    m_buttons->button(QDialogButtonBox::Close)->setText(editable ? translated("Close") : translated("Cancel"));
}

void MailAccountDialog::prepare(const QString& source, const QString& server, int port, int security, const QString& user,
                                const QString& topFolder)
{
    m_convertFirst = true;
    m_folderLabel->setText(translated("Eudora mail:"));
    m_folderEdit->setText(source);
    m_serverEdit->setText(server);
    m_securityCombo->setCurrentIndex(security);
    m_portSpin->setValue(port);
    m_userEdit->setText(user);
    m_topFolderEdit->setText(topFolder);
    accountChanged();
    m_passwordEdit->setFocus();
}

void MailAccountDialog::startUpload()
{
    if (isUploading())
        return;
    const QString folder = m_folderEdit->text().trimmed();
    const QString server = m_serverEdit->text().trimmed();
    const QString user = m_userEdit->text().trimmed();
    if (folder.isEmpty() || server.isEmpty() || user.isEmpty() || m_passwordEdit->text().isEmpty()) {
        m_statusLabel->setText(translated("Fill in the converted mail's folder, the server, the user name and the password."));
        return;
    }
    UploadRequest request;
    request.account.host = server.toStdString();
    request.account.port = static_cast<std::uint16_t>(m_portSpin->value());
    const int security = m_securityCombo->currentIndex();
    request.account.security = security == 0 ? ImapSecurity::Tls : security == 1 ? ImapSecurity::StartTls : ImapSecurity::Plain;
    request.account.user = user.toStdString();
    request.account.password = m_passwordEdit->text().toStdString();
    std::string account = request.account.user + '@' + request.account.host;
    for (const QString& part : m_topFolderEdit->text().split(QLatin1Char('/'), Qt::SkipEmptyParts))
        request.topFolder.push_back(part.toStdString());
    if (request.topFolder.empty())
        request.topFolder.emplace_back("Eudora");
    request.connections = static_cast<unsigned>(m_connectionsSpin->value());
    for (const std::string& component : request.topFolder)
        account += '/' + component;
    request.stagingRoot = folder.toStdString();
    request.journalPath = uploadJournalPath(request.account.user, request.account.host);
    // Eudora mail is converted in a private folder, each message handed to the upload.
    const std::string staging
        = m_convertFirst && !isMaildirTree(request.stagingRoot) ? uploadStagingFolder(account, request.stagingRoot) : std::string();

    storePassword();
    m_logView->clear();
    m_progressBar->setRange(0, 0);
    setEditable(false);
    m_cancel = false;
    m_thread = std::thread([this, request = std::move(request), staging]() mutable { runUpload(request, staging); });
}

void MailAccountDialog::runUpload(UploadRequest& request, const std::string& staging)
{
    std::string conversionError;
    SignallingUploadReporter reporter(*this);
    UploadSummary summary;
    if (staging.empty()) {
        summary = uploadMaildir(request, reporter, m_cancel);
    } else {
        const std::string source = std::exchange(request.stagingRoot, staging);
        ConversionUpload upload(request, reporter, m_cancel);
        ConversionTextsReporter texts(*this);
        UploadConversion conversion;
        reporter.converting = true;
        if (upload.start()) {
            conversion = upload.convert(SettingsStore::instance(), source, texts, m_cancel, m_cancel);
            SettingsStore::instance().clearVolatile();
        }
        reporter.converting = false;
        const bool converted = conversion.converted;
        if (converted && conversion.outcome == JobOutcome::Failed)
            conversionError = conversion.finalText;
        summary = upload.finish(converted);
        if (!converted && !upload.stopped()) {
            // The conversion failed: what was on its way is up, the rest is not.
            QStringList lines;
            if (summary.uploaded + summary.alreadyPresent > 0) {
                for (const std::string& line : uploadSummaryLines(summary))
                    lines << QString::fromStdString(line);
            }
            emit uploadFinished(QString::fromStdString(conversion.finalText), lines.join(QLatin1Char('\n')), true);
            return;
        }
    }
    QStringList lines;
    for (const std::string& line : uploadSummaryLines(summary))
        lines << QString::fromStdString(line);
    QString result;
    bool failed = true;
    if (summary.canceled)
        result = translated("Canceled");
    else if (!summary.stopReason.empty())
        result = translated("Error: %1").arg(QString::fromStdString(summary.stopReason));
    else if (summary.refused + summary.failed > 0)
        result = translated("Error: %1 messages were not uploaded").arg(summary.refused + summary.failed);
    else if (!conversionError.empty()) {
        lines << translated("The mailboxes that could not be converted were not uploaded, or only in part: upload "
                            "each on its own once it is mended");
        result = QString::fromStdString(conversionError);
    } else {
        result = translated("Completed");
        failed = false;
    }
    emit uploadFinished(result, lines.join(QLatin1Char('\n')), failed);
}

void MailAccountDialog::showStatus(const QString& text) { m_statusLabel->setText(text); }

void MailAccountDialog::showProgress(qulonglong done, qulonglong total, qulonglong bytes)
{
    (void)bytes;
    if (total == 0)
        return;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(static_cast<int>(done * 1000 / total));
}

void MailAccountDialog::appendLog(const QString& line) { m_logView->appendPlainText(line); }

void MailAccountDialog::finishUpload(const QString& result, const QString& summary, bool failed)
{
    if (m_thread.joinable())
        m_thread.join();
    appendLog(summary);
    m_statusLabel->setText(result);
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(failed ? 0 : 1);
    setEditable(true);
}

} // namespace tarnwick
