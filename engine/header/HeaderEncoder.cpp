#include "engine/header/HeaderEncoder.h"

#include "engine/message/TextLines.h"
#include "engine/text/Ascii.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::size_t kLongestPlainWord = 77; // a longer word could not be folded onto a line
constexpr std::size_t kLineLength = 78;

enum class FieldKind { Unstructured, Addresses, Structured };

bool isAscii(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

FieldKind kindOf(std::u16string_view name)
{
    static constexpr std::string_view kAddressFields[] = {"from",
                                                          "sender",
                                                          "reply-to",
                                                          "to",
                                                          "cc",
                                                          "bcc",
                                                          "resent-from",
                                                          "resent-sender",
                                                          "resent-reply-to",
                                                          "resent-to",
                                                          "resent-cc",
                                                          "resent-bcc",
                                                          "return-path",
                                                          "return-receipt-to",
                                                          "disposition-notification-to",
                                                          "errors-to",
                                                          "mail-followup-to",
                                                          "mail-reply-to",
                                                          "apparently-to",
                                                          "x-sender",
                                                          "x-original-to",
                                                          "delivered-to"};
    static constexpr std::string_view kStructuredFields[] = {"received",
                                                             "date",
                                                             "resent-date",
                                                             "message-id",
                                                             "resent-message-id",
                                                             "in-reply-to",
                                                             "references",
                                                             "mime-version",
                                                             "content-type",
                                                             "content-transfer-encoding",
                                                             "content-disposition",
                                                             "content-id",
                                                             "content-length",
                                                             "lines",
                                                             "list-id",
                                                             "list-post",
                                                             "list-unsubscribe",
                                                             "list-subscribe",
                                                             "list-help",
                                                             "list-archive",
                                                             "dkim-signature",
                                                             "authentication-results",
                                                             "x-uidl",
                                                             "status",
                                                             "x-status"};
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
        while (!textFollows && last > 0 && isBlank(plain[last - 1]))
            --last;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            const bool afterWord = i > 0 ? !isBlank(plain[i - 1]) : (!text.empty() && !isBlank(text.back()));
            if (isBlank(plain[i]) && afterWord && i < last)
                foldPoints.push_back(text.size() + i);
        }
        text.append(plain);
    }

    // Words that begin the value (a field is never folded before its first word) start
    // the field's first line: the first one fits on it when it can.
    bool appendWords(std::u16string_view words, const HeaderCharset& charset)
    {
        const std::size_t colon = text.find(u':');
        const bool beginsValue = colon != std::u16string::npos && text.find_first_not_of(u" \t", colon + 1) == std::u16string::npos;
        const std::size_t room = beginsValue && text.size() < kLineLength ? kLineLength - text.size() : kLineLength;
        return appendEncodedWords(words, charset, text, foldPoints, room);
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
        if (isBlank(value[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < value.size() && !isBlank(value[end]))
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
    return isBlank(c) || c == u'"' || c == u'(' || c == u')' || c == u'<' || c == u'>' || c == u'[' || c == u']' || c == u',' || c == u':'
        || c == u';';
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
        if (isBlank(c)) {
            kind = TokenKind::Space;
            while (end < value.size() && isBlank(value[end]))
                ++end;
        } else if (c == u'"' || c == u'(' || c == u'<' || c == u'[') {
            end = closingEnd(value, pos);
            kind = c == u'"' ? TokenKind::Quoted : c == u'(' ? TokenKind::Comment : c == u'<' ? TokenKind::Angle : TokenKind::Literal;
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
    const bool closed
        = token.size() >= 2 && ((token.front() == u'"' && token.back() == u'"') || (token.front() == u'(' && token.back() == u')'));
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
        if (!text.empty() && !isBlank(text.back()) && text.back() != u':' && text.back() != u'(')
            line_.appendPlain(u" ");
    }

    std::u16string_view value_;
    const HeaderCharset& charset_;
    FieldLine& line_;
    std::vector<Token> tokens_;
    bool phraseWasEncoded_ = false;
};

/// Rewrites one field (all its lines) into `out`; false when it is copied unchanged.
bool rewriteField(std::u16string_view field, std::u16string_view terminator, const HeaderCharset& charset, std::u16string& out)
{
    const TextLine first = textLineAt(field, 0);
    const std::u16string_view firstContents = field.substr(0, first.contentsEnd);
    const std::size_t colon = firstContents.find(u':');
    if (colon == std::u16string_view::npos || colon == 0)
        return false;
    const std::u16string_view name = firstContents.substr(0, colon);
    if (!isAscii(name) || std::any_of(name.begin(), name.end(), [](char16_t c) { return isBlank(c); }))
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
    // Not folded before the value's first word (unless a long name or blanks leave no
    // room for it): a reader would keep the fold's blank as a leading space of the value.
    const std::size_t firstWord = std::min(line.text.find_first_not_of(u" \t", name.size() + 1), line.text.size());
    if (firstWord < kLineLength)
        std::erase_if(line.foldPoints, [firstWord](std::size_t point) { return point <= firstWord; });
    appendFolded(line.text, line.foldPoints, terminator, out);
    out.append(lastTerminator);
    return true;
}

} // namespace

bool isUnstructuredField(std::u16string_view name) { return kindOf(name) == FieldKind::Unstructured; }

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
        while (end < header.size() && isBlank(header[end]))
            end = textLineAt(header, end).end;
        const std::u16string_view original = header.substr(pos, end - pos);
        std::u16string_view field = original;
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
        const std::u16string_view terminator
            = first.end > first.contentsEnd ? header.substr(first.contentsEnd, first.end - first.contentsEnd) : kCRLF;
        const std::size_t before = out.size();
        if (!rewriteField(field, terminator, charset, out)) {
            out.resize(before); // a field that cannot be rewritten stays exactly as it was
            out.append(original);
        }
        if (!isAscii(std::u16string_view(out).substr(before)))
            ++leftRaw;
    }
    return leftRaw;
}

} // namespace tarnwick
