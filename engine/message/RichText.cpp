#include "engine/message/RichText.h"

#include <optional>
#include <vector>

namespace tarnwick {
namespace {

constexpr std::u16string_view kOpening = u"<x-rich>";
constexpr std::u16string_view kClosing = u"</x-rich>";
constexpr std::size_t kNone = std::u16string_view::npos;
// RFC 1896: a command's name has at most 60 letters, digits and hyphens.
constexpr std::size_t kLongestName = 60;

bool isLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }

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

// A block's text: [begin, end) between its tags, and where its closing tag ends.
struct Block {
    std::size_t begin = kNone;
    std::size_t end = kNone;
    std::size_t next = kNone;
};

// The first block whose opening tag lies at `from` or at a line's start after it. An
// opening tag with no closing tag after it leaves none after it either.
Block nextBlock(std::u16string_view text, std::size_t from)
{
    for (std::size_t at = from; (at = text.find(kOpening, at)) != kNone; ++at) {
        if (at != from && !isLineBreak(text[at - 1]))
            continue;
        const std::size_t closing = text.find(kClosing, at + kOpening.size());
        if (closing == kNone)
            return {};
        return {at + kOpening.size(), closing, closing + kClosing.size()};
    }
    return {};
}

// Text outside the blocks: '<' doubled, a run of line breaks preceded by a copy of its
// first (so that no terminator is cut: CR LF stays whole) unless it ends the body.
void appendEscaped(std::u16string_view plain, bool endsBody, std::u16string& out)
{
    std::size_t at = 0;
    while (at < plain.size()) {
        const std::size_t special = plain.find_first_of(u"<\r\n", at);
        out.append(plain.substr(at, special == kNone ? kNone : special - at));
        if (special == kNone)
            return;
        if (plain[special] == u'<') {
            out.append(u"<<");
            at = special + 1;
            continue;
        }
        std::size_t end = special;
        while (end < plain.size() && isLineBreak(plain[end]))
            ++end;
        if (!endsBody || end < plain.size()) {
            const bool crlf = plain[special] == u'\r' && special + 1 < end && plain[special + 1] == u'\n';
            out.append(plain.substr(special, crlf ? 2 : 1));
        }
        out.append(plain.substr(special, end - special));
        at = end;
    }
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

void appendClosing(std::u16string_view name, std::u16string& out)
{
    out.append(u"</");
    out.append(name);
    out.append(u">");
}

// The commands a block has open, the innermost last, and those left out for depth.
struct OpenCommands {
    std::vector<std::u16string_view> names;
    std::size_t leftOut = 0;
};

// A closing command: written when it closes an open one (after closing those opened
// inside it), left out otherwise.
void closeCommand(const Command& command, std::u16string_view text, OpenCommands& open, std::u16string& out)
{
    if (open.leftOut > 0) {
        --open.leftOut; // closes one left out for depth
        return;
    }
    for (std::size_t k = open.names.size(); k-- > 0;) {
        if (!sameName(open.names[k], command.name))
            continue;
        while (open.names.size() > k + 1) {
            appendClosing(open.names.back(), out);
            open.names.pop_back();
        }
        out.append(text);
        open.names.pop_back();
        return;
    }
}

// A block's enriched text, with its commands balanced.
void appendBlock(std::u16string_view block, std::u16string& out)
{
    OpenCommands open;
    std::size_t at = 0;
    while (at < block.size()) {
        const std::size_t lt = block.find(u'<', at);
        out.append(block.substr(at, lt == kNone ? kNone : lt - at));
        if (lt == kNone)
            break;
        if (lt + 1 < block.size() && block[lt + 1] == u'<') {
            out.append(u"<<");
            at = lt + 2;
            continue;
        }
        const std::optional<Command> command = commandAt(block, lt);
        if (!command) {
            out.append(u"<<"); // a '<' that starts no command reads as itself
            at = lt + 1;
            continue;
        }
        at = lt + command->length;
        const std::u16string_view text = block.substr(lt, command->length);
        if (command->closing) {
            closeCommand(*command, text, open, out);
        } else if (open.names.size() < kDeepestRichText && open.leftOut == 0) {
            open.names.push_back(command->name);
            out.append(text);
        } else {
            ++open.leftOut;
        }
    }
    while (!open.names.empty()) {
        appendClosing(open.names.back(), out);
        open.names.pop_back();
    }
}

} // namespace

bool mayHoldRichText(std::string_view body) { return body.find("<x-rich>") != std::string_view::npos; }

bool richTextBody(std::u16string& text, std::size_t bodyStart)
{
    if (bodyStart > text.size())
        return false;
    const std::u16string_view all = text;
    Block block = nextBlock(all, bodyStart);
    if (block.begin == kNone)
        return false;
    std::u16string out;
    out.reserve(text.size() + text.size() / 8);
    out.append(all.substr(0, bodyStart));
    std::size_t at = bodyStart;
    while (block.begin != kNone) {
        appendEscaped(all.substr(at, block.begin - kOpening.size() - at), false, out);
        appendBlock(all.substr(block.begin, block.end - block.begin), out);
        at = block.next;
        block = nextBlock(all, at);
    }
    appendEscaped(all.substr(at), true, out);
    text.swap(out);
    return true;
}

} // namespace tarnwick
