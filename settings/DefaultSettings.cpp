#include "settings/DefaultSettings.h"

#include "platform/DefaultsFile.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

namespace tarnwick {
namespace {

// MboxEncoding always follows the user's locale, whatever the file says.
void registerWithSystemEncoding(SettingsStore& store, SettingsDictionary defaults)
{
    const EncodingId systemId = carryEncoding(systemEncoding());
    defaults.insert_or_assign(std::string(keys::kMboxEncoding), SettingValue(static_cast<std::int64_t>(systemId)));
    store.setDefaults(std::move(defaults));
}

} // namespace

bool registerDefaultSettings(SettingsStore& store)
{
    auto defaults = parseDefaults(bundledDefaultsText());
    if (!defaults)
        return false;
    registerWithSystemEncoding(store, std::move(*defaults));
    return true;
}

bool registerDefaultSettingsFromFile(SettingsStore& store, const std::string& path)
{
    auto defaults = readDefaultsFile(path);
    if (!defaults)
        return false;
    registerWithSystemEncoding(store, std::move(*defaults));
    return true;
}

} // namespace tarnwick
