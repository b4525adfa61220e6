#include "engine/message/RichText.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarnwick {
namespace {

constexpr std::u16string_view kOpening = u"<x-rich>";
constexpr std::u16string_view kClosing = u"</x-rich>";
constexpr std::size_t kNone = std::u16string_view::npos;
// RFC 1896: a command's name has at most 60 letters, digits and hyphens.
constexpr std::size_t kLongestName = 60;
// The units a '<' in a block is decided on: "</", a name one longer than allowed, '>'.
constexpr std::size_t kLookahead = 64;
constexpr std::size_t kNoPending = SIZE_MAX;
constexpr int kParameter = -2; // an open <param>

bool isLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

// The first '<' at `from` or after it: the bytes are searched for its byte 0x3C, as
// the byte search goes many at a time.
std::size_t findLessThan(std::u16string_view text, std::size_t from)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t end = text.size() * 2;
    for (std::size_t at = from * 2; at < end;) {
        const void* found = std::memchr(bytes + at, '<', end - at);
        if (found == nullptr)
            return kNone;
        // The unit that holds the byte found, whatever the byte order.
        const std::size_t unit = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - bytes) / 2;
        if (text[unit] == u'<')
            return unit;
        at = (unit + 1) * 2;
    }
    return kNone;
}

bool isNameCharacter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'; }

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct Command {
    std::size_t length = 0; // from its '<' to its '>'
    std::u16string_view name;
    bool closing = false;
};

// The command "<name>" or "</name>" that begins at the '<' at `at`, if one does.
std::optional<Command> commandAt(std::u16string_view text, std::size_t at)
{
    std::size_t i = at + 1;
    const bool closing = i < text.size() && text[i] == u'/';
    if (closing)
        ++i;
    const std::size_t start = i;
    while (i < text.size() && i - start <= kLongestName && isNameCharacter(text[i]))
        ++i;
    if (i == start || i - start > kLongestName || i >= text.size() || text[i] != u'>')
        return std::nullopt;
    return Command{i + 1 - at, text.substr(start, i - start), closing};
}

// The HTML elements the commands become; those with an attribute take it from the
// parameter that follows the command.
enum class Attribute { None, Face, Color, Indent };
struct Element {
    std::u16string_view command;
    std::u16string_view opening;
    std::u16string_view closing;
    Attribute attribute = Attribute::None;
};
constexpr Element kElements[] = {
    {u"bold", u"<b>", u"</b>"},
    {u"italic", u"<i>", u"</i>"},
    {u"underline", u"<u>", u"</u>"},
    {u"fixed", u"<tt>", u"</tt>"},
    {u"bigger", u"<big>", u"</big>"},
    {u"smaller", u"<small>", u"</small>"},
    {u"x-tad-bigger", u"<big>", u"</big>"},
    {u"x-tad-smaller", u"<small>", u"</small>"},
    {u"center", u"<div style=\"text-align:center\">", u"</div>"},
    {u"flushleft", u"<div style=\"text-align:left\">", u"</div>"},
    {u"flushright", u"<div style=\"text-align:right\">", u"</div>"},
    {u"flushboth", u"<div style=\"text-align:justify\">", u"</div>"},
    {u"excerpt", u"<blockquote type=\"cite\">", u"</blockquote>"},
    {u"fontfamily", u"<font>", u"</font>", Attribute::Face},
    {u"color", u"<font>", u"</font>", Attribute::Color},
    {u"paraindent", u"<div>", u"</div>", Attribute::Indent},
};

int elementOf(std::u16string_view name)
{
    for (std::size_t i = 0; i < std::size(kElements); ++i) {
        if (sameName(name, kElements[i].command))
            return static_cast<int>(i);
    }
    return -1;
}

bool isHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (lower(c) >= u'a' && lower(c) <= u'f'); }
bool isLetter(char16_t c) { return lower(c) >= u'a' && lower(c) <= u'z'; }

std::u16string_view trimmed(std::u16string_view text)
{
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || isLineBreak(c); };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A colour parameter as HTML: "rrrr,gggg,bbbb" (RFC 1896) as #rrggbb, a name of letters
// as it is; empty when it is neither.
std::u16string htmlColor(std::u16string_view parameter)
{
    const std::u16string_view value = trimmed(parameter);
    if (value.size() == 14 && value[4] == u',' && value[9] == u',') {
        std::u16string color = u"#";
        for (const std::size_t at : {0, 5, 10}) {
            for (std::size_t i = at; i < at + 4; ++i) {
                if (!isHexDigit(value[i]))
                    return {};
            }
            color.append(value.substr(at, 2));
        }
        return color;
    }
    if (value.empty() || value.size() > 32 || !std::all_of(value.begin(), value.end(), isLetter))
        return {};
    return std::u16string(value);
}

// A character of text in HTML: the markup characters as character references.
void appendHtmlText(char16_t c, std::u16string& out)
{
    switch (c) {
    case u'&':
        out.append(u"&amp;");
        break;
    case u'<':
        out.append(u"&lt;");
        break;
    case u'>':
        out.append(u"&gt;");
        break;
    default:
        out.push_back(c);
    }
}

// A font name as an attribute value: line breaks as spaces, the markup characters as
// character references.
std::u16string htmlFace(std::u16string_view parameter)
{
    std::u16string face;
    for (const char16_t c : trimmed(parameter)) {
        if (c == u'"')
            face.append(u"&quot;");
        else
            appendHtmlText(isLineBreak(c) ? u' ' : c, face);
    }
    return face;
}

// RFC 1896's paraindent parameter: a comma-separated list of left, right, in and out.
std::u16string htmlIndent(std::u16string_view parameter)
{
    bool left = false;
    bool right = false;
    for (std::size_t at = 0; at <= parameter.size();) {
        const std::size_t comma = std::min(parameter.find(u',', at), parameter.size());
        const std::u16string_view word = trimmed(parameter.substr(at, comma - at));
        left = left || sameName(word, u"left");
        right = right || sameName(word, u"right");
        at = comma + 1;
    }
    std::u16string style;
    if (left || !right)
        style.append(u"margin-left:2em");
    if (right)
        style.append(left ? u";margin-right:2em" : u"margin-right:2em");
    return u"<div style=\"" + style + u"\">";
}

} // namespace

bool mayHoldRichText(std::string_view body) { return body.find("<x-rich>") != std::string_view::npos; }

void RichTextLayout::feed(std::u16string_view text)
{
    for (std::size_t i = text.size(); i-- > 0;) {
        if (!isLineBreak(text[i])) {
            contentEnd_ = offset_ + i + 1;
            break;
        }
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (opening_ == 0 && closing_ == 0) {
            // '<' begins both tags and comes nowhere else in them: a tag whole in `text`
            // is told at its '<', and a '<' that begins neither is passed over.
            const std::size_t lt = findLessThan(text, i);
            if (lt == kNone)
                break;
            const char16_t before = lt > 0 ? text[lt - 1] : previous_;
            if (lt + kClosing.size() <= text.size()) {
                const std::u16string_view tag = text.substr(lt, kClosing.size());
                if (tag.starts_with(kOpening) && firstOpening_ == kNone && (offset_ + lt == 0 || isLineBreak(before)))
                    firstOpening_ = offset_ + lt;
                else if (tag == kClosing)
                    lastClosing_ = offset_ + lt;
                i = lt;
                continue;
            }
            previous_ = before;
            i = lt;
        }
        matchUnit(text[i], offset_ + i);
    }
    if (!text.empty())
        previous_ = text.back();
    offset_ += text.size();
}

// One unit of a tag that may go on past the text fed so far.
void RichTextLayout::matchUnit(char16_t c, std::uint64_t at)
{
    if (c == u'<') {
        opening_ = closing_ = 1;
        lineStart_ = at == 0 || isLineBreak(previous_);
    } else {
        opening_ = static_cast<std::uint8_t>(opening_ > 0 && c == kOpening[opening_] ? opening_ + 1 : 0);
        closing_ = static_cast<std::uint8_t>(closing_ > 0 && c == kClosing[closing_] ? closing_ + 1 : 0);
        if (opening_ == kOpening.size()) {
            if (lineStart_ && firstOpening_ == kNone)
                firstOpening_ = at + 1 - kOpening.size();
            opening_ = 0;
        }
        if (closing_ == kClosing.size()) {
            lastClosing_ = at + 1 - kClosing.size();
            closing_ = 0;
        }
    }
    previous_ = c;
}

RichTextRewriter::RichTextRewriter(const RichTextLayout& layout, RichTextForm form)
    : lastClosing_(layout.lastClosing()), contentEnd_(layout.contentEnd()), form_(form)
{}

void RichTextRewriter::feed(std::u16string_view text, std::u16string& out)
{
    if (held_.empty()) {
        held_.assign(text.substr(process(text, false, out)));
        return;
    }
    // The units held are rewritten with enough of `text` after them, the rest of it in place.
    const std::size_t before = held_.size();
    const std::size_t head = std::min(text.size(), kLookahead);
    held_.append(text.substr(0, head));
    const std::size_t used = process(held_, false, out);
    if (head == text.size() || used < before) {
        held_.erase(0, used);
        held_.append(text.substr(head));
        return;
    }
    const std::u16string_view rest = text.substr(used - before);
    held_.assign(rest.substr(process(rest, false, out)));
}

void RichTextRewriter::finish(std::u16string& out)
{
    process(held_, true, out);
    held_.clear();
    if (inBlock_)
        closeBlock(out);
}

// Rewrites `text` up to where the units after it are needed (all of it when `last`);
// returns how many units it took.
std::size_t RichTextRewriter::process(std::u16string_view text, bool last, std::u16string& out)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::u16string_view rest = text.substr(at);
        const std::size_t step = inBlock_ ? blockStep(rest, last, out) : outsideStep(rest, last, out);
        if (step == 0)
            break;
        at += step;
        offset_ += step;
    }
    return at;
}

// Outside the blocks: a block's opening tag, a '<', a run of line breaks or other text.
std::size_t RichTextRewriter::outsideStep(std::u16string_view text, bool last, std::u16string& out)
{
    const bool enriched = form_ == RichTextForm::Enriched;
    const char16_t c = text[0];
    if (c == u'<') {
        if ((atFrom_ || inRun_) && lastClosing_ != RichTextLayout::kNone && lastClosing_ >= offset_ + kOpening.size()) {
            if (text.size() < kOpening.size() && !last)
                return 0;
            if (text.starts_with(kOpening)) {
                inBlock_ = true;
                atFrom_ = inRun_ = false;
                return kOpening.size();
            }
        }
        out.append(enriched ? u"<<" : u"<");
        atFrom_ = inRun_ = false;
        return 1;
    }
    if (isLineBreak(c)) {
        if (!inRun_) {
            // A copy of the run's first terminator, unless the run ends the body.
            if (text.size() < 2 && !last)
                return 0;
            if (enriched && offset_ < contentEnd_)
                out.append(text.substr(0, c == u'\r' && text.size() > 1 && text[1] == u'\n' ? 2 : 1));
            inRun_ = true;
        }
        std::size_t end = 1;
        while (end < text.size() && isLineBreak(text[end]))
            ++end;
        out.append(text.substr(0, end));
        atFrom_ = false;
        return end;
    }
    const std::size_t end = std::min(text.find_first_of(u"<\r\n"), text.size());
    out.append(text.substr(0, end));
    atFrom_ = inRun_ = false;
    return end;
}

// Inside a block: its closing tag, a '<' as itself, a command or other text.
std::size_t RichTextRewriter::blockStep(std::u16string_view text, bool last, std::u16string& out)
{
    const std::size_t lt = text.find(u'<');
    if (lt != 0) {
        const std::size_t end = std::min(lt, text.size());
        blockText(text.substr(0, end), out);
        return end;
    }
    if (text.size() < kLookahead && !last)
        return 0;
    if (text.starts_with(kClosing)) {
        closeBlock(out);
        inBlock_ = false;
        atFrom_ = true;
        return kClosing.size();
    }
    if (text.size() > 1 && text[1] == u'<') {
        lessThan(out);
        // The second '<' may begin the block's closing tag.
        return text.substr(1).starts_with(kClosing) ? 1 : 2;
    }
    const std::optional<Command> command = commandAt(text, 0);
    if (!command) {
        lessThan(out); // a '<' that starts no command reads as itself
        return 1;
    }
    const std::u16string_view whole = text.substr(0, command->length);
    if (command->closing)
        closeCommand(command->name, whole, out);
    else
        openCommand(command->name, whole, out);
    return command->length;
}

void RichTextRewriter::lessThan(std::u16string& out)
{
    if (form_ == RichTextForm::Enriched)
        out.append(u"<<");
    else
        blockText(u"<", out);
}

// A block's text: as it is in enriched text; as HTML escaped, a <br> before each line
// break of a run after its first, or kept for the attribute inside a parameter.
void RichTextRewriter::blockText(std::u16string_view text, std::u16string& out)
{
    if (form_ == RichTextForm::Enriched) {
        out.append(text);
        return;
    }
    if (hidden_ > 0) {
        parameter_.append(text.substr(0, std::min(text.size(), kLongestRichParameter - parameter_.size())));
        return;
    }
    if (pending_ != kNoPending)
        writePending({}, out);
    for (const char16_t c : text) {
        if (isLineBreak(c)) {
            const bool sameTerminator = c == u'\n' && afterCR_; // CR LF is one line break
            if (!sameTerminator && breaks_++ > 0)
                out.append(u"<br>");
            afterCR_ = c == u'\r';
            out.push_back(c);
            continue;
        }
        breaks_ = 0;
        afterCR_ = false;
        appendHtmlText(c, out);
    }
}

void RichTextRewriter::openCommand(std::u16string_view name, std::u16string_view text, std::u16string& out)
{
    if (open_.size() >= kDeepestRichText || leftOut_ > 0) {
        ++leftOut_;
        return;
    }
    if (form_ == RichTextForm::Enriched) {
        open_.push_back({std::u16string(name)});
        out.append(text);
        return;
    }
    if (sameName(name, u"param")) {
        open_.push_back({std::u16string(name), kParameter});
        if (hidden_++ == 0)
            parameter_.clear();
        return;
    }
    if (hidden_ == 0 && pending_ != kNoPending)
        writePending({}, out);
    const int element = hidden_ == 0 ? elementOf(name) : -1;
    open_.push_back({std::u16string(name), element});
    if (element < 0)
        return;
    const Element& html = kElements[static_cast<std::size_t>(element)];
    if (html.attribute != Attribute::None) {
        pending_ = open_.size() - 1;
        return;
    }
    out.append(html.opening);
    open_.back().written = true;
}

// A closing command: written when it closes an open one (after closing those opened
// inside it), left out otherwise.
void RichTextRewriter::closeCommand(std::u16string_view name, std::u16string_view text, std::u16string& out)
{
    if (leftOut_ > 0) {
        --leftOut_; // closes one left out for depth
        return;
    }
    for (std::size_t k = open_.size(); k-- > 0;) {
        if (!sameName(open_[k].name, name))
            continue;
        while (open_.size() > k + 1)
            closeTop(out);
        if (form_ == RichTextForm::Enriched) {
            out.append(text);
            open_.pop_back();
        } else {
            closeTop(out);
        }
        return;
    }
}

void RichTextRewriter::closeTop(std::u16string& out)
{
    const Open top = std::move(open_.back());
    open_.pop_back();
    if (form_ == RichTextForm::Enriched) {
        out.append(u"</");
        out.append(top.name);
        out.append(u">");
        return;
    }
    if (top.element == kParameter) {
        // A parameter closed: the command waiting for it gets its attribute.
        if (--hidden_ == 0 && pending_ != kNoPending && pending_ + 1 == open_.size())
            writePending(parameter_, out);
        return;
    }
    if (pending_ == open_.size())
        pending_ = kNoPending;
    if (top.written)
        out.append(kElements[static_cast<std::size_t>(top.element)].closing);
}

// The opening tag of the command that waits for its parameter, with `parameter`.
void RichTextRewriter::writePending(std::u16string_view parameter, std::u16string& out)
{
    Open& open = open_[pending_];
    pending_ = kNoPending;
    open.written = true;
    const Element& html = kElements[static_cast<std::size_t>(open.element)];
    std::u16string value;
    if (html.attribute == Attribute::Indent) {
        out.append(htmlIndent(parameter));
        return;
    }
    value = html.attribute == Attribute::Face ? htmlFace(parameter) : htmlColor(parameter);
    if (value.empty()) {
        out.append(html.opening);
        return;
    }
    out.append(html.attribute == Attribute::Face ? u"<font face=\"" : u"<font color=\"");
    out.append(value);
    out.append(u"\">");
}

// The block's end: the commands it left open are closed.
void RichTextRewriter::closeBlock(std::u16string& out)
{
    while (!open_.empty())
        closeTop(out);
    leftOut_ = 0;
    pending_ = kNoPending;
    hidden_ = 0;
    parameter_.clear();
    breaks_ = 0;
    afterCR_ = false;
}

bool richTextBody(std::u16string& text, std::size_t bodyStart, RichTextForm form)
{
    if (bodyStart > text.size())
        return false;
    // A cheap look first: most bodies hold no opening tag at all.
    const std::u16string_view all = text;
    std::size_t lt = findLessThan(all, bodyStart);
    while (lt != kNone && !all.substr(lt).starts_with(kOpening))
        lt = findLessThan(all, lt + 1);
    if (lt == kNone)
        return false;
    const std::u16string_view body = std::u16string_view(text).substr(bodyStart);
    RichTextLayout layout;
    layout.feed(body);
    if (!layout.holdsBlock())
        return false;
    std::u16string out;
    out.reserve(text.size() + text.size() / 8);
    out.append(std::u16string_view(text).substr(0, bodyStart));
    RichTextRewriter rewriter(layout, form);
    rewriter.feed(body, out);
    rewriter.finish(out);
    text.swap(out);
    return true;
}

} // namespace tarnwick
