#include "engine/MessagePieces.h"

#include "engine/ByteRange.h"
#include "engine/TagScanner.h"

#include <cstring>
#include <iterator>
#include <optional>

namespace tarnwick {

void cutBody(std::string_view message, std::size_t headerLength, std::vector<MessagePiece>& pieces)
{
    static constexpr std::string_view kTagNames[] = {"x-charset", "x-flowed", "x-html"};
    static constexpr PieceKind kTagKinds[] = {PieceKind::CharsetBlock, PieceKind::FlowedBlock, PieceKind::HtmlBlock};
    // Windows Eudora writes the first spelling, Mac Eudora the second.
    static constexpr std::string_view kTrailerMarkers[] = {"<!x-stuff-for-vrak", "<!x-stuff-for-pete"};
    constexpr std::size_t kTrailerLength = 18;

    pieces.clear();
    const char* data = message.data();
    const std::size_t size = message.size();
    std::size_t runStart = headerLength;
    std::size_t loneBrackets = 0;
    auto flushRun = [&](std::size_t end) {
        if (end > runStart)
            pieces.push_back({runStart, end - runStart, PieceKind::Text, end - runStart > loneBrackets, kEncodingNone, {}});
        runStart = end;
        loneBrackets = 0;
    };

    TagScanner tags(message);
    std::size_t pos = headerLength;
    while (pos < size) {
        const void* found = std::memchr(data + pos, '<', size - pos);
        if (found == nullptr)
            break;
        const std::size_t t = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        const bool possibleTag = t == pos || data[t - 1] == '\r' || data[t - 1] == '\n';
        if (possibleTag) {
            const std::size_t remaining = size - t;
            bool isBlock = false;
            for (std::size_t i = 0; i < std::size(kTagNames) && !isBlock; ++i) {
                const std::optional<TagBlock> block = tags.blockAt(t, kTagNames[i]);
                if (!block)
                    continue;
                isBlock = true;
                flushRun(t);
                const std::size_t nameEnd = kTagNames[i].size() + 1;
                const std::string_view parameter = block->opening.length > nameEnd + 1
                    ? std::string_view(data + t + nameEnd + 1, block->opening.length - nameEnd - 2)
                    : std::string_view();
                pieces.push_back({t + block->opening.length, block->closing.location - block->opening.length,
                                  kTagKinds[i], true, block->encoding, parameter});
                pos = t + block->closing.location + block->closing.length;
                runStart = pos;
            }
            if (isBlock)
                continue;
            if (remaining > kTrailerLength) {
                const std::string_view start(data + t, kTrailerLength);
                if (start == kTrailerMarkers[0] || start == kTrailerMarkers[1]) {
                    flushRun(t);
                    pieces.push_back({t, remaining, PieceKind::Trailer, true, kEncodingNone, {}});
                    return;
                }
            }
        }
        ++loneBrackets;
        pos = t + 1;
    }
    flushRun(size);
}

} // namespace tarnwick
