// The layered settings store and the user's settings file.
#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(SettingsStore, VolatileThenPersistentThenRegistered)
{
    SettingsStore store;
    EXPECT_FALSE(store.stringForKey("Key").has_value());
    store.registerDefaults({{"Key", SettingValue(std::string("registered"))}, {"Other", SettingValue(true)}});
    EXPECT_EQ(store.stringForKey("Key"), "registered");
    store.setString("Key", "stored");
    EXPECT_EQ(store.stringForKey("Key"), "stored");
    store.setVolatile("Key", std::string("volatile"));
    EXPECT_EQ(store.stringForKey("Key"), "volatile");
    store.clearVolatile();
    EXPECT_EQ(store.stringForKey("Key"), "stored");
    EXPECT_TRUE(store.boolForKey("Other"));
    // A new registration replaces the whole layer.
    store.registerDefaults({});
    EXPECT_FALSE(store.boolForKey("Other"));
    EXPECT_EQ(store.stringForKey("Key"), "stored");
}

TEST(SettingsStore, TypedReadsGiveTheEmptyValueForAnotherType)
{
    SettingsStore store;
    store.setBool("Bool", true);
    store.setInteger("Integer", 1);
    store.setString("String", "1");
    store.setStringArray("Array", {"a"});
    struct Case {
        const char* key;
        bool asBool;
        std::int64_t asInteger;
        bool hasString;
        bool hasArray;
    } cases[] = {
        {"Bool", true, 0, false, false},
        {"Integer", false, 1, false, false},
        {"String", false, 0, true, false},
        {"Array", false, 0, false, true},
        {"Missing", false, 0, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store.boolForKey(c.key), c.asBool) << c.key;
        EXPECT_EQ(store.integerForKey(c.key), c.asInteger) << c.key;
        EXPECT_EQ(store.stringForKey(c.key).has_value(), c.hasString) << c.key;
        EXPECT_EQ(store.stringArrayForKey(c.key).has_value(), c.hasArray) << c.key;
    }
    // The first layer holding the key decides, even when its value has the wrong type.
    store.registerDefaults({{"Flag", SettingValue(true)}});
    store.setString("Flag", "YES");
    EXPECT_FALSE(store.boolForKey("Flag"));
}

TEST(SettingsStore, IdentifiersAboveTwoToThe31RoundTrip)
{
    SettingsStore store;
    for (const std::int64_t value : {std::int64_t{0x80000001}, std::int64_t{-2147483647}, std::int64_t{INT64_MIN}}) {
        store.setInteger("MboxEncoding", value);
        EXPECT_EQ(store.integerForKey("MboxEncoding"), value);
        EXPECT_EQ(static_cast<std::uint32_t>(store.integerForKey("MboxEncoding")), static_cast<std::uint32_t>(value));
    }
}

TEST(SettingsStore, ReadersAndAWriterAtOnce)
{
    SettingsStore store;
    store.setStringArray("Names", {"a", "b"});
    bool consistent = true;
    std::thread reader([&] {
        for (int i = 0; i < 5000; ++i) {
            const auto names = store.stringArrayForKey("Names");
            if (!names || (names->size() != 2 && names->size() != 3))
                consistent = false;
        }
    });
    for (int i = 0; i < 5000; ++i)
        store.setStringArray("Names", i % 2 ? Strings{"a", "b"} : Strings{"x", "y", "z"});
    reader.join();
    EXPECT_TRUE(consistent);
}

class UserSettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tarnwick-settings-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "home");
        saveEnv("XDG_CONFIG_HOME");
        saveEnv("HOME");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        setenv("HOME", (dir_ / "home").c_str(), 1);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        fs::remove_all(dir_);
    }
    void saveEnv(const char* name)
    {
        const char* value = std::getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    fs::path dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(UserSettingsFile, ValuesKeepTypeAndBytesAcrossInstances)
{
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.push_back(static_cast<char>(b));
    const std::pair<const char*, SettingValue> values[] = {
        {"True", SettingValue(true)},
        {"False", SettingValue(false)},
        {"Zero", SettingValue(std::int64_t{0})},
        {"Negative", SettingValue(std::int64_t{-2147483647})},
        {"Large", SettingValue(std::int64_t{INT64_MAX})},
        {"Smallest", SettingValue(std::int64_t{INT64_MIN})},
        {"Empty", SettingValue(std::string())},
        {"Path", SettingValue(std::string("/home/u/Mail/caf\xE9 \xFF%41,;=\"[x]"))},
        {"Digits", SettingValue(std::string("123"))},
        {"LooksTagged", SettingValue(std::string("bool:true"))},
        {"Tarnwick", SettingValue(allBytes)},
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
    ASSERT_TRUE(fs::exists(dir_ / "config" / "Tarnwick" / "Tarnwick.conf"));
    auto backend = makeUserSettingsBackend();
    for (const auto& [key, value] : values) {
        const auto read = backend->value(key);
        ASSERT_TRUE(read.has_value()) << key;
        EXPECT_TRUE(*read == value) << key;
    }
    EXPECT_FALSE(backend->value("Missing").has_value());
}

TEST_F(UserSettingsFile, StoreWritesThroughAndUntaggedValuesReadAsMissing)
{
    {
        SettingsStore store;
        store.setPersistentBackend(makeUserSettingsBackend());
        store.setBool("ConvertEncodings", true);
        store.setInteger("MboxEncoding", 0x80000A02);
        store.sync();
    }
    {
        std::ofstream file(dir_ / "config" / "Tarnwick" / "Tarnwick.conf", std::ios::app);
        file << "AddEmptyLines=true\nComplementDateHeaders=int:x\n";
    }
    SettingsStore store;
    store.setPersistentBackend(makeUserSettingsBackend());
    EXPECT_TRUE(store.boolForKey("ConvertEncodings"));
    EXPECT_EQ(store.integerForKey("MboxEncoding"), 0x80000A02);
    store.registerDefaults({{"AddEmptyLines", SettingValue(false)}, {"ComplementDateHeaders", SettingValue(true)}});
    EXPECT_FALSE(store.boolForKey("AddEmptyLines"));
    EXPECT_TRUE(store.boolForKey("ComplementDateHeaders"));
}

TEST_F(UserSettingsFile, RelativeConfigHomeFallsBackToHome)
{
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    makeUserSettingsBackend()->setValue("Key", SettingValue(true));
    EXPECT_TRUE(fs::exists(dir_ / "home" / ".config" / "Tarnwick" / "Tarnwick.conf"));
}

} // namespace
} // namespace tarnwick
