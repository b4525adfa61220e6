#include "batch/DescMap.h"

#include <array>

namespace tarnwick {
namespace {

std::string foldedAscii(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return folded;
}

bool isPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// Splits off the last three fields; the display name may itself hold commas.
std::optional<DescMapEntry> parseLine(std::string_view line)
{
    std::array<std::size_t, 3> commas{};
    std::size_t end = line.size();
    for (std::size_t& comma : commas) {
        comma = end == 0 ? std::string_view::npos : line.rfind(',', end - 1);
        if (comma == std::string_view::npos)
            return std::nullopt;
        end = comma;
    }
    // commas[0] is the last comma, commas[2] the third from the end.
    const std::string_view display = line.substr(0, commas[2]);
    const std::string_view file = line.substr(commas[2] + 1, commas[1] - commas[2] - 1);
    const std::string_view type = line.substr(commas[1] + 1, commas[0] - commas[1] - 1);
    const std::string_view flag = line.substr(commas[0] + 1);
    if (display.empty() || !isPlainFileName(file))
        return std::nullopt;
    if (type.size() != 1 || (type[0] != 'S' && type[0] != 'M' && type[0] != 'F'))
        return std::nullopt;
    if (flag != "Y" && flag != "N")
        return std::nullopt;
    return DescMapEntry{std::string(display), std::string(file), type[0]};
}

} // namespace

DescMap DescMap::parse(std::string_view bytes)
{
    DescMap map;
    if (bytes.size() > kMaximumDescMapSize)
        return map;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t lineEnd = bytes.find_first_of("\r\n", position);
        if (lineEnd == std::string_view::npos)
            lineEnd = bytes.size();
        const std::string_view line = bytes.substr(position, lineEnd - position);
        position = lineEnd + 1;
        if (lineEnd + 1 < bytes.size() && bytes[lineEnd] == '\r' && bytes[lineEnd + 1] == '\n')
            ++position;
        std::optional<DescMapEntry> entry = parseLine(line);
        if (entry && map.byFoldedName_.emplace(foldedAscii(entry->fileName), map.entries_.size()).second)
            map.entries_.push_back(std::move(*entry));
    }
    return map;
}

const DescMapEntry* DescMap::find(std::string_view fileName) const
{
    const auto found = byFoldedName_.find(foldedAscii(fileName));
    return found == byFoldedName_.end() ? nullptr : &entries_[found->second];
}

} // namespace tarnwick
