// Eudora.ini's Windows text: the names of the labels in [Labels], and the attachment
// folder a setting names in the Windows code page.
#include "batch/AttachmentFolders.h"
#include "batch/EudoraIni.h"
#include "engine/text/LegacyEncodings.h"
#include "platform/Log.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

using Tree = test::TempTree;

const EncodingId kWindows1252 = westernFamily().windows;

TEST(EudoraLabels, ColourAndNameOfALine)
{
    const struct Case {
        const char* value;
        bool read;
        std::optional<std::uint32_t> colour;
        const char* name;
    } cases[] = {
        {"255,128,0,Label 1", true, 0xFF8000, "Label 1"},
        {" 0 , 128 ,255 ,  Work, home  ", true, 0x0080FF, "Work, home"},
        {"256,0,0,Too red", true, std::nullopt, "Too red"},
        {"-1,0,0,Negative", true, std::nullopt, "Negative"},
        {"red,green,blue,Words", true, std::nullopt, "Words"},
        {",,,Blank colour", true, std::nullopt, "Blank colour"},
        {"0255,0,0,Four digits", true, std::nullopt, "Four digits"},
        {"1,2,3,", true, 0x010203, ""},
        {"1,2,3", false, std::nullopt, ""},
        {"Family", false, std::nullopt, ""},
        {"", false, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const std::optional<EudoraLabel> label = parseEudoraLabel(c.value);
        ASSERT_EQ(label.has_value(), c.read) << c.value;
        if (label) {
            EXPECT_EQ(label->colour, c.colour) << c.value;
            EXPECT_EQ(label->name, c.name) << c.value;
        }
    }
    EXPECT_FALSE(parseEudoraLabel("1,2,3," + std::string(252, 'n'))) << "over 255 bytes";
    EXPECT_TRUE(parseEudoraLabel("1,2,3," + std::string(249, 'n'))) << "255 bytes";
}

TEST(EudoraLabels, NamesOfTheSevenLabels)
{
    const std::vector<std::string> defaults = {"Label 1", "Label 2", "Label 3", "Label 4", "Label 5", "Label 6", "Label 7"};
    const auto with = [&](std::initializer_list<std::pair<int, std::string>> names) {
        std::vector<std::string> expected = defaults;
        for (const auto& [label, name] : names)
            expected[static_cast<std::size_t>(label - 1)] = name;
        return expected;
    };
    const EncodingId cyrillic = familyForLanguage("ru").windows;
    const struct Case {
        const char* what;
        std::string ini;
        EncodingId encoding;
        std::vector<std::string> expected;
    } cases[] = {
        {"no Eudora.ini text", "", kWindows1252, defaults},
        {"no [Labels]", "[Settings]\r\nLabel1=255,0,0,Urgent\r\n", kWindows1252, defaults},
        {"as the Windows sample has them", "[Labels]\r\nLabelCount=7\r\nLabel1=255,128,0,Label 1\r\nLabel7=128,64,64,Label 7\r\n",
         kWindows1252, defaults},
        {"the user's names, any letter case", "[labels]\nlabel1=255,0,0,Urgent\nLABEL2 = 0,0,255, Work, home\nLabel7=1,1,1,Later\n",
         kWindows1252, with({{1, "Urgent"}, {2, "Work, home"}, {7, "Later"}})},
        {"short lines keep Eudora's names", "[Labels]\r\nLabel3=255,0\r\nLabel4=\r\nLabel5=Family\r\nLabel6=0,0,0,Kept\r\n", kWindows1252,
         with({{6, "Kept"}})},
        {"odd colours keep the name", "[Labels]\r\nLabel1=300,-1,abc,Odd\r\n", kWindows1252, with({{1, "Odd"}})},
        {"an empty name is none", "[Labels]\r\nLabel2=1,2,3,   \r\n", kWindows1252, with({{2, ""}})},
        {"control characters become spaces",
         "[Labels]\r\nLabel3=1,2,3,A\x01"
         "B\x7f\r\n",
         kWindows1252, with({{3, "A B"}})},
        {"windows-1252 bytes", "[Labels]\r\nLabel1=0,0,0,Pers\xf6nlich \x80\r\n", kWindows1252, with({{1, "Pers\u00f6nlich \u20ac"}})},
        {"UTF-8 kept as it is", "[Labels]\r\nLabel2=0,0,0,Caf\xc3\xa9\r\n", kWindows1252, with({{2, "Caf\u00e9"}})},
        {"the code page of the job", "[Labels]\r\nLabel4=0,0,0,\xd1\xf0\xee\xf7\xed\xee\r\n", cyrillic,
         with({{4, "\u0421\u0440\u043e\u0447\u043d\u043e"}})},
        {"the first of a repeated line", "[Labels]\r\nLabel5=0,0,0,First\r\nLabel5=0,0,0,Second\r\n", kWindows1252, with({{5, "First"}})},
        {"labels past seven are not Eudora's", "[Labels]\r\nLabel8=0,0,0,Eighth\r\nLabel0=0,0,0,Zero\r\n", kWindows1252, defaults},
    };
    for (const Case& c : cases)
        EXPECT_EQ(eudoraLabelNames(EudoraIni::parse(c.ini), c.encoding), c.expected) << c.what;
}

// The names come from the Eudora.ini of the Eudora folder holding the mailbox, found as
// the attachment folders are; a Mac Eudora folder has none.
TEST(EudoraLabels, FromTheEudoraFolderHoldingTheMailbox)
{
    Tree t;
    t.folder("Win/Mail.fol/Deeper.fol");
    t.file("Win/Eudora.ini", "[Labels]\r\nLabel1=255,0,0,Urgent\r\n");
    t.file("Win/In.mbx");
    t.file("Win/Mail.fol/Deeper.fol/Box.mbx");
    t.folder("Mac/Mail Folder");
    t.file("Mac/Eudora Settings");
    t.file("Mac/Mail Folder/In");
    t.folder("Loose");
    t.file("Loose/box.mbx");
    // A Mac Eudora folder copied into a Windows one: the climb ends at the Mac one.
    t.folder("Win/Mac copy/Mail Folder");
    t.file("Win/Mac copy/Eudora Settings");
    t.file("Win/Mac copy/Mail Folder/In");
    std::vector<std::string> windows = {"Urgent", "Label 2", "Label 3", "Label 4", "Label 5", "Label 6", "Label 7"};
    const struct Case {
        const char* what;
        std::string source;
        std::string mailbox;
        std::vector<std::string> expected;
    } cases[] = {
        {"beside", t / "Win", t / "Win/In.mbx", windows},
        {"two levels up", t / "Win", t / "Win/Mail.fol/Deeper.fol/Box.mbx", windows},
        {"above a source inside the Eudora folder", t / "Win/Mail.fol", t / "Win/Mail.fol/Deeper.fol/Box.mbx", windows},
        {"a single mailbox", t / "Win/In.mbx", t / "Win/In.mbx", windows},
        {"Mac: no Eudora.ini", t / "Mac", t / "Mac/Mail Folder/In", {}},
        {"no Eudora folder", t / "Loose", t / "Loose/box.mbx", {}},
        {"the nearest Eudora folder", t / "Win", t / "Win/Mac copy/Mail Folder/In", {}},
    };
    for (const Case& c : cases) {
        AttachmentFolderSearch search(c.source, {});
        EXPECT_EQ(search.labelNamesFor(c.mailbox), c.expected) << c.what;
        EXPECT_EQ(search.labelNamesFor(c.mailbox), c.expected) << c.what << ", again";
    }
}

// A folder named in the Windows code page is found under its UTF-8 name; one that is
// not there is logged once per job, with the name decoded.
TEST(EudoraLabels, AttachmentFolderNamedInTheWindowsCodePage)
{
    const EncodingId cyrillic = familyForLanguage("ru").windows;
    const struct Case {
        const char* what;
        std::string setting;
        EncodingId encoding;
        const char* found; // below Eudora/, or none
        std::vector<std::string> logged;
    } cases[] = {
        {"windows-1252", "AttachDir=C:\\Eudora\\Anh\xe4nge", kWindows1252, "Anh\u00e4nge", {}},
        {"any letter case", "AttachDir=anh\xc4nge", kWindows1252, "Anh\u00e4nge", {}},
        {"UTF-8 as written", "AttachDir=Anh\xc3\xa4nge", kWindows1252, "Anh\u00e4nge", {}},
        {"the job's code page",
         "AutoReceiveDir=\xc2\xeb\xee\xe6\xe5\xed\xe8\xff",
         cyrillic,
         "\u0412\u043b\u043e\u0436\u0435\u043d\u0438\u044f",
         {}},
        {"not there",
         "AttachDir=D:\\Mail\\F\xfcr sp\xe4ter",
         kWindows1252,
         nullptr,
         {"The attachment folder 'D:\\Mail\\F\u00fcr sp\u00e4ter' named in '%E/Eudora.ini' was not found"}},
        {"the Eudora folder itself is no attachment folder, but it is there", "AttachDir=C:\\Eudora", kWindows1252, nullptr, {}},
        {"an empty setting says nothing", "AttachDir=", kWindows1252, nullptr, {}},
    };
    for (const Case& c : cases) {
        Tree t;
        t.folder("Eudora/Mail.fol");
        t.folder("Eudora/Anh\u00e4nge");
        t.folder("Eudora/\u0412\u043b\u043e\u0436\u0435\u043d\u0438\u044f");
        t.file("Eudora/In.mbx");
        t.file("Eudora/Mail.fol/Box.mbx");
        t.folder("Other");
        t.file("Other/box.mbx");
        t.file("Eudora/Eudora.ini", "[Settings]\r\n" + c.setting + "\r\n");
        std::vector<std::string> lines;
        std::vector<std::string> firstFiles;
        {
            const LogCapture capture(lines);
            AttachmentFolderSearch search(t.path, {}, c.encoding);
            firstFiles = AttachmentFolders::paths(search.foldersFor(t / "Eudora/In.mbx").files);
            search.foldersFor(t / "Eudora/Mail.fol/Box.mbx");
            // A mailbox elsewhere lets the Eudora folder go; read again, it is not logged again.
            search.foldersFor(t / "Other/box.mbx");
            search.foldersFor(t / "Eudora/In.mbx");
        }
        std::vector<std::string> expected;
        if (c.found)
            expected.push_back(t / ("Eudora/" + std::string(c.found)));
        EXPECT_EQ(firstFiles, expected) << c.what;
        std::vector<std::string> logged;
        for (std::string line : c.logged)
            logged.push_back(line.replace(line.find("%E"), 2, t / "Eudora"));
        EXPECT_EQ(lines, logged) << c.what;
    }
}

} // namespace
} // namespace tarnwick
