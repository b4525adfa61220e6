// The encoding menu and the charset field.

#include "app/Controller.h"

#include "platform/SettingsStore.h"
#include "settings/CharsetNamesText.h"
#include "settings/EncodingMenuOrder.h"
#include "settings/SettingsKeys.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <optional>

namespace tarnwick {
namespace {

// Identifiers are unsigned 32-bit; tags and the setting carry their 32-bit pattern,
// so 0x80000001 is the tag -2147483647.
int tagForEncoding(EncodingId encoding)
{
    return static_cast<std::int32_t>(encoding);
}

// A stored value matches a tag when it is that tag, or the unsigned identifier that
// the registered default holds; anything outside 32 bits matches nothing.
std::optional<int> tagForSetting(std::int64_t value)
{
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

} // namespace

void Controller::fillEncodingMenu()
{
    _encodingPopUp->clear();
    // Items are appended one by one: two encodings with one name give two items.
    for (const EncodingMenuEntry& entry : encodingMenuEntries())
        _encodingPopUp->addItem(QString::fromStdString(entry.name), tagForEncoding(entry.encoding));

    const SettingsStore& store = SettingsStore::standard();
    int index = -1;
    if (const auto tag = tagForSetting(store.integerForKey(keys::kMboxEncoding)))
        index = _encodingPopUp->findData(*tag);
    _encodingPopUp->setCurrentIndex(index < 0 ? 0 : index);

    QStringList names;
    for (const std::string& name : store.stringArrayForKey(keys::kCharsetNames).value_or(std::vector<std::string>{}))
        names << QString::fromStdString(name);
    _charsetField->setText(names.join(QStringLiteral(", ")));
}

int Controller::selectedEncodingTag() const
{
    const int index = _encodingPopUp->currentIndex();
    return index < 0 ? 0 : _encodingPopUp->itemData(index).toInt();
}

void Controller::controlTextDidEndEditing(QObject* object)
{
    if (object != _charsetField)
        return;
    charsetEditPending_ = false;
    const std::string normalized = normalizeCharsetText(_charsetField->text().toStdString());
    _charsetField->setText(QString::fromStdString(normalized));
}

} // namespace tarnwick
