// Eudora's own records read from the repository's Eudora folders, from the real sample
// folders when they are here, and from damaged copies: the mailbox index (.toc), the
// folder map (descmap.pce) and real names made safe.
#include "EudoraFolders.h"
#include "batch/DescMap.h"
#include "batch/MacToc.h"
#include "batch/RealName.h"
#include "batch/TocIndex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace tarnwick {
namespace {

using test::fixtureFolder;
using test::kWindowsFixture;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Where each message of a mailbox starts, found without the index: the separator lines.
std::vector<std::uint32_t> separatorOffsets(const std::string& mailbox)
{
    std::vector<std::uint32_t> offsets;
    for (std::size_t at = 0; (at = mailbox.find("From ???@???", at)) != std::string::npos; ++at) {
        if (at == 0 || mailbox[at - 1] == '\n' || mailbox[at - 1] == '\r')
            offsets.push_back(static_cast<std::uint32_t>(at));
    }
    return offsets;
}

TEST(TocIndex, ReadsTheWindowsFixture)
{
    const std::string folder = fixtureFolder(kWindowsFixture);
    const std::string mailbox = readFile(folder + "In.mbx");
    const TocReading reading = readToc(readFile(folder + "In.toc"));
    ASSERT_TRUE(reading.entries) << reading.problem;
    const std::vector<std::uint32_t> starts = separatorOffsets(mailbox);
    ASSERT_EQ(starts.size(), 5u);
    ASSERT_EQ(reading.entries->size(), 5u);
    // The statuses and priorities the fixture's index was written with (tests/data/README.md).
    const std::uint16_t statuses[] = {1, 0, 2, 3, 0};
    const std::uint16_t priorities[] = {3, 3, 1, 3, 5};
    for (std::size_t i = 0; i < 5; ++i) {
        const TocEntry& entry = (*reading.entries)[i];
        EXPECT_EQ(entry.offset, starts[i]) << i;
        EXPECT_EQ(entry.length, (i + 1 < 5 ? starts[i + 1] : mailbox.size()) - starts[i]) << i;
        EXPECT_EQ(entry.status, statuses[i]) << i;
        EXPECT_EQ(entry.priority, priorities[i]) << i;
    }
    const TocFit fit = fitToc(*reading.entries, mailbox);
    ASSERT_TRUE(fit.messages) << fit.problem;
    ASSERT_EQ(fit.messages->size(), 5u);
    EXPECT_TRUE((*fit.messages)[0].facts.read);
    EXPECT_FALSE((*fit.messages)[1].facts.read);
    EXPECT_TRUE((*fit.messages)[2].facts.replied);
    EXPECT_TRUE((*fit.messages)[3].facts.forwarded);
    EXPECT_EQ((*fit.messages)[2].facts.priority, 1);
    EXPECT_EQ((*fit.messages)[4].offset + (*fit.messages)[4].length, mailbox.size());

    for (const char* empty : {"Junk.toc", "Trash.toc"}) {
        const TocReading none = readToc(readFile(folder + empty));
        ASSERT_TRUE(none.entries) << empty;
        EXPECT_TRUE(none.entries->empty()) << empty;
        EXPECT_FALSE(fitToc(*none.entries, "").messages) << empty;
    }

    // In the user folder's mailbox a body line begins "From ": the index keeps it in its message.
    const std::string clubs = readFile(folder + "CLUBS.FOL/HARBOURB.MBX");
    const TocReading clubIndex = readToc(readFile(folder + "CLUBS.FOL/HARBOURB.TOC"));
    ASSERT_TRUE(clubIndex.entries) << clubIndex.problem;
    const TocFit clubFit = fitToc(*clubIndex.entries, clubs);
    ASSERT_TRUE(clubFit.messages) << clubFit.problem;
    EXPECT_EQ(clubFit.messages->size(), 2u);
    EXPECT_NE(clubs.find("\r\nFrom the quay"), std::string::npos) << "the fixture lost its body \"From \" line";
}

TEST(TocIndex, ReadsTheRealWindowsSample)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    const std::string folder = samples + "Windows Eudora 7.1 Folder/";
    const TocReading reading = readToc(readFile(folder + "In.toc"));
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
    const TocFit fit = fitToc(*reading.entries, readFile(folder + "In.mbx"));
    ASSERT_TRUE(fit.messages) << fit.problem;
    EXPECT_EQ(fit.messages->size(), 5u);
    EXPECT_FALSE((*fit.messages)[0].facts.read);
    EXPECT_EQ((*fit.messages)[4].offset + (*fit.messages)[4].length, 22672u);
    // The time stored: the separator's Mon Dec 13 18:45:29 2010 at -0600.
    EXPECT_EQ((*fit.messages)[0].facts.received, 0x4D06BE29);

    for (const char* empty : {"Out.toc", "Junk.toc", "Trash.toc"}) {
        const TocReading none = readToc(readFile(folder + empty));
        ASSERT_TRUE(none.entries) << empty;
        EXPECT_TRUE(none.entries->empty()) << empty;
        EXPECT_FALSE(fitToc(*none.entries, "").messages) << empty;
    }
}

TEST(TocIndex, StatusPriorityLabelAndDateBecomeFacts)
{
    const struct Case {
        std::uint16_t status, priority, label;
        bool read, replied, forwarded, redirected, draft, sent;
        int flaggedPriority, flaggedLabel;
    } cases[] = {
        {0, 3, 0, false, false, false, false, false, false, 3, 0},  {1, 1, 1, true, false, false, false, false, false, 1, 1},
        {2, 5, 7, true, true, false, false, false, false, 5, 7},    {3, 2, 8, true, false, true, false, false, false, 2, 0},
        {4, 4, 4, true, false, false, true, false, false, 4, 4},    {5, 3, 0x0103, true, false, false, false, false, false, 3, 0},
        {6, 3, 2, true, false, false, false, true, false, 3, 2},    {7, 3, 0, true, false, false, false, true, false, 3, 0},
        {8, 0, 0, true, false, false, false, false, true, 0, 0},    {9, 3, 0xFFFF, true, false, false, false, false, false, 3, 0},
        {10, 6, 0, false, false, false, false, false, false, 0, 0}, {0xFFFF, 0xFFFF, 5, false, false, false, false, false, false, 0, 5},
    };
    const std::string mailbox = "From a\nx\n";
    for (const Case& c : cases) {
        const TocFit fit = fitToc({{0, 9, c.status, c.priority, 1292287375, c.label}}, mailbox);
        ASSERT_TRUE(fit.messages) << c.status;
        const MessageFacts& m = fit.messages->front().facts;
        EXPECT_EQ(m.read, c.read) << "status " << c.status;
        EXPECT_EQ(m.replied, c.replied) << "status " << c.status;
        EXPECT_EQ(m.forwarded, c.forwarded) << "status " << c.status;
        EXPECT_EQ(m.redirected, c.redirected) << "status " << c.status;
        EXPECT_EQ(m.draft, c.draft) << "status " << c.status;
        EXPECT_EQ(m.sent, c.sent) << "status " << c.status;
        EXPECT_EQ(m.priority, c.flaggedPriority) << "priority " << c.priority;
        EXPECT_EQ(m.label, c.flaggedLabel) << "label " << c.label;
        EXPECT_EQ(m.received, 1292287375) << "status " << c.status;
    }
}

// The record count is 16 bits: an index for more than 65,535 messages keeps it modulo
// 65,536, and the file's size tells how many records there are.
TEST(TocIndex, CountAboveSixteenBitsIsSettledByTheSize)
{
    auto index = [](std::size_t records, std::uint16_t stored) {
        std::string bytes(104 + records * 218, '\0');
        bytes[102] = static_cast<char>(stored & 0xFF);
        bytes[103] = static_cast<char>(stored >> 8);
        for (std::size_t i = 0; i < records; ++i)
            bytes[104 + i * 218] = static_cast<char>(i & 0xFF); // offsets tell the records apart
        return bytes;
    };
    const struct Case {
        std::size_t records;
        std::uint16_t stored;
        bool read;
    } cases[] = {
        {65535, 65535, true},  {65536, 0, true},  {65537, 1, true},         {70000, 70000 - 65536, true},
        {65536, 65535, false}, {65537, 0, false}, {4, 65540 - 65536, true}, {0, 0, true},
    };
    for (const Case& c : cases) {
        const TocReading reading = readToc(index(c.records, c.stored));
        EXPECT_EQ(reading.entries.has_value(), c.read) << c.records << " " << c.stored << ": " << reading.problem;
        if (reading.entries && c.records > 0) {
            EXPECT_EQ(reading.entries->size(), c.records);
            EXPECT_EQ(reading.entries->back().offset, (c.records - 1) & 0xFF);
        }
    }
}

TEST(TocIndex, DamagedIndexesAreRefused)
{
    const std::string sample = readFile(fixtureFolder(kWindowsFixture) + "In.toc");
    ASSERT_EQ(sample.size(), 104u + 5 * 218) << "the fixture's index holds five records";
    // clang-format off
    const struct Case { const char* name; std::string bytes; } cases[] = {
        {"empty file", ""},
        {"header cut", sample.substr(0, 103)},
        {"last record cut", sample.substr(0, sample.size() - 1)},
        {"one byte more", sample + '\0'},
        {"count says 6", [&] { std::string b = sample; b[102] = 6; return b; }()},
        {"count says 65535", [&] { std::string b = sample; b[102] = b[103] = '\xff'; return b; }()},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_FALSE(readToc(c.bytes).entries) << c.name;
}

TEST(TocIndex, RecordsThatDoNotFitTheMailboxAreRefused)
{
    const std::string folder = fixtureFolder(kWindowsFixture);
    const std::string mailbox = readFile(folder + "In.mbx");
    const TocReading reading = readToc(readFile(folder + "In.toc"));
    ASSERT_TRUE(reading.entries) << reading.problem;
    ASSERT_EQ(reading.entries->size(), 5u);
    const std::vector<TocEntry> good = *reading.entries;
    auto changed = [&](std::size_t index, std::uint32_t offset, std::uint32_t length) {
        std::vector<TocEntry> entries = good;
        entries[index].offset = offset;
        entries[index].length = length;
        return entries;
    };
    const std::uint32_t start1 = good[1].offset, length1 = good[1].length, start4 = good[4].offset, length4 = good[4].length;
    // A line end inside the second message: a record may stop there (Mac Eudora wrote a
    // shorter message over a longer one).
    const std::size_t tailCut = mailbox.find("\r\n", start1 + 200) + 2;
    // clang-format off
    const struct Case { const char* name; std::vector<TocEntry> entries; bool fits; } cases[] = {
        {"as written", good, true},
        {"a lost message between two records", [&] { auto e = good; e.erase(e.begin() + 2); return e; }(), true},
        {"first record lost", [&] { auto e = good; e.erase(e.begin()); return e; }(), true},
        {"last record lost", [&] { auto e = good; e.pop_back(); return e; }(), true},
        {"one record spans two messages", [&] { auto e = good; e[1].length += e[2].length; e.erase(e.begin() + 2); return e; }(), false},
        {"a record covers the whole mailbox", {{0, static_cast<std::uint32_t>(mailbox.size()), 0, 3}}, false},
        {"start one byte late", changed(1, start1 + 1, length1 - 1), false},
        {"length one byte short", changed(1, start1, length1 - 1), false},
        {"length one byte long", changed(4, start4, length4 + 1), false},
        {"ends past the mailbox", changed(4, start4, 0xFFFFFFFF), false},
        {"offset past the mailbox", changed(4, 0xFFFFFFF0, 0x20), false},
        {"zero length", changed(4, start4, 0), false},
        {"sorted: listed in another order", [&] { auto e = good; std::swap(e[1], e[4]); std::swap(e[0], e[2]); return e; }(), true},
        {"the tail of a message left uncovered", changed(1, start1, static_cast<std::uint32_t>(tailCut - start1)), true},
        {"overlapping", changed(2, start1, length1 + good[2].length), false},
        {"overlapping, listed later", [&] { auto e = good; e.push_back({start1, 100, 0, 3}); return e; }(), false},
        {"duplicated", [&] { auto e = good; e.insert(e.begin() + 1, e[1]); return e; }(), false},
    };
    // clang-format on
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
    // A record ends at a line's end: not between the CR and LF of one.
    EXPECT_FALSE(fitToc({{0, 7, 0, 3}}, "From a\r\nFrom b").messages);
    // A body line that merely begins "From ???@??? " (no date) is no separator.
    EXPECT_TRUE(fitToc({{0, 33, 0, 3}}, "From a\n\nFrom ???@??? was my name\n").messages);
    EXPECT_FALSE(fitToc({{0, 48, 0, 3}}, "From a\n\nFrom ???@??? Mon Dec 13 18:14:25 2010\nx\n").messages);
}

TEST(TocIndex, IndexPathBesideTheMailbox)
{
    const struct Case {
        const char* mailbox;
        const char* index;
    } cases[] = {
        {"/m/In.mbx", "/m/In.toc"}, {"/m/FAMILYHO.MBX", "/m/FAMILYHO.TOC"},
        {"/m/a.Mbx", "/m/a.toc"},   {"In.mbx", "In.toc"},
        {"/m/In", nullptr},         {"/m/.mbx", nullptr},
        {"/m.mbx/In", nullptr},     {"/m/In.mbx.bak", nullptr},
        {"/m/In_mbx", nullptr},     {"/m/In.Mbx", "/m/In.toc"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> path = tocPathFor(c.mailbox);
        EXPECT_EQ(path.has_value(), c.index != nullptr) << c.mailbox;
        if (path && c.index) {
            EXPECT_EQ(*path, c.index) << c.mailbox;
        }
    }
}

TEST(DescMap, ReadsTheWindowsFolders)
{
    struct Case {
        std::string file;
        std::vector<std::vector<const char*>> entries;
    };
    std::vector<Case> cases = {
        {fixtureFolder(kWindowsFixture) + std::string(kDescMapFileName),
         {{"In", "In.mbx", "S"},
          {"Out", "OUT.MBX", "S"},
          {"Junk", "junk.mbx", "S"},
          {"Trash", "Trash.MBX", "S"},
          {"Clubs", "CLUBS.FOL", "F"}}},
        {fixtureFolder(kWindowsFixture) + "CLUBS.FOL/" + std::string(kDescMapFileName), {{"Harbour bridge, phase 2", "harbourb.mbx", "M"}}},
    };
    if (const std::optional<std::string> samples = test::realSamplesFolder()) {
        cases.push_back({*samples + "Windows Eudora 7.1 Folder/" + std::string(kDescMapFileName),
                         {{"In", "In.MBX", "S"}, {"Out", "Out.MBX", "S"}, {"Junk", "Junk.MBX", "S"}, {"Trash", "Trash.MBX", "S"}}});
    }
    for (const Case& c : cases) {
        const DescMap map = DescMap::parse(readFile(c.file));
        EXPECT_EQ(map.entries().size(), c.entries.size()) << c.file;
        for (const auto& expected : c.entries) {
            const DescMapEntry* entry = map.find(expected[1]);
            ASSERT_NE(entry, nullptr) << c.file << ": " << expected[1];
            EXPECT_EQ(entry->displayName, expected[0]) << c.file;
            EXPECT_EQ(entry->type, expected[2][0]) << c.file;
        }
        EXPECT_EQ(map.find("In"), nullptr) << c.file;
    }
}

TEST(DescMap, KeepsOnlyLinesThatReadCleanly)
{
    const struct Case {
        const char* name;
        std::string line;
        const char* file;
        const char* display;
        char type;
    } cases[] = {
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
    const struct Case {
        const char* name;
        std::string input;
        const char* expected;
    } cases[] = {
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
    const struct Case {
        const char* real;
        const char* file;
        const char* expected;
    } cases[] = {
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

namespace tarnwick::test {
namespace {

using Records = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Records recordsOf(const MacToc& toc)
{
    Records records;
    for (const TocEntry& entry : toc.entries) {
        records.emplace_back(entry.offset, entry.length);
        EXPECT_EQ(entry.status, kUnknownStatus) << "no status is read from a Mac index";
    }
    return records;
}

// The real Mac sample's ._In holds two TOCF resources: 1002 with the first three
// messages, 1001 with all five, ending at the 22,475 bytes of In.
TEST(MacToc, ReadsTheRealMacSample)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    std::ifstream file(samples + "Mac Eudora 6.2.4 Folder/Mail Folder/._In", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    const std::vector<MacToc> tocs = readMacTocs(bytes);
    ASSERT_EQ(tocs.size(), 2u);
    EXPECT_EQ(tocs[0].id, 1002);
    EXPECT_EQ(recordsOf(tocs[0]), (Records{{0, 2070}, {2070, 8738}, {10808, 8970}}));
    EXPECT_EQ(tocs[1].id, 1001);
    EXPECT_EQ(recordsOf(tocs[1]), (Records{{0, 2070}, {2070, 8738}, {10808, 8970}, {19778, 1094}, {20872, 1603}}));
}

// A crafted file reads back; a damaged one gives no index, and no cut of it reads
// outside its bytes or yields records it does not hold.
TEST(MacToc, DamagedFilesGiveNoIndex)
{
    const Records records = {{0, 40}, {40, 25}};
    const std::string good = macIndexFile({records, {{0, 40}}});
    const std::vector<MacToc> read = readMacTocs(good);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(recordsOf(read[0]), records);
    EXPECT_EQ(read[1].id, 1002);
    auto changed = [&good](std::size_t at, char value) {
        std::string bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const std::size_t resource = 38 + 256 + 4; // the first resource's bytes
    const struct {
        const char* name;
        std::string bytes;
        std::size_t tocs;
    } cases[] = {
        {"not AppleDouble", changed(3, 0x08), 0},
        {"another version", changed(5, 0x03), 0},
        {"no resource fork", changed(29, 9), 0},
        {"fork past the file's end", changed(34, 0x7F), 0},
        {"the two counts differ", changed(resource + 51, 3), 1},
        {"more records than the resource holds", changed(resource + 49, 3).replace(resource + 51, 1, 1, 3), 1},
        {"no TOCF type", changed(38 + 256 + 4 + 278 + 440 + 4 + 278 + 220 + 30, 'X'), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readMacTocs(c.bytes).size(), c.tocs) << c.name;
    for (std::size_t size = 0; size < good.size(); ++size) {
        for (const MacToc& toc : readMacTocs(good.substr(0, size))) {
            const Records got = recordsOf(toc);
            EXPECT_TRUE(got == records || got == Records({{0, 40}})) << size;
        }
    }
}

} // namespace
} // namespace tarnwick::test
