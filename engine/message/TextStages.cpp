#include "engine/message/TextStages.h"

namespace tarnwick {

bool hasBoundaryLine(const ForEachText& forEachText, std::uint64_t fieldEnd, std::string_view boundary)
{
    if (boundary.empty())
        return false;
    const std::string delimiter = "--" + std::string(boundary);
    auto isBreak = [](char16_t c) { return c == u'\r' || c == u'\n'; };
    bool found = false;
    std::uint64_t offset = 0;
    std::size_t matched = 0; // units of the line that match the delimiter so far
    bool alive = true;
    forEachText([&](std::u16string_view text) {
        const std::uint64_t start = offset;
        offset += text.size();
        if (offset <= fieldEnd)
            return true;
        std::size_t i = start < fieldEnd ? static_cast<std::size_t>(fieldEnd - start) : 0;
        while (i < text.size()) {
            if (!alive) {
                const auto next = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), isBreak);
                if (next == text.end())
                    break;
                i = static_cast<std::size_t>(next - text.begin());
            }
            if (isBreak(text[i])) {
                ++i;
                alive = true;
                matched = 0;
                continue;
            }
            if (text[i] != static_cast<unsigned char>(delimiter[matched])) {
                alive = false;
                continue;
            }
            ++i;
            if (++matched == delimiter.size()) {
                found = true;
                return false;
            }
        }
        return true;
    });
    return found;
}

} // namespace tarnwick
