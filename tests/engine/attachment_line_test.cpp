#include "engine/attachments/AttachmentLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

struct Case {
    const char* what;
    std::string line;
    std::optional<AttachmentKind> kind; // none: not an attachment line
    std::vector<std::string> folders;
    std::string name;
};

TEST(AttachmentLine, ParsesEveryFormEudoraWrites)
{
    // clang-format off
    const Case cases[] = {
        {"windows quoted", R"(Attachment Converted: "c:\users\b\appdata\roaming\qualcomm\eudora\attach\stevan_white")",
         AttachmentKind::File, {}, "stevan_white"},
        {"windows quoted, spaces", R"(Attachment Converted: "c:\eudora\attach\Email Attachment Test")", AttachmentKind::File,
         {}, "Email Attachment Test"},
        {"quoted mac path", R"(Attachment Converted: "Macintosh HD:Eudora Folder:Attachments:report35.pdf")",
         AttachmentKind::File, {}, "report35.pdf"},
        {"quoted plain name", R"(Attachment Converted: "notes.txt")", AttachmentKind::File, {}, "notes.txt"},
        {"windows unquoted", R"(Attachment Converted: C:\EUDORA\ATTACH\REPORT.PDF)", AttachmentKind::File, {}, "REPORT.PDF"},
        {"windows sub-folder below attach", R"(Attachment Converted: "c:\eudora\Attach\2004\a.doc")", AttachmentKind::File,
         {"2004"}, "a.doc"},
        {"windows moved folder: name only", R"(Attachment Converted: "d:\elsewhere\x\a.doc")", AttachmentKind::File, {}, "a.doc"},
        {"windows trailing blanks", "Attachment Converted: \"c:\\attach\\a.doc\"  ", AttachmentKind::File, {}, "a.doc"},
        {"mac", "Attachment converted: Macintosh HD:stevan_white (TEXT/ttxt) (00224669)", AttachmentKind::File, {},
         "stevan_white"},
        {"mac blank codes", "Attachment converted: Macintosh HD:Untitled (    /    ) (0022466A)", AttachmentKind::File, {},
         "Untitled"},
        {"mac slash becomes colon", "Attachment converted: Macintosh HD:tools.arlut.utexas.edu/gash2/ (TEXT/\xA5IC\xA5) (0022466D)",
         AttachmentKind::File, {}, "tools.arlut.utexas.edu:gash2:"},
        {"mac path through attachments folder",
         "Attachment converted: HD:Eudora Folder:Attachments Folder:sub:a (PDF /CARO) (1)", AttachmentKind::File, {"sub"}, "a"},
        {"mac name with parentheses", "Attachment converted: HD:a (1) (TEXT/ttxt) (00224669)", AttachmentKind::File, {}, "a (1)"},
        {"windows embedded", "Embedded Content: Appointment reminder from Austi.jpg: 00000001,586425e8,00000000,00000000",
         AttachmentKind::Embedded, {}, "Appointment reminder from Austi.jpg"},
        {"mac related", "Related: :Macintosh HD:kate_halloween.jpg:0022466E:277BFD3A:00000000:00000000", AttachmentKind::Embedded,
         {}, "kate_halloween.jpg"},
        {"mac related through parts folder", "Related: :HD:Eudora Folder:Parts Folder:x.gif:1:2:3:4", AttachmentKind::Embedded, {},
         "x.gif"},
        {"forged absolute unix path stays one name", "Attachment Converted: /home/u/.ssh/id_rsa", AttachmentKind::File, {},
         ":home:u:.ssh:id_rsa"},
        {"dot-dot is passed on for the lookup to refuse", R"(Attachment Converted: "c:\attach\..\..\secret")",
         AttachmentKind::File, {"..", ".."}, "secret"},
        {"mac trailing tab", "Attachment converted: Macintosh HD:a (TEXT/ttxt) (00224669)\t", AttachmentKind::File, {}, "a"},
        {"mac empty parentheses belong to the name", "Attachment converted: HD:a ()", AttachmentKind::File, {}, "a ()"},
        {"prose that begins alike", "Attachment converted: see below", AttachmentKind::File, {}, "see below"},
        {"no name", R"(Attachment Converted: "")", std::nullopt, {}, ""},
        {"path ends in separator", R"(Attachment Converted: "c:\attach\")", std::nullopt, {}, ""},
        {"embedded without numbers", "Embedded Content: a.jpg: hello", std::nullopt, {}, ""},
        {"embedded with an empty number", "Embedded Content: a.jpg: 00000001,,00000000,00000000", std::nullopt, {}, ""},
        {"related with an empty number", "Related: :HD:a.jpg:1::3:4", std::nullopt, {}, ""},
        {"embedded without name", "Embedded Content: : 1,2,3,4", std::nullopt, {}, ""},
        {"related with too few numbers", "Related: :HD:a.jpg:1:2:3", std::nullopt, {}, ""},
        {"lower-case embedded is prose", "embedded content: a.jpg: 1,2,3,4", std::nullopt, {}, ""},
        {"ordinary line", "Attached is the report you asked for.", std::nullopt, {}, ""},
        {"too short", "Related:", std::nullopt, {}, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto parsed = parseAttachmentLine(c.line);
        ASSERT_EQ(parsed.has_value(), c.kind.has_value()) << c.what;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->kind, *c.kind) << c.what;
        EXPECT_EQ(parsed->folders, c.folders) << c.what;
        EXPECT_EQ(parsed->name, c.name) << c.what;
    }
}

TEST(AttachmentLine, KnowsTheFourFoldersInAnyCase)
{
    EXPECT_EQ(attachmentFolderKind("ATTACH"), AttachmentKind::File);
    EXPECT_EQ(attachmentFolderKind("attachments folder"), AttachmentKind::File);
    EXPECT_EQ(attachmentFolderKind("embedded"), AttachmentKind::Embedded);
    EXPECT_EQ(attachmentFolderKind("Parts Folder"), AttachmentKind::Embedded);
    EXPECT_FALSE(attachmentFolderKind("attachments"));
    EXPECT_FALSE(attachmentFolderKind("Parts"));
}

} // namespace
} // namespace tarnwick
