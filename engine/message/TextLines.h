#pragma once
// Lines of the UTF-16 working text. Only CR, LF and CR LF end a line, as in the
// mailbox itself: NEL, U+2028 and U+2029 are ordinary characters here, so a header
// line holding one of them (0x85 in ISO Latin 1) does not split.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnwick {

struct TextLine {
    std::size_t start = 0;
    std::size_t contentsEnd = 0; // position of the terminator, or the end of the text
    std::size_t end = 0;         // position after the terminator
};

/// The line that begins at `start` (start <= text.size()).
TextLine textLineAt(std::u16string_view text, std::size_t start);

/// Lines of a text given block by block, cut as textLineAt cuts them (CR, LF, CR LF):
/// `handler.begin(offset)` when a line starts, `handler.contents(text)` for its text
/// in any number of parts, `handler.end(terminator)` when it ends ("" at the end of the
/// text). A CR at the end of a block waits for the next block.
template <typename Handler> class TextLineWalker {
public:
    explicit TextLineWalker(Handler& handler) : handler_(handler) {}

    void feed(std::u16string_view text)
    {
        std::size_t i = 0;
        if (afterCR_ && !text.empty()) {
            afterCR_ = false;
            inLine_ = false;
            if (text[0] == u'\n') {
                handler_.end(u"\r\n");
                i = 1;
            } else {
                handler_.end(u"\r");
            }
        }
        const std::size_t n = text.size();
        while (i < n) {
            if (!inLine_) {
                handler_.begin(offset_ + i);
                inLine_ = true;
            }
            std::size_t j = i;
            while (j < n && text[j] != u'\r' && text[j] != u'\n')
                ++j;
            if (j > i)
                handler_.contents(text.substr(i, j - i));
            if (j == n)
                break;
            if (text[j] == u'\n') {
                handler_.end(u"\n");
                inLine_ = false;
                i = j + 1;
            } else if (j + 1 == n) {
                afterCR_ = true;
                i = n;
            } else {
                const bool pair = text[j + 1] == u'\n';
                handler_.end(pair ? u"\r\n" : u"\r");
                inLine_ = false;
                i = j + (pair ? 2 : 1);
            }
        }
        offset_ += n;
    }

    void finish()
    {
        if (afterCR_)
            handler_.end(u"\r");
        else if (inLine_)
            handler_.end(u"");
        afterCR_ = false;
        inLine_ = false;
    }

private:
    Handler& handler_;
    std::uint64_t offset_ = 0;
    bool inLine_ = false;
    bool afterCR_ = false;
};

} // namespace tarnwick
