#pragma once
// The converters behind the encoding table. Each *Append function appends to `out` and,
// on failure, leaves `out` exactly as it was. Internal to the text encoding services.

#include "platform/EncodingTable.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick::encoding {

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
