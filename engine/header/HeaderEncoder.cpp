#include "engine/header/HeaderEncoder.h"

#include "engine/message/TextLines.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::size_t kLongestPlainWord = 77; // a longer word could not be folded onto a line

enum class FieldKind { Unstructured, Addresses, Structured };

bool isAscii(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

bool isSpace(char16_t c) { return c == u' ' || c == u'\t'; }

bool equalsAsciiFolded(std::u16string_view name, std::string_view lower)
{
    if (name.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
        if (c != static_cast<unsigned char>(lower[i]))
            return false;
    }
    return true;
}

FieldKind kindOf(std::u16string_view name)
{
    static constexpr std::string_view kAddressFields[] = {
        "from", "sender", "reply-to", "to", "cc", "bcc", "resent-from", "resent-sender", "resent-reply-to",
        "resent-to", "resent-cc", "resent-bcc", "return-path", "return-receipt-to", "disposition-notification-to",
        "errors-to", "mail-followup-to", "mail-reply-to", "apparently-to", "x-sender", "x-original-to",
        "delivered-to"};
    static constexpr std::string_view kStructuredFields[] = {
        "received", "date", "resent-date", "message-id", "resent-message-id", "in-reply-to", "references",
        "mime-version", "content-type", "content-transfer-encoding", "content-disposition", "content-id",
        "content-length", "lines", "list-id", "list-post", "list-unsubscribe", "list-subscribe", "list-help",
        "list-archive", "dkim-signature", "authentication-results", "x-uidl", "status", "x-status"};
    for (const std::string_view field : kAddressFields) {
        if (equalsAsciiFolded(name, field))
            return FieldKind::Addresses;
    }
    for (const std::string_view field : kStructuredFields) {
        if (equalsAsciiFolded(name, field))
            return FieldKind::Structured;
    }
    return FieldKind::Unstructured; // Subject, Comments, and every optional field
}

// The output of one rewritten field: the unfolded line and where it may be folded.
struct FieldLine {
    std::u16string text;
    std::vector<std::size_t> foldPoints;

    // Appends plain text whose whitespace may carry folds; when no text follows, not its
    // trailing whitespace, which would leave a line of blanks.
    void appendPlain(std::u16string_view plain, bool textFollows = true)
    {
        std::size_t last = plain.size();
        while (!textFollows && last > 0 && isSpace(plain[last - 1]))
            --last;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const bool afterWord = i > 0 ? !isSpace(plain[i - 1]) : (!text.empty() && !isSpace(text.back()));
            if (isSpace(plain[i]) && afterWord && i < last)
                foldPoints.push_back(text.size() + i);
        }
        text.append(plain);
    }

    bool appendWords(std::u16string_view words, const HeaderCharset& charset)
    {
        return appendEncodedWords(words, charset, text, foldPoints);
    }
};

/// Unstructured text: the words from the first to the last one with non-ASCII text
/// become encoded-words; the ASCII words around them stay as they are, unless they
/// hold "=?" (which a reader would take for an encoded-word) or a word too long to fold.
/// Encoded-words already there are decoded first, so that they are not encoded again
/// (a reader would show them as written).
bool rewriteUnstructured(std::u16string_view value, const HeaderCharset& charset, FieldLine& line)
{
    const std::optional<std::u16string> decoded = decodeEncodedWords(value);
    if (decoded)
        value = *decoded;
    std::size_t firstStart = std::u16string_view::npos;
    std::size_t lastEnd = 0;
    std::size_t textStart = std::u16string_view::npos;
    std::size_t textEnd = 0;
    bool plainIsSafe = true;
    for (std::size_t pos = 0; pos < value.size();) {
        if (isSpace(value[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < value.size() && !isSpace(value[end]))
            ++end;
        const std::u16string_view word = value.substr(pos, end - pos);
        textStart = std::min(textStart, pos);
        textEnd = end;
        if (!isAscii(word)) {
            firstStart = std::min(firstStart, pos);
            lastEnd = end;
        } else if (word.size() > kLongestPlainWord || word.find(u"=?") != std::u16string_view::npos) {
            plainIsSafe = false;
        }
        pos = end;
    }
    if (firstStart == std::u16string_view::npos)
        return false;
    if (!plainIsSafe) {
        firstStart = textStart;
        lastEnd = textEnd;
    }
    line.appendPlain(value.substr(0, firstStart));
    if (!line.appendWords(value.substr(firstStart, lastEnd - firstStart), charset))
        return false;
    line.appendPlain(value.substr(lastEnd), false);
    return true;
}

using TokenKind = StructuredTokenKind;
using Token = StructuredToken;

bool isWordBreak(char16_t c)
{
    return isSpace(c) || c == u'"' || c == u'(' || c == u')' || c == u'<' || c == u'>' || c == u'[' || c == u']'
        || c == u',' || c == u':' || c == u';';
}

// The end of a quoted string, comment, angle address or domain literal that starts at
// `pos`; an unclosed one runs to the end of the value.
std::size_t closingEnd(std::u16string_view value, std::size_t pos)
{
    const char16_t open = value[pos];
    const char16_t close = open == u'"' ? u'"' : open == u'(' ? u')' : open == u'<' ? u'>' : u']';
    int depth = 1;
    for (std::size_t i = pos + 1; i < value.size(); ++i) {
        const char16_t c = value[i];
        if (c == u'\\' && open != u'<') {
            ++i;
        } else if (c == close) {
            if (--depth == 0)
                return i + 1;
        } else if (open == u'(' && c == u'(') {
            ++depth;
        } else if (open == u'<' && c == u'"') {
            i = closingEnd(value, i) - 1; // a quoted local part inside <...>
        }
    }
    return value.size();
}

} // namespace

void structuredTokens(std::u16string_view value, std::vector<StructuredToken>& tokens)
{
    tokens.clear();
    for (std::size_t pos = 0; pos < value.size();) {
        const char16_t c = value[pos];
        std::size_t end = pos + 1;
        TokenKind kind = TokenKind::Word;
        if (isSpace(c)) {
            kind = TokenKind::Space;
            while (end < value.size() && isSpace(value[end]))
                ++end;
        } else if (c == u'"' || c == u'(' || c == u'<' || c == u'[') {
            end = closingEnd(value, pos);
            kind = c == u'"' ? TokenKind::Quoted : c == u'(' ? TokenKind::Comment : c == u'<' ? TokenKind::Angle
                                                                                          : TokenKind::Literal;
        } else if (c == u',' || c == u':' || c == u';') {
            kind = TokenKind::Separator;
        } else if (c == u')' || c == u'>' || c == u']') {
            kind = TokenKind::Literal; // a stray closer: kept as it stands
        } else {
            // A backslash takes the next character into the word, as in a quoted pair.
            end = pos;
            while (end < value.size() && (value[end] == u'\\' || !isWordBreak(value[end])))
                end += value[end] == u'\\' && end + 1 < value.size() ? 2 : 1;
        }
        tokens.push_back({kind, pos, end});
        pos = end;
    }
}

std::u16string unquotedToken(std::u16string_view token)
{
    std::u16string text;
    const bool closed = token.size() >= 2
        && ((token.front() == u'"' && token.back() == u'"') || (token.front() == u'(' && token.back() == u')'));
    const std::u16string_view inner = token.substr(1, token.size() - (closed ? 2 : 1));
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == u'\\' && i + 1 < inner.size())
            ++i;
        text.push_back(inner[i]);
    }
    return text;
}

namespace {

class StructuredRewriter {
public:
    StructuredRewriter(std::u16string_view value, const HeaderCharset& charset, FieldLine& line)
        : value_(value), charset_(charset), line_(line)
    {
        structuredTokens(value_, tokens_);
    }

    /// Address lists: display names and group names as well as comments.
    bool rewriteAddresses()
    {
        std::size_t itemStart = 0;
        for (std::size_t i = 0; i <= tokens_.size(); ++i) {
            if (i < tokens_.size() && tokens_[i].kind != TokenKind::Separator)
                continue;
            const bool isGroupName = i < tokens_.size() && value_[tokens_[i].start] == u':';
            if (!rewriteItem(itemStart, i, isGroupName))
                return false;
            if (i < tokens_.size()) {
                emitToken(tokens_[i]);
                // A comma may be followed by a fold; the space makes a place for it.
                if (value_[tokens_[i].start] == u',' && i + 1 < tokens_.size() && tokens_[i + 1].kind != TokenKind::Space)
                    line_.appendPlain(u" ");
            }
            itemStart = i + 1;
        }
        return true;
    }

    /// Any other structured field: comments only.
    bool rewriteComments()
    {
        for (const Token& token : tokens_) {
            if (!emitToken(token))
                return false;
        }
        return true;
    }

private:
    // One mailbox or group name, tokens [first, last). Its phrase is every word before
    // the angle address (or before the ':' of a group); an item without either is a
    // bare address (local@domain) and has no phrase.
    bool rewriteItem(std::size_t first, std::size_t last, bool isGroupName)
    {
        std::size_t phraseEnd = first;
        if (isGroupName) {
            phraseEnd = last;
        } else {
            for (std::size_t i = first; i < last; ++i) {
                if (tokens_[i].kind == TokenKind::Angle) {
                    phraseEnd = i;
                    break;
                }
            }
        }
        std::size_t i = first;
        while (i < last) {
            if (i < phraseEnd && isWord(tokens_[i])) {
                // A run of words, with the spaces between them.
                std::size_t runEnd = i + 1;
                std::size_t lastWord = i;
                for (std::size_t j = i + 1; j < phraseEnd && (isWord(tokens_[j]) || tokens_[j].kind == TokenKind::Space); ++j) {
                    runEnd = j + 1;
                    if (isWord(tokens_[j]))
                        lastWord = j;
                }
                runEnd = lastWord + 1;
                if (!emitPhrase(i, runEnd))
                    return false;
                if (runEnd < last && tokens_[runEnd].kind == TokenKind::Angle && phraseWasEncoded_)
                    line_.appendPlain(u" ");
                i = runEnd;
                continue;
            }
            if (!emitToken(tokens_[i]))
                return false;
            ++i;
        }
        return true;
    }

    static bool isWord(const Token& token) { return token.kind == TokenKind::Word || token.kind == TokenKind::Quoted; }

    bool emitPhrase(std::size_t first, std::size_t last)
    {
        phraseWasEncoded_ = false;
        const std::u16string_view whole = value_.substr(tokens_[first].start, tokens_[last - 1].end - tokens_[first].start);
        if (isAscii(whole)) {
            line_.appendPlain(whole);
            return true;
        }
        std::u16string text;
        for (std::size_t i = first; i < last; ++i) {
            const std::u16string_view piece = value_.substr(tokens_[i].start, tokens_[i].end - tokens_[i].start);
            if (tokens_[i].kind == TokenKind::Quoted)
                text.append(unquotedToken(piece));
            else
                text.append(piece);
        }
        separateFromPrevious();
        phraseWasEncoded_ = true;
        return line_.appendWords(text, charset_);
    }

    bool emitToken(const Token& token)
    {
        const std::u16string_view piece = value_.substr(token.start, token.end - token.start);
        if (token.kind == TokenKind::Comment && !isAscii(piece)) {
            line_.text.push_back(u'(');
            if (!line_.appendWords(unquotedToken(piece), charset_))
                return false;
            line_.text.push_back(u')');
            return true;
        }
        if (token.kind == TokenKind::Space)
            line_.appendPlain(piece, &token != &tokens_.back());
        else
            line_.text.append(piece);
        return true;
    }

    // An encoded-word must stand apart from the word before it.
    void separateFromPrevious()
    {
        const std::u16string& text = line_.text;
        if (!text.empty() && !isSpace(text.back()) && text.back() != u':' && text.back() != u'(')
            line_.appendPlain(u" ");
    }

    std::u16string_view value_;
    const HeaderCharset& charset_;
    FieldLine& line_;
    std::vector<Token> tokens_;
    bool phraseWasEncoded_ = false;
};

/// Rewrites one field (all its lines) into `out`; false when it is copied unchanged.
bool rewriteField(std::u16string_view field, std::u16string_view terminator, const HeaderCharset& charset,
                  std::u16string& out)
{
    const TextLine first = textLineAt(field, 0);
    const std::u16string_view firstContents = field.substr(0, first.contentsEnd);
    const std::size_t colon = firstContents.find(u':');
    if (colon == std::u16string_view::npos || colon == 0)
        return false;
    const std::u16string_view name = firstContents.substr(0, colon);
    if (!isAscii(name) || std::any_of(name.begin(), name.end(), isSpace))
        return false;

    // Unfolding removes the terminators only; the whitespace after each one stays.
    std::u16string value(firstContents.substr(colon + 1));
    std::u16string_view lastTerminator = field.substr(first.contentsEnd, first.end - first.contentsEnd);
    for (std::size_t pos = first.end; pos < field.size();) {
        const TextLine line = textLineAt(field, pos);
        value.append(field.substr(line.start, line.contentsEnd - line.start));
        lastTerminator = field.substr(line.contentsEnd, line.end - line.contentsEnd);
        pos = line.end;
    }

    FieldLine line;
    line.text.append(name);
    line.text.push_back(u':');
    bool rewritten = false;
    switch (kindOf(name)) {
    case FieldKind::Unstructured:
        rewritten = rewriteUnstructured(value, charset, line);
        break;
    case FieldKind::Addresses:
        rewritten = StructuredRewriter(value, charset, line).rewriteAddresses();
        break;
    case FieldKind::Structured:
        rewritten = StructuredRewriter(value, charset, line).rewriteComments();
        break;
    }
    if (!rewritten)
        return false;
    appendFolded(line.text, line.foldPoints, terminator, out);
    out.append(lastTerminator);
    return true;
}

} // namespace

bool isUnstructuredField(std::u16string_view name) { return kindOf(name) == FieldKind::Unstructured; }

/// The value of a structured field given in parts, rewritten as StructuredRewriter
/// rewrites the whole value. Two tokenizers go over it: the first finds the items
/// (a mailbox or a group name, between separators) and holds each up to the plan's
/// hold limit, as whether its words are a phrase is known only at its end; the second,
/// as far behind as that, writes the pieces of each item once it is known.
class StructuredStream {
public:
    enum Phrase : std::uint8_t { kNoPhrase, kUntilAngle, kWholeItem };

    StructuredStream(LongField::Pass pass, LongFieldPlan& plan, const HeaderCharset& charset, FoldedLine* line)
        : pass_(pass), plan_(plan), charset_(charset), line_(line), items_(*this), pieces_(*this)
    {
        startItem(0);
    }

    void add(std::u16string_view text)
    {
        itemTokens_.feed(text, items_);
        flush();
    }

    void finish()
    {
        itemTokens_.finish(items_);
        items_.endItem(itemTokens_.offset(), false);
        pieceTokens_.finish(pieces_);
        pieces_.finish();
        flush();
    }

private:
    bool shape() const { return pass_ == LongField::Pass::Shape; }
    bool writing() const { return pass_ == LongField::Pass::Write; }
    std::uint64_t limit() const { return plan_.holdLimit; }

    // The output, onto the folded line.
    void put(char16_t c)
    {
        if (!line_)
            return;
        buffer_.push_back(c);
        last_ = c;
        if (buffer_.size() >= 4096)
            flush();
    }
    void flush()
    {
        if (line_ && !buffer_.empty()) {
            line_->append(buffer_);
            buffer_.clear();
        }
    }
    void foldPoint()
    {
        flush();
        line_->foldPoint();
    }
    // A unit of plain text, which may carry a fold when it is whitespace after a word.
    void plain(char16_t c, bool textFollows = true)
    {
        if (!line_)
            return;
        if (isSpace(c) && textFollows && !isSpace(last_))
            foldPoint();
        put(c);
    }
    // Encoded-words for a text held whole, with the fold points appendEncodedWords gives.
    void words(std::u16string_view text)
    {
        std::u16string encoded;
        std::vector<std::size_t> points;
        if (!appendEncodedWords(text, charset_, encoded, points))
            return; // the passes before found none of these (the field is copied)
        std::size_t at = 0;
        for (const std::size_t point : points) {
            for (; at < point; ++at)
                put(encoded[at]);
            foldPoint();
        }
        for (; at < encoded.size(); ++at)
            put(encoded[at]);
    }
    // An encoded-word must stand apart from the word before it.
    void separateFromPrevious()
    {
        if (!isSpace(last_) && last_ != u':' && last_ != u'(')
            plain(u' ');
    }

    // The items: each one's phrase decided, held until it is.
    struct Items {
        explicit Items(StructuredStream& owner) : s(owner) {}
        StructuredStream& s;
        bool separator = false;
        std::uint64_t separatorAt = 0;

        void begin(StructuredTokenKind kind, std::uint64_t offset)
        {
            if (s.shape())
                s.plan_.lastTokenStart = offset;
            if (kind == StructuredTokenKind::Angle)
                s.itemHasAngle_ = true;
            separator = kind == StructuredTokenKind::Separator && s.plan_.addresses;
            separatorAt = offset;
        }
        void unit(char16_t c)
        {
            if (separator) {
                endItem(separatorAt, c == u':');
                s.pass(c);
                s.startItem(separatorAt + 1);
                separator = false;
                return;
            }
            if (s.holding_)
                s.held_.push_back(c);
            else
                s.pass(c);
        }
        void inner(char16_t) {}
        void end(std::uint64_t) {}

        void endItem(std::uint64_t end, bool groupName)
        {
            const std::uint8_t phrase = !s.plan_.addresses ? kNoPhrase
                : groupName                                ? kWholeItem
                : s.itemHasAngle_                          ? kUntilAngle
                                                           : kNoPhrase;
            if (!s.plan_.addresses)
                return;
            if (s.shape()) {
                if (end - s.itemStart_ > s.limit())
                    s.plan_.items[s.itemStart_] = phrase;
                return;
            }
            if (s.holding_) {
                s.phrases_.push_back(phrase);
                s.holding_ = false;
                std::u16string held;
                held.swap(s.held_);
                for (const char16_t c : held)
                    s.pass(c);
            }
        }
    };

    void startItem(std::uint64_t start)
    {
        itemStart_ = start;
        itemHasAngle_ = false;
        if (shape() || !plan_.addresses)
            return;
        const auto known = plan_.items.find(start);
        holding_ = known == plan_.items.end();
        if (!holding_)
            phrases_.push_back(known->second);
    }

    void pass(char16_t c)
    {
        if (!shape())
            pieceTokens_.feed(std::u16string_view(&c, 1), pieces_);
    }

    // The pieces of the items whose phrase is known, as StructuredRewriter writes them.
    struct Pieces {
        explicit Pieces(StructuredStream& owner) : s(owner) {}
        StructuredStream& s;
        enum class Mode { Raw, Plain, Run, Blanks, Comment, Skip };
        Mode mode = Mode::Raw;
        StructuredTokenKind kind = StructuredTokenKind::Space;
        std::uint64_t start = 0;
        bool angleSeen = false; // in this item
        bool commaBefore = false;
        bool blanksFollow = true;
        // A run of words in a phrase.
        bool inRun = false;
        std::uint64_t runStart = 0;
        std::uint64_t lastWordEnd = 0;
        bool runKnown = false; // from the plan, else held
        LongFieldPlan::Words run;
        std::optional<EncodedWordsStream> stream;
        std::optional<EncodedWordsSurvey> survey;
        std::u16string heldRaw;
        std::u16string heldText;
        std::u16string text; // on its way to the stream or the survey
        bool runAscii = true;
        std::uint64_t runLength = 0;
        bool runEncoded = false;
        // Blanks after a word of a run: whether a word follows is known after them.
        std::uint64_t blanksStart = 0;
        bool blanksKnown = false;
        bool blanksContinue = false;
        std::u16string heldBlanks;
        std::uint64_t spaces = 0;
        std::uint64_t tabs = 0;
        // A comment.
        bool commentKnown = false;
        LongFieldPlan::Words comment;
        std::u16string commentRaw;
        std::u16string commentText;
        bool commentAscii = true;
        std::uint64_t commentLength = 0;

        bool inPhrase() const
        {
            if (s.phrases_.empty())
                return false;
            const std::uint8_t phrase = s.phrases_.front();
            return phrase == kWholeItem || (phrase == kUntilAngle && !angleSeen);
        }

        void begin(StructuredTokenKind k, std::uint64_t offset)
        {
            if (commaBefore && k != StructuredTokenKind::Space && s.writing())
                s.plain(u' ');
            commaBefore = false;
            const bool isWord = k == StructuredTokenKind::Word || k == StructuredTokenKind::Quoted;
            if (mode == Mode::Blanks && !blanksKnown) {
                // The blanks after a word: in the run when a word of the phrase follows.
                const bool continues = isWord && inPhrase();
                if (s.pass_ == LongField::Pass::Words && offset - blanksStart > s.limit())
                    s.plan_.blanks[blanksStart] = continues;
                if (continues) {
                    for (; spaces > 0; --spaces)
                        runUnit(u' ', u' ');
                    for (; tabs > 0; --tabs)
                        runUnit(u'\t', u'\t');
                    for (const char16_t c : heldBlanks)
                        runUnit(c, c);
                } else {
                    endRun();
                    for (const char16_t c : heldBlanks)
                        s.plain(c, blanksFollow);
                }
                heldBlanks.clear();
                spaces = tabs = 0;
            } else if (inRun && !isWord && k != StructuredTokenKind::Space) {
                endRun();
                if (k == StructuredTokenKind::Angle && runEncoded && s.writing())
                    s.plain(u' ');
            }
            kind = k;
            start = offset;
            if (inRun) {
                mode = k == StructuredTokenKind::Space ? Mode::Blanks : Mode::Run;
                if (mode == Mode::Blanks)
                    startBlanks(offset);
                return;
            }
            switch (k) {
            case StructuredTokenKind::Separator:
                mode = Mode::Raw;
                break;
            case StructuredTokenKind::Comment:
                startComment(offset);
                break;
            case StructuredTokenKind::Space:
                mode = Mode::Plain;
                blanksFollow = offset != s.plan_.lastTokenStart;
                break;
            case StructuredTokenKind::Angle:
                angleSeen = true;
                mode = Mode::Raw;
                break;
            case StructuredTokenKind::Word:
            case StructuredTokenKind::Quoted:
                if (inPhrase()) {
                    startRun(offset);
                    mode = Mode::Run;
                } else {
                    mode = Mode::Raw;
                }
                break;
            case StructuredTokenKind::Literal:
                mode = Mode::Raw;
                break;
            }
        }

        void unit(char16_t c)
        {
            switch (mode) {
            case Mode::Raw:
                if (s.writing())
                    s.put(c);
                if (kind == StructuredTokenKind::Separator) {
                    if (!s.phrases_.empty())
                        s.phrases_.pop_front();
                    angleSeen = false;
                    commaBefore = c == u',' && s.plan_.addresses;
                }
                break;
            case Mode::Plain:
                if (s.writing())
                    s.plain(c, blanksFollow);
                break;
            case Mode::Run:
                if (kind == StructuredTokenKind::Word)
                    runUnit(c, c);
                else
                    runRaw(c);
                break;
            case Mode::Blanks:
                if (blanksKnown) {
                    if (blanksContinue)
                        runUnit(c, c);
                    else
                        s.plain(c, blanksFollow);
                } else if (s.writing()) {
                    heldBlanks.push_back(c);
                } else {
                    ++(c == u' ' ? spaces : tabs); // only their numbers matter to the survey
                }
                break;
            case Mode::Comment:
                commentUnit(c);
                break;
            case Mode::Skip:
                break;
            }
        }

        void inner(char16_t c)
        {
            if (mode == Mode::Run)
                runText(c);
            else if (mode == Mode::Comment)
                commentInner(c);
        }

        void end(std::uint64_t offset)
        {
            if (mode == Mode::Run)
                lastWordEnd = offset;
            if (mode == Mode::Comment)
                endComment(offset);
        }

        void finish()
        {
            if (mode == Mode::Blanks && !blanksKnown) {
                if (s.pass_ == LongField::Pass::Words && s.pieceTokens_.offset() - blanksStart > s.limit())
                    s.plan_.blanks[blanksStart] = false;
                endRun();
                // The last piece of the value: no fold in it.
                for (const char16_t c : heldBlanks)
                    s.plain(c, false);
                heldBlanks.clear();
            } else if (inRun) {
                endRun();
            }
        }

        // Runs.
        void startRun(std::uint64_t offset)
        {
            inRun = true;
            runStart = offset;
            runAscii = true;
            runLength = 0;
            runEncoded = false;
            text.clear();
            heldRaw.clear();
            heldText.clear();
            if (s.pass_ == LongField::Pass::Words) {
                survey.emplace(s.charset_);
                return;
            }
            const auto known = s.plan_.phrases.find(offset);
            runKnown = known != s.plan_.phrases.end();
            if (!runKnown)
                return;
            run = known->second;
            if (!run.ascii) {
                s.separateFromPrevious();
                stream.emplace(run.used, run.base64, run.length);
                runEncoded = true;
            }
        }
        // A unit of a word (raw) standing for `t` in the phrase's text.
        void runUnit(char16_t raw, char16_t t)
        {
            runRaw(raw);
            runText(t);
        }
        void runRaw(char16_t c)
        {
            runAscii = runAscii && c < 0x80;
            if (!s.writing())
                return;
            if (!runKnown)
                heldRaw.push_back(c);
            else if (run.ascii)
                s.plain(c);
        }
        void runText(char16_t c)
        {
            ++runLength;
            if (s.writing() && !runKnown) {
                heldText.push_back(c);
                return;
            }
            if (s.writing() && run.ascii)
                return;
            text.push_back(c);
            if (text.size() >= 4096)
                drainText();
        }
        void drainText()
        {
            if (survey)
                survey->add(text);
            if (stream) {
                s.flush();
                stream->add(text, *s.line_);
            }
            text.clear();
        }
        void endRun()
        {
            inRun = false;
            drainText();
            if (s.pass_ == LongField::Pass::Words) {
                const bool fits = survey->finish();
                if (!runAscii && !fits)
                    s.failed_ = true;
                if (lastWordEnd - runStart > s.limit())
                    s.plan_.phrases[runStart] = {runAscii, survey->used(), survey->base64(), runLength};
                survey.reset();
                return;
            }
            if (!s.writing())
                return;
            if (runKnown) {
                if (stream) {
                    s.flush();
                    stream->finish(*s.line_);
                    stream.reset();
                    s.last_ = u'=';
                }
                return;
            }
            if (isAscii(heldRaw)) {
                for (const char16_t c : heldRaw)
                    s.plain(c);
            } else {
                s.separateFromPrevious();
                s.words(heldText);
                runEncoded = true;
            }
            heldRaw.clear();
            heldText.clear();
        }
        void startBlanks(std::uint64_t offset)
        {
            blanksStart = offset;
            blanksKnown = false;
            blanksFollow = offset != s.plan_.lastTokenStart;
            heldBlanks.clear();
            spaces = tabs = 0;
            if (!s.writing())
                return; // counted as they are held: at most a part of the hold limit
            const auto known = s.plan_.blanks.find(offset);
            if (known == s.plan_.blanks.end())
                return;
            blanksKnown = true;
            blanksContinue = known->second;
            if (!blanksContinue)
                endRun();
        }

        // Comments.
        void startComment(std::uint64_t offset)
        {
            mode = Mode::Comment;
            commentRaw.clear();
            commentText.clear();
            commentAscii = true;
            commentLength = 0;
            commentKnown = false;
            if (s.pass_ == LongField::Pass::Words) {
                survey.emplace(s.charset_);
                return;
            }
            const auto known = s.plan_.comments.find(offset);
            commentKnown = known != s.plan_.comments.end();
            if (commentKnown) {
                comment = known->second;
                if (!comment.ascii && s.writing()) {
                    s.put(u'(');
                    stream.emplace(comment.used, comment.base64, comment.length);
                }
            }
        }
        void commentUnit(char16_t c)
        {
            commentAscii = commentAscii && c < 0x80;
            if (!s.writing())
                return;
            if (!commentKnown)
                commentRaw.push_back(c);
            else if (comment.ascii)
                s.put(c);
        }
        void commentInner(char16_t c)
        {
            ++commentLength;
            if (s.writing() && !commentKnown) {
                commentText.push_back(c);
                return;
            }
            if (s.writing() && comment.ascii)
                return;
            text.push_back(c);
            if (text.size() >= 4096)
                drainText();
        }
        void endComment(std::uint64_t offset)
        {
            mode = Mode::Skip;
            drainText();
            if (s.pass_ == LongField::Pass::Words) {
                const bool fits = survey->finish();
                if (!commentAscii && !fits)
                    s.failed_ = true;
                if (offset - start > s.limit())
                    s.plan_.comments[start] = {commentAscii, survey->used(), survey->base64(), commentLength};
                survey.reset();
                return;
            }
            if (!s.writing())
                return;
            if (commentKnown) {
                if (stream) {
                    s.flush();
                    stream->finish(*s.line_);
                    stream.reset();
                    s.put(u')');
                }
                return;
            }
            if (isAscii(commentRaw)) {
                for (const char16_t c : commentRaw)
                    s.put(c);
            } else {
                s.put(u'(');
                s.words(commentText);
                s.put(u')');
            }
        }
    };

    LongField::Pass pass_;
    LongFieldPlan& plan_;
    HeaderCharset charset_;
    FoldedLine* line_;
    std::u16string buffer_;
    char16_t last_ = u':';
    StructuredTokenizer itemTokens_;
    StructuredTokenizer pieceTokens_;
    Items items_;
    Pieces pieces_;
    std::uint64_t itemStart_ = 0;
    bool itemHasAngle_ = false;
    bool holding_ = false;
    std::u16string held_;
    std::deque<std::uint8_t> phrases_; // of the items the pieces are in, or about to be

public:
    bool failed_ = false;
};


LongField::LongField(Pass pass, LongFieldPlan& plan, const HeaderCharset& charset, std::size_t holdLimit)
    : pass_(pass), plan_(plan), charset_(charset), walker_(*this)
{
    if (pass_ == Pass::Shape) {
        plan_ = LongFieldPlan();
        plan_.kind = LongFieldPlan::Kind::Unstructured; // until the name says otherwise
        plan_.holdLimit = holdLimit;
    }
    if (pass_ != Pass::Shape && plan_.kind == LongFieldPlan::Kind::Structured) {
        if (pass_ == Pass::Write)
            line_.emplace(plan_.foldTerminator);
        structured_ = std::make_unique<StructuredStream>(pass_, plan_, charset_, line_ ? &*line_ : nullptr);
    }
    if (pass_ == Pass::Words && plan_.kind == LongFieldPlan::Kind::Unstructured)
        survey_.emplace(charset_);
    if (pass_ == Pass::Write && plan_.kind == LongFieldPlan::Kind::Unstructured) {
        line_.emplace(plan_.foldTerminator);
        words_.emplace(plan_.used, plan_.base64, plan_.wordsEnd - plan_.wordsStart);
    }
}

LongField::~LongField() = default;

void LongField::add(std::u16string_view text)
{
    if (pass_ == Pass::Write && plan_.kind == LongFieldPlan::Kind::Copied) {
        out.append(text);
        return;
    }
    if (pass_ == Pass::Shape)
        ascii_ = ascii_ && isAscii(text);
    walker_.feed(text);
    drain();
}

void LongField::finish()
{
    walker_.finish();
    if (structured_) {
        structured_->finish();
        if (pass_ == Pass::Words && structured_->failed_)
            plan_.kind = LongFieldPlan::Kind::Copied; // not even UTF-8 can write a part
        if (pass_ == Pass::Write) {
            line_->finish();
            out.append(line_->out);
            line_->out.clear();
            out.append(lastTerminator_);
        }
        if (pass_ != Pass::Shape)
            return;
    }
    switch (pass_) {
    case Pass::Shape:
        if (inWord_)
            endWord(position_);
        if (ascii_ || !named_) // an all-ASCII field stands as it is, whatever its name
            plan_.kind = LongFieldPlan::Kind::Copied;
        if (plan_.kind == LongFieldPlan::Kind::Unstructured && firstWord_ == kNone)
            plan_.kind = LongFieldPlan::Kind::Copied;
        if (plan_.kind == LongFieldPlan::Kind::Unstructured) {
            plan_.valueLength = position_;
            plan_.textEnd = textEnd_;
            // Unstructured text: the words from the first to the last one with non-ASCII
            // text, or all of them when a plain one is unsafe.
            plan_.wordsStart = plainIsSafe_ ? firstWord_ : textStart_;
            plan_.wordsEnd = plainIsSafe_ ? lastWordEnd_ : textEnd_;
        }
        break;
    case Pass::Words:
        if (survey_) {
            if (survey_->finish()) {
                plan_.used = survey_->used();
                plan_.base64 = survey_->base64();
            } else {
                plan_.kind = LongFieldPlan::Kind::Copied; // not even UTF-8 can write it
            }
        }
        break;
    case Pass::Write:
        if (line_) {
            words_->finish(*line_);
            line_->finish();
            out.append(line_->out);
            line_->out.clear();
            out.append(lastTerminator_);
        }
        break;
    }
}

void LongField::drain()
{
    if (line_) {
        out.append(line_->out);
        line_->out.clear();
    }
}

void LongField::begin(std::uint64_t) {}

void LongField::contents(std::u16string_view text)
{
    if (lines_ == 0 && !named_) {
        // The name: up to the first ':' of the first line, ASCII without blanks.
        const std::size_t colon = text.find(u':');
        const std::u16string_view part = text.substr(0, colon);
        const bool good = std::all_of(part.begin(), part.end(), [](char16_t c) { return c < 0x80 && !isSpace(c); });
        if (pass_ == Pass::Shape && name_.size() < 64)
            name_.append(part.substr(0, 64 - name_.size()));
        if (pass_ == Pass::Write && line_)
            line_->append(part);
        nameLength_ += part.size();
        if (!good && pass_ == Pass::Shape)
            plan_.kind = LongFieldPlan::Kind::Copied;
        if (colon == std::u16string_view::npos)
            return;
        named_ = true;
        if (pass_ == Pass::Shape) {
            if (nameLength_ == 0)
                plan_.kind = LongFieldPlan::Kind::Copied;
            else if (plan_.kind != LongFieldPlan::Kind::Copied)
                plan_.kind = isUnstructuredField(name_) ? LongFieldPlan::Kind::Unstructured
                                                        : LongFieldPlan::Kind::Structured;
            if (plan_.kind == LongFieldPlan::Kind::Structured) {
                plan_.addresses = kindOf(name_) == FieldKind::Addresses;
                structured_ = std::make_unique<StructuredStream>(pass_, plan_, charset_, nullptr);
            }
        }
        if (line_)
            line_->append(u":");
        text.remove_prefix(colon + 1);
    }
    if (named_)
        value(text);
}

void LongField::end(std::u16string_view terminator)
{
    if (lines_ == 0)
        plan_.foldTerminator = terminator.empty() ? std::u16string_view(u"\r\n") : terminator;
    lastTerminator_ = terminator;
    ++lines_;
}

void LongField::value(std::u16string_view text)
{
    const std::uint64_t start = position_;
    position_ += text.size();
    if (structured_) {
        structured_->add(text);
        if (pass_ != Pass::Shape)
            return;
    }
    switch (pass_) {
    case Pass::Shape:
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t c = text[i];
            if (isSpace(c)) {
                if (inWord_)
                    endWord(start + i);
                continue;
            }
            if (!inWord_) {
                inWord_ = true;
                wordStart_ = start + i;
                wordAscii_ = true;
                wordMarked_ = false;
                previous_ = 0;
            }
            wordAscii_ = wordAscii_ && c < 0x80;
            wordMarked_ = wordMarked_ || (previous_ == u'=' && c == u'?');
            previous_ = c;
        }
        break;
    case Pass::Words:
        if (survey_ && position_ > plan_.wordsStart && start < plan_.wordsEnd) {
            const std::uint64_t from = std::max(start, plan_.wordsStart);
            const std::uint64_t to = std::min(position_, plan_.wordsEnd);
            survey_->add(text.substr(static_cast<std::size_t>(from - start), static_cast<std::size_t>(to - from)));
        }
        break;
    case Pass::Write:
        if (!line_)
            break;
        for (std::size_t i = 0; i < text.size();) {
            const std::uint64_t at = start + i;
            if (at >= plan_.wordsStart && at < plan_.wordsEnd) {
                const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(text.size() - i, plan_.wordsEnd - at));
                words_->add(text.substr(i, length), *line_);
                if (at + length == plan_.wordsEnd)
                    words_->finish(*line_); // the words before the plain text after them
                i += length;
                previousBlank_ = false;
                continue;
            }
            // Plain text: whitespace after a word may carry a fold (not the blanks after the last word).
            const char16_t c = text[i];
            const bool blank = isSpace(c);
            if (blank && !previousBlank_ && (at < plan_.wordsStart || at < plan_.textEnd))
                line_->foldPoint();
            line_->append(text.substr(i, 1));
            previousBlank_ = blank;
            ++i;
        }
        break;
    }
}

void LongField::endWord(std::uint64_t end)
{
    inWord_ = false;
    textStart_ = std::min(textStart_, wordStart_);
    textEnd_ = end;
    if (!wordAscii_) {
        firstWord_ = std::min(firstWord_, wordStart_);
        lastWordEnd_ = end;
    } else if (end - wordStart_ > kLongestPlainWord || wordMarked_) {
        plainIsSafe_ = false;
    }
}

bool headerNeedsEncoding(std::u16string_view header)
{
    return std::any_of(header.begin(), header.end(), [](char16_t c) { return c >= 0x80 || c == 0; });
}

std::size_t encodeHeaderFields(std::u16string_view header, const HeaderCharset& charset, std::u16string& out)
{
    static constexpr std::u16string_view kCRLF = u"\r\n";
    std::size_t leftRaw = 0;
    std::size_t pos = 0;
    std::u16string visible;
    while (pos < header.size()) {
        const TextLine first = textLineAt(header, pos);
        std::size_t end = first.end;
        while (end < header.size() && isSpace(header[end]))
            end = textLineAt(header, end).end;
        std::u16string_view field = header.substr(pos, end - pos);
        pos = end;
        if (!headerNeedsEncoding(field)) {
            out.append(field);
            continue;
        }
        // A NUL has no place in a header field, and readers end the field at it: it
        // is written as the visible SYMBOL FOR NULL, encoded like any other character.
        if (field.find(u'\0') != std::u16string_view::npos) {
            visible.assign(field);
            std::replace(visible.begin(), visible.end(), u'\0', kNulSymbol);
            field = visible;
        }
        const std::u16string_view terminator = first.end > first.contentsEnd
            ? header.substr(first.contentsEnd, first.end - first.contentsEnd)
            : kCRLF;
        const std::size_t before = out.size();
        if (!rewriteField(field, terminator, charset, out)) {
            out.resize(before);
            out.append(field);
        }
        if (!isAscii(std::u16string_view(out).substr(before)))
            ++leftRaw;
    }
    return leftRaw;
}

} // namespace tarnwick
