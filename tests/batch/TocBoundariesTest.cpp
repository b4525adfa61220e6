// The .toc index at the sizes where its fields cross a byte or word boundary: 32-bit
// offsets and lengths past 2^16 and 2^24 and up to 2^32 - 1, a count past one byte, and
// records that end past 4 GiB in a sparse mailbox.
#include "batch/TocIndex.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

void putU16(std::string& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void putU32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    putU16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
    putU16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// An index file as Eudora lays it out: a 104-byte header with the count at 102, then
// 218 bytes per record (offset at 0, length at 4, status at 12, priority at 16, label at
// 186 after eight bytes of all ones).
std::string tocBytes(const std::vector<TocEntry>& entries)
{
    std::string bytes(104 + 218 * entries.size(), '\0');
    putU16(bytes, 102, static_cast<std::uint16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = 104 + 218 * i;
        putU32(bytes, at, entries[i].offset);
        putU32(bytes, at + 4, entries[i].length);
        putU16(bytes, at + 12, entries[i].status);
        putU16(bytes, at + 16, entries[i].priority);
        putU32(bytes, at + 8, 0xA5A5A5A5); // the date: never taken for a length
        putU16(bytes, at + 14, 0xFFFF);    // flag bits: never taken for a status
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 178), 8, '\xff');
        putU16(bytes, at + 186, entries[i].label);
        putU32(bytes, at + 188, 0x5A5A5A5A); // the message's number: never taken for a label
    }
    return bytes;
}

// Every field value whose bytes differ from their neighbours' comes back as written:
// values just below and above 2^8, 2^16 and 2^24, the top bit, and all ones.
TEST(TocBoundaries, FieldsReadBackAcrossEveryByte)
{
    const std::uint32_t values[] = {0,          1,          0xFF,       0x100,      0xFFFF,     0x10000,    0x12345678, 0x00FFFFFF,
                                    0x01000000, 0x7FFFFFFF, 0x80000000, 0xFEDCBA98, 0xFFFFFFFE, 0xFFFFFFFF, 0x00010001, 0x01000100};
    std::vector<TocEntry> entries;
    for (const std::uint32_t value : values)
        entries.push_back({value, ~value, static_cast<std::uint16_t>(value >> 8), static_cast<std::uint16_t>(value >> 16), 0,
                           static_cast<std::uint16_t>(value >> 4)});
    // The count itself past one byte: 300 records.
    while (entries.size() < 300)
        entries.push_back({static_cast<std::uint32_t>(entries.size()) << 20, 0x01020304, 0x0102, 0x0201});
    const TocReading reading = readToc(tocBytes(entries));
    ASSERT_TRUE(reading.entries) << reading.problem;
    ASSERT_EQ(reading.entries->size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TocEntry& got = (*reading.entries)[i];
        EXPECT_EQ(got.offset, entries[i].offset) << "record " << i;
        EXPECT_EQ(got.length, entries[i].length) << "record " << i;
        EXPECT_EQ(got.status, entries[i].status) << "record " << i;
        EXPECT_EQ(got.priority, entries[i].priority) << "record " << i;
        EXPECT_EQ(got.label, entries[i].label) << "record " << i;
    }
}

// A sparse mailbox of 4 GiB + 200 bytes with one-line messages across 2^16 and 2^24
// and a last message from just below 4 GiB to the end: records that cross those
// boundaries fit, the last ending past 4 GiB (an end taken modulo 2^32 would land
// mid-text); a record one byte off anywhere does not. Only the pages at the records are
// read: the records do not cover the gaps between them.
TEST(TocBoundaries, RecordsPastFourGiBInASparseMailbox)
{
    char pattern[] = "/tmp/tarnwick-toc-sparse.XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::unlink(pattern);
    constexpr std::uint64_t kSize = (std::uint64_t{1} << 32) + 200;
    if (::ftruncate(fd, static_cast<off_t>(kSize)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no sparse file of 4 GiB here";
    }
    const std::uint32_t starts[] = {0, 0xFFFD, 0xFFFFFE, 0xFFFFFFF6};
    for (const std::uint32_t start : starts)
        ASSERT_EQ(::pwrite(fd, start == 0 ? "From a\n" : "\nFrom b\n", start == 0 ? 7 : 8, static_cast<off_t>(start == 0 ? 0 : start - 1)),
                  start == 0 ? 7 : 8);
    void* mapped = ::mmap(nullptr, kSize, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    ASSERT_NE(mapped, MAP_FAILED);
    const std::string_view mailbox(static_cast<const char*>(mapped), kSize);

    std::vector<TocEntry> records;
    for (const std::uint32_t start : starts)
        records.push_back({start, start == starts[3] ? static_cast<std::uint32_t>(kSize - start) : 7u, 1, 3});
    const TocFit fit = fitToc(*readToc(tocBytes(records)).entries, mailbox);
    ASSERT_TRUE(fit.messages) << fit.problem;
    ASSERT_EQ(fit.messages->size(), std::size(starts));
    EXPECT_EQ(fit.messages->at(1).offset + fit.messages->at(1).length, 0x10004u);
    EXPECT_EQ(fit.messages->at(2).offset + fit.messages->at(2).length, 0x1000005u);
    EXPECT_EQ(fit.messages->back().offset, 0xFFFFFFF6u);
    EXPECT_EQ(fit.messages->back().offset + fit.messages->back().length, kSize);

    auto changed = [&](std::size_t index, std::int64_t startBy, std::int64_t lengthBy) {
        std::vector<TocEntry> entries = records;
        entries[index].offset = static_cast<std::uint32_t>(entries[index].offset + startBy);
        entries[index].length = static_cast<std::uint32_t>(entries[index].length + lengthBy);
        return entries;
    };
    const struct Case {
        const char* name;
        std::vector<TocEntry> entries;
        const char* problem;
    } cases[] = {
        {"the last one byte short", changed(3, 0, -1), "entry 4 does not end at the end of a line"},
        {"the last one byte long", changed(3, 0, 1), "entry 4 ends past the mailbox"},
        {"the last at 2^32 - 1, to the end", changed(3, 9, -9), "entry 4 does not start at a \"From \" line"},
        {"the one across 2^16 starting a byte late", changed(1, 1, -1), "entry 2 does not start at a \"From \" line"},
        {"the one across 2^24 ending a byte early", changed(2, 0, -1), "entry 3 does not end at the end of a line"},
        {"a length of 2^32 - 1 from near 4 GiB", changed(3, 0, 0xFFFFFFFF - 210), "entry 4 ends past the mailbox"},
        {"only the records past 2^24", {records[2], records[3]}, ""},
        {"the records in reverse order", {records[3], records[2], records[1], records[0]}, ""},
    };
    for (const Case& c : cases) {
        const TocFit misfit = fitToc(*readToc(tocBytes(c.entries)).entries, mailbox);
        EXPECT_EQ(misfit.problem, c.problem) << c.name;
        EXPECT_EQ(misfit.messages.has_value(), std::string_view(c.problem).empty()) << c.name;
    }
    ::munmap(mapped, kSize);
}

// Eudora's separator line counts only at a line's start: mid-line, after CR or after
// LF, the same text inside a record.
TEST(TocBoundaries, ASeparatorTextOnlyAtALineStartSplitsARecord)
{
    const std::string separator = "From ???@??? Tue Apr 03 10:15:22 2001";
    const struct {
        const char* name;
        std::string body;
        bool fits;
    } cases[] = {
        {"mid-line", "quoted: " + separator + "\n", true},
        {"after a tab", "\t" + separator + "\n", true},
        {"after LF", "text\n" + separator + "\n", false},
        {"after CR", "text\r" + separator + "\r", false},
    };
    for (const auto& c : cases) {
        const std::string mailbox = separator + "\n" + c.body;
        const TocFit fit = fitToc({{0, static_cast<std::uint32_t>(mailbox.size()), 0, 3}}, mailbox);
        EXPECT_EQ(fit.messages.has_value(), c.fits) << c.name << ": " << fit.problem;
    }
}

} // namespace
} // namespace tarnwick
