#pragma once
// Where Eudora put the files a mailbox's attachment lines name.

#include "engine/ConversionOptions.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

/// Finds the attachment folders of the mailboxes of one job. Starting at a mailbox's own
/// folder and going up through its parents, the first folder that holds any of
/// "attach", "Attachments Folder" (files), "Embedded", "Parts Folder" (inline parts),
/// in any letter case, gives them. The climb never goes above the source, except up to
/// the Eudora folder (one that holds "Eudora.ini" or "Eudora Settings") that holds the
/// source, and ends after the top of a Eudora folder. A symbolic link is never taken for
/// an attachment folder. User folders follow in both lists, in the order given.
///
/// Each folder is listed once per job, and each attachment folder opened once (its
/// names indexed once), however many mailboxes share them: the job's time stays linear
/// in the number of mailboxes per folder. What is kept follows the depth of the walk.
class AttachmentFolderSearch {
public:
    /// `source` is the job's source, a folder or a single mailbox.
    AttachmentFolderSearch(const std::string& source, std::vector<std::string> userFolders);

    AttachmentFolders foldersFor(const std::string& mailboxPath);

private:
    struct Level {
        AttachmentFolders found;
        bool eudoraTop = false;
    };
    const Level& level(const std::string& folder);

    std::string ceiling_; // the highest folder searched (real path); empty: none found
    std::vector<std::string> userFolders_;
    std::map<std::string, Level> levels_; // the folders on the path of the current mailbox
    AttachmentFolders::Folders userFiles_;
    AttachmentFolders::Folders userEmbedded_;
};

} // namespace tarnwick
