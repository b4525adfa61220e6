// Fuzzes scanTag with random bytes, lengths and tag names: it must never read outside
// the given length, and its answer must match a plain reference reading of the tag
// rules (opening tag, untrimmed parameter, first exact closing tag, no nesting).

#include "FuzzSupport.h"

#include "engine/message/TagScanner.h"

namespace {

using tarnwick::ByteRange;
using tarnwick::EncodingId;
using tarnwick::fuzz::ExactBytes;
using tarnwick::fuzz::Picker;

struct Expected {
    bool found = false;
    ByteRange opening, closing;
    bool hasParameter = false;
};

Expected reference(std::string_view b, std::string_view name)
{
    Expected result;
    const std::size_t n = name.size();
    if (b.empty() || b[0] != '<' || b.size() < n + 2 || b.substr(1, n) != name)
        return result;
    std::size_t openingLength = 0;
    if (b[n + 1] == '>') {
        openingLength = n + 2;
    } else if (b[n + 1] == ' ') {
        const std::size_t gt = b.find('>', n + 2);
        if (gt == std::string_view::npos)
            return result;
        openingLength = gt + 1;
        result.hasParameter = true;
    } else {
        return result;
    }
    const std::string closingTag = "</" + std::string(name) + ">";
    const std::size_t f = b.find(closingTag, openingLength);
    if (f == std::string_view::npos)
        return result;
    result.found = true;
    result.opening = {0, openingLength};
    result.closing = {f, n + 3};
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarnwick::fuzz::setUpOnce();
    Picker pick(data, size);
    const std::uint8_t mode = pick.byte();
    static const char* const kNames[] = {"x-charset", "x-flowed", "x-html"};
    std::string name = kNames[(mode & 3) % 3];
    if ((mode & 3) == 3) {
        // A name of 0 to 15 bytes from the input, without zero bytes.
        name.clear();
        for (std::size_t count = pick.byte() % 16; count > 0 && pick.size() > 0; --count) {
            const char c = static_cast<char>(pick.byte());
            name += c == '\0' ? 'x' : c;
        }
    }
    // Either all remaining bytes, or a shorter length over an exact copy of that many.
    std::size_t length = pick.size();
    if (mode & 4)
        length = pick.byte() % (pick.size() + 1);
    const ExactBytes bytes(pick.data(), length);

    const std::string_view input = length ? bytes.view() : (mode & 8 ? std::string_view() : bytes.view());
    const std::optional<tarnwick::TagBlock> block = tarnwick::scanTag(input, name);
    const Expected expected = reference(bytes.view(), name);
    FUZZ_CHECK(block.has_value() == expected.found);
    if (!block)
        return 0;
    const auto [opening, closing, encoding] = *block;
    FUZZ_CHECK(opening == expected.opening);
    FUZZ_CHECK(closing == expected.closing);
    FUZZ_CHECK(closing.location >= opening.location + opening.length);
    FUZZ_CHECK(closing.location + closing.length <= length);
    if (!expected.hasParameter)
        FUZZ_CHECK(encoding == tarnwick::kEncodingNone);
    return 0;
}
