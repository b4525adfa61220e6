#pragma once
// Header text for readers that expect 7-bit headers: every field that holds non-ASCII
// text is rewritten with RFC 2047 encoded-words where RFC 5322 and RFC 2047 allow them
// (unstructured fields, display names, group names, comments) and folded again.

#include "engine/EncodedWords.h"
#include "engine/TextLines.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// Appends the header lines `header` (header fields with their continuation lines, each
/// line ended by its terminator; no separator line, no empty line) to `out`. A field
/// whose text is all ASCII is copied unchanged. A field with non-ASCII text is unfolded,
/// its encodable parts are written as encoded-words in `charset` (or UTF-8 where the
/// charset lacks a character), and it is folded into lines of at most 78 characters with
/// the terminator of its first line. Addresses (the local@domain part of a mailbox, angle
/// addresses, domain literals) are never changed. Returns the number of fields that
/// still hold non-ASCII characters: text inside an address, or outside the places where
/// encoded-words are allowed.
std::size_t encodeHeaderFields(std::u16string_view header, const HeaderCharset& charset, std::u16string& out);

/// Whether encodeHeaderFields takes a field of this name for unstructured text.
bool isUnstructuredField(std::u16string_view name);

/// What encodeHeaderFields does with one field too long to hold, as LongField finds it.
struct LongFieldPlan {
    enum class Kind {
        Copied,       // the field stands as it is
        Unstructured, // rewritten with encoded-words from wordsStart to wordsEnd of its value
        Held,         // structured with non-ASCII text: only the whole field can be rewritten
    };
    Kind kind = Kind::Copied;
    std::uint64_t valueLength = 0; // the value: after the name's ':', the terminators left out
    std::uint64_t wordsStart = 0;
    std::uint64_t wordsEnd = 0;
    std::uint64_t textEnd = 0; // the end of the value's last word
    std::u16string foldTerminator;
    HeaderCharset used;
    bool base64 = false;
};

/// encodeHeaderFields for one field given in parts (its lines with their terminators),
/// for a field too long to hold: a first pass over the field finds
/// its shape, a second the charset of its encoded-words, a third writes the field into
/// `out` (which the caller empties as it likes) with the bytes encodeHeaderFields gives.
class LongField {
public:
    enum class Pass { Shape, Words, Write };
    LongField(Pass pass, LongFieldPlan& plan, const HeaderCharset& charset);
    void add(std::u16string_view text);
    void finish();

    std::u16string out;

    // The lines of the field, from the walker.
    void begin(std::uint64_t offset);
    void contents(std::u16string_view text);
    void end(std::u16string_view terminator);

private:
    static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
    void value(std::u16string_view text);
    void endWord(std::uint64_t end);
    void drain();

    Pass pass_;
    LongFieldPlan& plan_;
    HeaderCharset charset_;
    TextLineWalker<LongField> walker_;
    std::uint64_t lines_ = 0;
    bool ascii_ = true;
    bool named_ = false;
    std::u16string name_; // its first 64 units
    std::uint64_t nameLength_ = 0;
    std::uint64_t position_ = 0; // in the value
    std::u16string lastTerminator_;
    // The shape: the words of the value.
    bool inWord_ = false;
    std::uint64_t wordStart_ = 0;
    bool wordAscii_ = true;
    bool wordMarked_ = false; // holds "=?"
    char16_t previous_ = 0;
    std::uint64_t textStart_ = kNone;
    std::uint64_t textEnd_ = 0;
    std::uint64_t firstWord_ = kNone; // the first word with non-ASCII text
    std::uint64_t lastWordEnd_ = 0;   // the end of the last one
    bool plainIsSafe_ = true;
    // The charset, then the writing.
    std::optional<EncodedWordsSurvey> survey_;
    std::optional<FoldedLine> line_;
    std::optional<EncodedWordsStream> words_;
    bool previousBlank_ = false;
};

} // namespace tarnwick
