// Byte-level checks and conversions for the single-byte encodings and UTF-8: the
// bytes of one encoding go straight to the bytes of another through a table per pair
// of encodings, built from the single-byte tables (themselves built from ICU), with
// no UTF-16 text in between. Runs of ASCII are found 16 bytes at a time and copied
// whole. Every answer is the one that decodeAppend and encodeText give.
#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/EncodingTable.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {
namespace {

using encoding::Codec;
using encoding::Entry;
using encoding::SingleByteTable;

const Entry* usableEntry(EncodingId id)
{
    const Entry* entry = encoding::entryForId(id);
    return entry && encoding::isAvailable(*entry) ? entry : nullptr;
}

bool isSingleByte(const Entry& entry) { return entry.codec == Codec::SingleByte || entry.codec == Codec::SingleByteHigh; }

/// How many bytes from `src` on are ASCII.
std::size_t asciiPrefix(const unsigned char* src, std::size_t length)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= length; i += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
        if (mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#else
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, src + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
#endif
    while (i < length && src[i] < 0x80)
        ++i;
    return i;
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

/// The length of the well-formed UTF-8 sequence at `s` (lead byte 0x80 or above), 0 when
/// ill-formed (overlong, surrogate, above U+10FFFF or truncated).
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t available)
{
    const unsigned char lead = s[0];
    if (lead < 0xC2 || lead > 0xF4)
        return 0;
    if (lead < 0xE0)
        return available >= 2 && isContinuation(s[1]) ? 2 : 0;
    if (lead < 0xF0) {
        if (available < 3 || !isContinuation(s[2]))
            return 0;
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return s[1] >= low && s[1] <= high ? 3 : 0;
    }
    if (available < 4 || !isContinuation(s[2]) || !isContinuation(s[3]))
        return 0;
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return s[1] >= low && s[1] <= high ? 4 : 0;
}

char32_t utf8CodePoint(const unsigned char* s, std::size_t length)
{
    switch (length) {
    case 2:
        return static_cast<char32_t>((s[0] & 0x1F) << 6 | (s[1] & 0x3F));
    case 3:
        return static_cast<char32_t>((s[0] & 0x0F) << 12 | (s[1] & 0x3F) << 6 | (s[2] & 0x3F));
    default:
        return static_cast<char32_t>((s[0] & 0x07) << 18 | (s[1] & 0x3F) << 12 | (s[2] & 0x3F) << 6 | (s[3] & 0x3F));
    }
}

ByteScan scanSingleByte(const SingleByteTable& table, const unsigned char* src, std::size_t length)
{
    std::uint8_t flags = 0;
    if (table.asciiAsItself) {
        for (std::size_t i = asciiPrefix(src, length); i < length; i += asciiPrefix(src + i, length - i)) {
            flags |= table.flags[src[i]];
            ++i;
        }
    } else {
        for (std::size_t i = 0; i < length; ++i)
            flags |= table.flags[src[i]];
    }
    ByteScan scan;
    scan.valid = (flags & encoding::kByteInvalid) == 0;
    scan.clean = scan.valid && (flags & encoding::kByteC1) == 0;
    scan.range = (flags & encoding::kByteAboveLatin1) ? UnitRange::Wide
        : (flags & encoding::kByteAboveAscii)         ? UnitRange::Latin1
                                                      : UnitRange::Ascii;
    return scan;
}

ByteScan scanUtf8(const unsigned char* src, std::size_t length)
{
    ByteScan scan;
    bool c1 = false;
    for (std::size_t i = asciiPrefix(src, length); i < length; i += asciiPrefix(src + i, length - i)) {
        const std::size_t n = utf8SequenceLength(src + i, length - i);
        if (n == 0)
            return {};
        if (n == 2) {
            c1 |= src[i] == 0xC2 && src[i + 1] <= 0x9F;
            if (src[i] > 0xC3)
                scan.range = UnitRange::Wide;
            else if (scan.range == UnitRange::Ascii)
                scan.range = UnitRange::Latin1;
        } else {
            scan.range = UnitRange::Wide;
        }
        i += n;
    }
    scan.valid = true;
    scan.clean = !c1;
    return scan;
}

/// The bytes of each source byte in the target encoding, for one pair of encodings
/// whose source is single-byte.
struct ByteMap {
    std::array<std::array<char, 4>, 256> bytes{};
    std::array<std::uint8_t, 256> length{}; // 0: the byte does not decode, or the target cannot write it
    bool asciiAsItself = false;             // bytes 0x00-0x7F are written as themselves
};

void putUtf8(char16_t c, std::array<char, 4>& out, std::uint8_t& length)
{
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        length = 1;
    } else if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        length = 2;
    } else if (c < 0xD800 || c > 0xDFFF) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        length = 3;
    } else {
        length = 0; // a lone surrogate has no UTF-8 form
    }
}

std::unique_ptr<ByteMap> buildByteMap(const SingleByteTable& source, const Entry& target)
{
    const SingleByteTable* targetTable = isSingleByte(target) ? encoding::singleByteTable(target) : nullptr;
    if (target.codec != Codec::Utf8 && !targetTable)
        return nullptr;
    auto map = std::make_unique<ByteMap>();
    for (unsigned b = 0; b < 256; ++b) {
        const char16_t c = source.toUnicode[b];
        if (c == encoding::kUndefinedUnit)
            continue;
        if (!targetTable) {
            putUtf8(c, map->bytes[b], map->length[b]);
        } else if (const std::uint8_t out = targetTable->fromUnicode[c]; out != 0 || c == 0) {
            map->bytes[b][0] = static_cast<char>(out);
            map->length[b] = 1;
        }
    }
    map->asciiAsItself = true;
    for (unsigned b = 0; b < 0x80; ++b)
        map->asciiAsItself &= map->length[b] == 1 && static_cast<unsigned char>(map->bytes[b][0]) == b;
    return map;
}

const ByteMap* byteMapFor(const Entry& source, const SingleByteTable& sourceTable, const Entry& target)
{
    struct Slot {
        std::once_flag once;
        std::unique_ptr<ByteMap> map;
    };
    const std::size_t count = encoding::entries().size();
    // Never freed: a detached worker may still convert while the process exits.
    static Slot* const slots = new Slot[count * count];
    Slot& slot = slots[encoding::indexOf(source) * count + encoding::indexOf(target)];
    std::call_once(slot.once, [&] { slot.map = buildByteMap(sourceTable, target); });
    return slot.map.get();
}

/// Collects short pieces of output and appends them to the string in larger blocks.
class Appender {
public:
    explicit Appender(std::string& out) : out_(out) {}
    ~Appender() { flush(); }
    void put(const char* bytes, std::size_t length)
    {
        if (used_ + 4 > sizeof buffer_)
            flush();
        std::memcpy(buffer_ + used_, bytes, 4);
        used_ += length;
    }
    void putByte(char byte)
    {
        if (used_ + 1 > sizeof buffer_)
            flush();
        buffer_[used_++] = byte;
    }
    void putRun(const char* bytes, std::size_t length)
    {
        flush();
        out_.append(bytes, length);
    }
    void flush()
    {
        out_.append(buffer_, used_);
        used_ = 0;
    }

private:
    std::string& out_;
    char buffer_[256];
    std::size_t used_ = 0;
};

// Copies the ASCII bytes at the start of `src` as they are; returns how many. Short runs
// go byte by byte, which is cheaper than a copy call for the usual few letters.
inline std::size_t copyAsciiRun(Appender& append, const unsigned char* src, std::size_t length)
{
    const std::size_t run = asciiPrefix(src, length);
    if (run < 16) {
        for (std::size_t k = 0; k < run; ++k)
            append.putByte(static_cast<char>(src[k]));
    } else {
        append.putRun(reinterpret_cast<const char*>(src), run);
    }
    return run;
}

bool transcodeSingleByte(const ByteMap& map, const unsigned char* src, std::size_t length, std::string& out)
{
    Appender append(out);
    std::size_t i = 0;
    while (i < length) {
        if (map.asciiAsItself) {
            i += copyAsciiRun(append, src + i, length - i);
            if (i == length)
                break;
        }
        const unsigned char b = src[i++];
        if (map.length[b] == 0)
            return false;
        append.put(map.bytes[b].data(), map.length[b]);
    }
    return true;
}

bool transcodeUtf8ToSingleByte(const SingleByteTable& target, const unsigned char* src, std::size_t length, std::string& out)
{
    Appender append(out);
    std::size_t i = 0;
    while (i < length) {
        if (target.encodesAsciiAsItself) {
            // U+0000 too: it is written as the byte 0 by every single-byte table.
            i += copyAsciiRun(append, src + i, length - i);
            if (i == length)
                break;
        }
        char32_t c = src[i];
        std::size_t n = 1;
        if (c >= 0x80) {
            n = utf8SequenceLength(src + i, length - i);
            if (n == 0)
                return false;
            c = utf8CodePoint(src + i, n);
        }
        // Above the BMP the text holds surrogates, which no single-byte table writes.
        if (c > 0xFFFF)
            return false;
        const std::uint8_t b = target.fromUnicode[c];
        if (b == 0 && c != 0)
            return false;
        append.putByte(static_cast<char>(b));
        i += n;
    }
    return true;
}

} // namespace

bool isByteTranscodable(EncodingId encoding)
{
    const Entry* entry = usableEntry(encoding);
    return entry && (entry->codec == Codec::Utf8 || (isSingleByte(*entry) && encoding::singleByteTable(*entry)));
}

bool isAsciiTransparent(EncodingId encoding)
{
    const Entry* entry = usableEntry(encoding);
    if (!entry)
        return false;
    if (entry->codec == Codec::Utf8)
        return true;
    const SingleByteTable* table = isSingleByte(*entry) ? encoding::singleByteTable(*entry) : nullptr;
    return table && table->asciiTransparent;
}

ByteScan scanBytes(const char* bytes, std::size_t length, EncodingId encoding)
{
    const Entry* entry = usableEntry(encoding);
    if (!entry)
        return {};
    const auto* src = reinterpret_cast<const unsigned char*>(bytes);
    if (entry->codec == Codec::Utf8)
        return scanUtf8(src, length);
    const SingleByteTable* table = isSingleByte(*entry) ? encoding::singleByteTable(*entry) : nullptr;
    return table ? scanSingleByte(*table, src, length) : ByteScan{};
}

bool transcodeAppend(const char* bytes, std::size_t length, EncodingId from, EncodingId to, std::string& out)
{
    const Entry* source = usableEntry(from);
    const Entry* target = usableEntry(to);
    if (!source || !target)
        return false;
    const auto* src = reinterpret_cast<const unsigned char*>(bytes);
    const std::size_t old = out.size();
    bool done = false;
    if (source->codec == Codec::Utf8) {
        if (target->codec == Codec::Utf8) {
            out.append(bytes, length); // valid UTF-8 decodes and encodes back to itself
            return true;
        }
        const SingleByteTable* table = isSingleByte(*target) ? encoding::singleByteTable(*target) : nullptr;
        done = table && transcodeUtf8ToSingleByte(*table, src, length, out);
    } else if (const SingleByteTable* table = isSingleByte(*source) ? encoding::singleByteTable(*source) : nullptr) {
        const ByteMap* map = byteMapFor(*source, *table, *target);
        done = map && transcodeSingleByte(*map, src, length, out);
    }
    if (!done)
        out.resize(old);
    return done;
}

} // namespace tarnwick
