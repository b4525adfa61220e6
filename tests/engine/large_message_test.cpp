// A message too large for memory is converted in two streaming passes over blocks; it
// must give exactly the bytes (and the log lines) of the conversion in one piece. Each
// case is converted both ways and compared.
#include "engine/MessageConverter.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

constexpr EncodingId kWindows1252 = 12;

// A message of about `size` bytes: a header, then `line` repeated.
std::string largeMessage(const std::string& header, const std::string& line, std::size_t size)
{
    std::string message = header;
    while (message.size() < size)
        message += line;
    return message;
}

struct Outcome {
    bool converted = false;
    std::string bytes;
    std::vector<std::string> log;
    UnconvertedReason reason = UnconvertedReason::None;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome inOnePiece(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options)
{
    Outcome outcome;
    setLogSink([&outcome](std::string_view line) { outcome.log.emplace_back(line); });
    CharsetCandidates candidates(options.charsetNames);
    MailboxContext mailbox;
    outcome.converted = convertMessage(message, headerLength, options, candidates, mailbox, outcome.bytes);
    outcome.reason = mailbox.lastReason;
    if (!outcome.converted)
        outcome.bytes.clear();
    setLogSink({});
    return outcome;
}

std::optional<Outcome> streamed(std::string_view message, std::uint64_t headerLength, const ConversionOptions& options)
{
    Outcome outcome;
    setLogSink([&outcome](std::string_view line) { outcome.log.emplace_back(line); });
    CharsetCandidates candidates(options.charsetNames);
    std::string block;
    const MessageReader read = [&](std::uint64_t offset, std::size_t length) {
        EXPECT_LE(offset + length, message.size());
        EXPECT_LE(length, std::size_t{4} << 20) << "a block larger than the bound";
        block.assign(message.substr(offset, length)); // a copy, as a file read would give
        return std::string_view(block);
    };
    MailboxContext mailbox;
    const LargeMessageOutcome result = convertLargeMessage(message.size(), read, headerLength, options, candidates,
                                                           mailbox, [&outcome](std::string_view bytes) {
                                                               outcome.bytes += bytes;
                                                               return true;
                                                           });
    outcome.reason = mailbox.lastReason;
    setLogSink({});
    if (result == LargeMessageOutcome::NeedsWholeMessage) {
        EXPECT_TRUE(outcome.bytes.empty() && outcome.log.empty()) << "wrote before declining";
        return std::nullopt;
    }
    EXPECT_NE(result, LargeMessageOutcome::WriteFailed);
    outcome.converted = result == LargeMessageOutcome::Converted;
    return outcome;
}

TEST(LargeMessage, StreamedConversionGivesTheBytesOfTheWholeConversion)
{
    const std::string from = "From a Wed Jan 3 01:05:34 1996\r\n";
    const std::string plainHeader = from + "Subject: large\r\n\r\n";
    const std::string typedHeader = from + "Content-Type: text/plain; charset=us-ascii\r\nX: y\r\n\r\n";
    const std::string multipartHeader = from + "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    const std::string lfHeader = "From a\nSubject: x\n\n";
    const std::string latinSubject = from + "Subject: caf\xe9 au lait\r\nFrom: Zo\xeb <z@example.org>\r\n\r\n";
    const std::size_t mib = std::size_t{1} << 20;
    struct Case {
        const char* name;
        std::string header;
        std::string line;
        EncodingId source;
        std::vector<std::string> charsets;
        bool tags;
        bool nbsp = false;
        bool streams = true; // whether the streaming form covers it
    };
    const std::string ascii = "plain text line of the body\r\n";
    const std::string latin = "caf\xe9 r\xe9sum\xe9 na\xefve\r\n";
    const std::string euro = "price \x80" "100, caf\xe9\r\n";
    const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea \xa0 text\x82\xa0\xa0\r\n"; // NBSP alone and after a lead byte
    const std::string kana = "\x93\xfa\x96\x7b \xb1\xb2\r\n";                    // half-width katakana
    const std::vector<std::string> western = {"us-ascii", "iso-8859-1", "utf-8"};
    const std::vector<std::string> japanese = {"iso-2022-jp", "utf-8"};
    const Case cases[] = {
        {"ASCII, tags off", plainHeader, ascii, kWindows1252, western, false},
        {"ASCII, tags on: Content-Type added", plainHeader, ascii, kWindows1252, western, true},
        {"Latin-1 text, header replaced", typedHeader, latin, kWindows1252, western, true},
        {"euro sign: UTF-8", plainHeader, euro, kWindows1252, western, true},
        {"euro sign, no candidate fits", plainHeader, euro, kWindows1252, {"us-ascii", "iso-8859-1"}, true},
        {"LF lines, tags off", lfHeader, "x\xe9y\n", kWindows1252, western, false},
        {"non-ASCII header fields: encoded-words", latinSubject, latin, kWindows1252, western, true},
        {"non-ASCII header fields, tags off", latinSubject, euro, kWindows1252, western, false},
        {"Shift_JIS to ISO-2022-JP, NBSP replaced", plainHeader, sjis, kEncodingShiftJIS, japanese, true, true},
        {"Shift_JIS, NBSP kept", plainHeader, sjis, kEncodingShiftJIS, japanese, false, false},
        {"half-width katakana: UTF-8", plainHeader, kana, kEncodingShiftJIS, japanese, true, true},
        {"Mac Japanese", plainHeader, sjis, kEncodingMacJapanese, {"iso-2022-jp", "shift_jis", "utf-8"}, true, true},
        {"undecodable UTF-8", plainHeader, "ok \xff bad\r\n", kEncodingUTF8, western, true},
        {"Eudora tag text: in one piece", plainHeader, "<x-html>\r\n<b>x</b>\r\n</x-html>\r\n", kWindows1252, western,
         true, false, false},
        {"multipart header: in one piece", multipartHeader, ascii, kWindows1252, western, true, false, false},
        {"ISO-2022-JP source: in one piece", plainHeader, ascii, 21, western, true, false, false},
        {"automatic source: in one piece", plainHeader, latin, kEncodingAutomatic, western, true, false, false},
    };
    for (const Case& c : cases) {
        for (const std::size_t size : {3 * mib + 17, mib / 2}) {
            std::string message = largeMessage(c.header, c.line, size);
            ConversionOptions options;
            options.convertEncodings = true;
            options.sourceEncoding = c.source;
            options.charsetNames = c.charsets;
            options.processEudoraTags = c.tags;
            options.replaceNoBreakSpaces = c.nbsp;
            options.crlfLineEndings = true;
            options.putBackAttachments = true;
            options.encodeHeaders = true;
            const std::uint64_t headerLength = c.header.size();
            const Outcome whole = inOnePiece(message, headerLength, options);
            const std::optional<Outcome> inBlocks = streamed(message, headerLength, options);
            ASSERT_EQ(inBlocks.has_value(), c.streams) << c.name;
            if (!inBlocks)
                continue;
            EXPECT_EQ(inBlocks->converted, whole.converted) << c.name << ", " << size << " bytes";
            EXPECT_TRUE(inBlocks->bytes == whole.bytes) << c.name << ", " << size << " bytes";
            EXPECT_EQ(inBlocks->log, whole.log) << c.name;
            EXPECT_EQ(inBlocks->reason, whole.reason) << c.name;
        }
    }
}

TEST(LargeMessage, ALineWithoutAPlaceToCutIsLeftToTheWholeConversion)
{
    ConversionOptions options;
    options.convertEncodings = true;
    options.sourceEncoding = kEncodingUTF8;
    options.charsetNames = {"utf-8"};
    // 3 MiB of "é" in UTF-8: no byte below 0x40 to cut after within a block.
    std::string message = "From a\r\n\r\n";
    for (int i = 0; i < 3 << 19; ++i)
        message += "\xc3\xa9";
    EXPECT_FALSE(streamed(message, 10, options).has_value());
}

} // namespace
} // namespace tarnwick
