#include "platform/ContainedFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

struct Tree {
    std::string root = [] {
        char pattern[] = "/tmp/tarnwick-contained.XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    std::string attach = root + "/attach";
    ~Tree()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    void write(const std::string& path, const std::string& bytes) const { std::ofstream(root + "/" + path, std::ios::binary) << bytes; }
};

TEST(ContainedFile, OpensOnlyRegularFilesInsideTheFolder)
{
    Tree t;
    fs::create_directories(t.attach + "/Sub");
    fs::create_directories(t.root + "/elsewhere");
    t.write("secret", "secret");
    t.write("elsewhere/x", "x");
    t.write("attach/a.txt", "aaa");
    t.write("attach/Sub/b.txt", "bb");
    t.write("attach/CaseName.TXT", "case");
    t.write("attach/\xC3\x89t\xC3\xA9.txt", "accents");
    t.write("attach/dup.txt", "1");
    t.write("attach/DUP.TXT", "2");
    fs::create_symlink(t.root + "/secret", t.attach + "/link");
    fs::create_symlink("../secret", t.attach + "/relative-link");
    fs::create_symlink(t.root + "/elsewhere", t.attach + "/dirlink");
    ASSERT_EQ(::mkfifo((t.attach + "/fifo").c_str(), 0600), 0);

    struct Case {
        const char* what;
        std::vector<std::string> components;
        const char* contents; // null: refused
        const char* foundName = nullptr;
    };
    const Case cases[] = {
        {"exact", {"a.txt"}, "aaa"},
        {"sub-folder", {"Sub", "b.txt"}, "bb"},
        {"case-insensitive name", {"casename.txt"}, "case", "CaseName.TXT"},
        {"case-insensitive folder", {"sub", "B.TXT"}, "bb"},
        {"case-insensitive beyond ASCII", {"\xC3\xA9T\xC3\x89.TXT"}, "accents"},
        {"exact wins over folded", {"dup.txt"}, "1"},
        {"two folded matches: no guess", {"Dup.txt"}, nullptr},
        {"absent", {"nothing"}, nullptr},
        {"symbolic link out", {"link"}, nullptr},
        {"relative symbolic link out", {"relative-link"}, nullptr},
        {"folded match onto a link", {"LINK"}, nullptr},
        {"linked folder", {"dirlink", "x"}, nullptr},
        {"dot-dot", {"..", "secret"}, nullptr},
        {"dot-dot as name", {".."}, nullptr},
        {"dot", {".", "a.txt"}, nullptr},
        {"slash in a component", {"../secret"}, nullptr},
        {"absolute path", {"/etc/passwd"}, nullptr},
        {"empty component", {"", "a.txt"}, nullptr},
        {"zero byte", {std::string("a.txt\0x", 7)}, nullptr},
        {"a folder is no file", {"Sub"}, nullptr},
        {"a FIFO is no file", {"fifo"}, nullptr},
        {"no components", {}, nullptr},
    };
    for (const Case& c : cases) {
        std::optional<ContainedFile> file = openContainedFile(t.attach, c.components);
        ASSERT_EQ(file.has_value(), c.contents != nullptr) << c.what;
        if (!file)
            continue;
        std::string bytes(64, '\0');
        const auto got = file->read(bytes.data(), bytes.size());
        ASSERT_TRUE(got) << c.what;
        bytes.resize(*got);
        EXPECT_EQ(bytes, c.contents) << c.what;
        EXPECT_EQ(file->size(), bytes.size()) << c.what;
        if (c.foundName) {
            EXPECT_EQ(file->name(), c.foundName) << c.what;
        }
    }
    EXPECT_FALSE(openContainedFile(t.root + "/missing-folder", {"a.txt"}));
}

TEST(ContainedFile, ReadsInPiecesAndStopsAtTheSizeItWasOpenedWith)
{
    Tree t;
    fs::create_directories(t.attach);
    t.write("attach/f", "0123456789");
    std::optional<ContainedFile> file = openContainedFile(t.attach, {"f"});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path(), t.attach + "/f");
    EXPECT_EQ(file->leadingBytes(4), "0123");
    std::ofstream(t.attach + "/f", std::ios::app) << "grown";
    std::string all;
    char piece[4];
    while (const auto got = file->read(piece, sizeof piece)) {
        if (*got == 0)
            break;
        all.append(piece, *got);
    }
    EXPECT_EQ(all, "0123456789");

    std::optional<ContainedFile> shrinking = openContainedFile(t.attach, {"f"});
    ASSERT_TRUE(shrinking);
    ASSERT_EQ(::truncate((t.attach + "/f").c_str(), 3), 0);
    char buffer[32];
    EXPECT_FALSE(shrinking->read(buffer, sizeof buffer)) << "a file that shrank is a read failure, not a short part";
    EXPECT_NE(shrinking->error(), 0);
}

TEST(ContainedFile, FoldedNames)
{
    EXPECT_TRUE(namesEqualFolded("Parts Folder", "parts folder"));
    EXPECT_TRUE(namesEqualFolded("\xC3\x84rger", "\xC3\xA4RGER"));
    EXPECT_FALSE(namesEqualFolded("a", "ab"));
    EXPECT_TRUE(namesEqualFolded("x\xFFy", "X\xFFY")) << "invalid bytes equal themselves";
    EXPECT_FALSE(namesEqualFolded("x\xFF", "x\xFE"));
}

TEST(ContainedFile, TheFolderIndexAgreesWithFoldedComparison)
{
    // Pairs of names: the index key is shared exactly when the comparison says equal.
    const std::pair<std::string, std::string> pairs[] = {
        {"Parts Folder", "parts folder"},
        {"\xC3\x84rger", "\xC3\xA4RGER"},
        {"a", "ab"},
        {"x\xFFy", "X\xFFY"},
        {"x\xFF", "x\xFE"},
        {"\xC3", "\xC3\x83"},
        {"\xFF\xFF", "\xFF"},
        {"K", "\xE2\x84\xAA"} /* KELVIN SIGN */,
        {"\xC3\x9F", "ss"},
    };
    for (const auto& [a, b] : pairs)
        EXPECT_EQ(foldedNameKey(a) == foldedNameKey(b), namesEqualFolded(a, b)) << a << " / " << b;

    Tree t;
    fs::create_directories(t.attach);
    for (const char* name : {"Report.PDF", "dup.txt", "DUP.TXT", "\xC3\x89t\xC3\xA9", "bad\xFF"})
        t.write(std::string("attach/") + name, "x");
    const std::shared_ptr<const OpenFolder> folder = OpenFolder::open(t.attach, LinkPolicy::Refuse);
    const std::shared_ptr<const FolderNames> names = folder->names();
    struct Case {
        const char* name;
        const char* found; // null: none
    };
    const Case cases[] = {
        {"Report.PDF", "Report.PDF"},
        {"report.pdf", "Report.PDF"},
        {"dup.txt", "dup.txt"},
        {"Dup.Txt", nullptr},
        {"\xC3\xA9T\xC3\x89", "\xC3\x89t\xC3\xA9"},
        {"BAD\xFF", "bad\xFF"},
        {"bad\xFE", nullptr},
        {"none", nullptr},
    };
    EXPECT_EQ(names->size(), 5u);
    for (const Case& c : cases) {
        const std::optional<std::string> found = names->find(c.name);
        EXPECT_EQ(found.value_or("(none)"), c.found ? c.found : "(none)") << c.name;
    }
    EXPECT_EQ(names->foldedMatches("DUP.txt").size(), 2u);

    // A link is refused as the folder itself; a folder that cannot be opened says why.
    fs::create_directory_symlink(t.attach, t.root + "/link");
    const ContainedLookup throughLink = OpenFolder::open(t.root + "/link", LinkPolicy::Refuse)->openFile({"dup.txt"});
    EXPECT_FALSE(throughLink.file);
    EXPECT_NE(throughLink.error, 0);
    EXPECT_TRUE(OpenFolder::open(t.root + "/link", LinkPolicy::Follow)->openFile({"dup.txt"}).file);
    EXPECT_EQ(OpenFolder::open(t.root + "/gone", LinkPolicy::Refuse)->openFile({"dup.txt"}).error, ENOENT);
}

} // namespace
} // namespace tarnwick
