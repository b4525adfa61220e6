#pragma once
// Where Eudora put the files a mailbox's attachment lines name.

#include "batch/EudoraIni.h"
#include "engine/ConversionOptions.h"
#include "engine/text/LegacyEncodings.h"

#include <map>
#include <memory>
#include <set>
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
///
/// The Eudora folder's Eudora.ini is read once, for the attachment folders it names and
/// for the names of Eudora's labels; its Windows text is read in `windowsEncoding`.
class AttachmentFolderSearch {
public:
    /// `source` is the job's source, a folder or a single mailbox.
    AttachmentFolderSearch(const std::string& source, std::vector<std::string> userFolders,
                           EncodingId windowsEncoding = westernFamily().windows);

    /// A folder Eudora.ini names that is not there is logged, once per job.
    AttachmentFolders foldersFor(const std::string& mailboxPath);

    /// The names of labels 1 ... 7 (eudoraLabelNames) from the Eudora.ini of the Eudora
    /// folder holding the mailbox: the first folder up from the mailbox's own, within the
    /// search, that holds "Eudora.ini" or "Eudora Settings". Empty when that folder has
    /// no Eudora.ini (a Mac one), or there is none.
    std::vector<std::string> labelNamesFor(const std::string& mailboxPath);

private:
    struct Level {
        std::shared_ptr<const OpenFolder> open; // until its attachment folders are listed
        bool eudoraTop = false;
        std::shared_ptr<const EudoraIni> ini;   // a Eudora folder's Eudora.ini, when there
        std::optional<AttachmentFolders> found; // listed when first asked for
    };
    Level& level(const std::string& folder);
    const AttachmentFolders& attachmentsOf(const std::string& folder, Level& level);
    std::optional<std::string> startFolder(const std::string& mailboxPath);
    void addSettingFolders(const Level& level, AttachmentFolders::Folders& files);

    std::string ceiling_; // the highest folder searched (real path); empty: none found
    std::vector<std::string> userFolders_;
    std::map<std::string, Level> levels_; // the folders on the path of the current mailbox
    AttachmentFolders::Folders userFiles_;
    AttachmentFolders::Folders userEmbedded_;
    EncodingId windowsEncoding_;
    std::set<std::string> missingReported_; // the settings' folders logged as not there
};

} // namespace tarnwick
