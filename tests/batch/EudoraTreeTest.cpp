// What each file of a source tree is, as Eudora's folder layout tells: the
// repository's Eudora folders (and the real sample folders when they are here), a
// crafted Windows tree with folder maps and short names, and the same trees with
// Eudora's records switched off.
#include "EudoraFolders.h"
#include "batch/EudoraTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

using test::fixtureFolder;
using test::kMacFixture;
using test::kWindowsFixture;

struct TempTree {
    std::string path = [] {
        char pattern[] = "/tmp/tarnwick-tree.XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    ~TempTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::filesystem::create_directories(std::filesystem::path(path + "/" + name).parent_path());
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
    }
};

using Path = std::vector<std::string>;

struct Case {
    const char* file;
    FileRole role;
    bool mailboxPlace;
    Path output;
    const char* display;
};

void expectPlans(EudoraTree& tree, const std::vector<Case>& cases, const std::string& label)
{
    for (const Case& c : cases) {
        const FilePlan plan = tree.plan(c.file);
        EXPECT_EQ(plan.role, c.role) << label << ": " << c.file;
        if (c.role != FileRole::Mailbox)
            continue;
        EXPECT_EQ(plan.mailboxPlace, c.mailboxPlace) << label << ": " << c.file;
        EXPECT_EQ(plan.outputPath, c.output) << label << ": " << c.file;
        EXPECT_EQ(plan.displayName, c.display) << label << ": " << c.file;
    }
}

constexpr FileRole M = FileRole::Mailbox, E = FileRole::EudoraFile, A = FileRole::AttachmentFile;

TEST(EudoraTree, WindowsFolder)
{
    EudoraTree tree(fixtureFolder(kWindowsFixture), true, kEncodingUTF8);
    expectPlans(tree,
                {
                    {"In.mbx", M, true, {"In.mbx"}, "In"},
                    {"In.toc", E, true, {}, ""},
                    {"Out.mbx", M, true, {"Out.mbx"}, "Out"},
                    {"Trash.mbx", M, true, {"Trash.mbx"}, "Trash"},
                    {"CLUBS.FOL/HARBOURB.MBX", M, true, {"Clubs", "Harbour bridge, phase 2.MBX"}, "Clubs/Harbour bridge, phase 2"},
                    {"CLUBS.FOL/HARBOURB.TOC", E, true, {}, ""},
                    {"CLUBS.FOL/descmap.pce", E, true, {}, ""},
                    {"attach/budget-2011.csv", A, true, {}, ""},
                    {"attach/Meeting minutes", A, true, {}, ""},
                    {"Embedded/harbour.png", A, true, {}, ""},
                    {"descmap.pce", E, true, {}, ""},
                    {"Eudora.ini", E, true, {}, ""},
                    {"eudora.log", E, true, {}, ""},
                    {"Audit.log", E, true, {}, ""},
                    {"Plugins/Esp/Esp.log", E, true, {}, ""},
                    {"Search/Search.xml", M, false, {"Search", "Search.xml"}, "Search/Search.xml"},
                },
                "windows");
}

TEST(EudoraTree, MacFolder)
{
    EudoraTree tree(fixtureFolder(kMacFixture), true, kEncodingUTF8);
    expectPlans(tree,
                {
                    {"._Eudora Settings", E, false, {}, ""},
                    {"Attachments Folder/budget-2011.csv", A, false, {}, ""},
                    {"Attachments Folder/._budget-2011.csv", E, false, {}, ""},
                    {"Attachments Folder/route 3:12", A, false, {}, ""},
                    {"Eudora Log", E, false, {}, ""},
                    {"Eudora Settings", E, false, {}, ""},
                    {"Eudora Nicknames", M, false, {"Eudora Nicknames"}, "Eudora Nicknames"},
                    {"Eudora Items/Plugins/Esp/Esp.acq",
                     M,
                     false,
                     {"Eudora Items", "Plugins", "Esp", "Esp.acq"},
                     "Eudora Items/Plugins/Esp/Esp.acq"},
                    {"Mail Folder/In", M, true, {"In"}, "In"},
                    {"Mail Folder/._In", E, true, {}, ""},
                    {"Mail Folder/Choir", M, true, {"Choir"}, "Choir"},
                    {"Mail Folder/Junk", M, true, {"Junk"}, "Junk"},
                    {"Parts Folder/Untitled", A, false, {}, ""},
                    {"Parts Folder/._Untitled", E, false, {}, ""},
                    {"Signature Folder/Signature", M, false, {"Signature Folder", "Signature"}, "Signature Folder/Signature"},
                },
                "mac");

    // The mail folder alone as source: not an Eudora folder, but AppleDouble files are still records.
    EudoraTree mailFolder(fixtureFolder(kMacFixture) + "Mail Folder", true, kEncodingUTF8);
    expectPlans(mailFolder, {{"In", M, true, {"In"}, "In"}, {"._In", E, true, {}, ""}}, "mail folder");
}

TEST(EudoraTree, RecordsOffKeepsEveryFileAndItsPath)
{
    EudoraTree mac(fixtureFolder(kMacFixture), false, kEncodingUTF8);
    expectPlans(mac,
                {
                    {"Mail Folder/In", M, true, {"Mail Folder", "In"}, "Mail Folder/In"},
                    {"Mail Folder/._In", M, true, {"Mail Folder", "._In"}, "Mail Folder/._In"},
                    {"Attachments Folder/budget-2011.csv",
                     M,
                     true,
                     {"Attachments Folder", "budget-2011.csv"},
                     "Attachments Folder/budget-2011.csv"},
                },
                "mac, records off");
    EudoraTree windows(fixtureFolder(kWindowsFixture), false, kEncodingUTF8);
    expectPlans(windows,
                {
                    {"In.toc", M, true, {"In.toc"}, "In.toc"},
                    {"In.mbx", M, true, {"In.mbx"}, "In.mbx"},
                    {"CLUBS.FOL/HARBOURB.MBX", M, true, {"CLUBS.FOL", "HARBOURB.MBX"}, "CLUBS.FOL/HARBOURB.MBX"},
                },
                "windows, records off");
}

TEST(EudoraTree, RealSampleFolders)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    EudoraTree windows(samples + "Windows Eudora 7.1 Folder", true, kEncodingUTF8);
    expectPlans(windows,
                {
                    {"In.mbx", M, true, {"In.mbx"}, "In"},
                    {"In.toc", E, true, {}, ""},
                    {"Out.mbx", M, true, {"Out.mbx"}, "Out"},
                    {"attach/stevan_white", A, true, {}, ""},
                    {"attach/Email Attachment Test", A, true, {}, ""},
                    {"Embedded/kate_halloween.jpg", A, true, {}, ""},
                    {"descmap.pce", E, true, {}, ""},
                    {"Eudora.ini", E, true, {}, ""},
                    {"eudora.log", E, true, {}, ""},
                    {"Audit.log", E, true, {}, ""},
                    {"Plugins/Esp/Esp.log", E, true, {}, ""},
                    {"Search/Search.xml", M, false, {"Search", "Search.xml"}, "Search/Search.xml"},
                    {"usercerts.p7b", M, false, {"usercerts.p7b"}, "usercerts.p7b"},
                    {"Trash.mbx", M, true, {"Trash.mbx"}, "Trash"},
                },
                "windows");

    EudoraTree mac(samples + "Mac Eudora 6.2.4 Folder", true, kEncodingUTF8);
    expectPlans(mac,
                {
                    {"._Eudora Settings", E, false, {}, ""},
                    {"Attachments Folder/stevan_white", A, false, {}, ""},
                    {"Attachments Folder/._stevan_white", E, false, {}, ""},
                    {"Eudora Log", E, false, {}, ""},
                    {"Eudora Settings", E, false, {}, ""},
                    {"Eudora Nicknames", M, false, {"Eudora Nicknames"}, "Eudora Nicknames"},
                    {"Eudora Items/Plugins/Esp/Esp.acq",
                     M,
                     false,
                     {"Eudora Items", "Plugins", "Esp", "Esp.acq"},
                     "Eudora Items/Plugins/Esp/Esp.acq"},
                    {"Mail Folder/In", M, true, {"In"}, "In"},
                    {"Mail Folder/._In", E, true, {}, ""},
                    {"Mail Folder/Junk", M, true, {"Junk"}, "Junk"},
                    {"Parts Folder/kate_halloween.jpg", A, false, {}, ""},
                    {"Signature Folder/Signature", M, false, {"Signature Folder", "Signature"}, "Signature Folder/Signature"},
                },
                "mac");
    EudoraTree macOff(samples + "Mac Eudora 6.2.4 Folder", false, kEncodingUTF8);
    expectPlans(macOff, {{"Mail Folder/._In", M, true, {"Mail Folder", "._In"}, "Mail Folder/._In"}}, "mac, records off");
}

TEST(EudoraTree, CraftedWindowsTreeTakesRealNames)
{
    TempTree root;
    root.write("Eudora.ini", "[Settings]\r\n");
    root.write("descmap.pce",
               "In,In.mbx,S,Y\r\nWork,WORK.FOL,F,N\r\nFamily Holidays 2003,FAMILYHO.MBX,M,N\r\n"
               "Caf\xe9,CAFE.MBX,M,N\r\n..,DOTS.MBX,M,N\r\n");
    root.write("WORK.FOL/descmap.pce",
               "Project Alpha,PROJECTA.MBX,M,N\r\nA/B: c,AB.MBX,M,N\r\nEvil,../x.mbx,M,N\r\n"
               "Old, 2001,OLD.FOL,F,N\r\n"
                   + std::string(300, 'x') + ",LONG.MBX,M,N\r\n");
    root.write("WORK.FOL/OLD.FOL/descmap.pce", "Letters,LETTERS.MBX,M,N\r\n");

    const std::vector<Case> cases = {
        {"WORK.FOL/PROJECTA.MBX", M, true, {"Work", "Project Alpha.MBX"}, "Work/Project Alpha"},
        {"FAMILYHO.MBX", M, true, {"Family Holidays 2003.MBX"}, "Family Holidays 2003"},
        {"WORK.FOL/AB.MBX", M, true, {"Work", "A-B- c.MBX"}, "Work/A-B- c"},
        {"WORK.FOL/OTHER.MBX", M, true, {"Work", "OTHER.MBX"}, "Work/OTHER.MBX"},
        {"WORK.FOL/LONG.MBX", M, true, {"Work", "LONG.MBX"}, "Work/LONG.MBX"},
        {"WORK.FOL/OLD.FOL/LETTERS.MBX", M, true, {"Work", "Old, 2001", "Letters.MBX"}, "Work/Old, 2001/Letters"},
        {"WORK.FOL/OLD.FOL/LETTERS.TOC", E, true, {}, ""},
        {"WORK.FOL/attach/x", M, false, {"Work", "attach", "x"}, "Work/attach/x"},
        {"attach/x", A, true, {}, ""},
        {"DOTS.MBX", M, true, {"-..MBX"}, "-."},
        {"CAFE.MBX", M, true, {"CAFE.MBX"}, "CAFE.MBX"},
        {".toc", M, false, {".toc"}, ".toc"},                            // a name that is only the extension is no index
        {"NEW.FOL/BOX.MBX", M, true, {"NEW", "BOX.MBX"}, "NEW/BOX.MBX"}, // no map names it: ".fol" left out
        {"WORK.FOL/OLD.FOL/x.fol/BOX.MBX", M, true, {"Work", "Old, 2001", "x", "BOX.MBX"}, "Work/Old, 2001/x/BOX.MBX"},
    };
    EudoraTree tree(root.path, true, kEncodingUTF8);
    expectPlans(tree, cases, "utf-8 names");

    EudoraTree latin(root.path, true, carryEncoding(encodingForIANAName("windows-1252")));
    expectPlans(latin, {{"CAFE.MBX", M, true, {"Caf\xc3\xa9.MBX"}, "Caf\xc3\xa9"}}, "windows-1252 names");

    EudoraTree off(root.path, false, kEncodingUTF8);
    expectPlans(off, {{"WORK.FOL/PROJECTA.MBX", M, true, {"WORK.FOL", "PROJECTA.MBX"}, "WORK.FOL/PROJECTA.MBX"}}, "records off");
}

TEST(EudoraTree, FolderMapsThatAreNotFilesAreIgnored)
{
    TempTree root;
    root.write("Eudora.ini", "");
    std::filesystem::create_directories(root.path + "/descmap.pce");
    root.write("A.FOL/real", "Mine,MINE.MBX,M,N\r\n");
    std::filesystem::create_symlink(root.path + "/A.FOL/real", root.path + "/A.FOL/descmap.pce");
    root.write("B.FOL/descmap.pce", std::string(kMaximumDescMapSize + 1, '\n'));
    EudoraTree tree(root.path, true, kEncodingUTF8);
    expectPlans(tree,
                {
                    {"A.FOL/MINE.MBX", M, true, {"A", "MINE.MBX"}, "A/MINE.MBX"},
                    {"B.FOL/X.MBX", M, true, {"B", "X.MBX"}, "B/X.MBX"},
                },
                "maps");
}

} // namespace
} // namespace tarnwick
