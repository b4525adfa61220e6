// The window's controls and the settings store: filled at start-up, stored at Start.

#include "app/MainWindow.h"
#include "app/MailProgramChoice.h"

#include "engine/text/CharsetCandidates.h"

#include "platform/SettingsStore.h"
#include "settings/CharsetNamesText.h"
#include "settings/EncodingMenuOrder.h"
#include "settings/SettingsKeys.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <optional>

namespace tarnwick {
namespace {

// Identifiers are unsigned 32-bit; tags and the setting carry their 32-bit pattern,
// so 0x80000001 is the tag -2147483647.
int tagForEncoding(EncodingId encoding) { return static_cast<std::int32_t>(encoding); }

// A stored value matches a tag when it is that tag, or the unsigned identifier that
// the registered default holds; anything outside 32 bits matches nothing.
std::optional<int> tagForSetting(std::int64_t value)
{
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

QString storedPath(const SettingsStore& store, std::string_view key)
{
    return QFile::decodeName(QByteArray::fromStdString(store.stringValue(key).value_or("")));
}

// Only the on state is stored as on; a mixed check box is off.
bool isOn(const QCheckBox* box) { return box->checkState() == Qt::Checked; }

void setOn(QCheckBox* box, bool on) { box->setCheckState(on ? Qt::Checked : Qt::Unchecked); }

// The menu's item whose data is the stored text; the first item for any other.
void selectStored(QComboBox* menu, const SettingsStore& store, std::string_view key)
{
    const int index = menu->findData(QString::fromStdString(store.stringValue(key).value_or(std::string())));
    menu->setCurrentIndex(index < 0 ? 0 : index);
}

} // namespace

void MainWindow::loadSettings()
{
    const SettingsStore& store = SettingsStore::instance();
    m_sourceEdit->setText(storedPath(store, keys::kSourcePath));
    m_destinationEdit->setText(storedPath(store, keys::kDestinationPath));
    setOn(m_convertEncodingsBox, store.boolValue(keys::kConvertEncodings));
    fillEncodingMenu();
    setOn(m_eudoraTagsBox, store.boolValue(keys::kProcessEudoraTags));
    updateEncodingControls();
    setOn(m_lineEndingsBox, store.boolValue(keys::kConvertLineEndings));
    setOn(m_dateHeadersBox, store.boolValue(keys::kComplementDateHeaders));
    setOn(m_emptyLinesBox, store.boolValue(keys::kAddEmptyLines));
    setOn(m_attachmentsBox, store.boolValue(keys::kPutBackAttachments));
    // The window edits one folder; the command line may run with several.
    const auto folders = store.stringListValue(keys::kAttachmentFolders).value_or(std::vector<std::string>{});
    m_attachmentsFolderEdit->setText(folders.empty() ? QString() : QFile::decodeName(QByteArray::fromStdString(folders.front())));
    updateAttachmentControls();
    setOn(m_eudoraRecordsBox, store.boolValue(keys::kUseEudoraRecords));
    setOn(m_keepGoingBox, store.boolValue(keys::kKeepGoing));
    selectStored(m_layoutMenu, store, keys::kOutputLayout);
    selectStored(m_removedMenu, store, keys::kRemovedMessages);
    updateRecordControls();
    m_mailProgram->load(store);
    m_resultLabel->clear();
}

void MainWindow::fillEncodingMenu()
{
    m_encodingMenu->clear();
    // Items are appended one by one: two encodings with one name give two items.
    for (const EncodingMenuEntry& entry : encodingMenuEntries())
        m_encodingMenu->addItem(QString::fromStdString(entry.name), tagForEncoding(entry.encoding));

    const SettingsStore& store = SettingsStore::instance();
    int index = -1;
    if (const auto tag = tagForSetting(store.integerValue(keys::kMboxEncoding)))
        index = m_encodingMenu->findData(*tag);
    m_encodingMenu->setCurrentIndex(index < 0 ? 0 : index);

    QStringList names;
    for (const std::string& name : store.stringListValue(keys::kCharsetNames).value_or(std::vector<std::string>{}))
        names << QString::fromStdString(name);
    m_charsetEdit->setText(names.join(QStringLiteral(", ")));
}

int MainWindow::selectedEncodingTag() const
{
    const int index = m_encodingMenu->currentIndex();
    return index < 0 ? 0 : m_encodingMenu->itemData(index).toInt();
}

// Disabled controls are stored too; the job reads what is stored.
void MainWindow::storeSettings()
{
    SettingsStore& store = SettingsStore::instance();
    store.setBool(keys::kConvertEncodings, isOn(m_convertEncodingsBox));
    store.setInteger(keys::kMboxEncoding, selectedEncodingTag());
    store.setStringList(keys::kCharsetNames, splitCharsetText(m_charsetEdit->text().toStdString()));
    store.setBool(keys::kProcessEudoraTags, isOn(m_eudoraTagsBox));
    store.setBool(keys::kConvertLineEndings, isOn(m_lineEndingsBox));
    store.setBool(keys::kComplementDateHeaders, isOn(m_dateHeadersBox));
    store.setBool(keys::kAddEmptyLines, isOn(m_emptyLinesBox));
    store.setBool(keys::kPutBackAttachments, isOn(m_attachmentsBox));
    const QString folder = m_attachmentsFolderEdit->text().trimmed();
    store.setStringList(keys::kAttachmentFolders,
                        folder.isEmpty() ? std::vector<std::string>{} : std::vector<std::string>{QFile::encodeName(folder).toStdString()});
    store.setBool(keys::kUseEudoraRecords, isOn(m_eudoraRecordsBox));
    store.setBool(keys::kKeepGoing, isOn(m_keepGoingBox));
    store.setString(keys::kOutputLayout, m_layoutMenu->currentData().toString().toStdString());
    store.setString(keys::kRemovedMessages, m_removedMenu->currentData().toString().toStdString());
    m_mailProgram->store(store);
    store.sync();
}

// The end of editing of the charset field: pieces between commas trimmed of white
// space (normalizeCharsetText) and joined with ", ".
void MainWindow::normalizeCharsetField()
{
    m_charsetEditPending = false;
    m_charsetEdit->setText(QString::fromStdString(normalizeCharsetText(m_charsetEdit->text().toStdString())));
}

} // namespace tarnwick

namespace tarnwick {

// Names of the charset field that no output charset stands for get a warning icon in
// the field, listed in its tooltip; the job leaves them out as well.
void MainWindow::markUnknownCharsets()
{
    QStringList unknown;
    for (const std::string& name : splitCharsetText(normalizeCharsetText(m_charsetEdit->text().toStdString())))
        if (!name.empty() && !usableCharset(name))
            unknown << QString::fromStdString(name);
    m_charsetWarning->setToolTip(unknown.isEmpty() ? QString() : tr("Unknown charset names: %1").arg(unknown.join(QStringLiteral(", "))));
    if (auto* button = m_charsetEdit->findChild<QWidget*>(QStringLiteral("charsetWarningButton")))
        button->setAccessibleDescription(m_charsetWarning->toolTip());
    m_charsetWarning->setVisible(!unknown.isEmpty());
}

} // namespace tarnwick
