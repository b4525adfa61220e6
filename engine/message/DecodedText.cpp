#include "engine/message/DecodedText.h"

#include "engine/message/ConversionSteps.h"
#include "engine/message/RichText.h"
#include "engine/text/Ascii.h"
#include "platform/encodings/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarnwick {
namespace {

// Longer names are no charset names (the lookup knows none so long).
constexpr std::size_t kLongestCharsetName = 256;

/// namedEncoding of bytes [from, to): the name after the last '/'.
EncodingId namedEncodingIn(SourceBytes& bytes, std::size_t from, std::size_t to)
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

using ReadRange = std::function<std::string_view(std::uint64_t from, std::uint64_t to)>;

/// Ranges of a message as Automatic's pieces.
class RangePieces final : public PieceReader {
public:
    RangePieces(const ReadRange& read, std::size_t blockSize) : read_(read), blockSize_(blockSize) {}
    void add(std::uint64_t from, std::uint64_t to) { ranges_.emplace_back(from, to); }
    std::size_t count() const override { return ranges_.size(); }
    std::uint64_t size(std::size_t piece) const override { return ranges_[piece].second - ranges_[piece].first; }
    std::size_t blockSize() const override { return blockSize_; }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = ranges_[piece].first + offset;
        return read_(from, from + length);
    }

private:
    const ReadRange& read_;
    std::size_t blockSize_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

/// With Eudora tags on, the message's own text as Automatic's pieces: the header, then
/// the runs, the trailer and the blocks that name no charset. The pieces are found by
/// the tag walk as they are asked for in order (the choice goes through them in order,
/// pass after pass); asking for an earlier one starts the walk again.
class OwnPieces final : public PieceReader {
public:
    OwnPieces(const MessageSource& source, const ReadRange& read, std::uint64_t bodyStart)
        : source_(source), read_(read), bodyStart_(bodyStart), named_(source)
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
    std::size_t blockSize() const override { return source_.blockSize(); }
    std::string_view read(std::size_t piece, std::uint64_t offset, std::size_t length) const override
    {
        const std::uint64_t from = rangeOf(piece).first + offset;
        return read_(from, from + length);
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
        cutter_.emplace(SourceBytes(source_), static_cast<std::size_t>(bodyStart_));
        at_ = 0;
    }
    // Moves to the next piece of the message's own text; false at the end.
    bool advance() const
    {
        MessagePiece piece;
        ByteRange parameter;
        while (cutter_->next(piece, parameter)) {
            if (isBlock(piece.kind) && blockEncodingIn(named_, piece, parameter) != kEncodingNone)
                continue;
            current_ = {piece.offset, piece.offset + piece.length};
            ++at_;
            return true;
        }
        return false;
    }

    const MessageSource& source_;
    const ReadRange& read_;
    std::uint64_t bodyStart_;
    std::size_t count_ = 0;
    mutable SourceBytes named_;
    mutable std::optional<BodyCutter<SourceBytes>> cutter_;
    mutable std::size_t at_ = 0; // the index of current_ (0 before the first body piece)
    mutable std::pair<std::uint64_t, std::uint64_t> current_;
};

bool isJapaneseLegacy(EncodingId encoding) { return encoding == kEncodingMacJapanese || encoding == kEncodingShiftJIS; }

} // namespace

EncodingId blockEncodingIn(SourceBytes& bytes, const MessagePiece& piece, ByteRange parameter)
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

std::string declaredCharsetIn(const MessageSource& source, std::size_t end)
{
    if (source.inMemory())
        return std::string(declaredCharset(source.bytes().substr(0, end)));
    // The field is read up to twice the longest field converted: every field up to the
    // first empty line is within that (HeaderFieldMeter), and the header ends there.
    static constexpr std::size_t kLongestRead = std::size_t{2} << 20;
    static constexpr std::string_view kName = "content-type:";
    SourceBytes bytes(source);
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
            bytes.copy(pos, std::min(end - pos, kLongestRead), field);
            return std::string(declaredCharset(field));
        }
        pos = lineEnd;
        while (pos < end && isBreak(pos))
            ++pos;
    }
    return {};
}

DecodedText::DecodedText(const MessageSource& source, std::uint64_t headerLength, const ConversionOptions& options, std::u16string& held)
    : source_(source), bodyStart_(std::min(headerLength, source.size())),
      tagged_(options.processEudoraTags && headerLength <= source.size()), replaceNoBreakSpaces_(options.replaceNoBreakSpaces),
      automatic_(options.sourceEncoding == kEncodingAutomatic), convertRichText_(options.convertRichText),
      fixedSource_(options.sourceEncoding), held_(held)
{
    replacedRead_ = [this](std::uint64_t offset, std::size_t length) { return bytes(offset, offset + length); };
}

EncodingId DecodedText::chooseSource(AutomaticSource& automatic)
{
    if (!automatic_)
        return fixedSource_;
    const std::string declared = declaredCharsetIn(source_, static_cast<std::size_t>(bodyStart_));
    const ReadRange read = [this](std::uint64_t from, std::uint64_t to) { return source_.read(from, static_cast<std::size_t>(to - from)); };
    if (tagged_) {
        const OwnPieces own(source_, read, bodyStart_);
        return chooseSourceEncoding(own, declared, automatic).encoding;
    }
    RangePieces own(read, source_.blockSize());
    own.add(0, source_.size());
    return chooseSourceEncoding(own, declared, automatic).encoding;
}

std::uint64_t DecodedText::setSource(EncodingId source)
{
    encoding_ = source;
    replaceSpaces_ = isJapaneseLegacy(source) && replaceNoBreakSpaces_;
    copied_ = false;
    std::uint64_t count = 0;
    if (source_.inMemory()) {
        if (replaceSpaces_ && replaceSpaces(source_.bytes(), 0, copy_, count) != source_.bytes())
            copied_ = true;
        replacedSource_.emplace(copied_ ? std::string_view(copy_) : source_.bytes());
        replacedBytes_.emplace(*replacedSource_);
        return count;
    }
    // 0xA0 is no lead byte, replaced or not: the byte before a block is read as it stands.
    const std::uint64_t size = source_.size();
    for (std::uint64_t at = 0; replaceSpaces_ && at < size; at += source_.blockSize()) {
        const unsigned char before = at > 0 ? static_cast<unsigned char>(source_.read(at - 1, 1)[0]) : 0;
        const std::string_view raw = source_.read(at, static_cast<std::size_t>(std::min<std::uint64_t>(source_.blockSize(), size - at)));
        replaceSpaces(raw, before, blockCopy_, count);
    }
    replacedSource_.emplace(replacedRead_, size, source_.blockSize());
    replacedBytes_.emplace(*replacedSource_);
    return count;
}

std::string_view DecodedText::bytes(std::uint64_t from, std::uint64_t to)
{
    const auto length = static_cast<std::size_t>(to - from);
    if (source_.inMemory())
        return (copied_ ? std::string_view(copy_) : source_.bytes()).substr(static_cast<std::size_t>(from), length);
    const unsigned char before = replaceSpaces_ && from > 0 ? static_cast<unsigned char>(cached(from - 1, 1)[0]) : 0;
    const std::string_view raw = cached(from, length);
    std::uint64_t replaced = 0;
    return replaceSpaces_ ? replaceSpaces(raw, before, blockCopy_, replaced) : raw;
}

// Bytes [from, from + length) through a block kept from the last read: the pieces of a
// body may be a few bytes each, and each read may be a system call.
std::string_view DecodedText::cached(std::uint64_t from, std::size_t length)
{
    if (from < cacheStart_ || from + length > cacheStart_ + cache_.size()) {
        cacheStart_ = from;
        cache_.assign(source_.read(from, static_cast<std::size_t>(std::min<std::uint64_t>(source_.blockSize(), source_.size() - from))));
    }
    return std::string_view(cache_).substr(static_cast<std::size_t>(from - cacheStart_), length);
}

// Every 0xA0 that does not follow a Shift_JIS lead byte made a space, in `copy` (the
// bytes as they are when there is none); `count` counts them.
std::string_view DecodedText::replaceSpaces(std::string_view raw, unsigned char before, std::string& copy, std::uint64_t& count)
{
    const char* first = static_cast<const char*>(std::memchr(raw.data(), 0xA0, raw.size()));
    if (first == nullptr)
        return raw;
    bool copied = false;
    for (const char* p = first; p; p = static_cast<const char*>(std::memchr(p + 1, 0xA0, raw.data() + raw.size() - p - 1))) {
        const unsigned char previous = p > raw.data() ? static_cast<unsigned char>(p[-1]) : before;
        if (isShiftJISLeadByte(previous))
            continue;
        if (!copied)
            copy.assign(raw);
        copied = true;
        copy[static_cast<std::size_t>(p - raw.data())] = ' ';
        ++count;
    }
    return copied ? std::string_view(copy) : raw;
}

bool DecodedText::decodeSpan(DecodeStream& stream, std::uint64_t from, std::uint64_t to, const Each& each)
{
    // While the text is held it is decoded straight into it; else block by block.
    std::u16string& out = holding_ ? held_ : text_;
    std::uint64_t at = from;
    do {
        const std::uint64_t end = std::min<std::uint64_t>(to, at + source_.blockSize());
        const std::size_t mark = holding_ ? out.size() : 0;
        if (!holding_)
            out.clear();
        if (!stream.decode(at < end ? bytes(at, end) : std::string_view(), end == to, out) || !each(std::u16string_view(out).substr(mark)))
            return false;
        at = end;
    } while (at < to);
    return true;
}

bool DecodedText::decodeRange(std::uint64_t from, std::uint64_t to, EncodingId encoding, const Each& each)
{
    // One stream for every range in the same encoding: a body may hold millions of pieces.
    if (!range_ || rangeEncoding_ != encoding) {
        range_ = std::make_unique<DecodeStream>(encoding);
        rangeEncoding_ = encoding;
    } else {
        range_->restart();
    }
    return decodeSpan(*range_, from, to, each);
}

// A piece's encoding, decoding it on the way: a block in the charset it names, else
// (and every other piece) in the message's encoding, else with Automatic in the one the
// piece itself calls for. `retry()` is called before each try after the first.
EncodingId DecodedText::decidePiece(const MessagePiece& piece, ByteRange parameter, const Each& each, const std::function<void()>& retry)
{
    const std::uint64_t from = piece.offset;
    const std::uint64_t to = piece.offset + piece.length;
    if (isBlock(piece.kind)) {
        const EncodingId named = automatic_ ? blockEncodingIn(*replacedBytes_, piece, parameter) : piece.blockEncoding;
        if (named != kEncodingNone) {
            if (decodeRange(from, to, named, each))
                return named;
            retry();
        }
    }
    if (decodeRange(from, to, encoding_, each))
        return encoding_;
    retry();
    if (automatic_) {
        const ReadRange read = [this](std::uint64_t begin, std::uint64_t end) { return bytes(begin, end); };
        RangePieces alone(read, source_.blockSize());
        alone.add(from, to);
        AutomaticSource byItself{decideWith_->origin, decideWith_->family, decideWith_->confirmed};
        const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
        if (chosen.choice != EncodingChoice::Undecodable && decodeRange(from, to, chosen.encoding, each))
            return chosen.encoding;
    }
    return kEncodingNone;
}

bool DecodedText::decodeBody(std::size_t pieceLimit)
{
    BodyCutter<SourceBytes> cutter(SourceBytes(source_), static_cast<std::size_t>(bodyStart_));
    MessagePiece piece;
    ByteRange parameter;
    // A spooled body's layout of styled text is learnt on the way (a piece tried again
    // goes back to the layout before it).
    const bool learnLayout = convertRichText_ && !holding_;
    richLayout_ = RichTextLayout();
    for (std::uint64_t index = 0; cutter.next(piece, parameter); ++index) {
        std::uint64_t pieceBits = 0;
        const std::size_t mark = held_.size();
        const RichTextLayout layoutBefore = richLayout_;
        const EncodingId encoding = decidePiece(
            piece, parameter,
            [&](std::u16string_view text) {
                pieceBits |= unitBits(text);
                if (learnLayout)
                    richLayout_.feed(text);
                return true;
            },
            [&] {
                pieceBits = 0;
                richLayout_ = layoutBefore;
                if (holding_)
                    held_.resize(mark);
            });
        if (encoding == kEncodingNone)
            return false;
        // A spooled message's next passes look up the pieces in another encoding.
        if (encoding != encoding_ && !holding_ && !decideEachPass_) {
            if (others_.size() < pieceLimit) {
                others_.push_back({index, encoding});
            } else {
                decideEachPass_ = true;
                std::vector<OtherEncoding>().swap(others_);
            }
        }
        bits_ |= pieceBits;
        if (contentType_ == ContentType::None && piece.setsContentType)
            contentType_ = contentTypeOf(piece.kind);
    }
    return true;
}

bool DecodedText::decode(const AutomaticSource& automatic, std::size_t pieceLimit)
{
    decideWith_ = &automatic;
    holding_ = source_.inMemory();
    heldValid_ = false;
    held_.clear();
    others_.clear();
    decideEachPass_ = false;
    richSpooled_ = false;
    bits_ = 0;
    contentType_ = ContentType::None;
    const Each addBits = [this](std::u16string_view text) {
        bits_ |= unitBits(text);
        return true;
    };
    bool decoded = false;
    if (tagged_) {
        decoded = decodeRange(0, bodyStart_, encoding_, addBits);
        const std::size_t bodyText = held_.size();
        decoded = decoded && decodeBody(pieceLimit);
        // Styled text is rewritten on the text held whole, or on each pass over a spooled
        // one (it adds and drops ASCII only, so the range of the code units stands).
        const RichTextForm form = contentType_ == ContentType::Html ? RichTextForm::Html : RichTextForm::Enriched;
        bool rich = false;
        if (decoded && convertRichText_)
            rich = holding_ ? richTextBody(held_, bodyText, form) : richLayout_.holdsBlock();
        richSpooled_ = rich && !holding_;
        if (rich && form == RichTextForm::Enriched)
            contentType_ = ContentType::Enriched;
    } else {
        whole_ = std::make_unique<DecodeStream>(encoding_);
        decoded = decodeSpan(*whole_, 0, source_.size(), addBits);
    }
    heldValid_ = decoded && holding_;
    holding_ = false;
    return decoded;
}

bool DecodedText::forEachPiece(const Each& each)
{
    // The tag walk again: the pieces are not kept, however many there are.
    BodyCutter<SourceBytes> cutter(SourceBytes(source_), static_cast<std::size_t>(bodyStart_));
    MessagePiece piece;
    ByteRange parameter;
    std::size_t other = 0;
    const Each ignore = [](std::u16string_view) { return true; };
    for (std::uint64_t index = 0; cutter.next(piece, parameter); ++index) {
        EncodingId encoding = encoding_;
        if (decideEachPass_)
            encoding = decidePiece(piece, parameter, ignore, [] {});
        else if (other < others_.size() && others_[other].piece == index)
            encoding = others_[other++].encoding;
        if (encoding == kEncodingNone || !decodeRange(piece.offset, piece.offset + piece.length, encoding, each))
            return false;
    }
    return true;
}

bool DecodedText::forEachText(const Each& each)
{
    if (heldValid_)
        return each(held_);
    if (!tagged_) {
        whole_->restart();
        return decodeSpan(*whole_, 0, source_.size(), each);
    }
    if (richSpooled_)
        return decodeRange(0, bodyStart_, encoding_, each) && forEachRewritten(each);
    return decodeRange(0, bodyStart_, encoding_, each) && forEachPiece(each);
}

// The body's pieces through the rewrite of its styled text.
bool DecodedText::forEachRewritten(const Each& each)
{
    RichTextRewriter rewriter(richLayout_, contentType_ == ContentType::Html ? RichTextForm::Html : RichTextForm::Enriched);
    const Each rewrite = [&](std::u16string_view text) {
        rewritten_.clear();
        rewriter.feed(text, rewritten_);
        return rewritten_.empty() || each(rewritten_);
    };
    if (!forEachPiece(rewrite))
        return false;
    rewritten_.clear();
    rewriter.finish(rewritten_);
    return rewritten_.empty() || each(rewritten_);
}

} // namespace tarnwick
