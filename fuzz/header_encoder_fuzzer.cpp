// Fuzzes the header encoder with any header text in any output charset: every field
// must decode back to its text (unstructured fields) or keep its angle addresses
// (address fields), and no line it rewrote may exceed 998 characters. Encoding the
// fields one at a time must give the bytes of encoding the header at once.

#include "FuzzSupport.h"

#include "engine/header/HeaderEncoder.h"
#include "../tests/engine/EncodedWordDecoder.h"

#include <algorithm>

namespace {

using namespace tarnwick;

constexpr HeaderCharset kCharsets[] = {
    {kEncodingUTF8, "utf-8"}, {kEncodingISOLatin1, "iso-8859-1"}, {21, "iso-2022-jp"}, {kEncodingShiftJIS, "shift_jis"},
    {12, "windows-1252"},     {kEncodingASCII, "us-ascii"},       {3, "euc-jp"},
};

bool isAscii(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

bool isUnstructured(std::u16string_view name)
{
    std::u16string lower(name);
    for (char16_t& c : lower)
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return lower == u"subject" || lower == u"comments" || lower == u"x-mailer" || lower == u"x-note";
}

bool isAddressField(std::u16string_view name)
{
    std::u16string lower(name);
    for (char16_t& c : lower)
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return lower == u"from" || lower == u"to" || lower == u"cc" || lower == u"reply-to";
}

std::size_t longestRun(std::u16string_view text)
{
    std::size_t longest = 0;
    std::size_t run = 0;
    for (const char16_t c : text) {
        run = c == u' ' || c == u'\t' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const HeaderCharset& charset = kCharsets[data[0] % std::size(kCharsets)];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::u16string header;
    if (!decodeAppend(bytes.data(), bytes.size(), kEncodingUTF8, header)) {
        header.clear();
        decodeAppend(bytes.data(), bytes.size(), kEncodingISOLatin1, header);
    }
    // The encoder is given header lines: a field starts each one, and the last one ends.
    if (header.empty() || header.front() == u' ' || header.front() == u'\t')
        header.insert(0, u"X:");
    if (header.back() != u'\n' && header.back() != u'\r')
        header.push_back(u'\n');

    std::u16string out;
    encodeHeaderFields(header, charset, out);

    // Field by field, as the encoder cuts them: a line and the lines that begin with a blank.
    std::u16string byField;
    for (std::size_t start = 0; start < header.size();) {
        std::size_t end = start;
        do {
            end = header.find_first_of(u"\r\n", end);
            end = end == std::u16string::npos ? header.size() : end + 1;
            if (end < header.size() && header[end - 1] == u'\r' && header[end] == u'\n')
                ++end;
        } while (end < header.size() && (header[end] == u' ' || header[end] == u'\t'));
        encodeHeaderFields(std::u16string_view(header).substr(start, end - start), charset, byField);
        start = end;
    }
    FUZZ_CHECK(byField == out);

    const auto before = testing::unfoldFields(header);
    const auto after = testing::unfoldFields(out);
    FUZZ_CHECK(before.size() == after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        FUZZ_CHECK(before[i].name == after[i].name);
        if (before[i].raw == after[i].raw)
            continue;
        // A rewritten field: short lines, unless a run without blanks (an address) cannot break.
        if (longestRun(before[i].value) < 900) {
            std::size_t start = 0;
            while (start < after[i].raw.size()) {
                std::size_t end = after[i].raw.find_first_of(u"\r\n", start);
                if (end == std::u16string::npos)
                    end = after[i].raw.size();
                FUZZ_CHECK(end - start <= 998);
                start = end + 1;
            }
        }
        if (isUnstructured(before[i].name)) {
            FUZZ_CHECK(isAscii(after[i].value));
            // Encoded-words already there are decoded, not encoded again; a NUL is shown as
            // SYMBOL FOR NULL, since readers end a field at a raw one.
            std::u16string expected = decodeEncodedWords(before[i].value).value_or(before[i].value);
            std::replace(expected.begin(), expected.end(), u'\0', u'\u2400');
            FUZZ_CHECK(testing::decodeText(after[i].value) == expected);
        }
        if (isAddressField(before[i].name)) {
            std::u16string shown = before[i].value; // a NUL is shown in addresses too
            std::replace(shown.begin(), shown.end(), u'\0', u'\u2400');
            FUZZ_CHECK(testing::angleAddresses(after[i].value) == testing::angleAddresses(shown));
        }
    }
    return 0;
}
