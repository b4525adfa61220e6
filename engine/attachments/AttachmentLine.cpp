#include "engine/attachments/AttachmentLine.h"

#include "engine/text/Ascii.h"

#include <algorithm>
#include <array>

namespace tarnwick {
namespace {

constexpr std::string_view kAttachmentPrefix = "Attachment converted: "; // "Converted" on Windows
constexpr std::string_view kEmbeddedPrefix = "Embedded Content: ";
constexpr std::string_view kRelatedPrefix = "Related: ";

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isHexNumber(std::string_view text) { return !text.empty() && text.size() <= 16 && std::all_of(text.begin(), text.end(), isHexDigit); }

std::string_view trimTrailingSpaces(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// The file is the last component; the components after the last one that names an
// attachment folder are its sub-folders there. A path without such a component (the
// folder was moved, or the line names a disk's top) gives the name alone.
std::optional<AttachmentReference> referenceFromComponents(AttachmentKind kind, const std::vector<std::string_view>& parts, bool macNames)
{
    if (parts.empty() || parts.back().empty())
        return std::nullopt;
    std::size_t first = parts.size() - 1;
    for (std::size_t i = parts.size() - 1; i-- > 0;) {
        if (attachmentFolderKind(parts[i])) {
            first = i + 1;
            break;
        }
    }
    AttachmentReference reference;
    reference.kind = kind;
    for (std::size_t i = first; i < parts.size(); ++i) {
        std::string component(parts[i]);
        if (macNames) // a "/" in a Mac name is stored as ":"
            std::replace(component.begin(), component.end(), '/', ':');
        if (i + 1 < parts.size())
            reference.folders.push_back(std::move(component));
        else
            reference.name = std::move(component);
    }
    return reference;
}

// Windows: "c:\...\attach\FILE" in quotes, or without them in older versions.
// Mac: "Macintosh HD:...:FILE (TYPE/CRTR) (0022466A)", where TYPE and CRTR are four
// bytes each and may hold spaces or any byte.
std::optional<AttachmentReference> parseConverted(std::string_view rest)
{
    rest = trimTrailingSpaces(rest);
    if (rest.size() >= 2 && rest.front() == '"') {
        const std::size_t close = rest.rfind('"');
        if (close == 0)
            return std::nullopt;
        const std::string_view path = rest.substr(1, close - 1);
        // Some writers quote a Mac path too; only a Windows path holds a backslash.
        if (path.find('\\') == std::string_view::npos && path.find(':') != std::string_view::npos)
            return referenceFromComponents(AttachmentKind::File, split(path, ':'), true);
        return referenceFromComponents(AttachmentKind::File, split(path, '\\'), false);
    }
    bool mac = false;
    if (rest.size() > 3 && rest.back() == ')') {
        const std::size_t open = rest.rfind('(');
        if (open != std::string_view::npos && open > 0 && rest[open - 1] == ' '
            && isHexNumber(rest.substr(open + 1, rest.size() - open - 2))) {
            mac = true;
            rest = rest.substr(0, open - 1);
            // "(TTTT/CCCC)" is 11 bytes, whatever bytes the codes hold.
            if (rest.size() > 12 && rest.back() == ')' && rest[rest.size() - 11] == '(' && rest[rest.size() - 6] == '/'
                && rest[rest.size() - 12] == ' ')
                rest.remove_suffix(12);
        }
    }
    if (!mac && rest.find('\\') != std::string_view::npos)
        return referenceFromComponents(AttachmentKind::File, split(rest, '\\'), false);
    return referenceFromComponents(AttachmentKind::File, split(rest, ':'), true);
}

// "FILE: 00000001,586425e8,00000000,00000000"
std::optional<AttachmentReference> parseEmbedded(std::string_view rest)
{
    rest = trimTrailingSpaces(rest);
    const std::size_t at = rest.rfind(": ");
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    for (const std::string_view number : split(rest.substr(at + 2), ',')) {
        if (!isHexNumber(number))
            return std::nullopt;
    }
    return referenceFromComponents(AttachmentKind::Embedded, split(rest.substr(0, at), '\\'), false);
}

// ":Macintosh HD:FILE:0022466E:277BFD3A:00000000:00000000"
std::optional<AttachmentReference> parseRelated(std::string_view rest)
{
    rest = trimTrailingSpaces(rest);
    std::vector<std::string_view> parts = split(rest, ':');
    constexpr std::size_t kNumbers = 4;
    if (parts.size() < kNumbers + 2)
        return std::nullopt;
    for (std::size_t i = parts.size() - kNumbers; i < parts.size(); ++i) {
        if (!isHexNumber(parts[i]))
            return std::nullopt;
    }
    parts.resize(parts.size() - kNumbers);
    return referenceFromComponents(AttachmentKind::Embedded, parts, true);
}

} // namespace

std::optional<AttachmentKind> attachmentFolderKind(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, AttachmentKind>, 4> kFolders = {{
        {"attach", AttachmentKind::File},
        {"Attachments Folder", AttachmentKind::File},
        {"Embedded", AttachmentKind::Embedded},
        {"Parts Folder", AttachmentKind::Embedded},
    }};
    for (const auto& [folder, kind] : kFolders) {
        if (equalsAsciiFolded(name, folder))
            return kind;
    }
    return std::nullopt;
}

std::optional<AttachmentReference> parseAttachmentLine(std::string_view line)
{
    if (!mayBeAttachmentLine(line.data(), line.size()))
        return std::nullopt;
    if (line.size() > kAttachmentPrefix.size() && equalsAsciiFolded(line.substr(0, kAttachmentPrefix.size()), kAttachmentPrefix))
        return parseConverted(line.substr(kAttachmentPrefix.size()));
    if (line.size() > kEmbeddedPrefix.size() && line.substr(0, kEmbeddedPrefix.size()) == kEmbeddedPrefix)
        return parseEmbedded(line.substr(kEmbeddedPrefix.size()));
    if (line.size() > kRelatedPrefix.size() && line.substr(0, kRelatedPrefix.size()) == kRelatedPrefix)
        return parseRelated(line.substr(kRelatedPrefix.size()));
    return std::nullopt;
}

} // namespace tarnwick
