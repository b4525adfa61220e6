#pragma once
// The table of offered text encodings: identifier, platform number, English name,
// names and aliases, and how each is converted. Internal to the text encoding services.

#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarnwick::encoding {

enum class Codec : std::uint8_t {
    Utf8,           // hand-written fast paths plus ICU's strict UTF-8 routines
    SingleByte,     // 256-entry table built once from an ICU converter
    SingleByteHigh, // 256-entry table from `highHalf` (bytes 0x00-0x9F map to themselves)
    Icu,            // a per-thread cached ICU converter (multibyte and stateful encodings)
    MacJapanese,    // ICU's Shift_JIS plus Apple's single-byte additions
    Iso2022Jp,      // ICU decodes; a table generated from ICU encodes
    ShiftJis,       // a table generated from ICU decodes; ICU encodes
};

struct Entry {
    EncodingId id;
    PlatformEncoding platform;
    const char* name; // English, the key of the localisation table
    Codec codec;
    const char* converter;              // ICU converter name (none for SingleByteHigh)
    const char* aliases;                // '|'-separated names matched without regard to case
    const char16_t* highHalf = nullptr; // SingleByteHigh: code points of bytes 0xA0-0xFF
    bool rejectPrivateUse = false;      // SingleByte: bytes that ICU maps to U+E000-U+F8FF are invalid
};

std::span<const Entry> entries();
inline std::size_t indexOf(const Entry& entry) { return static_cast<std::size_t>(&entry - entries().data()); }

const Entry* entryForId(EncodingId id);
/// Also resolves synonyms (kCFStringEncodingShiftJIS names the same entry as DOSJapanese).
const Entry* entryForPlatform(PlatformEncoding platform);
/// Whether the entry's converter can be opened (computed once).
bool isAvailable(const Entry& entry);
/// Our alias table first, then ICU's IANA and MIME alias tables.
const Entry* entryForName(std::string_view name);

} // namespace tarnwick::encoding
