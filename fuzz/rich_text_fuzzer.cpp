// Fuzzes richTextBody with random text (each byte one code unit, 0xFF as a unit outside
// Latin 1), a random body start and form: text without a block stays as it was;
// rewritten text keeps everything before the body, and as text/enriched its body is
// well-formed enriched text: every '<' is "<<" or a command of 1 to 60 letters, digits
// and hyphens, every closing command closes the innermost open one, and none is left
// open at the end. The byte-level test never misses a body that holds a block. The
// layout learnt and the rewrite given the body in blocks of a random size agree with
// the rewrite of the body whole.

#include "FuzzSupport.h"

#include "engine/message/RichText.h"

#include <optional>
#include <vector>

namespace {

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool isNameCharacter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'; }

// Whether `body` is enriched text whose commands all balance.
bool isBalancedEnriched(std::u16string_view body)
{
    std::vector<std::u16string_view> open;
    for (std::size_t at = body.find(u'<'); at != std::u16string_view::npos; at = body.find(u'<', at)) {
        if (at + 1 < body.size() && body[at + 1] == u'<') {
            at += 2;
            continue;
        }
        std::size_t i = at + 1;
        const bool closing = i < body.size() && body[i] == u'/';
        if (closing)
            ++i;
        const std::size_t start = i;
        while (i < body.size() && isNameCharacter(body[i]))
            ++i;
        if (i == start || i - start > 60 || i >= body.size() || body[i] != u'>')
            return false;
        const std::u16string_view name = body.substr(start, i - start);
        if (!closing) {
            open.push_back(name);
        } else {
            if (open.empty() || !sameName(open.back(), name))
                return false;
            open.pop_back();
        }
        at = i + 1;
    }
    return open.empty();
}

// The body of `text` rewritten block by block, in blocks of `block` units.
std::optional<std::u16string> inBlocks(std::u16string_view body, std::size_t block, tarnwick::RichTextForm form)
{
    tarnwick::RichTextLayout layout;
    for (std::size_t at = 0; at < body.size(); at += block)
        layout.feed(body.substr(at, block));
    if (!layout.holdsBlock())
        return std::nullopt;
    tarnwick::RichTextRewriter rewriter(layout, form);
    std::u16string out;
    for (std::size_t at = 0; at < body.size(); at += block)
        rewriter.feed(body.substr(at, block), out);
    rewriter.finish(out);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarnwick::fuzz::Picker pick(data, size);
    const std::size_t wanted = pick.byte();
    const std::uint8_t choice = pick.byte();
    const auto form = (choice & 1) != 0 ? tarnwick::RichTextForm::Html : tarnwick::RichTextForm::Enriched;
    const std::size_t block = (choice >> 1) + 1;
    std::u16string text;
    std::string bytes;
    for (std::size_t i = 0; i < pick.size(); ++i) {
        const std::uint8_t b = pick.data()[i];
        text += b == 0xFF ? u'\u4E2D' : static_cast<char16_t>(b);
        bytes += static_cast<char>(b);
    }
    const std::size_t bodyStart = wanted <= text.size() + 1 ? wanted : wanted % (text.size() + 2);
    const std::u16string before = text;
    const bool rewritten = tarnwick::richTextBody(text, bodyStart, form);
    if (!rewritten) {
        FUZZ_CHECK(text == before);
        FUZZ_CHECK(bodyStart > before.size() || !inBlocks(std::u16string_view(before).substr(bodyStart), block, form));
        return 0;
    }
    FUZZ_CHECK(bodyStart <= before.size());
    FUZZ_CHECK(tarnwick::mayHoldRichText(std::string_view(bytes).substr(bodyStart)));
    FUZZ_CHECK(std::u16string_view(text).substr(0, bodyStart) == std::u16string_view(before).substr(0, bodyStart));
    if (form == tarnwick::RichTextForm::Enriched)
        FUZZ_CHECK(isBalancedEnriched(std::u16string_view(text).substr(bodyStart)));
    const std::optional<std::u16string> streamed = inBlocks(std::u16string_view(before).substr(bodyStart), block, form);
    FUZZ_CHECK(streamed && *streamed == std::u16string_view(text).substr(bodyStart));
    return 0;
}
