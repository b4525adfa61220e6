#include "platform/Paths.h"

#include "TempFolder.h"

#include <pwd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tarnwick {
namespace {

using test::TempFolder;

// Sets HOME for one test and restores it afterwards.
class HomeOverride {
public:
    explicit HomeOverride(const std::string& home)
    {
        if (const char* old = std::getenv("HOME"))
            old_ = old;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~HomeOverride()
    {
        if (old_.empty())
            ::unsetenv("HOME");
        else
            ::setenv("HOME", old_.c_str(), 1);
    }

private:
    std::string old_;
};

struct Case {
    std::string input;
    std::string expected;
};

TEST(StandardizePath, FollowsTheRules)
{
    TempFolder folder;
    std::filesystem::create_directories(folder / "real/sub");
    ASSERT_EQ(::symlink((folder / "real/sub").c_str(), (folder / "link").c_str()), 0);
    HomeOverride home("/home/someone/");
    const struct passwd* root = ::getpwnam("root");
    ASSERT_NE(root, nullptr);
    const std::string rootHome = root->pw_dir;
    const std::string real = std::filesystem::canonical(folder.path()).string();

    const std::vector<Case> cases = {
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {"/a//b/./c/", "/a/b/c"},
        {"/a/b/", "/a/b"},
        {"a/./b//", "a/b"},
        {".", "."},
        {"./", "."},
        {"~", "/home/someone"},
        {"~/", "/home/someone"},
        {"~/Mail//In", "/home/someone/Mail/In"},
        {"~root/x", rootHome + "/x"},
        {"~no-such-user-tarnwick/x", "~no-such-user-tarnwick/x"},
        {"a~/b", "a~/b"},
        {"/..", "/"},
        {"/no-such-dir-tarnwick/b/../c", "/no-such-dir-tarnwick/c"},
        {"/no-such-dir-tarnwick/../../x", "/x"},
        {"a/../b", "a/../b"},
        {"../a/", "../a"},
        // ".." in an absolute path goes to the real parent: through the link to
        // real/sub, whose parent is real.
        {folder / "link/..", real + "/real"},
        {folder / "link/../sub/", real + "/real/sub"},
        {std::string("/bytes/\xff\xfe/./\xe9"), std::string("/bytes/\xff\xfe/\xe9")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(standardizePath(c.input), c.expected) << "input: " << c.input;
}

TEST(AbbreviateWithTilde, OnlyInsideTheHomeFolder)
{
    HomeOverride home("/home/someone");
    const std::vector<Case> cases = {
        {"/home/someone", "~"},
        {"/home/someone/", "~"},
        {"/home/someone/Mail", "~/Mail"},
        {"/home/someone/Mail/In", "~/Mail/In"},
        {"/home/someoneelse/Mail", "/home/someoneelse/Mail"},
        {"/home", "/home"},
        {"/var/mail", "/var/mail"},
        {"relative/path", "relative/path"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(abbreviateWithTilde(c.input), c.expected) << "input: " << c.input;
}

TEST(PathComponents, JoinLastAndParent)
{
    struct JoinCase {
        std::string folder;
        std::string name;
        std::string expected;
    };
    const std::vector<JoinCase> joins = {
        {"/dest", "In", "/dest/In"},
        {"/dest/", "In", "/dest/In"},
        {"/dest//", "/In", "/dest/In"},
        {"/", "In", "/In"},
        {"", "In", "In"},
        {"/dest", "", "/dest"},
        {"/dest", "Sub:In", "/dest/Sub:In"},
    };
    for (const auto& c : joins)
        EXPECT_EQ(appendPathComponent(c.folder, c.name), c.expected) << c.folder << " + " << c.name;

    const std::vector<Case> last = {
        {"/a/b", "b"}, {"/a/b/", "b"}, {"b", "b"}, {"/", "/"}, {"", ""}, {"/a", "a"},
    };
    for (const auto& c : last)
        EXPECT_EQ(lastPathComponent(c.input), c.expected) << "last of " << c.input;

    const std::vector<Case> parents = {
        {"/a/b", "/a"}, {"/a/b/", "/a"}, {"/a", "/"}, {"/", "/"}, {"a", ""}, {"", ""}, {"a/b", "a"}, {"/a//b", "/a"},
    };
    for (const auto& c : parents)
        EXPECT_EQ(deletingLastPathComponent(c.input), c.expected) << "parent of " << c.input;
}

} // namespace
} // namespace tarnwick
