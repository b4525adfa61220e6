// Fuzzes the reading of Thunderbird's profiles.ini: a profile chosen is a Path or
// Default value of the text, below the settings folder unless it is absolute, whether
// the default or one asked for by name.

#include "FuzzSupport.h"

#include "batch/ThunderbirdProfile.h"

#include <algorithm>

namespace {

void checkChosen(std::string_view ini, std::string_view wanted)
{
    const std::optional<tarnwick::ListedProfile> profile = tarnwick::chooseProfile(ini, "/tb", wanted);
    if (!profile)
        return;
    FUZZ_CHECK(!profile->folder.empty() && profile->folder.front() == '/');
    // The Path value as written: relative to the settings folder, or absolute (which may
    // itself begin with the settings folder, even be it: "/tb/").
    const std::string_view folder = profile->folder;
    const std::string_view relative = folder.starts_with("/tb/") ? folder.substr(4) : std::string_view();
    const std::string_view value = !relative.empty() && ini.find(relative) != std::string_view::npos ? relative : folder;
    FUZZ_CHECK(ini.find(value) != std::string_view::npos);
    FUZZ_CHECK(value.find('\n') == std::string_view::npos);
    FUZZ_CHECK(profile->name.find('\n') == std::string_view::npos);
    if (!wanted.empty()) {
        const std::vector<std::string> names = tarnwick::profileNames(ini);
        FUZZ_CHECK(profile->name == wanted || value == wanted);
        FUZZ_CHECK(std::find(names.begin(), names.end(), profile->name) != names.end());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    checkChosen(bytes.view(), {});
    checkChosen(bytes.view(), "default");
    checkChosen(bytes.view(), "p");
    return 0;
}
