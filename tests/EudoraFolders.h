#pragma once
// The Eudora folders tests convert: the repository's own fixtures under
// tests/data/eudora (always there), and the real sample folders, which only some
// machines have beside the repository (tests that need them skip without them).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

/// An AppleDouble file as a Mac leaves it beside a Mac Eudora mailbox on another disk:
/// its resource fork holds one TOCF resource (ids 1001, 1002, ...) per record list given,
/// each record the (offset, length) of a message, laid out as Mac Eudora 6 writes them.
inline std::string macIndexFile(const std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>>& tocs)
{
    auto put = [](std::string& bytes, std::size_t at, std::uint32_t value, int size) {
        if (bytes.size() < at + size)
            bytes.resize(at + size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * (size - 1 - i)));
    };
    std::string data; // each resource: its length, then its bytes
    std::vector<std::uint32_t> offsets;
    for (const auto& records : tocs) {
        std::string resource(278 + 220 * records.size(), '\0');
        put(resource, 48, static_cast<std::uint32_t>(records.size()), 2);
        put(resource, 50, static_cast<std::uint32_t>(records.size()), 2);
        for (std::size_t i = 0; i < records.size(); ++i) {
            put(resource, 278 + 220 * i, records[i].first, 4);
            put(resource, 278 + 220 * i + 4, records[i].second, 4);
        }
        offsets.push_back(static_cast<std::uint32_t>(data.size()));
        std::string length;
        put(length, 0, static_cast<std::uint32_t>(resource.size()), 4);
        data += length + resource;
    }
    std::string map(28, '\0'); // the map: the type list at 28, one type, then its references
    put(map, 24, 28, 2);
    put(map, 28, 0, 2);
    map += "TOCF";
    put(map, 34, static_cast<std::uint32_t>(tocs.size()) - 1, 2);
    put(map, 36, 10, 2);
    for (std::size_t i = 0; i < tocs.size(); ++i) {
        const std::size_t at = 38 + 12 * i;
        put(map, at, static_cast<std::uint32_t>(1001 + i), 2);
        put(map, at + 2, 0xFFFF, 2);
        put(map, at + 4, offsets[i], 4); // attributes 0, then the 24-bit offset
        put(map, at + 8, 0, 4);
    }
    std::string fork(256, '\0');
    put(fork, 0, 256, 4);
    put(fork, 4, static_cast<std::uint32_t>(256 + data.size()), 4);
    put(fork, 8, static_cast<std::uint32_t>(data.size()), 4);
    put(fork, 12, static_cast<std::uint32_t>(map.size()), 4);
    fork += data + map;
    std::string file(26 + 12, '\0');
    put(file, 0, 0x00051607, 4);
    put(file, 4, 0x00020000, 4);
    put(file, 24, 1, 2);
    put(file, 26, 2, 4);
    put(file, 30, 38, 4);
    put(file, 34, static_cast<std::uint32_t>(fork.size()), 4);
    return file + fork;
}

} // namespace tarnwick::test

/// Declares `variable` as the real samples' folder, or skips the test, saying why.
#define TARNWICK_REAL_SAMPLES_OR_SKIP(variable)                                                                                            \
    const std::optional<std::string> variable##Found = ::tarnwick::test::realSamplesFolder();                                              \
    if (!variable##Found)                                                                                                                  \
        GTEST_SKIP() << "the real Eudora samples are not on this machine (shared/eudora-samples beside the "                               \
                        "repository, or TARNWICK_EUDORA_SAMPLES)";                                                                         \
    const std::string variable = *variable##Found
