#pragma once
// Text encoding services over ICU: decoding, encoding, name lookup and the list of
// encodings offered to the user. Every function is safe to call from any thread.
//
// Two number spaces are used. A PlatformEncoding is the number that the IANA name
// lookup answers with (Apple's published CFStringEncoding values). An EncodingId is
// what the rest of the program stores (settings, menu tags, charset candidates):
// encodings with a short number of their own keep it (1 ASCII, 4 UTF-8, 8 Shift_JIS,
// ...), all others are carried with the top bit set (MacJapanese 1 -> 0x80000001).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

using EncodingId = std::uint32_t;
using PlatformEncoding = std::uint32_t;

inline constexpr EncodingId kEncodingASCII = 1;
inline constexpr EncodingId kEncodingUTF8 = 4;
inline constexpr EncodingId kEncodingISOLatin1 = 5;
inline constexpr EncodingId kEncodingShiftJIS = 8;
inline constexpr EncodingId kEncodingMacJapanese = 0x80000001;

inline constexpr PlatformEncoding kPlatformMacJapanese = 1;
inline constexpr PlatformEncoding kPlatformISOLatinThai = 0x020B;
inline constexpr PlatformEncoding kPlatformEUCCN = 0x0930;
/// What the name lookup answers for a name it does not know.
inline constexpr PlatformEncoding kPlatformEncodingInvalid = 0xFFFFFFFF;

/// The source encoding "Automatic" (also what a missing MboxEncoding reads as): each
/// message is decoded in the encoding it calls for. No encoding of the table has it.
inline constexpr EncodingId kEncodingAutomatic = 0;

/// "No encoding": the block encoding of a tag that names no known charset.
/// No encoding of the table has this identifier.
inline constexpr EncodingId kEncodingNone = 0x7FFFFFFF;

/// The encoding of the user's locale (nl_langinfo(CODESET) after setlocale), as a
/// platform number; UTF-8 when the codeset is unknown.
PlatformEncoding systemEncoding();

/// Carries a platform number into the identifier space (see above).
EncodingId carryEncoding(PlatformEncoding encoding);

/// IANA charset name or alias, compared without regard to case, to a platform number;
/// kPlatformEncodingInvalid when unknown. Does not test availability.
PlatformEncoding encodingForIANAName(std::string_view name);

/// Whether text can be converted to and from the encoding with this platform number.
bool isEncodingAvailable(PlatformEncoding encoding);

/// Decodes bytes and appends the text to `out`. Returns false on bytes that are not
/// valid in the encoding (never substitutes); `out` is then left as it was.
/// Zero bytes decode to nothing and succeed.
bool decodeAppend(const char* bytes, std::size_t length, EncodingId encoding, std::u16string& out);

/// True only when every character of `text` can be written in the encoding without loss.
bool canEncode(std::u16string_view text, EncodingId encoding);

/// Encodes `text` into `out` (replacing its contents). Returns false rather than
/// substituting a character that the encoding cannot write.
bool encodeText(std::u16string_view text, EncodingId encoding, std::string& out);

/// encodeText that appends to `out`; on false `out` is left as it was.
bool encodeAppend(std::u16string_view text, EncodingId encoding, std::string& out);

// Byte-level services for the encodings whose text can be checked and converted
// without decoding it first: the single-byte encodings and UTF-8. They give exactly
// what decodeAppend followed by encodeText gives.

/// Whether the encoding is one the byte-level services below take.
bool isByteTranscodable(EncodingId encoding);

/// Whether ASCII bytes decode to the same characters and no other byte gives an ASCII
/// character (UTF-8, and most single-byte encodings); false for others.
bool isAsciiTransparent(EncodingId encoding);

/// How far the code units of a text reach.
enum class UnitRange : std::uint8_t { Ascii, Latin1, Wide }; // <= U+007F, <= U+00FF, above

/// What decoding a stretch of bytes would give, found without decoding it.
struct ByteScan {
    bool valid = false;                 // decodeAppend succeeds
    bool clean = false;                 // and the text holds no C1 control (U+0080-U+009F)
    UnitRange range = UnitRange::Ascii; // of the decoded text's code units (when valid)
};

/// Scans bytes in a byte-transcodable encoding (anything else scans as invalid).
ByteScan scanBytes(const char* bytes, std::size_t length, EncodingId encoding);

/// Appends to `out` the bytes that encodeText(to) writes for the text that
/// decodeAppend(from) gives for `bytes`; both encodings byte-transcodable and the bytes
/// valid in `from` (see scanBytes). False, with `out` as it was, when encodeText would
/// refuse the text.
bool transcodeAppend(const char* bytes, std::size_t length, EncodingId from, EncodingId to, std::string& out);

/// Every identifier that can be decoded, in table order (no terminating 0).
std::vector<EncodingId> availableEncodings();

/// The charset name mail gives the encoding (the first of its names: "windows-1252",
/// "macintosh", "Shift_JIS"); none for an identifier that the table does not hold.
std::optional<std::string> encodingCharsetName(EncodingId encoding);

/// Human-readable name (UTF-8), looked up through the localisation table; none for
/// an identifier that the table does not hold.
std::optional<std::string> encodingDisplayName(EncodingId encoding);

} // namespace tarnwick
