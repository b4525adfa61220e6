// Fuzzes the reading of Thunderbird's profiles.ini: a profile named is a Path or
// Default value of the text, below the settings folder unless it is absolute.

#include "FuzzSupport.h"

#include "batch/ThunderbirdProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnwick::fuzz::ExactBytes bytes(data, size);
    const std::optional<std::string> profile = tarnwick::defaultProfileFolder(bytes.view(), "/tb");
    if (!profile)
        return 0;
    FUZZ_CHECK(!profile->empty() && profile->front() == '/');
    const std::string_view value = profile->starts_with("/tb/") ? std::string_view(*profile).substr(4) : std::string_view(*profile);
    FUZZ_CHECK(!value.empty());
    FUZZ_CHECK(bytes.view().find(value) != std::string_view::npos);
    FUZZ_CHECK(value.find('\n') == std::string_view::npos);
    return 0;
}
