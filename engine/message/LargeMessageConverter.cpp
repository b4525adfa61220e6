#include "engine/message/MessageConverter.h"

#include "engine/header/FieldLength.h"
#include "engine/header/HeaderEncoder.h"
#include "engine/message/ConversionSteps.h"
#include "engine/message/LargeMessageSource.h"
#include "engine/message/MessageDecoder.h"
#include "engine/message/TextLines.h"
#include "platform/encodings/CaseFold.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/encodings/TextEncoding.h"
#include "platform/encodings/TextStream.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

namespace tarnwick {
namespace {

/// findHeaderChange over a large message's text given block by block: the Content-Type
/// field that may be replaced is held as it goes by (a field is never longer than
/// kLongestConvertedField bytes, and so never more units).
class HeaderScan {
public:
    explicit HeaderScan(bool crlfTerminators) : crlfTerminators_(crlfTerminators) {}

    void begin(std::uint64_t offset)
    {
        lineStart_ = offset;
        lineLength_ = 0;
        head_.clear();
        lineRead_ = false;
        typeLine_ = false;
    }

    void contents(std::u16string_view text)
    {
        const std::uint64_t before = lineLength_;
        if (head_.size() < kHead)
            head_.append(text.substr(0, kHead - head_.size()));
        lineLength_ += text.size();
        if (done_)
            return;
        if (lineRead_) {
            held_.append(text);
        } else if (found_) {
            // A continuation line of the field: its terminator before it.
            if (before == 0 && isBlank(text[0])) {
                lineRead_ = true;
                held_.append(lastTerminator_);
                held_.append(text);
            }
        } else if (!typeLine_ && head_.size() >= kTypeName.size()) {
            // Simple case folding maps one code point to one: the first units decide.
            typeLine_ = startsWithFolded(head_, kTypeName);
            if (typeLine_) {
                lineRead_ = true;
                // head_ holds all of the line before `text` (fewer units than the name).
                held_.append(head_);
                held_.append(text.substr(head_.size() - before));
            }
        }
    }

    void end(std::u16string_view terminator)
    {
        if (done_)
            return;
        const bool empty = lineLength_ == 0;
        if (empty) {
            done_ = true;
            if (!found_) {
                change_.emplace();
                change_->location = lineStart_;
                change_->terminator = crlfTerminators_ || terminator.empty() ? u"\r\n" : terminator;
            }
        } else if (!found_) {
            if (typeLine_) {
                found_ = true;
                change_.emplace();
                change_->location = lineStart_;
                change_->replacedLength = lineLength_;
            }
        } else if (isBlank(head_[0])) {
            change_->replacedLength += lastTerminator_.size() + lineLength_;
        } else {
            done_ = true;
        }
        lastTerminator_ = terminator;
    }

    void finish() { done_ = true; }

    /// Whether the rest of the text can change nothing here.
    bool done() const { return done_; }
    /// findHeaderChange's result.
    std::optional<HeaderChange> change() const
    {
        if (found_ && !containsFolded(held_, u"multipart") && !containsFolded(held_, u"text"))
            return std::nullopt;
        return change_;
    }
    /// The Content-Type field that the change replaces.
    const std::u16string& held() const { return held_; }

private:
    static constexpr std::u16string_view kTypeName = u"Content-Type:";
    static constexpr std::size_t kHead = 64;

    bool crlfTerminators_;
    std::uint64_t lineStart_ = 0;
    std::uint64_t lineLength_ = 0;
    std::u16string head_;   // the line's first kHead units
    bool lineRead_ = false; // the line is part of the Content-Type field of the change
    bool typeLine_ = false; // the line begins with "Content-Type:"
    bool done_ = false;
    bool found_ = false;
    std::optional<HeaderChange> change_;
    std::u16string held_;
    std::u16string lastTerminator_;
};

/// hasDelimiterLine over the text after offset `fieldEnd` of a text given block by
/// block by `forEachText`: whether a line there begins with "--" and `boundary`.
template <typename ForEachText> bool hasBoundaryLine(ForEachText forEachText, std::uint64_t fieldEnd, std::string_view boundary)
{
    if (boundary.empty())
        return false;
    const std::string delimiter = "--" + std::string(boundary);
    auto isBreak = [](char16_t c) { return c == u'\r' || c == u'\n'; };
    bool found = false;
    std::uint64_t offset = 0;
    std::size_t matched = 0; // units of the line that match the delimiter so far
    bool alive = true;
    forEachText([&](std::u16string_view text) {
        const std::uint64_t start = offset;
        offset += text.size();
        if (offset <= fieldEnd)
            return true;
        std::size_t i = start < fieldEnd ? static_cast<std::size_t>(fieldEnd - start) : 0;
        while (i < text.size()) {
            if (!alive) {
                const auto next = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), isBreak);
                if (next == text.end())
                    break;
                i = static_cast<std::size_t>(next - text.begin());
            }
            if (isBreak(text[i])) {
                ++i;
                alive = true;
                matched = 0;
                continue;
            }
            if (text[i] != static_cast<unsigned char>(delimiter[matched])) {
                alive = false;
                continue;
            }
            ++i;
            if (++matched == delimiter.size()) {
                found = true;
                return false;
            }
        }
        return true;
    });
    return found;
}
/// The text given block by block with [location, location + length) replaced by
/// `replacement`, handed on to `sink`.
template <typename Sink> class Substitution {
public:
    Substitution(std::uint64_t location, std::uint64_t length, std::u16string_view replacement, Sink& sink)
        : location_(location), length_(length), replacement_(replacement), sink_(sink)
    {}

    void feed(std::u16string_view text)
    {
        const std::uint64_t start = offset_;
        offset_ += text.size();
        if (start < location_)
            sink_.feed(text.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), location_ - start))));
        if (!placed_ && offset_ >= location_ && (offset_ > location_ || length_ == 0)) {
            sink_.feed(replacement_);
            placed_ = true;
        }
        const std::uint64_t after = location_ + length_;
        if (offset_ > after)
            sink_.feed(text.substr(static_cast<std::size_t>(std::max(start, after) - start)));
    }

    void finish()
    {
        if (!placed_)
            sink_.feed(replacement_);
        placed_ = true;
        sink_.finish();
    }

private:
    std::uint64_t location_;
    std::uint64_t length_;
    std::u16string_view replacement_;
    Sink& sink_;
    std::uint64_t offset_ = 0;
    bool placed_ = false;
};

/// encodeHeaders over a text given block by block: the first line as it is, then each
/// header field up to the first empty line through encodeHeaderFields, one at a time
/// (none is longer than kLongestConvertedField bytes), then the rest as it is, handed
/// on to `sink`.
template <typename Sink> class FieldEncoder {
public:
    FieldEncoder(const EncodingPair& candidate, Sink& sink)
        : charset_{candidate.encoding, candidate.charsetName}, sink_(sink), walker_(*this)
    {}

    void feed(std::u16string_view text)
    {
        if (phase_ != Phase::Rest) {
            walker_.feed(text);
            return;
        }
        // Past the fields the text goes on in blocks, not line by line (a CR held for
        // the LF that may follow is copied as it is either way).
        if (!direct_) {
            walker_.finish();
            direct_ = true;
        }
        sink_.feed(text);
    }

    void finish()
    {
        if (!direct_)
            walker_.finish();
        closeField();
        sink_.finish();
    }

    /// Whether the header fields are behind: the rest is copied.
    bool pastFields() const { return phase_ == Phase::Rest; }

    void begin(std::uint64_t) { lineStarted_ = false; }

    void contents(std::u16string_view text)
    {
        if (phase_ != Phase::Fields) {
            sink_.feed(text);
            return;
        }
        if (!lineStarted_) {
            lineStarted_ = true;
            if (!(fieldOpen_ && isBlank(text[0]))) {
                closeField();
                fieldOpen_ = true;
            }
        }
        field_.append(text);
    }

    void end(std::u16string_view terminator)
    {
        switch (phase_) {
        case Phase::FirstLine:
            phase_ = Phase::Fields;
            sink_.feed(terminator);
            break;
        case Phase::Fields:
            if (lineStarted_) {
                field_.append(terminator);
                break;
            }
            closeField();
            phase_ = Phase::Rest;
            sink_.feed(terminator);
            break;
        case Phase::Rest:
            sink_.feed(terminator);
            break;
        }
    }

private:
    void closeField()
    {
        if (!fieldOpen_)
            return;
        if (!headerNeedsEncoding(field_)) {
            sink_.feed(field_);
        } else {
            encoded_.clear();
            encodeHeaderFields(field_, charset_, encoded_);
            sink_.feed(encoded_);
        }
        field_.clear();
        fieldOpen_ = false;
    }

    enum class Phase { FirstLine, Fields, Rest };
    HeaderCharset charset_;
    Sink& sink_;
    TextLineWalker<FieldEncoder> walker_;
    Phase phase_ = Phase::FirstLine;
    bool direct_ = false;
    bool lineStarted_ = false;
    bool fieldOpen_ = false;
    std::u16string field_;
    std::u16string encoded_;
};

/// The end of every pipeline: the text encoded, the bytes written a block at a time
/// when `writing` (the pieces may be a few bytes each).
struct Encoder {
    Encoder(EncodingId encoding, bool writes, std::size_t size, const std::function<bool(std::string_view)>& writer)
        : stream(encoding), writing(writes), blockSize(size), write(writer)
    {}
    EncodeStream stream;
    bool writing;
    std::size_t blockSize;
    const std::function<bool(std::string_view)>& write;
    std::string out;
    std::string pending;
    bool encoded = true;
    bool written = true;
    void put(std::u16string_view text, bool last)
    {
        if (!encoded || !written)
            return;
        out.clear();
        encoded = stream.encode(text, last, out);
        if (!encoded || !writing)
            return;
        pending.append(out);
        if (pending.size() < blockSize && !last)
            return;
        written = pending.empty() || write(pending);
        pending.clear();
    }
    void feed(std::u16string_view text) { put(text, false); }
    void finish() { put({}, true); }
    bool ok() const { return encoded && written; }
};

/// Whether every header field of the message read through `read` is within
/// kLongestConvertedField bytes.
bool fieldsFit(const MessageReader& read, std::uint64_t size, std::size_t blockSize)
{
    HeaderFieldMeter meter;
    for (std::uint64_t at = 0; at < size; at += blockSize) {
        if (!meter.feed(read(at, static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - at)))))
            break;
    }
    return !meter.tooLong();
}

/// The source encoding: the options', or with Automatic the one chosen over the
/// message's own text as decodeMessage gives it to the choice: the header, the runs, the
/// trailer and the blocks that name no charset with tags on, else the whole message.
EncodingId largeSource(LargeMessage& blocks, const ConversionOptions& options, bool tagged, std::uint64_t bodyStart, std::size_t blockSize,
                       AutomaticSource& automaticSource)
{
    if (options.sourceEncoding != kEncodingAutomatic)
        return options.sourceEncoding;
    ReaderBytes raw = blocks.rawBytes();
    const std::string declared = declaredCharsetIn(raw, static_cast<std::size_t>(bodyStart));
    if (tagged) {
        const OwnPieces own(blocks, bodyStart, blockSize);
        return chooseSourceEncoding(own, declared, automaticSource).encoding;
    }
    LargePieces own(blocks, blockSize);
    own.add(0, raw.size());
    return chooseSourceEncoding(own, declared, automaticSource).encoding;
}

/// What the first decoding finds: the range of the code units and the content type.
struct FirstDecoding {
    std::uint64_t bits = 0;
    ContentType contentType = ContentType::None;
};

/// Decodes the pieces of a tagged body once, as decodeMessage does: a block in the
/// charset it names, else (and every other piece) in the message's encoding, else with
/// Automatic in the one the piece itself calls for. The pieces in another encoding than
/// the message's are kept for the passes that follow, up to `pieceLimit` of them; past
/// that each piece's encoding is decided again on every pass. False when one does not
/// decode. `automaticSource` must outlive `blocks`' passes.
bool decodeTaggedBody(LargeMessage& blocks, EncodingId source, bool automatic, std::uint64_t bodyStart, std::size_t blockSize,
                      std::size_t pieceLimit, AutomaticSource& automaticSource, FirstDecoding& found)
{
    // `each` sees the text of every try, `retry()` is called before each try after the first.
    auto replaced = std::make_shared<ReaderBytes>([&blocks](std::uint64_t from, std::uint64_t to) { return blocks.bytes(from, to); },
                                                  blocks.rawBytes().size(), blockSize);
    auto decide = [&blocks, replaced, automatic, source, blockSize, &automaticSource](const MessagePiece& piece, ByteRange parameter,
                                                                                      auto&& each, auto&& retry) {
        const std::uint64_t from = piece.offset;
        const std::uint64_t to = piece.offset + piece.length;
        if (isBlock(piece.kind)) {
            const EncodingId named = automatic ? largeBlockEncoding(*replaced, piece, parameter) : piece.blockEncoding;
            if (named != kEncodingNone) {
                if (blocks.decodeRange(from, to, named, each))
                    return named;
                retry();
            }
        }
        if (blocks.decodeRange(from, to, source, each))
            return source;
        retry();
        if (automatic) {
            // A piece in an encoding of its own: decided by itself.
            LargePieces alone(blocks, blockSize);
            alone.add(from, to);
            AutomaticSource byItself{automaticSource.origin, automaticSource.family, automaticSource.confirmed};
            const SourceEncoding chosen = chooseSourceEncoding(alone, {}, byItself);
            if (chosen.choice != EncodingChoice::Undecodable && blocks.decodeRange(from, to, chosen.encoding, each))
                return chosen.encoding;
        }
        return kEncodingNone;
    };
    std::vector<OtherEncoding>& others = blocks.otherEncodings();
    bool deciding = false;
    BodyCutter<ReaderBytes> cutter(blocks.rawBytes(), static_cast<std::size_t>(bodyStart));
    MessagePiece piece;
    ByteRange parameter;
    for (std::uint64_t i = 0; cutter.next(piece, parameter); ++i) {
        std::uint64_t pieceBits = 0;
        const EncodingId pieceEncoding = decide(
            piece, parameter,
            [&pieceBits](std::u16string_view text) {
                pieceBits |= unitBits(text);
                return true;
            },
            [&pieceBits] { pieceBits = 0; });
        if (pieceEncoding == kEncodingNone)
            return false;
        if (pieceEncoding != source && !deciding) {
            if (others.size() < pieceLimit) {
                others.push_back({i, pieceEncoding});
            } else {
                deciding = true;
                blocks.decideEachPass([decide](const MessagePiece& p, ByteRange r) {
                    return decide(
                        p, r, [](std::u16string_view) { return true; }, [] {});
                });
            }
        }
        found.bits |= pieceBits;
        if (found.contentType == ContentType::None && piece.setsContentType)
            found.contentType = contentTypeOf(piece.kind);
    }
    return true;
}

/// The Content-Type change of the text, found as it goes by (`scan` holds the field it
/// replaces), none when an intact multipart body follows (a delimiter line after the
/// header): Eudora kept that body undecoded, and its header still describes it.
std::optional<HeaderChange> largeHeaderChange(LargeMessage& blocks, const ConversionOptions& options, ContentType contentType,
                                              HeaderScan& scan)
{
    if (contentType == ContentType::None)
        return std::nullopt;
    TextLineWalker<HeaderScan> lines(scan);
    blocks.forEachText([&](std::u16string_view text) {
        lines.feed(text);
        return !scan.done();
    });
    if (!scan.done()) {
        lines.finish();
        scan.finish();
    }
    std::optional<HeaderChange> change = scan.change();
    if (change && options.putBackAttachments) {
        const std::optional<std::string> boundary = multipartBoundary(scan.held(), HeaderChange{0, change->replacedLength, {}});
        const auto forEachText = [&blocks](auto each) { return blocks.forEachText(each); };
        if (boundary && hasBoundaryLine(forEachText, change->location + change->replacedLength, *boundary))
            change.reset();
    }
    return change;
}

/// The passes that try a candidate and write the chosen one: the text with the new
/// Content-Type header in place of the change (when there is one), its fields encoded
/// when asked.
class LargeWriter {
public:
    LargeWriter(LargeMessage& blocks, const std::optional<HeaderChange>& change, std::size_t blockSize,
                const std::function<bool(std::string_view)>& write)
        : blocks_(blocks), change_(change), blockSize_(blockSize), write_(write)
    {}

    bool tries(const std::u16string& header, const EncodingPair& candidate)
    {
        Encoder encoder(candidate.encoding, false, blockSize_, write_);
        run(header, nullptr, true, encoder);
        return encoder.ok();
    }

    /// As convertMessage's: header fields with non-ASCII text as encoded-words when
    /// `encodeHeaders`, the body as chosen.
    LargeMessageOutcome finish(const std::u16string& header, const EncodingPair& candidate, bool encodeHeaders)
    {
        if (encodeHeaders) {
            Encoder check(candidate.encoding, false, blockSize_, write_);
            run(header, &candidate, false, check);
            if (!check.ok())
                return LargeMessageOutcome::Unconverted;
        }
        Encoder encoder(candidate.encoding, true, blockSize_, write_);
        run(header, encodeHeaders ? &candidate : nullptr, true, encoder);
        if (!encoder.ok())
            return encoder.written ? LargeMessageOutcome::Unconverted : LargeMessageOutcome::WriteFailed;
        return LargeMessageOutcome::Converted;
    }

    /// With pieces P R S of the text becoming P H S: whether P and S, each encoded on its own, fit.
    bool restFits(const EncodingPair& candidate)
    {
        const HeaderChange& at = *change_;
        EncodeStream before(candidate.encoding);
        EncodeStream after(candidate.encoding);
        std::string scratch;
        bool fits = true;
        std::uint64_t offset = 0;
        const std::uint64_t rest = at.location + at.replacedLength;
        blocks_.forEachText([&](std::u16string_view text) {
            const std::uint64_t start = offset;
            offset += text.size();
            if (start < at.location) {
                scratch.clear();
                fits = before.encode(text.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), at.location - start))),
                                     offset >= at.location, scratch);
            }
            if (fits && offset > rest) {
                scratch.clear();
                fits = after.encode(text.substr(static_cast<std::size_t>(std::max(start, rest) - start)), false, scratch);
            }
            return fits;
        });
        scratch.clear();
        if (fits && at.location == 0)
            fits = before.encode({}, true, scratch);
        return fits && after.encode({}, true, scratch);
    }

private:
    // The text with `header` in place of the change (when there is one), its fields
    // encoded when `fields` (stopping after them unless `whole`), into `encoder`.
    void run(const std::u16string& header, const EncodingPair* fields, bool whole, Encoder& encoder)
    {
        bool stop = false;
        auto through = [&](auto& sink) {
            auto more = [&] { return encoder.ok() && !stop; };
            if (!change_) {
                blocks_.forEachText([&](std::u16string_view text) {
                    sink.feed(text);
                    return more();
                });
                sink.finish();
                return;
            }
            Substitution<std::remove_reference_t<decltype(sink)>> substituted(change_->location, change_->replacedLength, header, sink);
            blocks_.forEachText([&](std::u16string_view text) {
                substituted.feed(text);
                return more();
            });
            substituted.finish();
        };
        if (!fields) {
            through(encoder);
            return;
        }
        FieldEncoder<Encoder> encoding(*fields, encoder);
        if (whole) {
            through(encoding);
            return;
        }
        // Only the header fields can fail here: the rest is the text as chosen.
        struct Until {
            FieldEncoder<Encoder>& next;
            bool& stop;
            void feed(std::u16string_view text)
            {
                if (stop)
                    return;
                next.feed(text);
                stop = next.pastFields();
            }
            void finish()
            {
                if (!stop)
                    next.finish();
            }
        };
        Until until{encoding, stop};
        through(until);
    }

    LargeMessage& blocks_;
    const std::optional<HeaderChange>& change_;
    std::size_t blockSize_;
    const std::function<bool(std::string_view)>& write_;
};

} // namespace

LargeMessageOutcome convertLargeMessage(std::uint64_t size, const MessageReader& read, std::uint64_t headerLength,
                                        const ConversionOptions& options, CharsetCandidates& charsetCandidates, MailboxContext& mailbox,
                                        const std::function<bool(std::string_view)>& write, std::size_t blockSize, std::size_t pieceLimit)
{
    if (blockSize == 0)
        return LargeMessageOutcome::NeedsWholeMessage;
    if (!fieldsFit(read, size, blockSize)) {
        leaveFieldTooLong(mailbox);
        return LargeMessageOutcome::Unconverted;
    }
    // As the in-memory decoding: with Eudora tags on and a body, the header and the body
    // are decoded apart; else the message is one text (and all of it is "header").
    const bool tagged = options.processEudoraTags && headerLength <= size;
    const std::uint64_t bodyStart = std::min(headerLength, size);
    LargeMessage blocks(read, size, bodyStart, blockSize, tagged, options);
    // What the choice learns is kept only once the message is taken.
    AutomaticSource automaticSource = mailbox.automatic;
    const EncodingId source = largeSource(blocks, options, tagged, bodyStart, blockSize, automaticSource);
    blocks.setEncodings(source, source);
    // Logged as for any message: over the whole message, before it is decoded (nothing
    // the decoding does logs; it may still find the message needs convertMessage).
    const std::uint64_t spaces = blocks.countReplacedSpaces();
    auto taken = [&](LargeMessageOutcome outcome) {
        mailbox.automatic = automaticSource;
        mailbox.lastReason = UnconvertedReason::Undecodable;
        if (spaces > 0)
            logMessage(formatMessage("%1 NBSP (U+00A0) replaced with space (U+0020)", {std::to_string(spaces)}));
        return outcome;
    };

    // First the decoding, once: whether it succeeds, the encoding of each piece, the
    // content type, and the range of the code units.
    FirstDecoding found;
    auto addBits = [&found](std::u16string_view text) {
        found.bits |= unitBits(text);
        return true;
    };
    const bool automatic = options.sourceEncoding == kEncodingAutomatic;
    if (tagged ? !blocks.forEachHeader(addBits)
                || !decodeTaggedBody(blocks, source, automatic, bodyStart, blockSize, pieceLimit, automaticSource, found)
               : !blocks.forEachText(addBits))
        return taken(LargeMessageOutcome::Unconverted);

    HeaderScan scan(options.crlfLineEndings);
    const std::optional<HeaderChange> change = largeHeaderChange(blocks, options, found.contentType, scan);
    taken(LargeMessageOutcome::Converted);
    mailbox.lastReason = UnconvertedReason::NoFittingCharset;
    const std::vector<EncodingPair>& candidates = charsetCandidates.pairs();
    const char16_t unitRange = wantsUnitRange(candidates) ? static_cast<char16_t>(found.bits) : char16_t{0xFFFF};

    LargeWriter writer(blocks, change, blockSize, write);
    std::u16string header;
    const std::u16string_view replaced = change ? std::u16string_view(scan.held()) : std::u16string_view();
    const EncodingPair* chosen = chooseCandidate(
        candidates, unitRange, change, replaced, found.contentType, header, [&](const EncodingPair& c) { return writer.tries(header, c); },
        [&](const EncodingPair& c) { return writer.restFits(c); });
    if (!chosen)
        return LargeMessageOutcome::Unconverted;
    const LargeMessageOutcome outcome = writer.finish(header, *chosen, options.encodeHeaders);
    if (outcome == LargeMessageOutcome::Converted)
        mailbox.lastReason = UnconvertedReason::None;
    return outcome;
}

} // namespace tarnwick
