#pragma once
// Header text for readers that expect 7-bit headers: every field that holds non-ASCII
// text is rewritten with RFC 2047 encoded-words where RFC 5322 and RFC 2047 allow them
// (unstructured fields, display names, group names, comments) and folded again.

#include "engine/header/EncodedWords.h"
#include "engine/message/TextLines.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
/// A NUL in a field is written as U+2400 SYMBOL FOR NULL ("\u2400"), so that the field
/// stays whole and shows where the NUL was.
std::size_t encodeHeaderFields(std::u16string_view header, const HeaderCharset& charset, std::u16string& out);

/// What a NUL in a header field is written as.
inline constexpr char16_t kNulSymbol = u'\u2400';

/// Whether encodeHeaderFields would change any field of `header`: it holds non-ASCII
/// text or a NUL.
bool headerNeedsEncoding(std::u16string_view header);

/// Whether encodeHeaderFields takes a field of this name for unstructured text.
bool isUnstructuredField(std::u16string_view name);

/// The lexical pieces of a structured field's value (RFC 5322, section 3.2), as the
/// rewriting of structured fields cuts them. A quoted string, comment, angle address or
/// domain literal left open runs to the end of the value; a stray closer is a piece of
/// its own; a backslash takes the next character into a word.
enum class StructuredTokenKind : std::uint8_t { Space, Word, Quoted, Comment, Angle, Literal, Separator };

struct StructuredToken {
    StructuredTokenKind kind;
    std::size_t start;
    std::size_t end; // exclusive
};

/// The pieces of a whole value.
void structuredTokens(std::u16string_view value, std::vector<StructuredToken>& tokens);

/// The text a quoted string or comment stands for: the delimiters dropped (the last
/// character only when it is the closer), quoted pairs undone.
std::u16string unquotedToken(std::u16string_view token);

/// structuredTokens and unquotedToken over a value given in parts, for a value too long
/// to hold: every unit of the value is handed to `handler` as it comes,
/// `begin(kind, offset)` before the first unit of a piece, `unit(c)` for each of its units,
/// `inner(c)` for each unit of the text that a quoted string or comment stands for (a
/// unit behind the one just given, as the last may be a closer), and `end(offset)` after
/// its last. Nothing is held but a few units of state.
class StructuredTokenizer {
public:
    template <typename Handler>
    void feed(std::u16string_view text, Handler& handler)
    {
        for (const char16_t c : text)
            put(c, handler);
    }

    template <typename Handler>
    void finish(Handler& handler)
    {
        if (state_ != State::None)
            close(handler);
    }

    std::uint64_t offset() const { return offset_; }

private:
    enum class State : std::uint8_t { None, Space, Word, Bracket };

    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }
    static bool isBreak(char16_t c)
    {
        return isBlank(c) || c == u'"' || c == u'(' || c == u')' || c == u'<' || c == u'>' || c == u'[' || c == u']'
            || c == u',' || c == u':' || c == u';';
    }

    template <typename Handler>
    void take(char16_t c, Handler& handler)
    {
        handler.unit(c);
        ++offset_;
    }

    template <typename Handler>
    void put(char16_t c, Handler& handler)
    {
        switch (state_) {
        case State::None:
            break;
        case State::Space:
            if (isBlank(c)) {
                take(c, handler);
                return;
            }
            close(handler);
            break;
        case State::Word:
            if (escape_ || !isBreak(c)) {
                escape_ = !escape_ && c == u'\\';
                take(c, handler);
                return;
            }
            close(handler);
            break;
        case State::Bracket:
            bracket(c, handler);
            return;
        }
        start(c, handler);
    }

    template <typename Handler>
    void start(char16_t c, Handler& handler)
    {
        escape_ = false;
        if (isBlank(c)) {
            begin(StructuredTokenKind::Space, State::Space, c, handler);
        } else if (c == u'"' || c == u'(' || c == u'<' || c == u'[') {
            open_ = c;
            close_ = c == u'"' ? u'"' : c == u'(' ? u')' : c == u'<' ? u'>' : u']';
            depth_ = 1;
            quoteInAngle_ = false;
            held_ = false;
            pair_ = false;
            begin(c == u'"' ? StructuredTokenKind::Quoted : c == u'(' ? StructuredTokenKind::Comment
                      : c == u'<'                                   ? StructuredTokenKind::Angle
                                                                    : StructuredTokenKind::Literal,
                  State::Bracket, c, handler);
        } else if (c == u',' || c == u':' || c == u';') {
            begin(StructuredTokenKind::Separator, State::None, c, handler);
            handler.end(offset_);
        } else if (c == u')' || c == u'>' || c == u']') {
            begin(StructuredTokenKind::Literal, State::None, c, handler); // a stray closer
            handler.end(offset_);
        } else {
            escape_ = c == u'\\';
            begin(StructuredTokenKind::Word, State::Word, c, handler);
        }
    }

    template <typename Handler>
    void begin(StructuredTokenKind kind, State state, char16_t c, Handler& handler)
    {
        handler.begin(kind, offset_);
        state_ = state;
        take(c, handler);
    }

    template <typename Handler>
    void bracket(char16_t c, Handler& handler)
    {
        take(c, handler);
        const bool unquotes = open_ == u'"' || open_ == u'(';
        if (unquotes) {
            // The last unit waits: a closer there is dropped from the text.
            if (held_)
                inner(heldUnit_, handler);
            heldUnit_ = c;
            held_ = true;
        }
        bool closed = false;
        if (open_ == u'<') {
            // No quoted pairs in an angle address, but a quoted local part has them.
            if (quoteInAngle_) {
                if (escape_)
                    escape_ = false;
                else if (c == u'\\')
                    escape_ = true;
                else if (c == u'"')
                    quoteInAngle_ = false;
            } else if (c == u'>') {
                closed = true;
            } else if (c == u'"') {
                quoteInAngle_ = true;
            }
        } else if (escape_) {
            escape_ = false;
        } else if (c == u'\\') {
            escape_ = true;
        } else if (c == close_) {
            closed = --depth_ == 0;
        } else if (open_ == u'(' && c == u'(') {
            ++depth_;
        }
        if (closed)
            close(handler);
    }

    template <typename Handler>
    void inner(char16_t c, Handler& handler)
    {
        if (!pair_ && c == u'\\') {
            pair_ = true;
            return;
        }
        pair_ = false;
        handler.inner(c);
    }

    template <typename Handler>
    void close(Handler& handler)
    {
        if (state_ == State::Bracket && (open_ == u'"' || open_ == u'(')) {
            if (held_ && heldUnit_ != close_)
                inner(heldUnit_, handler);
            if (pair_)
                handler.inner(u'\\'); // a backslash with nothing after it stands
            held_ = false;
            pair_ = false;
        }
        state_ = State::None;
        handler.end(offset_);
    }

    State state_ = State::None;
    std::uint64_t offset_ = 0;
    std::uint64_t depth_ = 0;
    char16_t open_ = 0;
    char16_t close_ = 0;
    char16_t heldUnit_ = 0;
    bool escape_ = false;
    bool quoteInAngle_ = false;
    bool held_ = false;
    bool pair_ = false;
};

/// What encodeHeaderFields does with one field too long to hold, as LongField finds it.
struct LongFieldPlan {
    enum class Kind {
        Copied,       // the field stands as it is
        Unstructured, // rewritten with encoded-words from wordsStart to wordsEnd of its value
        Structured,   // structured, with non-ASCII text: its phrases and comments rewritten
    };
    Kind kind = Kind::Copied;
    std::uint64_t valueLength = 0; // the value: after the name's ':', the terminators left out
    std::uint64_t wordsStart = 0;
    std::uint64_t wordsEnd = 0;
    std::uint64_t textEnd = 0; // the end of the value's last word
    std::u16string foldTerminator;
    HeaderCharset used;
    bool base64 = false;

    // A structured field. Its parts up to `holdLimit` units are held while they go by;
    // what the writing must know of a longer one before its end is found by the passes
    // before, by its offset in the value (so at most one entry in `holdLimit` units).
    struct Words {
        bool ascii = true;
        HeaderCharset used;
        bool base64 = false;
        std::uint64_t length = 0; // of the text the words stand for
    };
    std::size_t holdLimit = 0;
    bool addresses = false;
    std::uint64_t lastTokenStart = 0;
    std::map<std::uint64_t, std::uint8_t> items;  // a mailbox or group name: where its phrase is
    std::map<std::uint64_t, Words> phrases;       // a run of words in a phrase
    std::map<std::uint64_t, Words> comments;      // a comment
    std::map<std::uint64_t, bool> blanks;         // blanks after a word of a phrase: whether one follows
};

class StructuredStream;

/// encodeHeaderFields for one field given in parts (its lines with their terminators),
/// for a field too long to hold: a first pass over the field finds
/// its shape, a second the charset of its encoded-words, a third writes the field into
/// `out` (which the caller empties as it likes) with the bytes encodeHeaderFields gives.
/// What is held is bounded whatever the field: for a structured one, a few parts of at
/// most `holdLimit` units and an entry for each longer part.
class LongField {
public:
    enum class Pass { Shape, Words, Write };
    /// Parts of a structured field longer than `holdLimit` units are not held.
    LongField(Pass pass, LongFieldPlan& plan, const HeaderCharset& charset, std::size_t holdLimit = std::size_t{1} << 16);
    ~LongField();
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
    std::unique_ptr<StructuredStream> structured_;
};

} // namespace tarnwick
