#pragma once
// A message body cut into the pieces that are decoded apart: text runs, Eudora tag
// blocks (tags dropped) and the trailer.

#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
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

} // namespace tarnwick
