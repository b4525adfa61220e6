#include "engine/message/MessagePieces.h"

namespace tarnwick {

void cutBody(std::string_view message, std::size_t headerLength, std::vector<MessagePiece>& pieces)
{
    pieces.clear();
    forEachBodyPiece(MemoryBytes(message), headerLength, [&](MessagePiece piece, ByteRange parameter) {
        if (parameter.length > 0)
            piece.charsetName = message.substr(static_cast<std::size_t>(parameter.location), static_cast<std::size_t>(parameter.length));
        pieces.push_back(piece);
        return true;
    });
}

} // namespace tarnwick
