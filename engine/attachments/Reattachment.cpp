#include "engine/attachments/Reattachment.h"

#include "engine/attachments/AttachmentLine.h"
#include "engine/attachments/ShortenedName.h"
#include "engine/attachments/TextCharset.h"
#include "engine/header/MimeHeader.h"
#include "platform/ContainedFile.h"
#include "platform/Localization.h"
#include "platform/Log.h"
#include "platform/MimeTypes.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

namespace tarnwick {
namespace {

constexpr std::size_t kSubjectLimit = 200;
constexpr std::size_t kSniffBytes = 4096;
// Input bytes per read while streaming a file: a whole number of base64 lines.
constexpr std::size_t kStreamChunk = kBase64LineInput * 1024;

using FoundPart = FoundAttachment;

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return lower;
}

/// The UTF-8 form of a name: as it is when valid UTF-8, else decoded from the
/// mailbox's encoding; bytes that neither reads become '_'.
std::string utf8Name(std::string_view name, EncodingId source)
{
    std::u16string text;
    if (decodeAppend(name.data(), name.size(), kEncodingUTF8, text))
        return std::string(name);
    std::string utf8;
    if (decodeAppend(name.data(), name.size(), source, text) && encodeText(text, kEncodingUTF8, utf8))
        return utf8;
    utf8.assign(name);
    std::replace_if(
        utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, '_');
    return utf8;
}

// The names to try: as written in the line, then (for a mailbox not in UTF-8) as the
// file system of the copy most likely stores them.
std::vector<std::vector<std::string>> nameCandidates(const AttachmentReference& reference, EncodingId source)
{
    std::vector<std::string> raw = reference.folders;
    raw.push_back(reference.name);
    std::vector<std::vector<std::string>> candidates{raw};
    if (source == kEncodingUTF8)
        return candidates;
    std::vector<std::string> converted;
    for (const std::string& component : raw)
        converted.push_back(utf8Name(component, source));
    if (converted != raw)
        candidates.push_back(std::move(converted));
    return candidates;
}

// The file a line names, from the first folder that has it, else (`shortened` set) the
// one file of the first folder whose name Mac Eudora shortened from it; when none has,
// the error that says most about why (a file that exists but cannot be opened, over
// "not found").
ContainedLookup locate(const AttachmentReference& reference, const ReattachmentContext& context, const OpenFolder*& where, bool& shortened)
{
    const AttachmentFolders::Folders& folders = reference.kind == AttachmentKind::File ? context.folders.files : context.folders.embedded;
    const auto candidates = nameCandidates(reference, context.sourceEncoding);
    static const LastNameMatch shortenedMatch
        = [](std::string_view wanted, const FolderNames& names) { return findShortenedName(wanted, names.names()); };
    int error = ENOENT;
    for (const LastNameMatch* match : {static_cast<const LastNameMatch*>(nullptr), &shortenedMatch}) {
        for (const auto& folder : folders) {
            for (const auto& components : candidates) {
                ContainedLookup lookup = folder->openFile(components, match);
                if (lookup.file) {
                    where = folder.get();
                    shortened = match != nullptr && lookup.file->name() != components.back();
                    return lookup;
                }
                if (error == ENOENT && lookup.error != 0)
                    error = lookup.error;
            }
        }
    }
    return {std::nullopt, error};
}

// The components below `folder` of a file opened there, from its path.
std::vector<std::string> componentsBelow(const OpenFolder& folder, const std::string& path)
{
    std::vector<std::string> components;
    std::size_t at = folder.path().size();
    while (at < path.size()) {
        if (path[at] == '/') {
            ++at;
            continue;
        }
        const std::size_t end = std::min(path.find('/', at), path.size());
        components.push_back(path.substr(at, end - at));
        at = end;
    }
    return components;
}

/// The cid: references of an HTML text, in order of first appearance, %-escapes undone.
std::vector<std::string> contentIdReferences(std::string_view html)
{
    std::vector<std::string> ids;
    const std::string lower = lowerAscii(html);
    for (std::size_t at = lower.find("cid:"); at != std::string::npos; at = lower.find("cid:", at + 4)) {
        if (at > 0 && std::string_view("\"'(=").find(lower[at - 1]) == std::string_view::npos)
            continue;
        std::size_t end = at + 4;
        while (end < html.size() && std::string_view("\"'<>() \t\r\n").find(html[end]) == std::string_view::npos)
            ++end;
        std::string id;
        for (std::size_t i = at + 4; i < end; ++i) {
            const auto hex = [](char c) -> int {
                if (c >= '0' && c <= '9')
                    return c - '0';
                c = static_cast<char>(c | 0x20);
                return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            };
            if (html[i] == '%' && i + 2 < end && hex(html[i + 1]) >= 0 && hex(html[i + 2]) >= 0) {
                id += static_cast<char>(hex(html[i + 1]) * 16 + hex(html[i + 2]));
                i += 2;
            } else {
                id += html[i];
            }
        }
        if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(std::move(id));
    }
    return ids;
}

// `subject` and the file's name are in UTF-8 by now, as the log and the window show them.
// A file that is there but cannot be opened says why.
void logMissing(const std::string& subject, const std::string& name, int error, AttachmentTally& tally)
{
    if (error == ENOENT)
        logMessage(formatMessage("Attachment not found: \"%1\" (message \"%2\")", {name, subject}));
    else
        logMessage(formatMessage("Attachment could not be opened: \"%1\" (message \"%2\"): %3", {name, subject, systemErrorText(error)}));
    ++tally.missing;
    if (tally.missingFiles.size() < AttachmentTally::kMissingListed)
        tally.missingFiles.push_back({subject, name});
}

class MessageWriter {
public:
    MessageWriter(ByteSink& sink, std::string_view terminator) : sink_(sink), terminator_(terminator) {}

    bool write(std::string_view bytes) { return sink_.write(bytes); }
    bool line(std::string_view contents) { return sink_.write(contents) && sink_.write(terminator_); }
    bool delimiter(std::string_view boundary, bool close)
    {
        pending_.assign("--").append(boundary);
        if (close)
            pending_.append("--");
        return line(pending_);
    }

    // Streams the file as base64 lines. False on a refused write (readFailed false)
    // or a failed read (readFailed true).
    bool base64(ContainedFile& file, bool& readFailed)
    {
        if (!input_)
            input_ = std::make_unique<char[]>(kStreamChunk);
        for (;;) {
            const std::optional<std::size_t> got = file.read(input_.get(), kStreamChunk);
            if (!got) {
                readFailed = true;
                return false;
            }
            if (*got == 0)
                return true;
            encoded_.clear();
            appendBase64Lines(reinterpret_cast<const unsigned char*>(input_.get()), *got, terminator_, encoded_);
            if (!sink_.write(encoded_))
                return false;
            if (*got < kStreamChunk)
                return true;
        }
    }

private:
    ByteSink& sink_;
    std::string_view terminator_;
    std::string pending_;
    std::string encoded_;
    std::unique_ptr<char[]> input_;
};

struct TextPart {
    std::string_view keptHeader; // top-level fields that stay, terminators included
    bool hasMimeVersion = false;
    std::string header; // the text part's own Content-Type and transfer encoding
    std::string_view body;
    bool isHtml = false;
};

// Splits the converted message into the fields that stay on top and the text part.
// None when the bytes are not a message this pass can take apart.
std::optional<TextPart> splitText(std::string_view message, std::string_view terminator, std::string& keptHeader)
{
    if (message.substr(0, 5) != "From ")
        return std::nullopt;
    const std::optional<std::size_t> end = headerEnd(message);
    if (!end)
        return std::nullopt;
    TextPart text;
    text.body = message.substr(nextLineStart(message, *end));
    const std::size_t firstField = nextLineStart(message, 0);
    keptHeader.assign(message.substr(0, firstField));
    std::string_view contentType;
    for (const HeaderField& field : headerFields(message.substr(firstField, *end - firstField))) {
        const std::string name = lowerAscii(field.name);
        if (name == "content-type") {
            if (contentType.empty())
                contentType = field.whole;
        } else if (name != "content-transfer-encoding") {
            text.hasMimeVersion |= name == "mime-version";
            keptHeader.append(field.whole);
        }
    }
    const std::string type = contentType.empty() ? std::string() : mediaType(contentType);
    // A multipart type whose boundary no longer occurs describes the mail before Eudora
    // decoded it; the text is plain text now.
    const bool staleMultipart
        = type.starts_with("multipart/") && !hasDelimiterLine(text.body, parameterValue(contentType, "boundary").value_or(std::string()));
    if (contentType.empty() || staleMultipart) {
        text.header.assign("Content-Type: text/plain").append(terminator);
    } else {
        text.header.assign(contentType);
        text.isHtml = type == "text/html";
    }
    text.header.append("Content-Transfer-Encoding: ").append(isSevenBit(text.body) ? "7bit" : "8bit").append(terminator);
    text.keptHeader = keptHeader;
    return text;
}

std::string partHeader(const FoundPart& part, bool inlined, std::string_view terminator)
{
    std::string header = "Content-Type: " + part.mediaType;
    header.append(terminator).append("Content-Transfer-Encoding: base64").append(terminator);
    header.append("Content-Disposition: ").append(inlined ? "inline" : "attachment");
    appendNameParameter(header, "filename", part.displayName, terminator);
    header.append(terminator);
    if (!part.contentId.empty())
        header.append("Content-ID: <").append(part.contentId).append(">").append(terminator);
    header.append(terminator);
    return header;
}

// The message without the lines of `removed` (each to the end of its line).
std::string withoutLines(std::string_view message, const std::vector<ByteRange>& removed)
{
    std::string text;
    text.reserve(message.size());
    std::size_t copied = 0;
    for (const ByteRange& range : removed) {
        text.append(message, copied, range.location - copied);
        copied = nextLineStart(message, range.location + range.length);
    }
    text.append(message, copied);
    return text;
}

// The HTML's cid: references name the inline images in the order of their lines when
// there are as many of each; otherwise each image gets an id of its own.
void assignContentIds(const TextPart& textPart, bool related, const std::vector<FoundPart*>& embedded, std::size_t embeddedLines)
{
    const std::vector<std::string> references = related ? contentIdReferences(textPart.body) : std::vector<std::string>();
    const bool paired = references.size() == embeddedLines;
    const std::string ownIdSeed = boundaryFor({textPart.body}, 3).substr(2);
    for (FoundPart* part : embedded) {
        part->contentId = paired ? references[part->embeddedOrdinal]
                                 : "part" + std::to_string(part->embeddedOrdinal + 1) + "." + ownIdSeed + "@tarnwick.invalid";
    }
}

// Gives each part its header and returns the text and every header we write joined, so
// that the boundaries chosen occur in none of them.
std::string writePartHeaders(const TextPart& textPart, std::vector<FoundPart>& parts, std::string_view eol)
{
    std::string joined;
    joined.append(textPart.header).append(textPart.body);
    for (FoundPart& part : parts) {
        part.header = partHeader(part, part.reference.kind == AttachmentKind::Embedded, eol);
        joined.append(part.header);
    }
    return joined;
}

// How the rebuilt message is laid out: its text, its parts and the boundaries between them.
struct MultipartLayout {
    const TextPart& text;
    const std::vector<FoundPart*>& files;
    const std::vector<FoundPart*>& embedded;
    bool related; // the inline images go with an HTML text in multipart/related
    const std::string& outer;
    const std::string& inner;
};

// Writes the rebuilt message: the kept header, then multipart/mixed around the text (or
// multipart/related around an HTML text and its images) and the files.
ReattachResult writeMultipart(const MultipartLayout& layout, ByteSink& sink, std::string_view eol)
{
    const TextPart* textPart = &layout.text;
    const std::vector<FoundPart*>& files = layout.files;
    const std::vector<FoundPart*>& embedded = layout.embedded;
    const bool related = layout.related;
    const std::string& outer = layout.outer;
    const std::string& inner = layout.inner;
    const bool mixed = !files.empty() || !related;
    MessageWriter out(sink, eol);
    ReattachResult failed{ReattachOutcome::WriteFailed, {}, 0};
    bool readFailed = false;
    auto writePart = [&](FoundPart& part, const std::string& boundary) {
        if (!out.delimiter(boundary, false) || !out.write(part.header))
            return false;
        ContainedLookup opened = part.folder->openFile(part.components);
        if (!opened.file) {
            failed = {ReattachOutcome::ReadFailed, part.path, opened.error};
            return false;
        }
        if (out.base64(*opened.file, readFailed))
            return true;
        if (readFailed)
            failed = {ReattachOutcome::ReadFailed, part.path, opened.file->error()};
        return false;
    };
    // The text part, and the inline images after it when they are related to it.
    auto writeText = [&](const std::string& boundary) {
        if (!out.delimiter(boundary, false) || !out.write(textPart->header) || !out.write(eol) || !out.write(textPart->body))
            return false;
        // The line break before a delimiter belongs to it: an empty text still ends its
        // header with an empty line of its own.
        if (!textPart->body.ends_with(eol) && !out.write(eol))
            return false;
        for (FoundPart* part : (related ? embedded : std::vector<FoundPart*>()))
            if (!writePart(*part, boundary))
                return false;
        return true;
    };

    if (!out.write(textPart->keptHeader) || (!textPart->hasMimeVersion && !out.line("MIME-Version: 1.0")))
        return failed;
    const std::string relatedType = std::string("Content-Type: multipart/related; type=\"text/html\";") + std::string(eol) + " boundary=\"";
    if (mixed) {
        if (!out.line("Content-Type: multipart/mixed;") || !out.line(" boundary=\"" + outer + "\"") || !out.write(eol))
            return failed;
        if (related) {
            if (!out.delimiter(outer, false) || !out.line(relatedType + inner + "\"") || !out.write(eol))
                return failed;
            if (!writeText(inner) || !out.delimiter(inner, true))
                return failed;
        } else if (!writeText(outer)) {
            return failed;
        }
        for (FoundPart* part : files)
            if (!writePart(*part, outer))
                return failed;
        if (!related)
            for (FoundPart* part : embedded)
                if (!writePart(*part, outer))
                    return failed;
        if (!out.delimiter(outer, true))
            return failed;
    } else {
        if (!out.line(relatedType + outer + "\"") || !out.write(eol) || !writeText(outer) || !out.delimiter(outer, true))
            return failed;
    }
    return {ReattachOutcome::Written, {}, 0};
}

} // namespace

AttachmentLookup lookUpAttachments(std::string_view message, std::uint64_t headerLength, std::span<const ByteRange> lines,
                                   const ReattachmentContext& context)
{
    const std::string_view originalHeader = message.substr(0, std::min<std::uint64_t>(headerLength, message.size()));
    std::string subject;
    AttachmentLookup found;
    std::vector<FoundPart>& parts = found.parts;
    std::vector<ByteRange>& removed = found.removed;
    std::size_t& embeddedLines = found.embeddedLines;
    for (const ByteRange& range : lines) {
        const auto reference = parseAttachmentLine(message.substr(range.location, range.length));
        if (!reference)
            continue;
        const std::size_t ordinal = reference->kind == AttachmentKind::Embedded ? embeddedLines++ : 0;
        const OpenFolder* folder = nullptr;
        bool shortened = false;
        ContainedLookup lookup = locate(*reference, context, folder, shortened);
        if (!lookup.file) {
            if (subject.empty())
                subject = utf8Name(headerValue(originalHeader.substr(nextLineStart(originalHeader, 0)), "Subject", kSubjectLimit),
                                   context.subjectEncoding ? (*context.subjectEncoding)() : context.sourceEncoding);
            logMissing(subject, utf8Name(reference->name, context.sourceEncoding), lookup.error, context.tally);
            continue;
        }
        removed.push_back(range);
        const ContainedFile& file = *lookup.file;
        FoundPart part{*reference, folder, componentsBelow(*folder, file.path()), file.path(), {}, {}, {}, {}, ordinal};
        // A name Mac Eudora shortened goes back to the long name the line gives.
        part.displayName = utf8Name(shortened ? reference->name : file.name(), context.sourceEncoding);
        part.mediaType = mimeTypeForFile(part.displayName, file.leadingBytes(kSniffBytes));
        if (context.labelTextFiles && isLabelledText(part.mediaType) && file.size() <= kLargestLabelledText) {
            const std::string charset
                = textFileCharset(part.mediaType, file.leadingBytes(file.size()), context.textEncoding, context.automatic);
            if (!charset.empty())
                part.mediaType.append("; charset=").append(charset);
        }
        parts.push_back(std::move(part)); // the file closes here
    }
    return found;
}

ReattachResult writeWithAttachments(std::string_view message, std::uint64_t headerLength, std::span<const ByteRange> lines,
                                    const ReattachmentContext& context, ByteSink& sink)
{
    AttachmentLookup found = lookUpAttachments(message, headerLength, lines, context);
    if (found.parts.empty())
        return {};
    return writeWithAttachments(message, headerLength, found, context, sink);
}

ReattachResult writeWithAttachments(std::string_view message, std::uint64_t headerLength, AttachmentLookup& found,
                                    const ReattachmentContext& context, ByteSink& sink)
{
    std::vector<FoundPart>& parts = found.parts;

    // The text without the lines whose files go back in, converted as it would be today.
    const std::string text = withoutLines(message, found.removed);
    std::string converted;
    std::string_view result = text;
    if (context.convert && (*context.convert)(text, headerLength, converted))
        result = converted;
    std::string keptHeader;
    const std::optional<TextPart> textPart = splitText(result, context.terminator, keptHeader);
    if (!textPart) // nothing to take apart: the message goes out as today, lines and all
        return {};

    const std::string_view eol = context.terminator;
    std::vector<FoundPart*> files;
    std::vector<FoundPart*> embedded;
    for (FoundPart& part : parts)
        (part.reference.kind == AttachmentKind::File ? files : embedded).push_back(&part);
    const bool related = textPart->isHtml && !embedded.empty();
    assignContentIds(*textPart, related, embedded, found.embeddedLines);
    const std::string joined = writePartHeaders(*textPart, parts, eol);
    const std::string outer = boundaryFor({textPart->body, joined}, 1);
    const std::string inner = boundaryFor({textPart->body, joined}, 2);
    const ReattachResult written = writeMultipart({*textPart, files, embedded, related, outer, inner}, sink, eol);
    if (written.outcome == ReattachOutcome::Written)
        context.tally.attached += parts.size();
    return written;
}

} // namespace tarnwick
