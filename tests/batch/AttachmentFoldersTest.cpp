// Which folders the files of a mailbox's attachment lines are looked for in.
#include "batch/AttachmentFolders.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using Tree = test::TempTree;

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
    // Above a source that no Eudora folder holds, an "attach" is a stranger's.
    t.folder("Stranger/attach");
    t.folder("Stranger/Mine/Sub");
    t.file("Stranger/Mine/Sub/box");
    // Above the source up to the Eudora folder holding it, and no further.
    t.folder("Held/attach");
    t.folder("Held/Eudora Folder/Mail Folder/Inner");
    t.folder("Held/Eudora Folder/Attachments Folder");
    t.file("Held/Eudora Folder/Eudora Settings");
    t.file("Held/Eudora Folder/Mail Folder/Inner/box");
    t.folder("Bare/attach");
    t.folder("Bare/Eudora/Mail");
    t.file("Bare/Eudora/Eudora.ini");
    t.file("Bare/Eudora/Mail/box");

    struct Case {
        const char* what;
        std::string source;
        std::string mailbox;
        std::vector<std::string> files;
        std::vector<std::string> embedded;
    };
    const Case cases[] = {
        {"windows, beside", t / "Win", t / "Win/In.mbx", {t / "Win/attach"}, {t / "Win/EMBEDDED"}},
        {"windows, two levels up", t / "Win", t / "Win/Sub.fol/Deeper.fol/Box.mbx", {t / "Win/attach"}, {t / "Win/EMBEDDED"}},
        {"mac, one level up", t / "Mac", t / "Mac/Mail Folder/In", {t / "Mac/Attachments Folder"}, {t / "Mac/Parts Folder"}},
        {"the nearest folder wins", t / "Own", t / "Own/Nested/box", {t / "Own/Nested/attach"}, {}},
        {"no climb past the Eudora folder", t / "Top", t / "Top/Eudora/Mail/box", {}, {}},
        {"symbolic link refused", t / "Linked", t / "Linked/box", {}, {}},
        {"nothing above a source outside any Eudora folder", t / "Stranger/Mine", t / "Stranger/Mine/Sub/box", {}, {}},
        {"a single mailbox outside any Eudora folder", t / "Stranger/Mine/Sub/box", t / "Stranger/Mine/Sub/box", {}, {}},
        {"up to the Eudora folder holding the source",
         t / "Held/Eudora Folder/Mail Folder/Inner",
         t / "Held/Eudora Folder/Mail Folder/Inner/box",
         {t / "Held/Eudora Folder/Attachments Folder"},
         {}},
        {"a single mailbox in a Eudora folder",
         t / "Held/Eudora Folder/Mail Folder/Inner/box",
         t / "Held/Eudora Folder/Mail Folder/Inner/box",
         {t / "Held/Eudora Folder/Attachments Folder"},
         {}},
        {"never past the Eudora folder holding the source", t / "Bare/Eudora/Mail", t / "Bare/Eudora/Mail/box", {}, {}},
    };
    for (const Case& c : cases) {
        const AttachmentFolders folders = AttachmentFolderSearch(c.source, {}).foldersFor(c.mailbox);
        EXPECT_EQ(AttachmentFolders::paths(folders.files), c.files) << c.what;
        EXPECT_EQ(AttachmentFolders::paths(folders.embedded), c.embedded) << c.what;
    }

    const AttachmentFolders withUser = AttachmentFolderSearch(t / "Win", {"/u1", "/u2"}).foldersFor(t / "Win/In.mbx");
    EXPECT_EQ(AttachmentFolders::paths(withUser.files), (std::vector<std::string>{t / "Win/attach", "/u1", "/u2"}));
    EXPECT_EQ(AttachmentFolders::paths(withUser.embedded), (std::vector<std::string>{t / "Win/EMBEDDED", "/u1", "/u2"}));
}

TEST(AttachmentFolders, EudoraIniNamesAFolderInsideOrBesideTheEudoraFolder)
{
    struct Case {
        const char* what;
        std::string ini;
        std::vector<std::string> files; // below the case's own folder
    };
    const Case cases[] = {
        {"relative", "[Settings]\r\nAttachDir=Saved Files\r\n", {"Eudora/Saved Files", "Eudora/attach"}},
        {"relative, any letter case, sub-folder",
         "[settings]\nattachdir = saved files\\2004\n",
         {"Eudora/Saved Files/2004", "Eudora/attach"}},
        {"absolute, inside the Eudora folder",
         "[Settings]\r\nAutoReceiveDir=C:\\Users\\ann\\AppData\\Roaming\\Qualcomm\\Eudora\\Saved Files\r\n",
         {"Eudora/Saved Files", "Eudora/attach"}},
        {"absolute, copied beside it", "[Settings]\r\nAttachDir=D:\\Mail\\Beside\r\n", {"Beside", "Eudora/attach"}},
        {"both settings, in order",
         "[Settings]\r\nAttachDir=..\\Beside\r\nAutoReceiveDir=Saved Files\r\n",
         {"Eudora/Saved Files", "Beside", "Eudora/attach"}},
        {"the folder found anyway is listed once", "[Settings]\r\nAttachDir=c:\\eudora\\ATTACH\r\n", {"Eudora/attach"}},
        {"quoted, with dot components",
         "[Settings]\r\nAttachDir=\".\\Saved Files\\.\\2004\\..\"\r\n",
         {"Eudora/Saved Files", "Eudora/attach"}},
        {"another section", "[Other]\r\nAttachDir=Saved Files\r\n", {"Eudora/attach"}},
        {"two levels up", "[Settings]\r\nAttachDir=..\\..\\Above\r\n", {"Eudora/attach"}},
        {"the folder holding it", "[Settings]\r\nAttachDir=..\r\n", {"Eudora/attach"}},
        {"the Eudora folder itself", "[Settings]\r\nAttachDir=C:\\Qualcomm\\Eudora\r\n", {"Eudora/attach"}},
        {"a link inside", "[Settings]\r\nAttachDir=Linked\r\n", {"Eudora/attach"}},
        {"a link beside", "[Settings]\r\nAttachDir=..\\LinkedBeside\r\n", {"Eudora/attach"}},
        {"a file, not a folder", "[Settings]\r\nAttachDir=In.mbx\r\n", {"Eudora/attach"}},
        {"not there", "[Settings]\r\nAttachDir=E:\\Gone\r\n", {"Eudora/attach"}},
    };
    for (const Case& c : cases) {
        Tree t;
        t.folder("Eudora/attach");
        t.folder("Eudora/Saved Files/2004");
        t.folder("Eudora/Mail.fol");
        t.folder("Beside");
        t.folder("Above");
        t.folder("Elsewhere");
        fs::create_directory_symlink(t / "Elsewhere", t / "Eudora/Linked");
        fs::create_directory_symlink(t / "Elsewhere", t / "LinkedBeside");
        t.file("Eudora/In.mbx");
        t.file("Eudora/Mail.fol/Box.mbx");
        std::ofstream(t / "Eudora/Eudora.ini", std::ios::binary) << c.ini;
        std::vector<std::string> expected;
        for (const std::string& folder : c.files)
            expected.push_back(t / folder);
        for (const std::string mailbox : {"Eudora/In.mbx", "Eudora/Mail.fol/Box.mbx"}) {
            const AttachmentFolders folders = AttachmentFolderSearch(t / "Eudora", {}).foldersFor(t / mailbox);
            EXPECT_EQ(AttachmentFolders::paths(folders.files), expected) << c.what << ", " << mailbox;
        }
        // A source inside the Eudora folder reads the same settings.
        const AttachmentFolders inner = AttachmentFolderSearch(t / "Eudora/Mail.fol", {}).foldersFor(t / "Eudora/Mail.fol/Box.mbx");
        EXPECT_EQ(AttachmentFolders::paths(inner.files), expected) << c.what << ", inner source";
    }
}

} // namespace
} // namespace tarnwick
