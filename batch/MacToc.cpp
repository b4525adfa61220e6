#include "batch/MacToc.h"

#include "platform/Paths.h"

#include <optional>

namespace tarnwick {
namespace {

// AppleDouble (version 2): magic, version, 16 bytes of filler, the entry count, then
// 12 bytes per entry (id, offset, length); entry 2 is the resource fork.
constexpr std::uint32_t kAppleDoubleMagic = 0x00051607;
constexpr std::uint32_t kAppleDoubleVersion = 0x00020000;
constexpr std::uint32_t kResourceForkEntry = 2;
// A TOCF resource, as checked on Mac Eudora 6.2.4's folders: a header of 278 bytes
// with the record count at 48 (and again at 50), then 220 bytes per record with the
// message's offset at 0 and its length at 4. Eudora leaves room for more records.
constexpr std::size_t kTocHeader = 278;
constexpr std::size_t kTocRecord = 220;
constexpr std::size_t kTocCountAt = 48;

std::optional<std::uint32_t> bigEndian(std::string_view bytes, std::size_t at, std::size_t size)
{
    if (at > bytes.size() || bytes.size() - at < size)
        return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The part [offset, offset + length) of `bytes`; none when it does not lie inside.
std::optional<std::string_view> part(std::string_view bytes, std::uint64_t offset, std::uint64_t length)
{
    if (offset > bytes.size() || bytes.size() - offset < length)
        return std::nullopt;
    return bytes.substr(offset, length);
}

std::optional<std::string_view> resourceFork(std::string_view file)
{
    if (bigEndian(file, 0, 4) != kAppleDoubleMagic || bigEndian(file, 4, 4) != kAppleDoubleVersion)
        return std::nullopt;
    const std::uint32_t count = bigEndian(file, 24, 2).value_or(0);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::optional<std::uint32_t> id = bigEndian(file, 26 + 12 * i, 4);
        if (!id)
            return std::nullopt;
        if (*id == kResourceForkEntry)
            return part(file, bigEndian(file, 30 + 12 * i, 4).value_or(UINT32_MAX), bigEndian(file, 34 + 12 * i, 4).value_or(UINT32_MAX));
    }
    return std::nullopt;
}

// A TOCF resource's records, or none when its layout does not read cleanly.
std::optional<std::vector<TocEntry>> tocRecords(std::string_view resource)
{
    const std::optional<std::uint32_t> count = bigEndian(resource, kTocCountAt, 2);
    if (!count || *count != bigEndian(resource, kTocCountAt + 2, 2) || resource.size() < kTocHeader + kTocRecord * *count)
        return std::nullopt;
    std::vector<TocEntry> entries(*count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = kTocHeader + kTocRecord * i;
        entries[i].offset = *bigEndian(resource, at, 4);
        entries[i].length = *bigEndian(resource, at + 4, 4);
        entries[i].status = kUnknownStatus;
    }
    return entries;
}

} // namespace

std::vector<MacToc> readMacTocs(std::string_view appleDouble)
{
    std::vector<MacToc> tocs;
    const std::optional<std::string_view> fork = resourceFork(appleDouble);
    if (!fork)
        return tocs;
    // The resource fork: the offsets and lengths of its data and its map; in the map,
    // the type list's offset at 24, the types' count less one, 8 bytes per type (type,
    // count less one, offset of its references from the type list), 12 bytes per
    // reference (id, name offset, attributes and the 24-bit offset of its data).
    const std::optional<std::uint32_t> dataOffset = bigEndian(*fork, 0, 4), mapOffset = bigEndian(*fork, 4, 4);
    const std::optional<std::uint32_t> dataLength = bigEndian(*fork, 8, 4), mapLength = bigEndian(*fork, 12, 4);
    if (!dataOffset || !mapOffset || !dataLength || !mapLength)
        return tocs;
    const std::optional<std::string_view> data = part(*fork, *dataOffset, *dataLength);
    const std::optional<std::string_view> map = part(*fork, *mapOffset, *mapLength);
    if (!data || !map)
        return tocs;
    const std::uint32_t typeList = bigEndian(*map, 24, 2).value_or(map->size());
    const std::optional<std::uint32_t> types = bigEndian(*map, typeList, 2);
    for (std::uint32_t t = 0; types && t <= *types; ++t) {
        const std::size_t type = typeList + 2 + 8 * std::size_t{t};
        if (part(*map, type, 4) != std::optional<std::string_view>("TOCF"))
            continue;
        const std::uint32_t references = bigEndian(*map, type + 4, 2).value_or(0) + 1;
        const std::uint32_t first = typeList + bigEndian(*map, type + 6, 2).value_or(0);
        for (std::uint32_t r = 0; r < references; ++r) {
            const std::size_t reference = first + 12 * std::size_t{r};
            const std::optional<std::uint32_t> id = bigEndian(*map, reference, 2);
            const std::optional<std::uint32_t> located = bigEndian(*map, reference + 5, 3);
            if (!id || !located)
                break;
            const std::optional<std::string_view> resource
                = part(*data, *located + 4ull, bigEndian(*data, *located, 4).value_or(UINT32_MAX));
            if (!resource)
                continue;
            if (std::optional<std::vector<TocEntry>> entries = tocRecords(*resource))
                tocs.push_back({static_cast<std::int16_t>(*id), std::move(*entries)});
        }
    }
    return tocs;
}

std::string appleDoublePathFor(const std::string& path) { return joinPath(parentPath(path), "._" + fileName(path)); }

} // namespace tarnwick
