#pragma once
// A message body cut into the pieces that are decoded apart: text runs, Eudora tag
// blocks (tags dropped) and the trailer.

#include "engine/TagScanner.h"
#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class PieceKind : std::uint8_t {
    Text,        // bytes outside tag blocks, lone '<' included
    CharsetBlock,// <x-charset ...> text
    FlowedBlock, // <x-flowed> text
    HtmlBlock,   // <x-html> text
    Trailer,     // "<!x-stuff-for-vrak" (or "-pete") to the end, marker included
};

struct MessagePiece {
    std::size_t offset = 0; // in the message bytes
    std::size_t length = 0;
    PieceKind kind = PieceKind::Text;
    bool setsContentType = true;             // false for a text run of lone '<' only
    EncodingId blockEncoding = kEncodingNone; // what the tag's parameter names
    std::string_view charsetName;            // the tag's parameter as it stands (blocks)
};

/// Cuts the body of `message`, from `headerLength` on, into pieces in message order and
/// replaces the contents of `pieces` with them. A tag counts only at the scan position
/// or at the start of a line; a '<' that opens no block stays in the text run around it,
/// so a run is decoded in one piece (a stateful encoding is never cut inside a shift
/// sequence). Empty runs are left out.
void cutBody(std::string_view message, std::size_t headerLength, std::vector<MessagePiece>& pieces);

/// cutBody over any message bytes (see MemoryBytes), handing each piece to
/// `each(piece, parameter)` in order as it is found; `parameter` is the range of a
/// block's tag parameter in the message (length 0 for none). Stops when `each`
/// returns false.
template <typename Bytes, typename Each>
void forEachBodyPiece(Bytes bytes, std::size_t headerLength, Each each)
{
    static constexpr std::string_view kTagNames[] = {"x-charset", "x-flowed", "x-html"};
    static constexpr PieceKind kTagKinds[] = {PieceKind::CharsetBlock, PieceKind::FlowedBlock, PieceKind::HtmlBlock};
    // Windows Eudora writes the first spelling, Mac Eudora the second.
    static constexpr std::string_view kTrailerMarkers[] = {"<!x-stuff-for-vrak", "<!x-stuff-for-pete"};
    constexpr std::size_t kTrailerLength = 18;

    const std::size_t size = bytes.size();
    std::size_t runStart = headerLength;
    std::size_t loneBrackets = 0;
    bool more = true;
    auto flushRun = [&](std::size_t end) {
        if (end > runStart)
            more = more && each(MessagePiece{runStart, end - runStart, PieceKind::Text, end - runStart > loneBrackets, kEncodingNone, {}},
                                ByteRange{});
        runStart = end;
        loneBrackets = 0;
    };

    BasicTagScanner<Bytes> tags(bytes);
    std::size_t pos = headerLength;
    while (pos < size && more) {
        const std::size_t t = bytes.find('<', pos);
        if (t == std::string_view::npos)
            break;
        const bool possibleTag = t == pos || bytes.at(t - 1) == '\r' || bytes.at(t - 1) == '\n';
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
                const ByteRange parameter = block->opening.length > nameEnd + 1
                    ? ByteRange{t + nameEnd + 1, block->opening.length - nameEnd - 2}
                    : ByteRange{};
                more = more && each(MessagePiece{t + block->opening.length, block->closing.location - block->opening.length,
                                                 kTagKinds[i], true, block->encoding, {}},
                                    parameter);
                pos = t + block->closing.location + block->closing.length;
                runStart = pos;
            }
            if (isBlock)
                continue;
            if (remaining > kTrailerLength && (bytes.matches(t, kTrailerMarkers[0]) || bytes.matches(t, kTrailerMarkers[1]))) {
                flushRun(t);
                if (more)
                    each(MessagePiece{t, remaining, PieceKind::Trailer, true, kEncodingNone, {}}, ByteRange{});
                return;
            }
        }
        ++loneBrackets;
        pos = t + 1;
    }
    if (more)
        flushRun(size);
}

} // namespace tarnwick
