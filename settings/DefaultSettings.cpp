#include "settings/DefaultSettings.h"

#include "platform/DefaultsFile.h"
#include "platform/encodings/TextEncoding.h"
#include "settings/SettingsKeys.h"

namespace tarnwick {
namespace {

// MboxEncoding is always Automatic, whatever the file says: the locale's own encoding
// (UTF-8 on most desktops) is one that Eudora never stored mail in.
void registerWithAutomaticEncoding(SettingsStore& store, SettingsDictionary defaults)
{
    defaults.insert_or_assign(std::string(keys::kMboxEncoding), SettingValue(static_cast<std::int64_t>(kEncodingAutomatic)));
    store.setDefaults(std::move(defaults));
}

} // namespace

bool registerDefaultSettings(SettingsStore& store)
{
    auto defaults = parseDefaults(bundledDefaultsText());
    if (!defaults)
        return false;
    registerWithAutomaticEncoding(store, std::move(*defaults));
    return true;
}

bool registerDefaultSettingsFromFile(SettingsStore& store, const std::string& path)
{
    auto defaults = readDefaultsFile(path);
    if (!defaults)
        return false;
    registerWithAutomaticEncoding(store, std::move(*defaults));
    return true;
}

} // namespace tarnwick
