#include "platform/Paths.h"

#include "TempFolder.h"

#include <pwd.h>
#include <unistd.h>

namespace tarnwick {
namespace {

TEST(Paths, StandardiseAndAbbreviate)
{
    test::TempFolder folder;
    std::filesystem::create_directories(folder / "real/sub");
    ASSERT_EQ(::symlink((folder / "real/sub").c_str(), (folder / "link").c_str()), 0);
    const std::string real = std::filesystem::canonical(folder.path).string();
    ::setenv("HOME", "/home/someone/", 1);
    const struct passwd* root = ::getpwnam("root");
    ASSERT_NE(root, nullptr);

    const auto S = standardizePath, A = abbreviateWithTilde;
    const struct { std::string (*function)(std::string_view); std::string input, expected; } cases[] = {
        {S, "", ""}, {S, "//", "/"}, {S, "/a//b/./c/", "/a/b/c"}, {S, "./", "."}, {S, "a/../b", "a/../b"}, {S, "/..", "/"},
        {S, "~/Mail//In", "/home/someone/Mail/In"}, {S, "~root/x", root->pw_dir + std::string("/x")},
        {S, "~no-such-user-tarnwick/x", "~no-such-user-tarnwick/x"}, {S, "a~/b", "a~/b"},
        {S, "/no-such-dir-tarnwick/b/../c", "/no-such-dir-tarnwick/c"}, {S, "/no-such-dir-tarnwick/../../x", "/x"},
        {S, folder / "link/../sub/", real + "/real/sub"}, // ".." goes to the real parent, through the link
        {S, "/bytes/\xff\xfe/./\xe9", "/bytes/\xff\xfe/\xe9"},
        {A, "/home/someone/", "~"}, {A, "/home/someone/Mail", "~/Mail"}, {A, "/home/someoneelse/Mail", "/home/someoneelse/Mail"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.function(c.input), c.expected) << (c.function == S ? "standardise " : "abbreviate ") << c.input;
}

} // namespace
} // namespace tarnwick
