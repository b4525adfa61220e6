#pragma once
// The main window's other destination: instead of files, a mail account (IMAP). Its
// server, security, user name and folder are kept in the settings; the password never
// is: Start opens the upload dialog, which asks for it (and keeps it only in the
// desktop's secret store, when asked to).

#include <QCoreApplication>
#include <QGroupBox>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace tarnwick {

class MailAccountDestination : public QGroupBox {
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    explicit MailAccountDestination(QWidget* parent);

    /// Whether the mail goes into the account rather than into files.
    bool isChosen() const { return isChecked(); }
    /// Keeps the choice and the account in the settings, and opens the upload dialog
    /// (window-modal) for the Eudora mail at source.
    void start(const QString& source);

private:
    void load();
    void store();
    void securityChanged(int index);

    QLineEdit* m_serverEdit;
    QSpinBox* m_portSpin;
    QComboBox* m_securityCombo;
    QLineEdit* m_userEdit;
    QLineEdit* m_topFolderEdit;
};

} // namespace tarnwick
