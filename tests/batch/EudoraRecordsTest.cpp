// Eudora's own records read from the real sample folders and from damaged copies:
// the mailbox index (.toc), the folder map (descmap.pce) and real names made safe.
#include "batch/DescMap.h"
#include "batch/RealName.h"
#include "batch/TocIndex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarnwick {
namespace {

// The shared samples sit beside the repository (or beside the folder of worktrees).
std::string samplesFolder()
{
    for (const char* candidate : {TARNWICK_SOURCE_DIR "/../shared/eudora-samples/", TARNWICK_SOURCE_DIR "/../../shared/eudora-samples/"}) {
        if (std::filesystem::is_directory(candidate))
            return candidate;
    }
    ADD_FAILURE() << "eudora-samples not found beside " TARNWICK_SOURCE_DIR;
    return {};
}

const std::string kWindowsSample = samplesFolder() + "Windows Eudora 7.1 Folder/";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TocIndex, ReadsTheWindowsSample)
{
    const TocReading reading = readToc(readFile(kWindowsSample + "In.toc"));
    ASSERT_TRUE(reading.entries) << reading.problem;
    const std::uint32_t offsets[] = {0, 2177, 10951, 19947, 21097};
    const std::uint32_t lengths[] = {2177, 8774, 8996, 1150, 1575};
    ASSERT_EQ(reading.entries->size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ((*reading.entries)[i].offset, offsets[i]) << i;
        EXPECT_EQ((*reading.entries)[i].length, lengths[i]) << i;
        EXPECT_EQ((*reading.entries)[i].status, 0) << i;
        EXPECT_EQ((*reading.entries)[i].priority, 3) << i;
    }
    const TocFit fit = fitToc(*reading.entries, readFile(kWindowsSample + "In.mbx"));
    ASSERT_TRUE(fit.messages) << fit.problem;
    EXPECT_EQ(fit.messages->size(), 5u);
    EXPECT_FALSE((*fit.messages)[0].read);
    EXPECT_EQ((*fit.messages)[4].offset + (*fit.messages)[4].length, 22672u);

    for (const char* empty : {"Out.toc", "Junk.toc", "Trash.toc"}) {
        const TocReading none = readToc(readFile(kWindowsSample + empty));
        ASSERT_TRUE(none.entries) << empty;
        EXPECT_TRUE(none.entries->empty()) << empty;
        EXPECT_FALSE(fitToc(*none.entries, "").messages) << empty;
    }
}

TEST(TocIndex, StatusAndPriorityBecomeFlags)
{
    const struct Case { std::uint16_t status, priority; bool read, replied, forwarded; int flaggedPriority; } cases[] = {
        {0, 3, false, false, false, 3}, {1, 1, true, false, false, 1}, {2, 5, true, true, false, 5},
        {3, 2, true, false, true, 2},   {4, 4, true, false, false, 4}, {8, 0, true, false, false, 0}, {9, 3, true, false, false, 3},
        {10, 6, false, false, false, 0}, {0xFFFF, 0xFFFF, false, false, false, 0},
    };
    const std::string mailbox = "From a\nx\n";
    for (const Case& c : cases) {
        const TocFit fit = fitToc({{0, 9, c.status, c.priority}}, mailbox);
        ASSERT_TRUE(fit.messages) << c.status;
        const IndexedMessage& m = fit.messages->front();
        EXPECT_EQ(m.read, c.read) << "status " << c.status;
        EXPECT_EQ(m.replied, c.replied) << "status " << c.status;
        EXPECT_EQ(m.forwarded, c.forwarded) << "status " << c.status;
        EXPECT_EQ(m.priority, c.flaggedPriority) << "priority " << c.priority;
    }
}

TEST(TocIndex, DamagedIndexesAreRefused)
{
    const std::string sample = readFile(kWindowsSample + "In.toc");
    const struct Case { const char* name; std::string bytes; } cases[] = {
        {"empty file", ""},
        {"header cut", sample.substr(0, 103)},
        {"last record cut", sample.substr(0, sample.size() - 1)},
        {"one byte more", sample + '\0'},
        {"count says 6", [&] { std::string b = sample; b[102] = 6; return b; }()},
        {"count says 65535", [&] { std::string b = sample; b[102] = b[103] = '\xff'; return b; }()},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(readToc(c.bytes).entries) << c.name;
}

TEST(TocIndex, RecordsThatDoNotFitTheMailboxAreRefused)
{
    const std::string mailbox = readFile(kWindowsSample + "In.mbx");
    const std::vector<TocEntry> good = *readToc(readFile(kWindowsSample + "In.toc")).entries;
    auto changed = [&](std::size_t index, std::uint32_t offset, std::uint32_t length) {
        std::vector<TocEntry> entries = good;
        entries[index].offset = offset;
        entries[index].length = length;
        return entries;
    };
    const struct Case { const char* name; std::vector<TocEntry> entries; bool fits; } cases[] = {
        {"as written", good, true},
        {"a lost message between two records", [&] { auto e = good; e.erase(e.begin() + 2); return e; }(), true},
        {"first record lost", [&] { auto e = good; e.erase(e.begin()); return e; }(), true},
        {"last record lost", [&] { auto e = good; e.pop_back(); return e; }(), true},
        {"one record spans two messages", [&] { auto e = good; e[1].length += e[2].length; e.erase(e.begin() + 2); return e; }(), true},
        {"start one byte late", changed(1, 2178, 8773), false},
        {"length one byte short", changed(1, 2177, 8773), false},
        {"length one byte long", changed(4, 21097, 1576), false},
        {"ends past the mailbox", changed(4, 21097, 0xFFFFFFFF), false},
        {"offset past the mailbox", changed(4, 0xFFFFFFF0, 0x20), false},
        {"zero length", changed(4, 21097, 0), false},
        {"backward", [&] { auto e = good; std::swap(e[1], e[2]); return e; }(), false},
        {"overlapping", changed(2, 2177, 8774 + 8996), false},
        {"duplicated", [&] { auto e = good; e.insert(e.begin() + 1, e[1]); return e; }(), false},
    };
    for (const Case& c : cases) {
        const TocFit fit = fitToc(c.entries, mailbox);
        EXPECT_EQ(fit.messages.has_value(), c.fits) << c.name << ": " << fit.problem;
        EXPECT_EQ(fit.problem.empty(), c.fits) << c.name;
    }
    // "From " must begin a line: after LF, CR LF or CR (Mac), never mid-line.
    EXPECT_TRUE(fitToc({{0, 8, 0, 3}, {8, 6, 0, 3}}, "From a\r\nFrom b").messages);
    EXPECT_TRUE(fitToc({{0, 7, 0, 3}, {7, 6, 0, 3}}, "From a\rFrom b").messages);
    EXPECT_FALSE(fitToc({{0, 7, 0, 3}, {7, 6, 0, 3}}, "From a From b").messages);
    EXPECT_FALSE(fitToc({{0, 4, 0, 3}}, "From").messages);
    EXPECT_FALSE(fitToc({{1, 6, 0, 3}}, "xFrom a").messages);
}

TEST(TocIndex, IndexPathBesideTheMailbox)
{
    const struct Case { const char* mailbox; const char* index; } cases[] = {
        {"/m/In.mbx", "/m/In.toc"}, {"/m/FAMILYHO.MBX", "/m/FAMILYHO.TOC"}, {"/m/a.Mbx", "/m/a.toc"},
        {"In.mbx", "In.toc"}, {"/m/In", nullptr}, {"/m/.mbx", nullptr}, {"/m.mbx/In", nullptr}, {"/m/In.mbx.bak", nullptr}, {"/m/In_mbx", nullptr}, {"/m/In.Mbx", "/m/In.toc"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> path = tocPathFor(c.mailbox);
        EXPECT_EQ(path.has_value(), c.index != nullptr) << c.mailbox;
        if (path && c.index) {
            EXPECT_EQ(*path, c.index) << c.mailbox;
        }
    }
}

TEST(DescMap, ReadsTheWindowsSample)
{
    const DescMap map = DescMap::parse(readFile(kWindowsSample + std::string(kDescMapFileName)));
    ASSERT_EQ(map.entries().size(), 4u);
    const char* const names[] = {"In", "Out", "Junk", "Trash"};
    for (const char* name : names) {
        const DescMapEntry* entry = map.find(std::string(name) + ".MBX");
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry->displayName, name);
        EXPECT_EQ(entry->type, 'S');
    }
    EXPECT_EQ(map.find("In"), nullptr);
}

TEST(DescMap, KeepsOnlyLinesThatReadCleanly)
{
    const struct Case { const char* name; std::string line; const char* file; const char* display; char type; } cases[] = {
        {"user mailbox", "Family Holidays 2003,FAMILYHO.MBX,M,N", "familyho.mbx", "Family Holidays 2003", 'M'},
        {"folder", "Work,WORK.FOL,F,N", "WORK.FOL", "Work", 'F'},
        {"commas in the name", "Bills, paid, 2004,BILLSPAI.MBX,M,Y", "BILLSPAI.MBX", "Bills, paid, 2004", 'M'},
        {"slash in the name is kept for the name rules", "A/B,AB.MBX,M,N", "AB.MBX", "A/B", 'M'},
        {"LF only", "In,In.mbx,S,Y\n", "In.mbx", "In", 'S'},
        {"path as file name", "Evil,../x.mbx,M,N", "../x.mbx", nullptr, 0},
        {"backslash path", "Evil,..\\x.mbx,M,N", "..\\x.mbx", nullptr, 0},
        {"dot-dot", "Evil,..,F,N", "..", nullptr, 0},
        {"empty file name", "Evil,,M,N", "", nullptr, 0},
        {"empty display name", ",A.MBX,M,N", "A.MBX", nullptr, 0},
        {"unknown type", "A,A.MBX,X,N", "A.MBX", nullptr, 0},
        {"unknown flag", "A,A.MBX,M,maybe", "A.MBX", nullptr, 0},
        {"too few fields", "A.MBX,M,N", "M", nullptr, 0},
        {"zero byte in file name", std::string("A,A\0B.MBX,M,N", 13), "A", nullptr, 0},
    };
    for (const Case& c : cases) {
        const DescMap map = DescMap::parse(c.line);
        const DescMapEntry* entry = map.find(c.file);
        ASSERT_EQ(entry != nullptr, c.display != nullptr) << c.name;
        if (entry) {
            EXPECT_EQ(entry->displayName, c.display) << c.name;
            EXPECT_EQ(entry->type, c.type) << c.name;
        }
    }
    // Good lines survive bad neighbours; the first of two lines for one file wins.
    const DescMap mixed = DescMap::parse("garbage\r\n\r\nOne,ONE.MBX,M,N\rTwo,one.mbx,M,N\r\n\xff\xfe,,,\r\nThree,THREE.MBX,M,Y");
    ASSERT_EQ(mixed.entries().size(), 2u);
    EXPECT_EQ(mixed.find("one.MBX")->displayName, "One");
    EXPECT_EQ(mixed.find("three.mbx")->displayName, "Three");
    EXPECT_TRUE(DescMap::parse(std::string(kMaximumDescMapSize + 1, '\n')).entries().empty());
}

TEST(RealName, UnsafeNamesAreMadeSafeOrRefused)
{
    const struct Case { const char* name; std::string input; const char* expected; } cases[] = {
        {"plain", "Family Holidays 2003", "Family Holidays 2003"},
        {"slash", "Work/Play", "Work-Play"},
        {"colon and backslash", "a:b\\c", "a-b-c"},
        {"FAT-refused characters", "what? *really* <\"yes\"> |", "what- -really- --yes-- -"},
        {"control characters", "tab\there\x7f", "tab-here-"},
        {"surrounding spaces", "  In  ", "In"},
        {"leading dot", ".hidden", "-hidden"},
        {"dot-dot", "..", "-."},
        {"UTF-8", "日本語のメール", "日本語のメール"},
        {"empty", "", nullptr},
        {"spaces only", "   ", nullptr},
        {"not UTF-8 (Windows-1252)", "Caf\xe9", nullptr},
        {"overlong UTF-8", "\xc0\xaf", nullptr},
        {"surrogate", "\xed\xa0\x80", nullptr},
        {"cut UTF-8", "\xe6\x97", nullptr},
        {"longest", std::string(kMaximumRealNameBytes, 'a'), "="},
        {"too long", std::string(kMaximumRealNameBytes + 1, 'a'), nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> safe = safeNameComponent(c.input);
        ASSERT_EQ(safe.has_value(), c.expected != nullptr) << c.name;
        if (safe) {
            EXPECT_EQ(*safe, std::string(c.expected) == "=" ? c.input : c.expected) << c.name;
        }
    }
}

TEST(RealName, MailboxesKeepTheirFilesExtension)
{
    const struct Case { const char* real; const char* file; const char* expected; } cases[] = {
        {"Family Holidays 2003", "FAMILYHO.MBX", "Family Holidays 2003.MBX"},
        {"In", "In.mbx", "In.mbx"},
        {"In.mbx", "In.mbx", "In.mbx"},
        {"v1.2 notes", "V12NOTES.MBX", "v1.2 notes.MBX"},
        {"Notes", "NOTES", "Notes"},
        {"Notes", ".hidden", "Notes"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withExtensionOf(c.real, c.file), c.expected) << c.file;
}

} // namespace
} // namespace tarnwick
