// Fuzzes the attachment-line parser and the rebuilt message. The first input byte
// picks the line terminator and whether the message says it is HTML; the rest is the
// body. Three files wait in the attachment folders. Checks: the parser never reads
// out of bounds and names a file only from the line's own bytes; a rebuilt message declares
// boundaries that occur nowhere but on their delimiter lines, and its base64 parts
// decode to exactly the files, in the order of their lines.

#include "FuzzSupport.h"

#include "engine/attachments/AttachmentLine.h"
#include "engine/header/MimeHeader.h"
#include "engine/attachments/Reattachment.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

using namespace tarnwick;

struct Files {
    std::string root;
    std::map<std::string, std::string> contents; // name on disk -> bytes
    AttachmentFolders folders;
};

const Files& files()
{
    static const Files f = [] {
        Files made;
        char pattern[] = "/tmp/tarnwick-attachment-fuzz.XXXXXX";
        made.root = ::mkdtemp(pattern);
        std::filesystem::create_directories(made.root + "/attach");
        std::filesystem::create_directories(made.root + "/Embedded");
        made.contents = {{"a.txt", "text file\n"},
                         {"b", std::string("\0\x01\x02 binary --=_ \xFF", 16)},
                         {"c.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(200, 'c')}};
        for (const auto& [name, bytes] : made.contents)
            std::ofstream(made.root + (name == "c.jpg" ? "/Embedded/" : "/attach/") + name, std::ios::binary) << bytes;
        made.folders = AttachmentFolders::open({made.root + "/attach"}, {made.root + "/Embedded"});
        return made;
    }();
    return f;
}

struct StringSink : ByteSink {
    std::string bytes;
    bool write(std::string_view piece) override
    {
        bytes.append(piece);
        return true;
    }
};

std::string decodeBase64(std::string_view text)
{
    static const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const std::size_t at = alphabet.find(c);
        if (at == std::string_view::npos)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(at);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Checks one multipart body: every occurrence of the boundary is a delimiter line, and
// its base64 parts (nested ones included) decode to files; appends them to `decoded`.
void checkMultipart(std::string_view body, const std::string& boundary, std::string_view eol, std::vector<std::string>& decoded)
{
    FUZZ_CHECK(!boundary.empty());
    const std::string delimiter = "--" + boundary;
    std::vector<std::size_t> delimiters;
    for (std::size_t at = body.find(boundary); at != std::string_view::npos; at = body.find(boundary, at + 1)) {
        FUZZ_CHECK(at >= 2 && body.substr(at - 2, 2) == "--");
        FUZZ_CHECK(at == 2 || body.substr(at - 2 - eol.size(), eol.size()) == eol);
        delimiters.push_back(at - 2);
    }
    FUZZ_CHECK(delimiters.size() >= 2);
    FUZZ_CHECK(body.substr(delimiters.back(), delimiter.size() + 2) == delimiter + "--");
    for (std::size_t i = 0; i + 1 < delimiters.size(); ++i) {
        const std::size_t start = delimiters[i] + delimiter.size() + eol.size();
        const std::string_view part = body.substr(start, delimiters[i + 1] - eol.size() - start);
        const std::size_t split = part.find(std::string(eol) + std::string(eol));
        FUZZ_CHECK(split != std::string_view::npos);
        const std::string_view header = part.substr(0, split + eol.size());
        const std::string_view content = part.substr(split + 2 * eol.size());
        const std::string type = mediaType(header.substr(header.find("Content-Type:")));
        if (type == "multipart/related")
            checkMultipart(content, parameterValue(header, "boundary").value_or(""), eol, decoded);
        else if (header.find("Content-Transfer-Encoding: base64") != std::string_view::npos)
            decoded.push_back(decodeBase64(content));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    fuzz::Picker pick(data, size);
    const std::uint8_t options = pick.byte();
    const std::string_view eol = (options & 3) == 0 ? "\r\n" : (options & 3) == 1 ? "\n" : "\r";
    const fuzz::ExactBytes input(pick.data(), pick.size());

    // The parser alone, on the exact bytes.
    if (const auto reference = parseAttachmentLine(input.view()))
        FUZZ_CHECK(!reference->name.empty() && reference->name.size() < input.size());

    // The message as the stream pass would collect it: lines of the input with the
    // output terminator, after a header.
    std::string message = "From ???@??? Mon Dec 13 18:45:29 2010";
    message.append(eol).append("Subject: fuzz").append(eol);
    message.append(options & 4 ? "Content-Type: text/html" : "Content-Type: multipart/mixed; boundary=x").append(eol).append(eol);
    const std::uint64_t headerLength = message.size();
    std::vector<ByteRange> lines;
    const std::string_view body = input.view();
    for (std::size_t at = 0; at < body.size();) {
        std::size_t end = at;
        while (end < body.size() && body[end] != '\r' && body[end] != '\n')
            ++end;
        if (mayBeAttachmentLine(body.data() + at, end - at))
            lines.push_back({message.size(), end - at});
        message.append(body.substr(at, end - at)).append(eol);
        at = end + (end + 1 < body.size() && body[end] == '\r' && body[end + 1] == '\n' ? 2 : 1);
    }

    const Files& f = files();
    AttachmentTally tally;
    StringSink sink;
    const ReattachmentContext context{f.folders, kEncodingUTF8, eol, nullptr, tally};
    const ReattachResult result = writeWithAttachments(message, headerLength, lines, context, sink);
    FUZZ_CHECK(result.outcome == ReattachOutcome::Written || result.outcome == ReattachOutcome::Unchanged);
    if (result.outcome == ReattachOutcome::Unchanged) {
        FUZZ_CHECK(sink.bytes.empty() && tally.attached == 0);
        return 0;
    }
    const std::string_view out = sink.bytes;
    const auto end = headerEnd(out);
    FUZZ_CHECK(end.has_value());
    const std::string_view header = out.substr(0, *end);
    const std::size_t typeAt = header.rfind("Content-Type: multipart/");
    FUZZ_CHECK(typeAt != std::string_view::npos);
    std::vector<std::string> decoded;
    checkMultipart(out.substr(*end + eol.size()), parameterValue(header.substr(typeAt), "boundary").value_or(""), eol, decoded);
    FUZZ_CHECK(decoded.size() == tally.attached);
    for (const std::string& bytes : decoded) {
        bool known = false;
        for (const auto& [name, contents] : f.contents)
            known |= bytes == contents;
        FUZZ_CHECK(known);
    }
    return 0;
}
