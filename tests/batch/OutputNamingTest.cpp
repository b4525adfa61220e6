#include "batch/OutputNaming.h"
#include "platform/FileSystem.h"

#include "TempFolder.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace tarnwick {
namespace {

using test::TempFolder;

struct NamingCase {
    const char* label;
    std::vector<std::string> existing;
    std::string name;
    std::string expected;
};

TEST(GetUniquePath, ChoosesFirstFreeNameAndCreatesIt)
{
    std::vector<NamingCase> cases = {
        {"empty folder", {}, "In", "In"},
        {"plain taken", {"In"}, "In", "In_2"},
        {"plain and _2 taken", {"In", "In_2"}, "In", "In_3"},
        {"gap is filled", {"In", "In_3"}, "In", "In_2"},
        {"extension kept", {"Inbox.mbx"}, "Inbox.mbx", "Inbox_2.mbx"},
        {"relative name flattened", {}, "Sub/In", "Sub:In"},
        {"flattened and taken", {"Sub:In"}, "Sub/In", "Sub:In_2"},
        {"deep name flattened", {}, "Sub/Deeper/Trash", "Sub:Deeper:Trash"},
        {"period in folder part starts extension", {"a.b:c"}, "a.b/c", "a_2.b:c"},
        {"last period splits", {"scratch..tiff"}, "scratch..tiff", "scratch._2.tiff"},
        {"leading period is no extension", {".hidden"}, ".hidden", ".hidden_2"},
        {"trailing period is kept", {"notes."}, "notes.", "notes._2"},
        {"plain decimal counter",
         {"In", "In_2", "In_3", "In_4", "In_5", "In_6", "In_7", "In_8", "In_9"},
         "In",
         "In_10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        for (const auto& name : c.existing)
            folder.write(name, "keep");
        const auto result = getUniquePath(folder.path(), c.name);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, folder / c.expected);
        EXPECT_EQ(entryType(*result), EntryType::Regular);
        EXPECT_EQ(fileSize(*result), 0u);
        for (const auto& name : c.existing)
            EXPECT_EQ(test::readFile(folder / name), "keep") << name;
    }
}

TEST(GetUniquePath, SymbolicLinkCountsAsTakenEvenWhenDangling)
{
    TempFolder folder;
    ASSERT_EQ(::symlink((folder / "nowhere").c_str(), (folder / "In").c_str()), 0);
    const auto result = getUniquePath(folder.path(), "In");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, folder / "In_2");
    EXPECT_EQ(entryType(folder / "In"), EntryType::SymbolicLink);
    EXPECT_EQ(entryType(folder / "nowhere"), EntryType::None) << "the link's target must not be created";
}

TEST(GetUniquePath, CreatedFileHasMode0644UnderUmask022)
{
    TempFolder folder;
    const mode_t previous = ::umask(022);
    const auto result = getUniquePath(folder.path(), "In");
    ::umask(previous);
    ASSERT_TRUE(result.has_value());
    struct stat st {};
    ASSERT_EQ(::stat(result->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A folder that can take no file must end the search at once, not after 26^6 tries.
TEST(GetUniquePath, FailureOtherThanTakenNameEndsAtOnce)
{
    TempFolder folder;
    folder.write("plain-file");
    folder.write(std::string(254, 'n'), "keep");
    struct Case {
        const char* label;
        std::string folder;
        std::string name;
    };
    std::vector<Case> cases = {
        {"missing folder", folder / "missing", "In"},
        {"folder is a file", folder / "plain-file", "In"},
        {"name too long", folder.path(), std::string(300, 'n')},
        {"plain taken, numbered name too long", folder.path(), std::string(254, 'n')},
    };
    if (::geteuid() != 0) {
        ::mkdir((folder / "read-only").c_str(), 0555);
        cases.push_back({"read-only folder", folder / "read-only", "In"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(getUniquePath(c.folder, c.name).has_value());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    EXPECT_EQ(test::readFile(folder / std::string(254, 'n')), "keep");
}

TEST(ExclusiveCreation, CreatesOnlyWhereNothingExists)
{
    TempFolder folder;
    folder.write("taken", "contents");
    ASSERT_EQ(::symlink("taken", (folder / "link").c_str()), 0);
    ASSERT_EQ(::symlink("missing-target", (folder / "dangling").c_str()), 0);

    struct Case {
        const char* label;
        std::string path;
        bool created;
        int error;
    };
    const std::string tooLong = folder.path() + "/" + std::string(PATH_MAX, 'a');
    const std::vector<Case> cases = {
        {"new name", folder / "fresh", true, 0},
        {"existing file", folder / "taken", false, EEXIST},
        {"link to a file", folder / "link", false, EEXIST},
        {"dangling link", folder / "dangling", false, EEXIST},
        {"existing folder", folder.path(), false, EEXIST},
        {"missing parent", folder / "no/such", false, ENOENT},
        {"empty path", "", false, ENOENT},
        {"longer than PATH_MAX", tooLong, false, ENAMETOOLONG},
        {"zero byte inside", folder.path() + std::string("/a\0b", 4), false, EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        int error = -1;
        EXPECT_EQ(ZQ_createFileExclusivelyAtPath(&c.path, &error), c.created);
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(fileSize(folder / "fresh"), 0u);
    EXPECT_EQ(test::readFile(folder / "taken"), "contents");
    EXPECT_EQ(entryType(folder / "missing-target"), EntryType::None);

    int error = 0;
    EXPECT_FALSE(ZQ_createFileExclusivelyAtPath(nullptr, &error));
    EXPECT_EQ(error, EINVAL);
}

} // namespace
} // namespace tarnwick
