#include "engine/message/TextWriter.h"

#include "engine/header/MimeHeader.h"
#include "engine/message/TextStages.h"
#include "platform/encodings/TextEncoding.h"
#include "platform/encodings/TextStream.h"

#include <type_traits>

namespace tarnwick {
namespace {

// headerChangeOf over the text held whole.
std::optional<HeaderChange> heldHeaderChange(std::u16string_view text, const ConversionOptions& options, std::u16string& replaced)
{
    std::optional<HeaderChange> change = findHeaderChange(text, options.crlfLineEndings);
    if (change && options.putBackAttachments) {
        const std::optional<std::string> boundary = multipartBoundary(text, *change);
        if (boundary && hasDelimiterLine(text.substr(change->location + change->replacedLength), *boundary))
            change.reset();
    }
    if (change)
        replaced.assign(text.substr(change->location, change->replacedLength));
    return change;
}

} // namespace

std::optional<HeaderChange> headerChangeOf(DecodedText& text, const ConversionOptions& options, std::u16string& replaced)
{
    replaced.clear();
    if (text.contentType() == ContentType::None)
        return std::nullopt;
    if (const std::u16string* held = text.held())
        return heldHeaderChange(*held, options, replaced);
    HeaderScan scan(options.crlfLineEndings);
    TextLineWalker<HeaderScan> lines(scan);
    text.forEachText([&](std::u16string_view block) {
        lines.feed(block);
        return !scan.done();
    });
    if (!scan.done()) {
        lines.finish();
        scan.finish();
    }
    std::optional<HeaderChange> change = scan.change();
    if (change && options.putBackAttachments) {
        const std::optional<std::string> boundary = multipartBoundary(scan.held(), HeaderChange{0, change->replacedLength, {}});
        const ForEachText forEachText = [&text](const std::function<bool(std::u16string_view)>& each) { return text.forEachText(each); };
        if (boundary && hasBoundaryLine(forEachText, change->location + change->replacedLength, *boundary))
            change.reset();
    }
    if (change)
        replaced = scan.held();
    return change;
}

/// The end of the text stages: the text encoded, the bytes written a block at a time
/// when `writing` (the pieces may be a few bytes each).
struct CandidateWriter::Encoder {
    Encoder(EncodingId encoding, bool writes, const MessageSink& into) : stream(encoding), writing(writes), sink(into) {}
    EncodeStream stream;
    bool writing;
    const MessageSink& sink;
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
        if (pending.size() < sink.blockSize && !last)
            return;
        written = pending.empty() || (*sink.write)(pending);
        pending.clear();
    }
    void feed(std::u16string_view text) { put(text, false); }
    void finish() { put({}, true); }
    bool ok() const { return encoded && written; }
};

CandidateWriter::CandidateWriter(DecodedText& text, const std::optional<HeaderChange>& change, const MessageSink& sink)
    : text_(text), change_(change), sink_(sink), held_(sink.memory ? text.held() : nullptr)
{
    if (change_)
        applied_ = change_->replacedLength;
}

bool CandidateWriter::tries(const std::u16string& header, const EncodingPair& candidate)
{
    if (held_) {
        // Pieces P R S become P H S in the held text itself, encoded in one go.
        if (change_) {
            held_->replace(change_->location, applied_, header);
            applied_ = header.size();
        }
        sink_.memory->resize(sink_.base);
        return encodeAppend(*held_, candidate.encoding, *sink_.memory);
    }
    Encoder encoder(candidate.encoding, false, sink_);
    run(header, nullptr, true, encoder);
    return encoder.ok();
}

WriteOutcome CandidateWriter::finish(const std::u16string& header, const EncodingPair& candidate, bool encodeHeaders)
{
    if (held_) {
        // The candidate was chosen on the text as decoded; encoded-words (ASCII) fit it too.
        if (encodeHeaders && tarnwick::encodeHeaders(*held_, candidate, encoded_)) {
            sink_.memory->resize(sink_.base);
            if (!encodeAppend(encoded_, candidate.encoding, *sink_.memory))
                return WriteOutcome::Unconverted;
        }
        return WriteOutcome::Converted;
    }
    if (encodeHeaders) {
        // Nothing is written before the fields are known to encode.
        Encoder check(candidate.encoding, false, sink_);
        run(header, &candidate, false, check);
        if (!check.ok())
            return WriteOutcome::Unconverted;
    }
    Encoder encoder(candidate.encoding, true, sink_);
    run(header, encodeHeaders ? &candidate : nullptr, true, encoder);
    if (!encoder.ok())
        return encoder.written ? WriteOutcome::Unconverted : WriteOutcome::WriteFailed;
    return WriteOutcome::Converted;
}

bool CandidateWriter::restFits(const EncodingPair& candidate)
{
    const HeaderChange& at = *change_;
    if (held_) {
        const std::u16string_view changed = *held_;
        return canEncode(changed.substr(0, at.location), candidate.encoding)
            && canEncode(changed.substr(at.location + applied_), candidate.encoding);
    }
    EncodeStream before(candidate.encoding);
    EncodeStream after(candidate.encoding);
    std::string scratch;
    bool fits = true;
    std::uint64_t offset = 0;
    const std::uint64_t rest = at.location + at.replacedLength;
    text_.forEachText([&](std::u16string_view text) {
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

// The text with `header` in place of the change (when there is one), its fields encoded
// when `fields` (stopping after them unless `whole`), into `encoder`.
void CandidateWriter::run(const std::u16string& header, const EncodingPair* fields, bool whole, Encoder& encoder)
{
    bool stop = false;
    auto through = [&](auto& sink) {
        auto more = [&] { return encoder.ok() && !stop; };
        if (!change_) {
            text_.forEachText([&](std::u16string_view text) {
                sink.feed(text);
                return more();
            });
            sink.finish();
            return;
        }
        Substitution<std::remove_reference_t<decltype(sink)>> substituted(change_->location, change_->replacedLength, header, sink);
        text_.forEachText([&](std::u16string_view text) {
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

} // namespace tarnwick
