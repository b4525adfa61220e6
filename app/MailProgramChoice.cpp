#include "app/MailProgramChoice.h"

#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace tarnwick {
namespace {

const QString kThunderbird = QStringLiteral("thunderbird");
const QString kServer = QStringLiteral("server");
const QString kMutt = QStringLiteral("mutt");
const QString kMbox = QStringLiteral("mbox");

} // namespace

MailProgramChoice::MailProgramChoice(QComboBox* layoutMenu, QCheckBox* lineEndingsBox, QWidget* parent)
    : QWidget(parent), m_menu(new QComboBox(this)), m_layoutMenu(layoutMenu), m_lineEndingsBox(lineEndingsBox)
{
    m_menu->setObjectName(QStringLiteral("mailProgramMenu"));
    m_menu->addItem(tr("Thunderbird"), kThunderbird);
    m_menu->addItem(tr("A mail server such as Dovecot (Maildir)"), kServer);
    m_menu->addItem(tr("mutt or notmuch (Maildir folders)"), kMutt);
    m_menu->addItem(tr("Plain mbox files"), kMbox);
    m_menu->setToolTip(tr("Sets the format, folder layout and line endings the mail program reads; "
                          "Plain mbox files leaves them to the options below"));
    auto* label = new QLabel(tr("&Where the mail goes:"), this);
    label->setBuddy(m_menu);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(m_menu, 1);
    connect(m_menu, &QComboBox::activated, this, [this] { apply(program()); });
}

QString MailProgramChoice::program() const { return m_menu->currentData().toString(); }

// Thunderbird, mutt, notmuch and Dovecot write their files with LF; plain mbox files
// are what the window wrote before it asked, CR LF included.
void MailProgramChoice::apply(const QString& program)
{
    m_lineEndingsBox->setChecked(program == kMbox);
    m_layoutMenu->setEnabled(program == kMbox);
}

void MailProgramChoice::load(const SettingsStore& store)
{
    const std::optional<std::string> stored = store.stringValue(keys::kMailProgram);
    const int index = m_menu->findData(QString::fromStdString(stored.value_or(std::string())));
    m_menu->setCurrentIndex(index < 0 ? 0 : index);
    if (!stored)
        apply(program());
    m_layoutMenu->setEnabled(program() == kMbox);
}

void MailProgramChoice::store(SettingsStore& store) const
{
    const QString chosen = program();
    store.setString(keys::kMailProgram, chosen.toStdString());
    store.setString(keys::kOutputFormat, chosen == kServer || chosen == kMutt ? "maildir" : "mbox");
    if (chosen == kThunderbird)
        store.setString(keys::kOutputLayout, "thunderbird");
    else if (chosen == kServer)
        store.setString(keys::kOutputLayout, "flat");
    else if (chosen == kMutt)
        store.setString(keys::kOutputLayout, "tree");
}

void MailProgramChoice::askPlacement(const std::string& home, const std::function<void(Placement)>& then)
{
    m_profile.reset();
    ProfileSearch search = program() == kThunderbird ? findThunderbirdProfile(home) : ProfileSearch{};
    if (!search.profile) {
        then(Placement::Destination);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, tr("Put the mail into Thunderbird?"),
                                tr("Put the converted mail straight into Thunderbird's profile \"%1\", as a new folder \"Eudora\" "
                                   "under Local Folders?")
                                    .arg(QString::fromStdString(search.profile->name)),
                                QMessageBox::Cancel, window());
    box->setObjectName(QStringLiteral("intoThunderbirdBox"));
    box->setInformativeText(tr("Its Local Folders: %1\nQuit Thunderbird first; the folders already there are not touched.")
                                .arg(QFile::decodeName(QByteArray::fromStdString(search.profile->localFolders))));
    QPushButton* into = box->addButton(tr("&Put into Thunderbird"), QMessageBox::AcceptRole);
    QPushButton* files = box->addButton(tr("&Only into the Destination"), QMessageBox::RejectRole);
    into->setObjectName(QStringLiteral("intoThunderbirdButton"));
    files->setObjectName(QStringLiteral("onlyDestinationButton"));
    box->setDefaultButton(into);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, into, files, then, profile = *search.profile] {
        if (box->clickedButton() == into) {
            m_profile = profile;
            then(Placement::IntoThunderbird);
        } else {
            then(box->clickedButton() == files ? Placement::Destination : Placement::Cancel);
        }
    });
    box->open();
}

} // namespace tarnwick
