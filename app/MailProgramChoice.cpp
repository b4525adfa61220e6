#include "app/MailProgramChoice.h"

#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/ProfileFolders.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {
namespace {

const QString kThunderbird = QStringLiteral("thunderbird");
const QString kServer = QStringLiteral("server");
const QString kMutt = QStringLiteral("mutt");
const QString kMbox = QStringLiteral("mbox");

} // namespace

MailProgramChoice::MailProgramChoice(QComboBox* layoutMenu, QCheckBox* lineEndingsBox, QWidget* parent)
    : QWidget(parent), m_menu(new QComboBox(this)), m_layoutMenu(layoutMenu), m_lineEndingsBox(lineEndingsBox),
      m_thunderbirdNote(new QLabel(this))
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
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_menu, 1);
    m_thunderbirdNote->setObjectName(QStringLiteral("thunderbirdNote"));
    m_thunderbirdNote->setWordWrap(true);
    m_thunderbirdNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_thunderbirdNote->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(m_thunderbirdNote);
    connect(m_menu, &QComboBox::activated, this, [this] {
        apply(program());
        updateThunderbirdNote(homeDirectory());
    });
}

ProfileSearch MailProgramChoice::offeredProfile(const std::string& home) const
{
    ProfileSearch search = findThunderbirdProfile(home);
    if (search.profile && profileInUse(search.profile->folder)) {
        search.problem = translate("Thunderbird is running (its profile \"%1\" is in use): quit Thunderbird, then try again",
                                   {search.profile->folder});
        search.profile.reset();
    }
    return search;
}

void MailProgramChoice::updateThunderbirdNote(const std::string& home)
{
    const ProfileSearch search = program() == kThunderbird ? offeredProfile(home) : ProfileSearch{};
    if (search.problem.empty()) {
        m_thunderbirdNote->hide();
        m_thunderbirdNote->clear();
        return;
    }
    const QString text = tr("Not put straight into Thunderbird: %1").arg(QString::fromStdString(search.problem));
    m_thunderbirdNote->setText(text);
    m_thunderbirdNote->setToolTip(text);
    m_thunderbirdNote->show();
}

// Thunderbird may have been quit, or a profile made, while the window was in the background.
bool MailProgramChoice::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        updateThunderbirdNote(homeDirectory());
    return QWidget::event(event);
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
    updateThunderbirdNote(homeDirectory());
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
    updateThunderbirdNote(home);
    ProfileSearch search = program() == kThunderbird ? offeredProfile(home) : ProfileSearch{};
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
