#include "platform/FileSystem.h"

#include "TempFolder.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <vector>

namespace tarnwick {
namespace {

using test::TempFolder;

std::map<std::string, EntryType> walk(DirectoryWalker& walker, std::vector<std::string>* order = nullptr)
{
    std::map<std::string, EntryType> seen;
    while (walker.next()) {
        EXPECT_TRUE(seen.emplace(walker.relativeName(), walker.type()).second) << "yielded twice: " << walker.relativeName();
        if (order)
            order->push_back(walker.relativeName());
    }
    return seen;
}

TEST(DirectoryWalker, YieldsEveryEntryOnceWithoutFollowingLinks)
{
    TempFolder folder;
    folder.write("In");
    folder.write(".hidden");
    folder.write("Sub/Out");
    folder.write("Sub/Deeper/Trash");
    folder.write("Sub/.dot/Inner");
    folder.write(std::string("Bytes\xff/Name\xe9"));
    folder.write("Outside/Target");
    ::mkfifo((folder / "fifo").c_str(), 0644);
    ASSERT_EQ(::symlink((folder / "In").c_str(), (folder / "LinkToFile").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "Outside").c_str(), (folder / "Sub/LinkToFolder").c_str()), 0);

    DirectoryWalker walker(folder.path());
    std::vector<std::string> order;
    const auto seen = walk(walker, &order);
    const std::map<std::string, EntryType> expected = {
        {"In", EntryType::Regular},
        {".hidden", EntryType::Regular},
        {"Sub", EntryType::Directory},
        {"Sub/Out", EntryType::Regular},
        {"Sub/Deeper", EntryType::Directory},
        {"Sub/Deeper/Trash", EntryType::Regular},
        {"Sub/.dot", EntryType::Directory},
        {"Sub/.dot/Inner", EntryType::Regular},
        {"Sub/LinkToFolder", EntryType::SymbolicLink},
        {"Bytes\xff", EntryType::Directory},
        {std::string("Bytes\xff/Name\xe9"), EntryType::Regular},
        {"Outside", EntryType::Directory},
        {"Outside/Target", EntryType::Regular},
        {"fifo", EntryType::Other},
        {"LinkToFile", EntryType::SymbolicLink},
    };
    EXPECT_EQ(seen, expected);

    // A folder comes before everything below it, and its subtree is contiguous.
    auto position = [&](const std::string& name) { return std::find(order.begin(), order.end(), name) - order.begin(); };
    EXPECT_LT(position("Sub"), position("Sub/Deeper"));
    EXPECT_LT(position("Sub/Deeper"), position("Sub/Deeper/Trash"));
    EXPECT_EQ(position("Sub/Deeper/Trash"), position("Sub/Deeper") + 1);
    EXPECT_FALSE(walker.next()) << "stays at its end";
}

TEST(DirectoryWalker, SkippedSubtreeIsYieldedButNotEntered)
{
    TempFolder folder;
    folder.write("In");
    folder.write("Dest/Out");
    folder.write("Dest/Nested/More");
    struct stat st {};
    ASSERT_EQ(::stat((folder / "Dest").c_str(), &st), 0);

    DirectoryWalker walker(folder.path());
    walker.skipSubtree(st.st_dev, st.st_ino);
    const auto seen = walk(walker);
    const std::map<std::string, EntryType> expected = {{"In", EntryType::Regular}, {"Dest", EntryType::Directory}};
    EXPECT_EQ(seen, expected);
}

TEST(DirectoryWalker, MissingOrUnlistableRootYieldsNothing)
{
    TempFolder folder;
    folder.write("file");
    for (const std::string& root : {folder / "missing", folder / "file", std::string()}) {
        DirectoryWalker walker(root);
        EXPECT_FALSE(walker.next()) << root;
    }
}

} // namespace
} // namespace tarnwick
