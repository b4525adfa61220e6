#pragma once
// Where Eudora put the files a mailbox's attachment lines name.

#include "engine/Reattachment.h"

#include <string>
#include <vector>

namespace tarnwick {

/// The attachment folders for the mailbox at `mailboxPath`. Starting at the mailbox's
/// own folder and going up through its parents, the first folder that holds any of
/// "attach", "Attachments Folder" (files), "Embedded", "Parts Folder" (inline parts),
/// in any letter case, gives them; the climb also ends after the top of a Eudora
/// folder (one that holds "Eudora.ini" or "Eudora Settings") and after a few levels.
/// A symbolic link is never taken for an attachment folder. `userFolders` follow
/// in both lists, in the order given.
AttachmentFolders attachmentFoldersFor(const std::string& mailboxPath, const std::vector<std::string>& userFolders);

} // namespace tarnwick
