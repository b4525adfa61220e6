#pragma once
// Where a mailbox goes in a Maildir destination, and claiming that folder: Dovecot's
// Maildir++ form (".Work.Project Alpha" beside the root's own cur/new/tmp, names in
// IMAP's modified UTF-7) or plain nested folders ("Work/Project Alpha", names as they are).

#include "platform/MaildirFolder.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// A mailbox's name as a mail folder's: its file's ".mbx" extension (any case) left out.
std::string mailFolderName(std::string_view mailboxName);

/// `name` (UTF-8; a byte that is not read as U+FFFD) in IMAP's modified UTF-7 (RFC 3501
/// 5.1.3): "&" as "&-", printable ASCII as it is, anything else as "&" modified base64
/// of its UTF-16 "-".
std::string modifiedUtf7(std::string_view name);

/// The Maildir++ folder name of a mailbox at `path` (its folders, then its name), as
/// Dovecot reads it: "." before each component, a "." or "/" within one becoming "_",
/// each in modified UTF-7.
std::string maildirPlusName(const std::vector<std::string>& path);

/// The outcome of claimMaildir.
struct MaildirClaim {
    std::string path;                        // the folder made; on failure the one whose creation failed
    int error = 0;                           // 0 when made
    std::vector<std::string> createdFolders; // plain folders made on the way (nested form)
    bool claimed() const { return error == 0; }
};

/// Makes a new Maildir for the mailbox at `path` (below `destination`, each component
/// a plain name, the mailbox last, its extension already left out) in `folder`: in the
/// Maildir++ form (`nested` false; the destination made a Maildir root too) or nested
/// folders. A name taken by anything gets "_2", "_3", ... before the encoding.
MaildirClaim claimMaildir(const std::string& destination, const std::vector<std::string>& path, bool nested, MaildirFolder& folder);

} // namespace tarnwick
