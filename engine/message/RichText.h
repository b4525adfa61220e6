#pragma once
// Eudora's styled text: an <x-rich> block holds text/enriched (RFC 1896) as Eudora
// received or wrote it (<bold>, <italic>, <fontfamily><param>Arial</param>...). A body
// that holds such blocks is written as text/enriched, which Thunderbird, Apple Mail and
// mutt show formatted: the blocks' text as it is, the text around them escaped so that
// it reads as it stood. In a body Eudora wrote as HTML the blocks become HTML markup
// instead (<b>, <i>, <font face=...>, ...), their text escaped as HTML.
//
// The rewrite goes through the text once to learn where its blocks lie (RichTextLayout),
// then rewrites it as it streams by (RichTextRewriter): a body in memory is given whole,
// a spooled one block by block, with the same result.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// What the blocks become: text/enriched (the text around them escaped) or HTML markup
/// inside an HTML body (the text around them as it is).
enum class RichTextForm { Enriched, Html };

/// A cheap test on a body's bytes: false when they cannot hold a rich-text block (no
/// "<x-rich>" in them). In an encoding whose ASCII bytes are its ASCII characters it is
/// true whenever richTextBody would find a block in the decoded text.
bool mayHoldRichText(std::string_view body);

/// Rewrites the body of `text` (from `bodyStart`) when it holds an <x-rich> block:
/// "<x-rich>" at the body's start or a line's, closed by the first "</x-rich>" after it.
/// As text/enriched, the blocks lose their tags and keep their text, except that a '<'
/// that starts no command becomes "<<", a closing command that closes nothing open goes,
/// and the commands a block leaves open are closed at its end (at most kDeepestRichText
/// stay open; deeper ones go with their closing), so that no block formats the text
/// after it. Outside the blocks each '<' becomes "<<" and each run of line breaks gains
/// one (an enriched reader takes one line break for a space), except a run that ends the
/// body. As HTML, the same commands become balanced HTML elements (those HTML has no
/// counterpart for go, their text stays), a parameter's text goes into its element's
/// attribute, the text is escaped as HTML and each line break after the first of a run
/// gains a <br>; the text outside the blocks stays as it is. False, `text` untouched,
/// when the body holds no block.
bool richTextBody(std::u16string& text, std::size_t bodyStart, RichTextForm form = RichTextForm::Enriched);

/// The most commands a block keeps open at once.
inline constexpr std::size_t kDeepestRichText = 64;

/// Where a body's blocks lie, learnt from its text given block by block (cut anywhere):
/// whether it holds one, the start of its last "</x-rich>" and the end of its last unit
/// that is no line break. Small and copyable: a decoding that tries a piece again goes
/// back to a copy taken before it.
class RichTextLayout {
public:
    static constexpr std::uint64_t kNone = UINT64_MAX;

    void feed(std::u16string_view text);
    bool holdsBlock() const { return firstOpening_ != kNone && lastClosing_ != kNone && lastClosing_ >= firstOpening_ + 8; }
    /// Offset in the body of the last "</x-rich>", kNone when there is none.
    std::uint64_t lastClosing() const { return lastClosing_; }
    /// Offset in the body past its last unit that is no line break (0 when none).
    std::uint64_t contentEnd() const { return contentEnd_; }

private:
    void matchUnit(char16_t c, std::uint64_t at);

    std::uint64_t offset_ = 0;
    std::uint64_t firstOpening_ = kNone; // the first "<x-rich>" at the body's start or a line's
    std::uint64_t lastClosing_ = kNone;
    std::uint64_t contentEnd_ = 0;
    std::uint8_t opening_ = 0; // units of "<x-rich>" matched up to here
    std::uint8_t closing_ = 0; // units of "</x-rich>" matched up to here
    bool lineStart_ = false;   // the '<' matched begins the body or a line
    char16_t previous_ = u'\n';
};

/// richTextBody over a body given block by block (cut anywhere), its layout learnt
/// beforehand: the same text as on the body whole, holding no more of it than a command
/// (and the commands open, a parameter's first kLongestRichParameter units).
class RichTextRewriter {
public:
    RichTextRewriter(const RichTextLayout& layout, RichTextForm form);
    /// Appends to `out` the rewritten text that `text` completes.
    void feed(std::u16string_view text, std::u16string& out);
    /// Appends the rest.
    void finish(std::u16string& out);

private:
    struct Open {
        std::u16string name;
        int element = -1;     // the HTML element it became, -1 for none
        bool written = false; // its HTML opening tag is written
    };
    std::size_t process(std::u16string_view text, bool last, std::u16string& out);
    std::size_t outsideStep(std::u16string_view text, bool last, std::u16string& out);
    std::size_t blockStep(std::u16string_view text, bool last, std::u16string& out);
    void blockText(std::u16string_view text, std::u16string& out);
    void lessThan(std::u16string& out);
    void openCommand(std::u16string_view name, std::u16string_view text, std::u16string& out);
    void closeCommand(std::u16string_view name, std::u16string_view text, std::u16string& out);
    void closeTop(std::u16string& out);
    void writePending(std::u16string_view parameter, std::u16string& out);
    void closeBlock(std::u16string& out);

    std::uint64_t lastClosing_;
    std::uint64_t contentEnd_;
    RichTextForm form_;
    std::uint64_t offset_ = 0; // of the next unit to rewrite, in the body
    std::u16string held_;      // units fed and not yet rewritten
    bool inBlock_ = false;
    bool atFrom_ = true; // at the body's start or right after a block: a block may open here
    bool inRun_ = false; // outside a block, right after a line break
    std::vector<Open> open_;
    std::size_t leftOut_ = 0;        // commands left out for depth, still open
    std::size_t pending_ = SIZE_MAX; // HTML: the open command that waits for its parameter
    std::size_t hidden_ = 0;         // HTML: parameters open (their text is no text)
    std::u16string parameter_;       // HTML: the text of the parameter open
    std::size_t breaks_ = 0;         // HTML: line breaks in the block's current run
    bool afterCR_ = false;           // HTML: the block's last unit was a CR
};

/// The most units of a parameter kept for an HTML attribute.
inline constexpr std::size_t kLongestRichParameter = 256;

} // namespace tarnwick
