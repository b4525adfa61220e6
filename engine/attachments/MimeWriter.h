#pragma once
// The pieces of a MIME message the engine writes itself: base64 lines, boundaries that
// never occur in what they enclose, and RFC 2231 file name parameters.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

/// Where a rebuilt message goes, piece by piece.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    /// Appends `bytes`; false when they could not be written (the sink knows why).
    virtual bool write(std::string_view bytes) = 0;
};

/// Input bytes per base64 line (76 characters).
inline constexpr std::size_t kBase64LineInput = 57;

/// Appends `length` bytes as base64 lines of 76 characters, each ended by `terminator`.
/// Only the last call for one body may pass a length that is not a multiple of 57: it
/// ends with a shorter, padded line.
void appendBase64Lines(const unsigned char* bytes, std::size_t length, std::string_view terminator, std::string& out);

/// A boundary derived from `contents` and `salt` alone (the same input gives the same
/// boundary) that occurs in none of them. Every boundary has the same length and
/// starts with "=_", which base64 never holds, so no boundary is a prefix of another
/// and no base64 line can be mistaken for a delimiter.
std::string boundaryFor(std::initializer_list<std::string_view> contents, std::uint64_t salt);

/// Appends `; NAME="VALUE"` for printable ASCII, otherwise the RFC 2231 form
/// `; NAME*=UTF-8''...` (split into NAME*0*, NAME*1*, ... continuations on lines of their
/// own, each starting after `terminator` and a space). `value` is UTF-8.
void appendNameParameter(std::string& header, std::string_view name, std::string_view value, std::string_view terminator);

/// Whether every byte of `bytes` is 7-bit, so a part can be declared "7bit".
bool isSevenBit(std::string_view bytes);

} // namespace tarnwick
