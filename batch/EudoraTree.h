#pragma once
// What the files of a source folder are, as Eudora's folder layout tells: mailboxes
// (with their real names from the folder maps), Eudora's own files, or attachments.
// Knows the folders on the path of the current file only, so memory follows the
// depth of the tree, not its size.

#include "batch/DescMap.h"
#include "platform/encodings/TextEncoding.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class FileRole {
    Mailbox,        // convert it
    EudoraFile,     // Eudora's index, folder map, settings, log or AppleDouble file: skip
    AttachmentFile, // a file in an Eudora folder's attachment folder: skip
};

struct FilePlan {
    FileRole role = FileRole::Mailbox;
    /// A place where mailboxes live: outside any Eudora folder, a ".mbx" file or under
    /// "Mail Folder". Elsewhere in an Eudora folder, an empty file or one that is not
    /// a mailbox is one of Eudora's own.
    bool mailboxPlace = true;
    /// The output path below the destination, one component each: real names where a
    /// folder map gives them, the Mac "Mail Folder" left out.
    std::vector<std::string> outputPath;
    /// The mailbox as the user knows it ("Work/Family Holidays 2003"), for messages.
    std::string displayName;
};

class EudoraTree {
public:
    /// `readRecords` false: every file is a mailbox under its own path, as if no
    /// Eudora folder existed. Real names that are not UTF-8 are decoded from
    /// `nameEncoding` (the mailboxes' encoding).
    EudoraTree(std::string sourceRoot, bool readRecords, EncodingId nameEncoding);

    /// The plan for a regular file at `relativeName` ("Sub/In.mbx") below the root.
    /// Calls for the files of one folder should follow each other (a depth-first walk).
    FilePlan plan(std::string_view relativeName);

    /// Whether the folder at `relativeName` is an Eudora folder's attachment folder or
    /// below one: it holds attachments, never mail. Walk order as for plan().
    bool holdsAttachments(std::string_view relativeName);

private:
    struct Folder {
        std::string name;       // the name on disk ("" for the root)
        std::string outputName; // "" when left out of output paths
        std::string displayName;
        bool eudoraRoot = false;
        bool insideEudora = false; // this folder is, or is below, an Eudora folder
        bool attachments = false;  // an attachment folder or below one
        bool mailFolder = false;   // the Mac "Mail Folder" or below it
        DescMap map;
    };

    Folder folderBelow(const Folder& parent, const std::string& name, const std::string& path) const;
    void describeFolder(Folder& folder, const std::string& path) const;
    std::string realName(const DescMap& map, const std::string& fileName) const;
    std::string folderPath(std::size_t depth) const;

    std::string root_;
    bool readRecords_;
    EncodingId nameEncoding_;
    std::vector<Folder> folders_; // the root, then each folder on the current path
};

} // namespace tarnwick
