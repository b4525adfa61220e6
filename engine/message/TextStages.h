#pragma once
// The text stages of a message's conversion, each fed its text block by block, cut
// anywhere (a message in memory gives all of it as one block): the scan for the
// Content-Type change, the search for a multipart delimiter line, the substitution of
// the new Content-Type header, and the header fields as encoded-words.

#include "engine/header/HeaderEncoder.h"
#include "engine/message/ConversionSteps.h"
#include "engine/message/TextLines.h"
#include "engine/text/Ascii.h"
#include "platform/encodings/CaseFold.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// findHeaderChange over a text given block by block: the Content-Type
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

/// Calls `each(text)` with a text block by block until it returns false.
using ForEachText = std::function<bool(const std::function<bool(std::u16string_view)>& each)>;

/// hasDelimiterLine over the text after offset `fieldEnd` of a text given block by
/// block by `forEachText`: whether a line there begins with "--" and `boundary`.
bool hasBoundaryLine(const ForEachText& forEachText, std::uint64_t fieldEnd, std::string_view boundary);

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

} // namespace tarnwick
