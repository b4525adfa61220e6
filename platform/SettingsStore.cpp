#include "platform/SettingsStore.h"

#include <mutex>

namespace tarnwick {
namespace {

class MemorySettingsBackend final : public SettingsBackend {
public:
    std::optional<SettingValue> value(std::string_view key) const override
    {
        if (auto it = values_.find(key); it != values_.end())
            return it->second;
        return std::nullopt;
    }
    void setValue(std::string_view key, const SettingValue& value) override { values_.insert_or_assign(std::string(key), value); }

private:
    SettingsDictionary values_;
};

template <typename T> std::optional<T> valueAs(const std::optional<SettingValue>& value)
{
    if (value) {
        if (const T* typed = std::get_if<T>(&*value))
            return *typed;
    }
    return std::nullopt;
}

} // namespace

std::unique_ptr<SettingsBackend> makeMemorySettingsBackend() { return std::make_unique<MemorySettingsBackend>(); }

SettingsStore& SettingsStore::instance()
{
    // Never destroyed: a detached worker may still read it while the process exits.
    static SettingsStore* const store = new SettingsStore();
    return *store;
}

SettingsStore::SettingsStore() : persistent_(makeMemorySettingsBackend()) {}
SettingsStore::~SettingsStore() = default;

void SettingsStore::setPersistentBackend(std::unique_ptr<SettingsBackend> backend)
{
    std::unique_lock lock(mutex_);
    persistent_ = backend ? std::move(backend) : makeMemorySettingsBackend();
}

void SettingsStore::setDefaults(SettingsDictionary defaults)
{
    std::unique_lock lock(mutex_);
    registered_ = std::move(defaults);
}

void SettingsStore::setVolatile(std::string_view key, SettingValue value)
{
    std::unique_lock lock(mutex_);
    volatile_.insert_or_assign(std::string(key), std::move(value));
}

void SettingsStore::clearVolatile()
{
    std::unique_lock lock(mutex_);
    volatile_.clear();
}

std::optional<SettingValue> SettingsStore::lookup(std::string_view key) const
{
    std::shared_lock lock(mutex_);
    if (auto it = volatile_.find(key); it != volatile_.end())
        return it->second;
    if (auto stored = persistent_->value(key))
        return stored;
    if (auto it = registered_.find(key); it != registered_.end())
        return it->second;
    return std::nullopt;
}

// Typed reads are strict: a value of another type reads as the empty value, exactly as
// a missing key does (a bool is not an integer, a string is not a one-element array).
std::optional<std::string> SettingsStore::stringValue(std::string_view key) const { return valueAs<std::string>(lookup(key)); }

bool SettingsStore::boolValue(std::string_view key) const { return valueAs<bool>(lookup(key)).value_or(false); }

std::int64_t SettingsStore::integerValue(std::string_view key) const { return valueAs<std::int64_t>(lookup(key)).value_or(0); }

std::optional<std::vector<std::string>> SettingsStore::stringListValue(std::string_view key) const
{
    return valueAs<std::vector<std::string>>(lookup(key));
}

void SettingsStore::setPersistent(std::string_view key, SettingValue value)
{
    std::unique_lock lock(mutex_);
    persistent_->setValue(key, value);
}

void SettingsStore::setString(std::string_view key, std::string value) { setPersistent(key, std::move(value)); }
void SettingsStore::setBool(std::string_view key, bool value) { setPersistent(key, value); }
void SettingsStore::setInteger(std::string_view key, std::int64_t value) { setPersistent(key, value); }
void SettingsStore::setStringList(std::string_view key, std::vector<std::string> value) { setPersistent(key, std::move(value)); }

void SettingsStore::sync()
{
    std::unique_lock lock(mutex_);
    persistent_->sync();
}

} // namespace tarnwick
