#pragma once
// The converters behind the encoding table. Each *Append function appends to `out` and,
// on failure, leaves `out` exactly as it was. Internal to the text encoding services.

#include "platform/encodings/EncodingTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::encoding {

/// What the toUnicode table holds for a byte that decodes to nothing (a noncharacter).
inline constexpr char16_t kUndefinedUnit = 0xFFFF;

/// SingleByteTable::flags bits: what the text decoded from one byte is like.
inline constexpr std::uint8_t kByteInvalid = 1;     // the byte does not decode
inline constexpr std::uint8_t kByteC1 = 2;          // a C1 control (U+0080-U+009F)
inline constexpr std::uint8_t kByteAboveAscii = 4;  // a code unit above U+007F
inline constexpr std::uint8_t kByteAboveLatin1 = 8; // a code unit above U+00FF

/// The lookup tables of a single-byte encoding, built once per encoding.
struct SingleByteTable {
    std::array<char16_t, 256> toUnicode{}; // kUndefinedUnit for a byte that does not decode
    std::array<std::uint8_t, 256> flags{}; // kByte* bits of each byte
    bool asciiAsItself = false;            // bytes 0x00-0x7F decode to the same code units
    bool asciiTransparent = false;         // and no other byte decodes to an ASCII code unit
    bool encodesAsciiAsItself = false;     // U+0001-U+007F encode to the same bytes
    // The byte of each code unit; 0 means "not encodable" except for U+0000.
    std::array<std::uint8_t, 65536> fromUnicode{};
};

/// The tables of a SingleByte or SingleByteHigh entry; none when its converter cannot be opened.
const SingleByteTable* singleByteTable(const Entry& entry);

bool singleByteDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out);
bool singleByteEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out);
bool singleByteCanEncode(const Entry& entry, std::u16string_view text);

bool utf8DecodeAppend(const char* bytes, std::size_t length, std::u16string& out);
bool utf8EncodeAppend(std::u16string_view text, std::string& out);
/// True when a surrogate code unit is not part of a pair.
bool hasLoneSurrogate(std::u16string_view text);

bool icuDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out);
bool icuEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out);
bool icuCanEncode(const Entry& entry, std::u16string_view text);
/// False when `text` holds a character that the entry's ICU converter cannot write as
/// bytes that decode back to it (ICU skips unmappable default-ignorables silently).
/// ASCII costs one comparison per unit; the per-encoding set is built on first need.
bool icuRoundTrips(const Entry& entry, std::u16string_view text);

/// Shift_JIS as ICU decodes it, most text without ICU (see EncodingShiftJis.cpp).
bool shiftJisDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out);

/// ISO-2022-JP as ICU writes it, most text without ICU (see EncodingIso2022Jp.cpp).
bool iso2022JpEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out);

bool macJapaneseDecodeAppend(const Entry& entry, const char* bytes, std::size_t length, std::u16string& out);
bool macJapaneseEncodeAppend(const Entry& entry, std::u16string_view text, std::string& out);
bool macJapaneseCanEncode(const Entry& entry, std::u16string_view text);

} // namespace tarnwick::encoding
