// The defaults file and the registration of default settings.
#include "platform/DefaultsFile.h"
#include "platform/TextEncoding.h"
#include "settings/DefaultSettings.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(DefaultsFile, ParsesSettingTypesAndSkipsOthers)
{
    const auto parsed = parseDefaults(R"({
        "Bool": true, "Int": 42, "Negative": -7, "Large": 9007199254740993, "Exponent": 1e3,
        "Fraction": 1.5, "Huge": 1e300, "Text": "caf\u00e9", "Names": ["utf-8", ""], "NoNames": [],
        "Mixed": ["a", 1], "Null": null, "Object": {"a": 1}
    })");
    ASSERT_TRUE(parsed.has_value());
    const SettingsDictionary expected = {
        {"Bool", SettingValue(true)},
        {"Int", SettingValue(std::int64_t{42})},
        {"Negative", SettingValue(std::int64_t{-7})},
        {"Large", SettingValue(std::int64_t{9007199254740993})},
        {"Exponent", SettingValue(std::int64_t{1000})},
        {"Text", SettingValue(std::string("caf\xC3\xA9"))},
        {"Names", SettingValue(Strings{"utf-8", ""})},
        {"NoNames", SettingValue(Strings{})},
    };
    EXPECT_TRUE(*parsed == expected);
}

TEST(DefaultsFile, RejectsWhatIsNotAnObject)
{
    for (const char* text : {"", "[1, 2]", "\"text\"", "{\"a\": ", "{\"a\": true} trailing", "nul"})
        EXPECT_FALSE(parseDefaults(text).has_value()) << text;
    EXPECT_TRUE(parseDefaults("{}").has_value());
}

class DefaultsRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tarnwick-defaults-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const char* lcAll = std::getenv("LC_ALL");
        savedLcAll_ = lcAll ? std::optional<std::string>(lcAll) : std::nullopt;
        // A codeset that is not UTF-8, so that a stale MboxEncoding cannot pass by chance.
        setenv("LC_ALL", "xx_XX.KOI8-R", 1);
    }
    void TearDown() override
    {
        if (savedLcAll_)
            setenv("LC_ALL", savedLcAll_->c_str(), 1);
        else
            unsetenv("LC_ALL");
        fs::remove_all(dir_);
    }
    std::string writeFile(const std::string& text)
    {
        const fs::path path = dir_ / "Defaults.json";
        std::ofstream(path) << text;
        return path;
    }
    static std::int64_t systemId() { return static_cast<std::int64_t>(carryEncoding(systemEncoding())); }

    fs::path dir_;
    std::optional<std::string> savedLcAll_;
};

TEST_F(DefaultsRegistration, MboxEncodingIsTheSystemEncoding)
{
    ASSERT_EQ(systemId(), 0x80000A02);
    struct Case {
        const char* what;
        const char* file;
    } cases[] = {
        {"file without MboxEncoding", R"({"AddEmptyLines": true})"},
        {"file with another MboxEncoding", R"({"MboxEncoding": 8, "AddEmptyLines": true})"},
        {"file with MboxEncoding of another type", R"({"MboxEncoding": "utf-8", "AddEmptyLines": true})"},
    };
    for (const Case& c : cases) {
        SettingsStore store;
        ASSERT_TRUE(registerDefaultSettingsFromFile(store, writeFile(c.file))) << c.what;
        EXPECT_EQ(store.integerForKey(keys::kMboxEncoding), systemId()) << c.what;
        EXPECT_TRUE(store.boolForKey(keys::kAddEmptyLines)) << c.what;
        store.setInteger(keys::kMboxEncoding, kEncodingShiftJIS);
        EXPECT_EQ(store.integerForKey(keys::kMboxEncoding), kEncodingShiftJIS) << c.what;
    }
}

TEST_F(DefaultsRegistration, UnreadableFileRegistersNothing)
{
    const std::string cases[] = {(dir_ / "missing.json").string(), dir_.string(), writeFile("{not json")};
    for (const std::string& path : cases) {
        SettingsStore store;
        EXPECT_FALSE(registerDefaultSettingsFromFile(store, path)) << path;
        EXPECT_EQ(store.integerForKey(keys::kMboxEncoding), 0) << path;
        EXPECT_FALSE(store.stringArrayForKey(keys::kCharsetNames).has_value()) << path;
    }
}

TEST_F(DefaultsRegistration, BundledDefaults)
{
    SettingsStore store;
    ASSERT_TRUE(registerDefaultSettings(store));
    EXPECT_EQ(store.integerForKey(keys::kMboxEncoding), systemId());
    EXPECT_EQ(store.stringArrayForKey(keys::kCharsetNames), (Strings{"us-ascii", "iso-8859-1", "utf-8"}));
    for (const std::string_view key : {keys::kConvertEncodings, keys::kProcessEudoraTags, keys::kConvertLineEndings,
                                       keys::kComplementDateHeaders, keys::kAddEmptyLines})
        EXPECT_TRUE(store.boolForKey(key)) << key;
    EXPECT_FALSE(store.boolForKey(keys::kReplaceNBSPWithSpaceInMacJapanese));
    // Every name of the default list is one that the lookup knows.
    const auto names = store.stringArrayForKey(keys::kCharsetNames);
    for (const std::string& name : names.value_or(Strings{}))
        EXPECT_TRUE(isEncodingAvailable(encodingForIANAName(name))) << name;
}

} // namespace
} // namespace tarnwick
