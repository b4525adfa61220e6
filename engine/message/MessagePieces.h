#pragma once
// A message body cut into the pieces that are decoded apart: text runs, Eudora tag
// blocks (tags dropped) and the trailer.

#include "engine/message/TagScanner.h"
#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class PieceKind : std::uint8_t {
    Text,         // bytes outside tag blocks, lone '<' included
    CharsetBlock, // <x-charset ...> text
    FlowedBlock,  // <x-flowed> text
    HtmlBlock,    // <x-html> text
    Trailer,      // "<!x-stuff-for-vrak" (or "-pete") to the end, marker included
};

/// A tag block: its text may be in a charset the tag names.
inline bool isBlock(PieceKind kind)
{
    return kind == PieceKind::CharsetBlock || kind == PieceKind::FlowedBlock || kind == PieceKind::HtmlBlock;
}

struct MessagePiece {
    std::size_t offset = 0; // in the message bytes
    std::size_t length = 0;
    PieceKind kind = PieceKind::Text;
    bool setsContentType = true;              // false for a text run of lone '<' only
    EncodingId blockEncoding = kEncodingNone; // what the tag's parameter names
    std::string_view charsetName;             // the tag's parameter as it stands (blocks)
};

/// Cuts the body of `message`, from `headerLength` on, into pieces in message order and
/// replaces the contents of `pieces` with them. A tag counts only at the scan position
/// or at the start of a line; a '<' that opens no block stays in the text run around it,
/// so a run is decoded in one piece (a stateful encoding is never cut inside a shift
/// sequence). Empty runs are left out.
void cutBody(std::string_view message, std::size_t headerLength, std::vector<MessagePiece>& pieces);

/// The cut of cutBody over any message bytes (see MemoryBytes), one piece at a time:
/// next() gives the pieces in message order, with `parameter` the range of a block's
/// tag parameter in the message (length 0 for none). Bytes is held by value (a cheap
/// handle for bytes read from elsewhere).
template <typename Bytes> class BodyCutter {
public:
    BodyCutter(Bytes bytes, std::size_t headerLength)
        : bytes_(bytes), tags_(bytes), size_(bytes_.size()), runStart_(headerLength), pos_(headerLength)
    {}

    /// The next piece; false when there is none.
    bool next(MessagePiece& piece, ByteRange& parameter)
    {
        static constexpr std::string_view kTagNames[] = {"x-charset", "x-flowed", "x-html"};
        static constexpr PieceKind kTagKinds[] = {PieceKind::CharsetBlock, PieceKind::FlowedBlock, PieceKind::HtmlBlock};
        // Windows Eudora writes the first spelling, Mac Eudora the second.
        static constexpr std::string_view kTrailerMarkers[] = {"<!x-stuff-for-vrak", "<!x-stuff-for-pete"};
        constexpr std::size_t kTrailerLength = 18;

        if (pending_) {
            // The block or trailer found after a text run.
            pending_ = false;
            piece = pendingPiece_;
            parameter = pendingParameter_;
            return true;
        }
        while (!done_ && pos_ < size_) {
            const std::size_t t = bytes_.find('<', pos_);
            if (t == std::string_view::npos)
                break;
            const bool possibleTag = t == pos_ || bytes_.at(t - 1) == '\r' || bytes_.at(t - 1) == '\n';
            if (possibleTag) {
                const std::size_t remaining = size_ - t;
                for (std::size_t i = 0; i < std::size(kTagNames); ++i) {
                    const std::optional<TagBlock> block = tags_.blockAt(t, kTagNames[i]);
                    if (!block)
                        continue;
                    const std::size_t nameEnd = kTagNames[i].size() + 1;
                    const ByteRange blockParameter = block->opening.length > nameEnd + 1
                        ? ByteRange{t + nameEnd + 1, block->opening.length - nameEnd - 2}
                        : ByteRange{};
                    const MessagePiece found{t + block->opening.length,
                                             block->closing.location - block->opening.length,
                                             kTagKinds[i],
                                             true,
                                             block->encoding,
                                             {}};
                    pos_ = t + block->closing.location + block->closing.length;
                    return emitAfterRun(t, pos_, found, blockParameter, piece, parameter);
                }
                if (remaining > kTrailerLength && (bytes_.matches(t, kTrailerMarkers[0]) || bytes_.matches(t, kTrailerMarkers[1]))) {
                    done_ = true;
                    return emitAfterRun(t, size_, MessagePiece{t, remaining, PieceKind::Trailer, true, kEncodingNone, {}}, ByteRange{},
                                        piece, parameter);
                }
            }
            ++loneBrackets_;
            pos_ = t + 1;
        }
        done_ = true;
        if (size_ > runStart_) {
            piece = run(size_);
            parameter = ByteRange{};
            runStart_ = size_;
            return true;
        }
        return false;
    }

private:
    MessagePiece run(std::size_t end) const
    {
        return MessagePiece{runStart_, end - runStart_, PieceKind::Text, end - runStart_ > loneBrackets_, kEncodingNone, {}};
    }

    // The text run up to `at` (when not empty), then `found`; the next run starts at `next`.
    bool emitAfterRun(std::size_t at, std::size_t next, const MessagePiece& found, ByteRange foundParameter, MessagePiece& piece,
                      ByteRange& parameter)
    {
        const bool hasRun = at > runStart_;
        const MessagePiece before = run(at);
        runStart_ = next;
        loneBrackets_ = 0;
        if (!hasRun) {
            piece = found;
            parameter = foundParameter;
            return true;
        }
        piece = before;
        parameter = ByteRange{};
        pending_ = true;
        pendingPiece_ = found;
        pendingParameter_ = foundParameter;
        return true;
    }

    Bytes bytes_;
    BasicTagScanner<Bytes> tags_;
    std::size_t size_;
    std::size_t runStart_;
    std::size_t pos_;
    std::size_t loneBrackets_ = 0;
    bool done_ = false;
    bool pending_ = false;
    MessagePiece pendingPiece_;
    ByteRange pendingParameter_;
};

/// cutBody over any message bytes (see MemoryBytes), handing each piece to
/// `each(piece, parameter)` in order as it is found (see BodyCutter). Stops when `each`
/// returns false.
template <typename Bytes, typename Each> void forEachBodyPiece(Bytes bytes, std::size_t headerLength, Each each)
{
    BodyCutter<Bytes> cutter(bytes, headerLength);
    MessagePiece piece;
    ByteRange parameter;
    while (cutter.next(piece, parameter) && each(piece, parameter)) {}
}

} // namespace tarnwick
