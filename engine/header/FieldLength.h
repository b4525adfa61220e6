#pragma once
// The length of header fields, measured on the raw bytes before any decoding: a message
// with a field longer than the limit is written as it is instead of being converted, so
// that a field is always small enough to hold whole.

#include <cstdint>
#include <string_view>

namespace tarnwick {

/// The longest header field that is converted, in bytes.
inline constexpr std::uint64_t kLongestConvertedField = std::uint64_t{1} << 20;

/// Measures the header fields of a message given block by block, cut anywhere. Lines
/// end at CR, LF or CR LF; the header runs from the first line up to the first empty
/// line after it, or to the end. A field is a line with the lines after it that begin
/// with a blank; its length counts from its first byte to the end of its last line's
/// text, the terminators between its lines included. The separator line counts as a
/// field too (a bound for every reading of the header).
class HeaderFieldMeter {
public:
    explicit HeaderFieldMeter(std::uint64_t limit = kLongestConvertedField) : limit_(limit) {}

    /// Takes the next bytes; false once the answer is known (the header ended, or a
    /// field is over the limit), when further bytes change nothing.
    bool feed(std::string_view bytes);

    /// Whether a field seen so far is longer than the limit.
    bool tooLong() const { return tooLong_; }

private:
    std::uint64_t limit_;
    std::uint64_t field_ = 0; // bytes of the current field so far
    std::uint64_t line_ = 0;  // the current line's index
    bool lineStart_ = true;
    bool afterCR_ = false;
    bool done_ = false;
    bool tooLong_ = false;
};

/// Whether a header field of `message` (a whole message) is longer than `limit` bytes.
bool hasOverlongHeaderField(std::string_view message, std::uint64_t limit = kLongestConvertedField);

} // namespace tarnwick
