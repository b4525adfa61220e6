#include "app/MailAccountDestination.h"

#include "app/MailAccountDialog.h"
#include "platform/SettingsStore.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace tarnwick {

namespace {

constexpr std::string_view kChosenKey = "UploadToMailAccount";
constexpr std::string_view kServerKey = "MailAccountServer";
constexpr std::string_view kPortKey = "MailAccountPort";
constexpr std::string_view kSecurityKey = "MailAccountSecurity"; // 0 TLS, 1 STARTTLS, 2 none
constexpr std::string_view kUserKey = "MailAccountUser";
constexpr std::string_view kFolderKey = "MailAccountFolder";

} // namespace

MailAccountDestination::MailAccountDestination(QWidget* parent)
    : QGroupBox(tr("Upload into a mail account (IMAP) instead"), parent), m_serverEdit(new QLineEdit(this)), m_portSpin(new QSpinBox(this)),
      m_securityCombo(new QComboBox(this)), m_userEdit(new QLineEdit(this)), m_topFolderEdit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("mailAccountDestination"));
    setCheckable(true);
    setToolTip(tr("Converts the source and uploads it into the account, with its folders, flags and dates; the "
                  "password is asked for at Start"));
    m_serverEdit->setObjectName(QStringLiteral("accountServerEdit"));
    m_serverEdit->setPlaceholderText(QStringLiteral("imap.example.org"));
    m_portSpin->setObjectName(QStringLiteral("accountPortSpin"));
    m_portSpin->setRange(1, 65535);
    m_securityCombo->setObjectName(QStringLiteral("accountSecurityCombo"));
    m_securityCombo->addItem(tr("TLS"));
    m_securityCombo->addItem(tr("STARTTLS"));
    m_securityCombo->addItem(tr("None (this computer only)"));
    m_userEdit->setObjectName(QStringLiteral("accountUserEdit"));
    m_topFolderEdit->setObjectName(QStringLiteral("accountFolderEdit"));

    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(m_serverEdit, 1);
    serverRow->addWidget(new QLabel(tr("Port:"), this));
    serverRow->addWidget(m_portSpin);
    serverRow->addWidget(m_securityCombo);
    // Labels without keyboard letters: the window's letters are all taken.
    auto* form = new QGridLayout(this);
    const QString server = tr("Server:"), user = tr("User name:"), folder = tr("Into the folder:");
    form->addWidget(new QLabel(server, this), 0, 0);
    form->addLayout(serverRow, 0, 1);
    form->addWidget(new QLabel(user, this), 1, 0);
    form->addWidget(m_userEdit, 1, 1);
    form->addWidget(new QLabel(folder, this), 2, 0);
    form->addWidget(m_topFolderEdit, 2, 1);
    m_serverEdit->setAccessibleName(server);
    m_userEdit->setAccessibleName(user);
    m_topFolderEdit->setAccessibleName(folder);
    load();
    connect(m_securityCombo, &QComboBox::currentIndexChanged, this, &MailAccountDestination::securityChanged);
    connect(this, &QGroupBox::toggled, this, [this] { store(); });
}

void MailAccountDestination::load()
{
    const SettingsStore& settings = SettingsStore::instance();
    setChecked(settings.boolValue(kChosenKey));
    m_serverEdit->setText(QString::fromStdString(settings.stringValue(kServerKey).value_or(std::string())));
    const std::int64_t security = settings.integerValue(kSecurityKey);
    m_securityCombo->setCurrentIndex(security >= 0 && security <= 2 ? static_cast<int>(security) : 0);
    const std::int64_t port = settings.integerValue(kPortKey);
    m_portSpin->setValue(port >= 1 && port <= 65535 ? static_cast<int>(port) : security == 0 ? 993 : 143);
    m_userEdit->setText(QString::fromStdString(settings.stringValue(kUserKey).value_or(std::string())));
    const std::string folder = settings.stringValue(kFolderKey).value_or(std::string());
    m_topFolderEdit->setText(folder.empty() ? QStringLiteral("Eudora") : QString::fromStdString(folder));
}

void MailAccountDestination::store()
{
    SettingsStore& settings = SettingsStore::instance();
    settings.setBool(kChosenKey, isChecked());
    settings.setString(kServerKey, m_serverEdit->text().trimmed().toStdString());
    settings.setInteger(kPortKey, m_portSpin->value());
    settings.setInteger(kSecurityKey, m_securityCombo->currentIndex());
    settings.setString(kUserKey, m_userEdit->text().trimmed().toStdString());
    settings.setString(kFolderKey, m_topFolderEdit->text().trimmed().toStdString());
}

void MailAccountDestination::securityChanged(int index)
{
    const int port = m_portSpin->value();
    if (index == 0 && port == 143)
        m_portSpin->setValue(993);
    else if (index != 0 && port == 993)
        m_portSpin->setValue(143);
}

void MailAccountDestination::start(const QString& source)
{
    store();
    auto* dialog = new MailAccountDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->prepare(source, m_serverEdit->text().trimmed(), m_portSpin->value(), m_securityCombo->currentIndex(),
                    m_userEdit->text().trimmed(), m_topFolderEdit->text().trimmed());
    dialog->open();
}

} // namespace tarnwick
