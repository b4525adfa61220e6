#pragma once
// "Upload to a Mail Account": a converted Maildir tree into an IMAP account. The
// password is asked for here and kept only when "Remember the password" is ticked,
// then in the desktop's secret store (QtKeychain), never in the settings file.

#include <QDialog>

#include "batch/ImapUpload.h"

#include <atomic>
#include <string>
#include <thread>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace tarnwick {

class MailAccountDialog : public QDialog {
    Q_OBJECT
public:
    explicit MailAccountDialog(QWidget* parent = nullptr);
    /// Cancels a running upload and waits for it.
    ~MailAccountDialog() override;

    bool isUploading() const { return m_thread.joinable(); }
    /// Fills the form for Eudora mail (a mailbox or folder, converted for the upload
    /// into a private copy first) and an account; the password is asked for here.
    void prepare(const QString& source, const QString& server, int port, int security, const QString& user, const QString& topFolder);
    /// During an upload, stops it after the message under way instead of closing.
    void reject() override;

signals:
    /// Emitted from the upload's thread; delivered queued.
    void uploadStatus(const QString& text);
    void uploadProgress(qulonglong done, qulonglong total, qulonglong bytes);
    void uploadLogged(const QString& line);
    void uploadFinished(const QString& result, const QString& summary, bool failed);

private:
    /// The source, server, account and folder fields, in the form returned.
    QFormLayout* buildAccountForm();
    /// The form above the status, progress bar, log and buttons.
    void buildResultArea(QFormLayout* form);
    void chooseFolder();
    void securityChanged(int index);
    void accountChanged();
    void startUpload();
    /// On the upload's thread: converts Eudora mail into staging first when it is set.
    void runUpload(UploadRequest& request, const std::string& staging);
    void showStatus(const QString& text);
    void showProgress(qulonglong done, qulonglong total, qulonglong bytes);
    void appendLog(const QString& line);
    void finishUpload(const QString& result, const QString& summary, bool failed);
    QString keychainKey() const;
    void storePassword();
    void setEditable(bool editable);

    QLabel* m_folderLabel = nullptr;
    QLineEdit* m_folderEdit = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QSpinBox* m_portSpin = nullptr;
    QComboBox* m_securityCombo = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_rememberCheck = nullptr;
    QLineEdit* m_topFolderEdit = nullptr;
    QSpinBox* m_connectionsSpin = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPlainTextEdit* m_logView = nullptr;
    QPushButton* m_uploadButton = nullptr;
    QDialogButtonBox* m_buttons = nullptr;

    bool m_convertFirst = false; // the folder field holds Eudora mail, not a Maildir
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
};

} // namespace tarnwick
