#pragma once
// A message too large to hold, read again block by block through a MessageReader: its
// bytes for the tag walk, its text decoded as the in-memory decoding cuts it, and its
// pieces for the choice of the source encoding.

#include "engine/ByteRange.h"
#include "engine/header/FieldLength.h"
#include "engine/message/MessageConverter.h"
#include "engine/message/MessagePieces.h"
#include "engine/text/Ascii.h"
#include "engine/text/AutomaticEncoding.h"
#include "platform/encodings/TextEncoding.h"
#include "platform/encodings/TextStream.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

/// A piece of a large message's body (by its place in the cut) that decodes in an
/// encoding other than the message's.
struct OtherEncoding {
    std::uint64_t piece = 0;
    EncodingId encoding = kEncodingNone;
};

/// Message bytes read through a reader, for the tag scanner and the body cutter (see
/// MemoryBytes): the block last looked at is kept, searches go block by block.
class ReaderBytes {
public:
    using Read = std::function<std::string_view(std::uint64_t offset, std::uint64_t end)>;
    ReaderBytes(Read read, std::uint64_t size, std::size_t blockSize)
        : read_(std::move(read)), size_(static_cast<std::size_t>(size)), blockSize_(blockSize)
    {}

    std::size_t size() const { return size_; }
    char at(std::size_t offset)
    {
        load(offset);
        return block_[offset - blockStart_];
    }
    std::size_t find(char c, std::size_t from, std::size_t end = std::string_view::npos)
    {
        end = std::min(end, size_);
        for (std::size_t at = from; at < end;) {
            load(at);
            const std::size_t stop = std::min(end, blockStart_ + block_.size());
            if (const void* found = std::memchr(block_.data() + (at - blockStart_), c, stop - at))
                return blockStart_ + static_cast<std::size_t>(static_cast<const char*>(found) - block_.data());
            at = stop;
        }
        return std::string_view::npos;
    }
    std::size_t find(std::string_view needle, std::size_t from, std::size_t end = std::string_view::npos)
    {
        end = std::min(end, size_);
        for (std::size_t at = from; at < end && end - at >= needle.size();) {
            load(at);
            const std::size_t stop = std::min(end, blockStart_ + block_.size());
            const std::string_view held = std::string_view(block_).substr(at - blockStart_, stop - at);
            if (const std::size_t found = held.find(needle); found != std::string_view::npos)
                return at + found;
            // A match that runs past the block held.
            for (std::size_t p = stop - std::min(stop - at, needle.size() - 1); p < stop; ++p) {
                if (end - p >= needle.size() && matches(p, needle))
                    return p;
            }
            at = stop;
        }
        return std::string_view::npos;
    }
    bool matches(std::size_t offset, std::string_view text)
    {
        if (offset > size_ || size_ - offset < text.size())
            return false;
        if (text.empty())
            return true;
        load(offset);
        if (offset + text.size() <= blockStart_ + block_.size())
            return std::string_view(block_).substr(offset - blockStart_, text.size()) == text;
        for (std::size_t done = 0; done < text.size();) {
            const std::size_t next = std::min(text.size(), done + blockSize_);
            if (read_(offset + done, offset + next) != text.substr(done, next - done))
                return false;
            done = next;
        }
        return true;
    }
    void copy(std::size_t offset, std::size_t length, std::string& out)
    {
        out.clear();
        for (std::size_t done = 0; done < length;) {
            const std::size_t next = std::min(length, done + blockSize_);
            out.append(read_(offset + done, offset + next));
            done = next;
        }
    }

private:
    void load(std::size_t offset)
    {
        if (offset >= blockStart_ && offset < blockStart_ + block_.size())
            return;
        blockStart_ = offset;
        block_.assign(read_(offset, std::min(size_, offset + blockSize_)));
    }

    Read read_;
    std::size_t size_;
    std::size_t blockSize_;
    std::size_t blockStart_ = 0;
    std::string block_;
};

// Longer names are no charset names (the lookup knows none so long).
inline constexpr std::size_t kLongestCharsetName = 256;

/// namedEncoding of bytes [from, to): the name after the last '/'.
inline EncodingId namedEncodingIn(ReaderBytes& bytes, std::size_t from, std::size_t to)
{
    std::size_t start = from;
    for (std::size_t slash = bytes.find('/', from, to); slash != std::string_view::npos; slash = bytes.find('/', slash + 1, to))
        start = slash + 1;
    if (to - start > kLongestCharsetName)
        return kEncodingNone;
    std::string name;
    bytes.copy(start, to - start, name);
    return namedEncoding(name);
}

/// automaticBlockEncoding of MessageDecoder over a block piece of a large message: its
/// tag's parameter, else the charset of a Mac marker at its start (HTML blocks).
inline EncodingId largeBlockEncoding(ReaderBytes& bytes, const MessagePiece& piece, ByteRange parameter)
{
    if (piece.blockEncoding != kEncodingNone)
        return piece.blockEncoding;
    const auto parameterAt = static_cast<std::size_t>(parameter.location);
    if (parameter.length > 0)
        if (const EncodingId named = namedEncodingIn(bytes, parameterAt, parameterAt + static_cast<std::size_t>(parameter.length));
            named != kEncodingNone)
            return named;
    if (piece.kind != PieceKind::HtmlBlock)
        return kEncodingNone;
    // markerCharset: "<!x-stuff-for-pete" after the leading line breaks, up to its '>'.
    static constexpr std::string_view kMarker = "<!x-stuff-for-pete";
    static constexpr std::string_view kCharset = " charset=\"";
    const std::size_t end = piece.offset + piece.length;
    std::size_t start = piece.offset;
    while (start < end && (bytes.at(start) == '\r' || bytes.at(start) == '\n'))
        ++start;
    if (end - start < kMarker.size() || !bytes.matches(start, kMarker))
        return kEncodingNone;
    const std::size_t markerEnd = std::min(end, bytes.find('>', start, end));
    const std::size_t at = bytes.find(kCharset, start, markerEnd);
    if (at == std::string_view::npos)
        return kEncodingNone;
    const std::size_t valueStart = at + kCharset.size();
    const std::size_t valueEnd = std::min(markerEnd, bytes.find('"', valueStart, markerEnd));
    if (valueEnd == valueStart)
        return kEncodingNone;
    return namedEncodingIn(bytes, valueStart, valueEnd);
}

/// A large message read block by block: a header decoded whole and a body decoded in
/// blocks, as the in-memory decoding splits them (with Eudora tags on, the header and
/// the body are decoded apart; with them off, as one text).
class LargeMessage {
public:
    LargeMessage(const MessageReader& read, std::uint64_t size, std::uint64_t bodyStart, std::size_t blockSize, bool apart,
                 const ConversionOptions& options)
        : read_(read), size_(size), bodyStart_(bodyStart), blockSize_(blockSize), apart_(apart),
          replaceNoBreakSpaces_(options.replaceNoBreakSpaces)
    {}

    /// The encodings the header and the body are decoded in.
    void setEncodings(EncodingId header, EncodingId body)
    {
        headerEncoding_ = header;
        bodyEncoding_ = body;
        replaceSpaces_ = (header == kEncodingMacJapanese || header == kEncodingShiftJIS) && replaceNoBreakSpaces_;
    }

    /// Bytes [from, to) after the no-break-space step, to <= from + blockSize.
    std::string_view bytes(std::uint64_t from, std::uint64_t to)
    {
        // 0xA0 is no lead byte, replaced or not: the byte before a block is read as it stands.
        const unsigned char before = replaceSpaces_ && from > 0 ? static_cast<unsigned char>(cached(from - 1, 1)[0]) : 0;
        const std::string_view raw = cached(from, static_cast<std::size_t>(to - from));
        return replaceSpaces_ ? replaceSpaces(raw, before) : raw;
    }

    /// How many no-break spaces the message has that are replaced (none when off).
    std::uint64_t countReplacedSpaces()
    {
        std::uint64_t count = 0;
        for (std::uint64_t at = 0; replaceSpaces_ && at < size_; at += blockSize_) {
            const unsigned char before = at > 0 ? static_cast<unsigned char>(read_(at - 1, 1)[0]) : 0;
            const std::string_view raw = read_(at, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, size_ - at)));
            for (const char* p = raw.data(); (p = static_cast<const char*>(std::memchr(p, 0xA0, raw.data() + raw.size() - p))); ++p) {
                const unsigned char previous = p > raw.data() ? static_cast<unsigned char>(p[-1]) : before;
                count += !isShiftJISLeadByte(previous);
            }
        }
        return count;
    }

    /// Calls `each(text)` with the header decoded apart (Eudora tags on) block by block;
    /// false when it does not decode or `each` returned false.
    template <typename Each> bool forEachHeader(Each each)
    {
        DecodeStream stream(headerEncoding_);
        std::uint64_t at = 0;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(bodyStart_, at + blockSize_);
            text_.clear();
            if (!stream.decode(at < end ? bytes(at, end) : std::string_view(), end == bodyStart_, text_)
                || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < bodyStart_);
        return true;
    }

    /// Decodes bytes [from, to) in `encoding` as one text, calling `each(text)` block
    /// by block; false when they do not decode or `each` returned false.
    template <typename Each> bool decodeRange(std::uint64_t from, std::uint64_t to, EncodingId encoding, Each each)
    {
        // One stream for every range in the same encoding: a body may hold millions of pieces.
        if (!range_ || rangeEncoding_ != encoding) {
            range_ = std::make_unique<DecodeStream>(encoding);
            rangeEncoding_ = encoding;
        } else {
            range_->restart();
        }
        DecodeStream& stream = *range_;
        std::uint64_t at = from;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(to, at + blockSize_);
            text_.clear();
            if (!stream.decode(at < end ? bytes(at, end) : std::string_view(), end == to, text_) || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < to);
        return true;
    }

    /// The raw message bytes, for the tag walk.
    ReaderBytes rawBytes() const
    {
        return ReaderBytes([this](std::uint64_t from, std::uint64_t to) { return read_(from, static_cast<std::size_t>(to - from)); }, size_,
                           blockSize_);
    }

    /// With Eudora tags on, the pieces of the body (in cut order) that decode in an
    /// encoding other than the message's; every other piece decodes in the message's.
    std::vector<OtherEncoding>& otherEncodings() { return others_; }

    /// From the first pass on, each piece's encoding is decided again by `decide` on
    /// every pass instead of being looked up: more pieces are in another encoding than
    /// are worth keeping.
    void decideEachPass(std::function<EncodingId(const MessagePiece&, ByteRange)> decide)
    {
        others_.clear();
        others_.shrink_to_fit();
        decide_ = std::move(decide);
    }

    /// Calls `each(text)` with the whole text (header and body, as the in-memory decoding
    /// gives it) decoded block by block, until it returns false; false when it did or the
    /// text does not decode.
    template <typename Each> bool forEachText(Each each)
    {
        if (apart_) {
            if (!forEachHeader(each))
                return false;
            // The tag walk again: the pieces are not kept, however many there are.
            BodyCutter<ReaderBytes> cutter(rawBytes(), static_cast<std::size_t>(bodyStart_));
            MessagePiece piece;
            ByteRange parameter;
            std::size_t other = 0;
            for (std::uint64_t index = 0; cutter.next(piece, parameter); ++index) {
                EncodingId encoding = bodyEncoding_;
                if (decide_)
                    encoding = decide_(piece, parameter);
                else if (other < others_.size() && others_[other].piece == index)
                    encoding = others_[other++].encoding;
                if (encoding == kEncodingNone || !decodeRange(piece.offset, piece.offset + piece.length, encoding, each))
                    return false;
            }
            return true;
        }
        if (!body_)
            body_ = std::make_unique<DecodeStream>(bodyEncoding_);
        else
            body_->restart();
        std::uint64_t at = 0;
        do {
            const std::uint64_t end = std::min<std::uint64_t>(size_, at + blockSize_);
            text_.clear();
            if (!body_->decode(at < end ? bytes(at, end) : std::string_view(), end == size_, text_) || !each(std::u16string_view(text_)))
                return false;
            at = end;
        } while (at < size_);
        return true;
    }

private:
    // Bytes [from, from + length) through a block kept from the last read: the pieces
    // of a body may be a few bytes each, and each read may be a system call.
    std::string_view cached(std::uint64_t from, std::size_t length)
    {
        if (from < cacheStart_ || from + length > cacheStart_ + cache_.size()) {
            cacheStart_ = from;
            cache_.assign(read_(from, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, size_ - from))));
        }
        return std::string_view(cache_).substr(static_cast<std::size_t>(from - cacheStart_), length);
    }

    std::string_view replaceSpaces(std::string_view bytes, unsigned char before)
    {
        if (std::memchr(bytes.data(), 0xA0, bytes.size()) == nullptr)
            return bytes;
        copy_.assign(bytes);
        for (std::size_t i = 0; i < copy_.size(); ++i) {
            if (static_cast<unsigned char>(copy_[i]) != 0xA0)
                continue;
            const unsigned char previous = i > 0 ? static_cast<unsigned char>(bytes[i - 1]) : before;
            if (!isShiftJISLeadByte(previous))
                copy_[i] = ' ';
        }
        return copy_;
    }

    const MessageReader& read_;
    std::uint64_t size_;
    std::uint64_t bodyStart_;
    std::size_t blockSize_;
    bool apart_;
    bool replaceNoBreakSpaces_;
    bool replaceSpaces_ = false;
    EncodingId headerEncoding_ = kEncodingUTF8;
    EncodingId bodyEncoding_ = kEncodingUTF8;
    std::string copy_;
    std::string cache_;
    std::uint64_t cacheStart_ = 0;
    std::u16string text_;
    std::unique_ptr<DecodeStream> body_;
    std::unique_ptr<DecodeStream> range_;
    EncodingId rangeEncoding_ = kEncodingNone;
    std::vector<OtherEncoding> others_;
    std::function<EncodingId(const MessagePiece&, ByteRange)> decide_;
};

/// Parts of a large message as Automatic's pieces: the bytes of each range as read.
class LargePieces final : public PieceReader {
public:
    LargePieces(LargeMessage& message, std::size_t blockSize) : message_(message), blockSize_(blockSize) {}
    void add(std::uint64_t from, std::uint64_t to) { ranges_.push_back({from, to}); }
    std::size_t count() const override { return ranges_.size(); }
    std::uint64_t size(std::size_t piece) const override { return ranges_[piece].second - ranges_[piece].first; }
    std::size_t blockSize() const override { return blockSize_; }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = ranges_[piece].first + offset;
        return message_.bytes(from, from + length);
    }

private:
    LargeMessage& message_;
    std::size_t blockSize_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

/// With Eudora tags on, the message's own text as Automatic's pieces: the header, then
/// the runs, the trailer and the blocks that name no charset. The pieces are found by
/// the tag walk as they are asked for in order (the choice goes through them in order,
/// pass after pass); asking for an earlier one starts the walk again.
class OwnPieces final : public PieceReader {
public:
    OwnPieces(LargeMessage& message, std::uint64_t bodyStart, std::size_t blockSize)
        : message_(message), bodyStart_(bodyStart), blockSize_(blockSize), named_(message.rawBytes())
    {
        count_ = 1;
        restart();
        while (advance())
            ++count_;
        cutter_.reset();
    }
    std::size_t count() const override { return count_; }
    std::uint64_t size(std::size_t piece) const override
    {
        const auto range = rangeOf(piece);
        return range.second - range.first;
    }
    std::size_t blockSize() const override { return blockSize_; }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = rangeOf(piece).first + offset;
        return message_.bytes(from, from + length);
    }

private:
    std::pair<std::uint64_t, std::uint64_t> rangeOf(std::size_t piece) const
    {
        if (piece == 0)
            return {0, bodyStart_};
        if (!cutter_ || piece < at_)
            restart();
        while (at_ < piece && advance()) {}
        return current_;
    }

    void restart() const
    {
        cutter_.emplace(message_.rawBytes(), static_cast<std::size_t>(bodyStart_));
        at_ = 0;
    }

    // Moves to the next piece of the message's own text; false at the end.
    bool advance() const
    {
        MessagePiece piece;
        ByteRange parameter;
        while (cutter_->next(piece, parameter)) {
            if (isBlock(piece.kind) && largeBlockEncoding(named_, piece, parameter) != kEncodingNone)
                continue;
            current_ = {piece.offset, piece.offset + piece.length};
            ++at_;
            return true;
        }
        return false;
    }

    LargeMessage& message_;
    std::uint64_t bodyStart_;
    std::size_t blockSize_;
    std::size_t count_ = 0;
    mutable ReaderBytes named_;
    mutable std::optional<BodyCutter<ReaderBytes>> cutter_;
    mutable std::size_t at_ = 0; // the index of current_ (0 before the first body piece)
    mutable std::pair<std::uint64_t, std::uint64_t> current_;
};

/// declaredCharset over the bytes [0, end) of a large message: its first Content-Type
/// line is found block by block, and declaredCharset reads the field from there. The
/// field is read up to twice kLongestConvertedField: every field up to the first empty
/// line is within that (HeaderFieldMeter), and the header ends there.
inline std::string declaredCharsetIn(ReaderBytes& bytes, std::size_t end)
{
    static constexpr std::string_view kName = "content-type:";
    auto isBreak = [&bytes](std::size_t at) { return bytes.at(at) == '\r' || bytes.at(at) == '\n'; };
    std::size_t pos = 0;
    while (pos < end) {
        std::size_t lineEnd = pos;
        while (lineEnd < end && !isBreak(lineEnd))
            ++lineEnd;
        bool named = lineEnd - pos >= kName.size();
        for (std::size_t i = 0; named && i < kName.size(); ++i)
            named = asciiLower(bytes.at(pos + i)) == kName[i];
        if (named) {
            std::string field;
            bytes.copy(pos, std::min<std::size_t>(end - pos, 2 * kLongestConvertedField), field);
            return std::string(declaredCharset(field));
        }
        pos = lineEnd;
        while (pos < end && isBreak(pos))
            ++pos;
    }
    return {};
}

} // namespace tarnwick
