#pragma once
// Base64 (RFC 4648) quanta, shared by the attachment lines and the encoded-words.

#include <cstddef>
#include <cstdint>

namespace tarnwick {

inline constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// Writes the four characters for `count` (1 to 3) bytes at `in` to `out`, padded with '='.
inline void base64Quantum(const unsigned char* in, std::size_t count, char* out)
{
    const std::uint32_t bits
        = (std::uint32_t{in[0]} << 16) | (count > 1 ? std::uint32_t{in[1]} << 8 : 0) | (count > 2 ? std::uint32_t{in[2]} : 0);
    out[0] = kBase64Alphabet[(bits >> 18) & 63];
    out[1] = kBase64Alphabet[(bits >> 12) & 63];
    out[2] = count > 1 ? kBase64Alphabet[(bits >> 6) & 63] : '=';
    out[3] = count > 2 ? kBase64Alphabet[bits & 63] : '=';
}

} // namespace tarnwick
