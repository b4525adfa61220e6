#pragma once
// The layered settings store. A key resolves through three layers, first hit wins:
//   1. the volatile layer (this run only; the command line fills it),
//   2. the user's persistent values (a SettingsBackend, QSettings in the front ends),
//   3. the registration layer (registered defaults).
// Typed reads give the empty value (false, 0, none) for a missing key or a value of
// the wrong type. Reads are safe from any thread; writes are guarded too.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnwick {

/// Strings are byte strings (paths need not be UTF-8).
using SettingValue = std::variant<bool, std::int64_t, std::string, std::vector<std::string>>;
using SettingsDictionary = std::map<std::string, SettingValue, std::less<>>;

/// The user's persistent layer.
class SettingsBackend {
public:
    virtual ~SettingsBackend() = default;
    virtual std::optional<SettingValue> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const SettingValue& value) = 0;
    /// Writes pending values to permanent storage.
    virtual void sync() {}
};

/// A backend that keeps values in memory only (tests, and runs that must not persist).
std::unique_ptr<SettingsBackend> makeMemorySettingsBackend();

/// The user's store on disk: $XDG_CONFIG_HOME/Tarnwick/Tarnwick.conf (default
/// ~/.config). Values keep their type across runs.
std::unique_ptr<SettingsBackend> makeUserSettingsBackend();

class SettingsStore {
public:
    /// The process-wide store. Starts with a memory backend until a front end
    /// installs the user's backend.
    static SettingsStore& instance();

    SettingsStore();
    ~SettingsStore();

    void setPersistentBackend(std::unique_ptr<SettingsBackend> backend);
    /// Replaces the registration layer.
    void setDefaults(SettingsDictionary defaults);
    /// Sets a value for this run only; never written to the user's store.
    void setVolatile(std::string_view key, SettingValue value);
    void clearVolatile();

    std::optional<std::string> stringValue(std::string_view key) const;
    bool boolValue(std::string_view key) const;
    std::int64_t integerValue(std::string_view key) const;
    std::optional<std::vector<std::string>> stringListValue(std::string_view key) const;

    /// Writes to the user's persistent layer.
    void setString(std::string_view key, std::string value);
    void setBool(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setStringList(std::string_view key, std::vector<std::string> value);
    void sync();

private:
    std::optional<SettingValue> lookup(std::string_view key) const;
    void setPersistent(std::string_view key, SettingValue value);

    mutable std::shared_mutex mutex_;
    SettingsDictionary volatile_;
    std::unique_ptr<SettingsBackend> persistent_;
    SettingsDictionary registered_;
};

} // namespace tarnwick
