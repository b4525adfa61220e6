// Fuzzes the reading of a Thunderbird profile's prefs.js and the Local Folders it
// names: no setting longer than the text, nor other than its bytes where it holds no
// escape, and a folder that is either inside the profile (no "..") or an absolute
// directory the text gives.

#include "FuzzSupport.h"

#include "batch/ThunderbirdPrefs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    const std::map<std::string, std::string> prefs = tarnwick::readPrefs(bytes.view());
    const bool escapes = bytes.view().find('\\') != std::string_view::npos;
    for (const auto& [name, value] : prefs) {
        FUZZ_CHECK(name.size() + value.size() < size);
        // Without escapes, a name and its value are copies of the text's bytes.
        FUZZ_CHECK(escapes || bytes.view().find(name) != std::string_view::npos);
        FUZZ_CHECK(escapes || bytes.view().find(value) != std::string_view::npos);
    }
    (void)tarnwick::localFoldersKeepMessageFiles(prefs);
    const std::optional<std::string> folder = tarnwick::localFoldersFolder(prefs, "/p");
    if (!folder)
        return 0;
    FUZZ_CHECK(folder->starts_with('/'));
    bool given = false;
    for (const auto& [name, value] : prefs)
        given = given || (name.ends_with(".directory") && value == *folder);
    if (!given) {
        FUZZ_CHECK(folder->starts_with("/p/"));
        FUZZ_CHECK(("/" + *folder + "/").find("/../") == std::string::npos);
    }
    return 0;
}
