// The defaults file and the registration of default settings.
#include "platform/encodings/TextEncoding.h"
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

// MboxEncoding is always Automatic, whatever the file or the locale's codeset says; a
// file that cannot be read registers nothing.
TEST(DefaultsRegistration, EdgeCases)
{
    const fs::path dir = fs::temp_directory_path() / ("tarnwick-defaults-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const char* lcAll = std::getenv("LC_ALL");
    const std::optional<std::string> savedLcAll = lcAll ? std::optional<std::string>(lcAll) : std::nullopt;
    setenv("LC_ALL", "xx_XX.KOI8-R", 1); // a legacy locale codeset does not become the source encoding
    EXPECT_EQ(carryEncoding(systemEncoding()), 0x80000A02u);
    // text: written to path (nullptr: Defaults.json); neither: the bundled defaults.
    struct Case {
        const char *what, *text, *path;
        bool registers;
    } cases[] = {
        {"bundled defaults", nullptr, nullptr, true},
        {"no MboxEncoding, other types skipped",
         R"({"AddEmptyLines": true, "CharsetNames": ["utf-8"], "F": 1.5, "M": ["a", 1], "N": null, "O": {"a": 1}})", nullptr, true},
        {"another MboxEncoding", R"({"MboxEncoding": 8, "AddEmptyLines": true})", nullptr, true},
        {"MboxEncoding of another type", R"({"MboxEncoding": "utf-8", "AddEmptyLines": true})", nullptr, true},
        {"missing file", nullptr, "missing", false},
        {"a directory", nullptr, ".", false},
        {"not JSON", "{not json", nullptr, false},
        {"empty", "", nullptr, false},
        {"an array", "[1, 2]", nullptr, false},
        {"trailing text", R"({"a": true} trailing)", nullptr, false},
    };
    for (const Case& c : cases) {
        SettingsStore store;
        const fs::path path = dir / (c.path ? c.path : "Defaults.json");
        if (c.text)
            std::ofstream(path) << c.text;
        EXPECT_EQ(c.text || c.path ? registerDefaultSettingsFromFile(store, path) : registerDefaultSettings(store), c.registers) << c.what;
        EXPECT_EQ(store.integerValue(keys::kMboxEncoding), kEncodingAutomatic) << c.what;
        EXPECT_EQ(store.boolValue(keys::kAddEmptyLines), c.registers) << c.what;
        if (!c.text && !c.path) {
            for (const std::string_view key : {keys::kEncodeHeaders, keys::kDropStaleLengths, keys::kMendCROnlyLineEndings,
                                               keys::kConvertRichText, keys::kLabelTextAttachments})
                EXPECT_TRUE(store.boolValue(key)) << key;
        }
        for (const std::string& name : store.stringListValue(keys::kCharsetNames).value_or(Strings{}))
            EXPECT_TRUE(isEncodingAvailable(encodingForIANAName(name))) << c.what << ": " << name;
    }
    savedLcAll ? setenv("LC_ALL", savedLcAll->c_str(), 1) : unsetenv("LC_ALL");
    fs::remove_all(dir);
}

} // namespace
} // namespace tarnwick
