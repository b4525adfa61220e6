// The header encoder's rules run over their whole domains rather than over a few chosen
// examples: every field that carries addresses against the unstructured ones, every
// character a Q word must escape, and every output charset across the text lengths
// where B and Q words change places as the shorter.
#include "engine/header/EncodedWords.h"
#include "engine/header/HeaderEncoder.h"

#include "platform/encodings/CaseFold.h"
#include "engine/EncodedWordDecoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

std::u16string utf16(std::string_view utf8)
{
    std::u16string text;
    appendUTF8AsUTF16(utf8, text);
    return text;
}

std::string utf8(std::u16string_view text)
{
    std::string bytes;
    encodeText(text, kEncodingUTF8, bytes);
    return bytes;
}

constexpr HeaderCharset kLatin1{kEncodingISOLatin1, "iso-8859-1"};

struct Encoded {
    std::string header;  // UTF-8
    std::size_t leftRaw; // fields still holding non-ASCII text
};

Encoded encode(std::string_view header, const HeaderCharset& charset = kLatin1)
{
    std::u16string out;
    const std::size_t left = encodeHeaderFields(utf16(header), charset, out);
    return {utf8(out), left};
}

// The encoded-words of a header (their "=?...?=" texts), in order.
std::vector<std::string> encodedWords(const std::string& header)
{
    std::vector<std::string> words;
    for (std::size_t at = header.find("=?"); at != std::string::npos; at = header.find("=?", at)) {
        const std::size_t q1 = header.find('?', at + 2);
        const std::size_t close = q1 == std::string::npos ? q1 : header.find("?=", q1 + 3);
        if (close == std::string::npos)
            break;
        words.push_back(header.substr(at, close + 2 - at));
        at = close + 2;
    }
    return words;
}

// Every field that names mailboxes keeps its addresses as they are and encodes only the
// display names; an unstructured field encodes its whole text, address-like or not. The
// names are matched whole and without regard to case.
TEST(HeaderRuleDomains, AddressFieldsAgainstUnstructuredOnes)
{
    const char* const addressFields[] = {"From",
                                         "Sender",
                                         "Reply-To",
                                         "To",
                                         "Cc",
                                         "Bcc",
                                         "Resent-From",
                                         "Resent-Sender",
                                         "Resent-Reply-To",
                                         "Resent-To",
                                         "Resent-Cc",
                                         "Resent-Bcc",
                                         "Return-Path",
                                         "Return-Receipt-To",
                                         "Disposition-Notification-To",
                                         "Errors-To",
                                         "Mail-Followup-To",
                                         "Mail-Reply-To",
                                         "Apparently-To",
                                         "X-Sender",
                                         "X-Original-To",
                                         "Delivered-To",
                                         "REPLY-TO",
                                         "reply-to",
                                         "mail-followup-TO",
                                         "RESENT-CC"};
    const char* const unstructuredFields[]
        = {"Subject", "Comments",   "Keywords",  "Organization", "X-Mailer", "Thread-Topic", "Content-Description",
           "X-Note",  "Subject-To", "Reply-Tox", "X-Reply-To",   "Too",      "Fromage",      "Tos",
           "Resent",  "Cc-Note"};
    // A mailbox whose local part is not ASCII: an address field must leave it alone (and
    // count the field as left raw); an unstructured field encodes it like any text.
    const std::string bareAddress = "j\xc3\xbcrgen@example.org";
    // A quoted display name: in an address field it becomes one encoded-word (the quotes
    // and the pair of words gone); unstructured text keeps quotes and comma as text.
    const std::string named = "\"M\xc3\xbcller, J.\" <m@example.org>";
    for (const char* name : addressFields) {
        SCOPED_TRACE(name);
        const std::string prefix = std::string(name) + ": ";
        const Encoded bare = encode(prefix + bareAddress + "\r\n");
        EXPECT_EQ(bare.header, prefix + bareAddress + "\r\n");
        EXPECT_EQ(bare.leftRaw, 1u);
        const Encoded phrase = encode(prefix + named + "\r\n");
        EXPECT_EQ(phrase.header, prefix + "=?iso-8859-1?Q?M=FCller=2C_J=2E?= <m@example.org>\r\n");
        EXPECT_EQ(phrase.leftRaw, 0u);
    }
    for (const char* name : unstructuredFields) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(isUnstructuredField(utf16(name)));
        const std::string prefix = std::string(name) + ": ";
        const Encoded bare = encode(prefix + bareAddress + "\r\n");
        EXPECT_EQ(bare.header, prefix + "=?iso-8859-1?Q?j=FCrgen=40example=2Eorg?=\r\n");
        EXPECT_EQ(bare.leftRaw, 0u);
        const Encoded phrase = encode(prefix + named + "\r\n");
        EXPECT_EQ(phrase.leftRaw, 0u);
        const auto fields = testing::unfoldFields(utf16(phrase.header));
        ASSERT_EQ(fields.size(), 1u);
        EXPECT_EQ(utf8(testing::decodeText(fields[0].value)), " " + named) << phrase.header;
    }
    for (const char* name : addressFields)
        EXPECT_FALSE(isUnstructuredField(utf16(name))) << name;
}

// Each printable ASCII character (and a few Latin-1 ones) next to a non-ASCII letter in
// a Q word, in the three places encoded-words may stand: unstructured text, a display
// name and a comment. Inside the word only letters, digits and ! * + - / stand for
// themselves (RFC 2047, 5 (3)), "_" only for a space, "=" only before two hex digits;
// every word must decode to the text.
TEST(HeaderRuleDomains, EveryCharacterSpecialInAQWord)
{
    auto allowedInQ = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || std::string_view("!*+-/=_").find(c) != std::string_view::npos;
    };
    std::vector<std::u16string> specials;
    for (char16_t c = 0x21; c < 0x7F; ++c)
        specials.push_back(std::u16string(1, c));
    for (const char16_t c : {u'\u00a0', u'\u00bf', u'\u00d7', u'\u00ff'})
        specials.push_back(std::u16string(1, c));
    for (const std::u16string& special : specials) {
        // Enough plain letters around it that Q is the shorter form.
        const std::u16string text = u"abcdefghij" + special + u"\u00e9klmnopqrst";
        auto escaped = [&](std::u16string_view quoteOrParen) {
            std::u16string out;
            for (const char16_t c : text) {
                if (c == u'\\' || quoteOrParen.find(c) != std::u16string_view::npos)
                    out.push_back(u'\\');
                out.push_back(c);
            }
            return out;
        };
        const struct Place {
            const char* name;
            std::u16string header;
            char16_t before, after; // the characters around the encoded-word
        } places[] = {
            {"unstructured", u"Subject: " + text + u"\r\n", u' ', u'\r'},
            {"display name", u"To: \"" + escaped(u"\"") + u"\" <a@example.org>\r\n", u' ', u' '},
            {"comment", u"Received: by x (" + escaped(u"()") + u")\r\n", u'(', u')'},
        };
        for (const Place& place : places) {
            const std::string trace = std::string(place.name) + " with " + utf8(special);
            std::u16string out;
            EXPECT_EQ(encodeHeaderFields(place.header, kLatin1, out), 0u) << trace;
            const std::string header = utf8(out);
            const std::vector<std::string> words = encodedWords(header);
            ASSERT_EQ(words.size(), 1u) << trace << ": " << header;
            const std::string& word = words[0];
            ASSERT_TRUE(word.starts_with("=?iso-8859-1?Q?")) << trace << ": " << word;
            const std::string payload = word.substr(15, word.size() - 17);
            for (std::size_t i = 0; i < payload.size(); ++i) {
                EXPECT_TRUE(allowedInQ(payload[i])) << trace << ": '" << payload[i] << "' bare in " << word;
                if (payload[i] == '=') {
                    EXPECT_TRUE(i + 2 < payload.size() && std::isxdigit(static_cast<unsigned char>(payload[i + 1]))
                                && std::isxdigit(static_cast<unsigned char>(payload[i + 2])))
                        << trace << ": '=' not followed by two hex digits in " << word;
                }
            }
            const auto decoded = testing::decodeWordAt(utf16(word), 0);
            ASSERT_TRUE(decoded.has_value()) << trace << ": " << word;
            EXPECT_EQ(utf8(decoded->first), utf8(text)) << trace << ": " << word;
            const std::u16string wide = utf16(header);
            const std::size_t at = wide.find(utf16(word));
            EXPECT_EQ(wide[at - 1], place.before) << trace << ": " << header;
            EXPECT_EQ(wide[at + utf16(word).size()], place.after) << trace << ": " << header;
        }
    }
}

// For each output charset, texts that grow from all plain letters to all non-ASCII ones,
// short (one word) and long (several): the words are B exactly when B is shorter than Q
// for the whole text in that charset, and always B for the charsets whose shift
// sequences a Q word would carry (RFC 1468); each word at most 75 characters, each line
// at most 78, and the words decode to the text.
TEST(HeaderRuleDomains, BAndQAcrossLengthsInEveryCharset)
{
    const struct Charset {
        const char* name;
        const char* sample; // UTF-8 text the charset can write
    } charsets[] = {
        {"utf-8", "\xc3\xa9"},         {"iso-8859-1", "\xc3\xa9"}, {"windows-1252", "\xe2\x82\xac"}, {"iso-8859-2", "\xc5\x99"},
        {"iso-8859-15", "\xc5\x93"},   {"koi8-r", "\xd0\xb6"},     {"windows-1251", "\xd0\xb6"},     {"iso-8859-7", "\xce\xbb"},
        {"shift_jis", "\xe6\x97\xa5"}, {"euc-jp", "\xe6\x97\xa5"}, {"iso-2022-jp", "\xe6\x97\xa5"},  {"euc-kr", "\xed\x95\x9c"},
        {"big5", "\xe4\xb8\xad"},      {"gb2312", "\xe4\xb8\xad"}, {"gbk", "\xe4\xb8\xad"},
    };
    auto safeInQ = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' || c == '+' || c == '-'
            || c == '/' || c == ' ';
    };
    std::size_t runs = 0;
    for (const Charset& cs : charsets) {
        const PlatformEncoding platform = encodingForIANAName(cs.name);
        if (platform == kPlatformEncodingInvalid || !isEncodingAvailable(platform)) {
            ADD_FAILURE() << cs.name << " is not available";
            continue;
        }
        const HeaderCharset charset{carryEncoding(platform), cs.name};
        const bool stateful = std::string_view(cs.name) == "iso-2022-jp";
        const std::u16string sample = utf16(cs.sample);
        for (const std::size_t total :
             {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{6}, std::size_t{12}, std::size_t{40}, std::size_t{130}}) {
            for (std::size_t foreign = 1; foreign <= total; ++foreign) {
                // Plain letters and spaces first, then `foreign` samples.
                std::u16string text;
                for (std::size_t i = 0; i + foreign < total; ++i)
                    text.push_back(i % 6 == 5 ? u' ' : static_cast<char16_t>(u'a' + i % 26));
                for (std::size_t i = 0; i < foreign; ++i)
                    text += sample;
                std::string bytes;
                ASSERT_TRUE(encodeText(text, charset.encoding, bytes)) << cs.name;
                std::size_t q = 0;
                for (const char c : bytes)
                    q += safeInQ(static_cast<unsigned char>(c)) ? 1 : 3;
                const std::size_t b = (bytes.size() + 2) / 3 * 4;
                const char expectedKind = stateful || b < q ? 'B' : 'Q';
                const std::string trace = std::string(cs.name) + ": " + utf8(text);

                std::u16string words;
                std::vector<std::size_t> points;
                ASSERT_TRUE(appendEncodedWords(text, charset, words, points)) << trace;
                std::u16string folded;
                appendFolded(words, points, u"\r\n", folded);
                std::u16string decoded;
                std::size_t count = 0;
                for (std::size_t at = 0; at < folded.size();) {
                    const auto word = testing::decodeWordAt(folded, at);
                    ASSERT_TRUE(word.has_value()) << trace << ": " << utf8(folded.substr(at));
                    const std::u16string_view raw = std::u16string_view(folded).substr(at, word->second - at);
                    EXPECT_LE(raw.size(), 75u) << trace;
                    const std::string prefix = "=?" + std::string(cs.name) + "?" + expectedKind + "?";
                    EXPECT_EQ(utf8(raw.substr(0, prefix.size())), prefix) << trace << ": " << utf8(raw);
                    decoded += word->first;
                    ++count;
                    at = word->second;
                    while (at < folded.size() && (folded[at] == u' ' || folded[at] == u'\r' || folded[at] == u'\n'))
                        ++at;
                }
                EXPECT_EQ(utf8(decoded), utf8(text));
                EXPECT_EQ(count, points.size() + 1) << trace;
                for (std::size_t start = 0, end; start < folded.size(); start = end + 2) {
                    end = folded.find(u"\r\n", start);
                    if (end == std::u16string::npos)
                        end = folded.size();
                    EXPECT_LE(end - start, 78u) << trace;
                }
                ++runs;
            }
        }
    }
    EXPECT_GT(runs, 1000u);
}

} // namespace
} // namespace tarnwick
