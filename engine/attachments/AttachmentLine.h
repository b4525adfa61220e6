#pragma once
// The lines Eudora leaves in a body in place of each attachment it decoded into a
// folder of its own, and the file name each line stands for.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class AttachmentKind {
    File,     // "Attachment Converted:" / "Attachment converted:", in "attach" or "Attachments Folder"
    Embedded, // "Embedded Content:" / "Related:", an inline part in "Embedded" or "Parts Folder"
};

/// Where a line says the file is: its name and the sub-folders between the attachment
/// folder and the file, as they are named on disk (a "/" in a Mac name is ":" there).
/// Nothing here is checked for safety: the lookup refuses what it cannot open inside a
/// folder.
struct AttachmentReference {
    AttachmentKind kind = AttachmentKind::File;
    std::vector<std::string> folders; // outermost first; usually empty
    std::string name;
};

/// Cheap test on the first bytes of a body line: false for every line that cannot be
/// an attachment line. Lets the stream pass skip the parser for ordinary lines.
inline bool mayBeAttachmentLine(const char* contents, std::size_t length)
{
    return length > 9 && (contents[0] == 'A' || contents[0] == 'E' || contents[0] == 'R');
}

/// Parses one line's contents (no terminator). None when it is not an attachment line
/// in one of the four forms Eudora writes, or names no file.
std::optional<AttachmentReference> parseAttachmentLine(std::string_view line);

/// Whether `name` is one of the folders Eudora decodes into, in any letter case.
std::optional<AttachmentKind> attachmentFolderKind(std::string_view name);

} // namespace tarnwick
