#pragma once
// The Eudora folders tests convert: the repository's own fixtures under
// tests/data/eudora (always there), and the real sample folders, which only some
// machines have beside the repository (tests that need them skip without them).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnwick::test {

inline constexpr const char* kWindowsFixture = "Windows Eudora Folder";
inline constexpr const char* kMacFixture = "Mac Eudora Folder";

/// The fixture folder `name` under tests/data/eudora, ending in '/'. A missing fixture
/// is a failure with a message; the path is returned all the same, so that the test's
/// own reads fail cleanly rather than crash.
inline std::string fixtureFolder(const std::string& name)
{
    const std::string folder = std::string(TARNWICK_TEST_DATA_DIR) + "/eudora/" + name + "/";
    if (!std::filesystem::is_directory(folder))
        ADD_FAILURE() << "fixture folder missing: " << folder << " (written by tests/data/eudora/make_folders.py)";
    return folder;
}

/// The folder holding the real Eudora samples ("Windows Eudora 7.1 Folder", "Mac Eudora
/// 6.2.4 Folder"), ending in '/': TARNWICK_EUDORA_SAMPLES from the environment when set,
/// else the folder the build found (tests/CMakeLists.txt), if any.
inline std::optional<std::string> realSamplesFolder()
{
    const char* given = std::getenv("TARNWICK_EUDORA_SAMPLES");
    const std::string folder = given && *given ? given : TARNWICK_EUDORA_SAMPLES_DIR;
    if (folder.empty() || !std::filesystem::is_directory(folder))
        return std::nullopt;
    return folder + "/";
}

} // namespace tarnwick::test

/// Declares `variable` as the real samples' folder, or skips the test, saying why.
#define TARNWICK_REAL_SAMPLES_OR_SKIP(variable)                                                                       \
    const std::optional<std::string> variable##Found = ::tarnwick::test::realSamplesFolder();                         \
    if (!variable##Found)                                                                                             \
        GTEST_SKIP() << "the real Eudora samples are not on this machine (shared/eudora-samples beside the "         \
                        "repository, or TARNWICK_EUDORA_SAMPLES)";                                                   \
    const std::string variable = *variable##Found
