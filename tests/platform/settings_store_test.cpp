// The layered settings store and the user's settings file.
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(SettingsStore, VolatileOverPersistentOverRegisteredWithStrictTypes)
{
    SettingsStore store;
    const SettingValue registered(std::string("registered"));
    store.setDefaults({{"R", registered}, {"RP", registered}, {"RPV", registered}, {"Flag", SettingValue(true)}});
    for (const char* key : {"RP", "RPV"})
        store.setString(key, "stored");
    store.setString("Flag", "YES");
    store.setBool("Bool", true);
    store.setInteger("Big", 0x80000001);
    store.setStringList("Array", {"a"});
    store.setVolatile("RPV", std::string("volatile"));
    store.setVolatile("V", std::int64_t{7});
    struct Case {
        const char* key;
        bool asBool;
        std::int64_t asInteger;
        const char* asString;
        bool hasArray;
    } cases[] = {
        {"R", false, 0, "registered", false},  {"RP", false, 0, "stored", false},          {"RPV", false, 0, "volatile", false},
        {"V", false, 7, nullptr, false},       {"Flag", false, 0, "YES", false}, // the first layer holding the key decides
        {"Bool", true, 0, nullptr, false},     {"Big", false, 0x80000001, nullptr, false}, {"Array", false, 0, nullptr, true},
        {"Missing", false, 0, nullptr, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store.boolValue(c.key), c.asBool) << c.key;
        EXPECT_EQ(store.integerValue(c.key), c.asInteger) << c.key;
        EXPECT_EQ(store.stringValue(c.key), c.asString ? std::optional<std::string>(c.asString) : std::nullopt) << c.key;
        EXPECT_EQ(store.stringListValue(c.key).has_value(), c.hasArray) << c.key;
    }
    store.clearVolatile();
    store.setDefaults({}); // a new registration replaces the whole layer
    EXPECT_EQ(store.stringValue("RPV"), "stored");
    EXPECT_FALSE(store.stringValue("R").has_value());
}

TEST(UserSettingsFile, ValuesKeepTypeAndBytesAcrossInstances)
{
    const fs::path dir = fs::temp_directory_path() / ("tarnwick-settings-" + std::to_string(::getpid()));
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> saved = configHome ? std::optional<std::string>(configHome) : std::nullopt;
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.push_back(static_cast<char>(b));
    const std::pair<const char*, SettingValue> values[] = {
        {"True", SettingValue(true)},
        {"False", SettingValue(false)},
        {"Zero", SettingValue(std::int64_t{0})},
        {"Identifier", SettingValue(std::int64_t{0x80000001})},
        {"Negative", SettingValue(std::int64_t{-2147483647})},
        {"Large", SettingValue(std::int64_t{INT64_MAX})},
        {"Smallest", SettingValue(std::int64_t{INT64_MIN})},
        {"Empty", SettingValue(std::string())},
        {"Digits", SettingValue(std::string("123"))},
        {"Path", SettingValue(std::string("/home/u/Mail/caf\xE9 \xFF%41,;=\"[x]"))},
        {"LooksTagged", SettingValue(std::string("bool:true"))},
        {"AllBytes", SettingValue(allBytes)},
        {"NoNames", SettingValue(Strings{})},
        {"OneEmptyName", SettingValue(Strings{""})},
        {"CharsetNames", SettingValue(Strings{"utf-8", "", "a,b", "\xA0", "iso-8859-1"})},
    };
    {
        auto backend = makeUserSettingsBackend();
        for (const auto& [key, value] : values)
            backend->setValue(key, value);
        backend->sync();
    }
    // Hand-edited lines without a type tag read as missing.
    std::ofstream(dir / "config" / "Tarnwick" / "Tarnwick.conf", std::ios::app) << "Untagged=true\nBadInt=int:x\n";
    auto backend = makeUserSettingsBackend();
    for (const auto& [key, value] : values)
        EXPECT_TRUE(backend->value(key) == value) << key;
    for (const char* key : {"Missing", "Untagged", "BadInt"})
        EXPECT_FALSE(backend->value(key).has_value()) << key;
    SettingsStore store; // the store writes through to its backend
    store.setPersistentBackend(std::move(backend));
    store.setInteger("MboxEncoding", 0x80000A02);
    store.sync();
    EXPECT_TRUE(makeUserSettingsBackend()->value("MboxEncoding") == SettingValue(std::int64_t{0x80000A02}));
    saved ? setenv("XDG_CONFIG_HOME", saved->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir);
}

} // namespace
} // namespace tarnwick
