// Streams over the text encoding services. ICU's converters keep a cut-off character
// and the shift state between calls themselves (flush only on the last block). The
// codecs of our own (UTF-8, single-byte, Shift_JIS, Mac Japanese) are stateless: each
// block is decoded up to its last character boundary and the bytes after it are carried
// into the next block, so every call sees whole characters, as in one call.
#include "platform/encodings/TextStream.h"

#include "platform/encodings/EncodingCodecs.h"
#include "platform/encodings/EncodingTable.h"
#include "platform/encodings/IcuConvertAppend.h"

#include <unicode/ucnv.h>

namespace tarnwick {
namespace {

using encoding::Codec;
using encoding::Entry;

const Entry* usableEntry(EncodingId id)
{
    const Entry* entry = encoding::entryForId(id);
    return entry && encoding::isAvailable(*entry) ? entry : nullptr;
}

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPointer = std::unique_ptr<UConverter, ConverterCloser>;

/// A converter of the entry's own, set up as the one-call conversions set theirs up.
ConverterPointer openConverter(const Entry& entry)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPointer converter(ucnv_open(entry.converter, &status));
    if (U_FAILURE(status) || !converter)
        return nullptr;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter.get(), false);
    if (U_FAILURE(status))
        return nullptr;
    return converter;
}

bool isShiftJISLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

/// Where the last whole character of `bytes` ends in a stateless codec of our own.
std::size_t completeLength(Codec codec, const char* bytes, std::size_t length)
{
    const auto at = [bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    switch (codec) {
    case Codec::Utf8:
        // Back to the last byte that is no continuation byte: a lead whose sequence
        // runs past the end is held back; anything else ends the block as it stands.
        for (std::size_t k = 1; k <= 4 && k <= length; ++k) {
            const unsigned char b = at(length - k);
            if ((b & 0xC0) == 0x80)
                continue;
            const std::size_t needed = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            return needed > k ? length - k : length;
        }
        return length;
    case Codec::ShiftJis:
    case Codec::MacJapanese: {
        // No trail byte is below 0x40, so a character begins after such a byte; from
        // there (or from the block's start, a boundary too) the characters are counted.
        std::size_t i = length;
        while (i > 0 && at(i - 1) >= 0x40)
            --i;
        while (i < length)
            i += isShiftJISLeadByte(at(i)) ? 2 : 1;
        return i == length ? length : length - 1;
    }
    default:
        return length;
    }
}

bool usesConverterToDecode(Codec codec) { return codec == Codec::Icu || codec == Codec::Iso2022Jp; }
bool usesConverterToEncode(Codec codec) { return codec == Codec::Icu || codec == Codec::Iso2022Jp || codec == Codec::ShiftJis; }

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

} // namespace

struct DecodeStream::State {
    EncodingId encoding;
    const Entry* entry = nullptr;
    ConverterPointer converter;
    std::string carry; // the bytes of a character the last block cut off (own codecs)
    bool failed = false;
};

DecodeStream::DecodeStream(EncodingId encoding) : state_(std::make_unique<State>())
{
    state_->encoding = encoding;
    state_->entry = usableEntry(encoding);
    if (state_->entry && usesConverterToDecode(state_->entry->codec))
        state_->converter = openConverter(*state_->entry);
    state_->failed = !state_->entry || (usesConverterToDecode(state_->entry->codec) && !state_->converter);
}

DecodeStream::~DecodeStream() = default;

void DecodeStream::restart()
{
    State& s = *state_;
    if (s.converter)
        ucnv_resetToUnicode(s.converter.get());
    s.carry.clear();
    s.failed = !s.entry || (usesConverterToDecode(s.entry->codec) && !s.converter);
}

bool DecodeStream::pending() const
{
    const State& s = *state_;
    if (s.converter) {
        UErrorCode status = U_ZERO_ERROR;
        return ucnv_toUCountPending(s.converter.get(), &status) > 0;
    }
    return !s.carry.empty();
}

bool DecodeStream::decode(std::string_view bytes, bool last, std::u16string& out)
{
    State& s = *state_;
    if (s.failed)
        return false;
    if (s.converter) {
        if (bytes.empty() && !last)
            return true;
        s.failed = !encoding::convertAppend(s.converter.get(), bytes.data(), bytes.data() + bytes.size(), bytes.size() + 16, last, out,
                                            ucnv_toUnicode);
        return !s.failed;
    }
    std::string_view text = bytes;
    if (!s.carry.empty()) {
        s.carry.append(bytes);
        text = s.carry;
    }
    const std::size_t complete = last ? text.size() : completeLength(s.entry->codec, text.data(), text.size());
    s.failed = complete > 0 && !decodeAppend(text.data(), complete, s.encoding, out);
    if (text.data() == s.carry.data())
        s.carry.erase(0, complete);
    else
        s.carry.assign(text.substr(complete));
    return !s.failed;
}

struct EncodeStream::State {
    EncodingId encoding;
    const Entry* entry = nullptr;
    ConverterPointer converter;
    std::u16string carry; // a high surrogate that ended the last block
    bool started = false; // some text was given
    bool failed = false;

    bool encodePart(std::u16string_view text, bool flush, std::string& out)
    {
        if (converter) {
            if (!encoding::icuRoundTrips(*entry, text))
                return false;
            const std::size_t capacity = text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter.get())) + 16;
            return encoding::convertAppend(converter.get(), text.data(), text.data() + text.size(), capacity, flush, out, ucnv_fromUnicode);
        }
        switch (entry->codec) {
        case Codec::Utf8:
            return encoding::utf8EncodeAppend(text, out);
        case Codec::SingleByte:
        case Codec::SingleByteHigh:
            return encoding::singleByteEncodeAppend(*entry, text, out);
        case Codec::MacJapanese:
            return encoding::macJapaneseEncodeAppend(*entry, text, out);
        default:
            return false;
        }
    }
};

EncodeStream::EncodeStream(EncodingId encoding) : state_(std::make_unique<State>())
{
    state_->encoding = encoding;
    state_->entry = usableEntry(encoding);
    if (state_->entry && usesConverterToEncode(state_->entry->codec))
        state_->converter = openConverter(*state_->entry);
    state_->failed = !state_->entry || (usesConverterToEncode(state_->entry->codec) && !state_->converter);
}

EncodeStream::~EncodeStream() = default;

void EncodeStream::restart()
{
    State& s = *state_;
    if (s.converter)
        ucnv_resetFromUnicode(s.converter.get());
    s.carry.clear();
    s.started = false;
    s.failed = !s.entry || (usesConverterToEncode(s.entry->codec) && !s.converter);
}

bool EncodeStream::encode(std::u16string_view text, bool last, std::string& out)
{
    State& s = *state_;
    if (s.failed)
        return false;
    s.started = s.started || !text.empty();
    if (!s.started)
        return true; // no text at all: no bytes, not even an encoding's preamble
    if (!s.carry.empty() && !text.empty()) {
        // The pair that the last block cut.
        s.carry.push_back(text.front());
        text.remove_prefix(1);
        const bool flush = last && text.empty();
        s.failed = !s.encodePart(s.carry, flush, out);
        s.carry.clear();
        if (s.failed || flush)
            return !s.failed;
    }
    if (last) {
        if (!s.carry.empty()) {
            text = s.carry;
        }
        s.failed = !s.encodePart(text, true, out);
        s.carry.clear();
        return !s.failed;
    }
    if (!text.empty() && isHighSurrogate(text.back())) {
        s.carry.assign(1, text.back());
        text.remove_suffix(1);
    }
    s.failed = !text.empty() && !s.encodePart(text, false, out);
    return !s.failed;
}

} // namespace tarnwick
