// Which folders the files of a mailbox's attachment lines are looked for in.
#include "batch/AttachmentFolders.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

struct Tree {
    std::string path = [] {
        char pattern[] = "/tmp/tarnwick-folders.XXXXXX";
        return fs::canonical(::mkdtemp(pattern)).string();
    }();
    ~Tree()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    void folder(const std::string& name) const { fs::create_directories(*this / name); }
    void file(const std::string& name) const { std::ofstream(*this / name) << "x"; }
};

TEST(AttachmentFolders, FoundBesideOrAboveTheMailbox)
{
    Tree t;
    t.folder("Win/attach");
    t.folder("Win/EMBEDDED");
    t.folder("Win/Sub.fol/Deeper.fol");
    t.file("Win/In.mbx");
    t.file("Win/Sub.fol/Deeper.fol/Box.mbx");
    t.folder("Mac/Attachments Folder");
    t.folder("Mac/Parts Folder");
    t.folder("Mac/Mail Folder");
    t.file("Mac/Mail Folder/In");
    t.folder("Own/attach");
    t.folder("Own/Nested/attach");
    t.file("Own/Nested/box");
    // Eudora's top ends the climb even without attachment folders in it.
    t.folder("Top/attach");
    t.folder("Top/Eudora/Mail");
    t.file("Top/Eudora/Eudora.ini");
    t.file("Top/Eudora/Mail/box");
    // A link named like an attachment folder is never taken.
    t.folder("Linked/real");
    fs::create_directory_symlink(t / "Linked/real", t / "Linked/attach");
    t.file("Linked/box");

    struct Case {
        const char* what;
        std::string mailbox;
        std::vector<std::string> files;
        std::vector<std::string> embedded;
    };
    const Case cases[] = {
        {"windows, beside", t / "Win/In.mbx", {t / "Win/attach"}, {t / "Win/EMBEDDED"}},
        {"windows, two levels up", t / "Win/Sub.fol/Deeper.fol/Box.mbx", {t / "Win/attach"}, {t / "Win/EMBEDDED"}},
        {"mac, one level up", t / "Mac/Mail Folder/In", {t / "Mac/Attachments Folder"}, {t / "Mac/Parts Folder"}},
        {"the nearest folder wins", t / "Own/Nested/box", {t / "Own/Nested/attach"}, {}},
        {"no climb past the Eudora folder", t / "Top/Eudora/Mail/box", {}, {}},
        {"symbolic link refused", t / "Linked/box", {}, {}},
    };
    for (const Case& c : cases) {
        const AttachmentFolders folders = attachmentFoldersFor(c.mailbox, {});
        EXPECT_EQ(folders.files, c.files) << c.what;
        EXPECT_EQ(folders.embedded, c.embedded) << c.what;
    }

    const AttachmentFolders withUser = attachmentFoldersFor(t / "Win/In.mbx", {"/u1", "/u2"});
    EXPECT_EQ(withUser.files, (std::vector<std::string>{t / "Win/attach", "/u1", "/u2"}));
    EXPECT_EQ(withUser.embedded, (std::vector<std::string>{t / "Win/EMBEDDED", "/u1", "/u2"}));
}

} // namespace
} // namespace tarnwick
