#pragma once
// Where a mailbox goes in a Maildir destination, and claiming that folder: Dovecot's
// Maildir++ form (".Work.Project Alpha" beside the root's own cur/new/tmp, names in
// IMAP's modified UTF-7) or plain nested folders ("Work/Project Alpha", names as they are).

#include "platform/MaildirFolder.h"
#include "platform/OutputFile.h"

#include <memory>
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

class FolderHandle;

/// The name of the hidden folder in a Maildir destination's tmp/ where a job fills its
/// Maildirs until each is done ("tmp/" + this prefix + six characters): a Maildir
/// reader never takes anything in tmp/ for a mailbox, Dovecot in either layout and
/// notmuch alike.
inline constexpr const char* kMaildirStagingPrefix = ".tarnwick-";

/// Whether `name` is a staging folder's: the prefix and six lower-case letters or digits.
bool isMaildirStagingName(std::string_view name);

/// What became of a staging folder found in a destination's tmp/.
struct StagingLeftover {
    std::string path;
    LeftoverOutcome outcome = LeftoverOutcome::Kept;
    int error = 0; // why it was kept
};

/// The staging folders in the tmp/ of the held folder `destination`, each removed with
/// what it holds (copies: the source is untouched) when no job holds it: a job locks
/// its staging folder while it runs, a killed one no longer does; the staging folder of
/// a job still running (another window or command converting into the destination)
/// is left alone. Nothing else in tmp/ is touched; a tmp/ that held only staging
/// folders, all removed, goes too unless the destination is a Maildir (has cur/).
std::vector<StagingLeftover> removeStagingLeftovers(const FolderHandle& destination);

/// A job's Maildir destination: held open from the start, so that every Maildir goes
/// into the folder it named even if its path is swapped for a link meanwhile; each
/// mailbox is delivered into a new Maildir in the staging folder and moved to its place
/// (MaildirFolder::place) only once it is complete, so that an interrupted job leaves no
/// mailbox that looks finished. The staging folder is locked while the job runs and goes
/// when the job does (and the tmp/ made for it, when empty).
class MaildirPlacement {
public:
    /// Holds the folder `destination`; none (with `error`) when it cannot.
    static std::unique_ptr<MaildirPlacement> open(const std::string& destination, int& error);
    ~MaildirPlacement();
    MaildirPlacement(const MaildirPlacement&) = delete;
    MaildirPlacement& operator=(const MaildirPlacement&) = delete;

    const std::string& path() const;

    /// claimMaildir below the held destination: the folders on the way (nested form) or
    /// the root's cur/new/tmp (Maildir++) are made now, the Maildir itself in the staging
    /// folder (claim.path), its place and name (numbered then) given when it is placed.
    /// With `exactName` (nested form) the Maildir is placed under its name or not at all
    /// (EEXIST), never numbered: a destination the user named is the Maildir itself.
    MaildirClaim claim(const std::vector<std::string>& path, bool nested, MaildirFolder& folder, bool exactName = false);

    /// The held destination.
    const FolderHandle& folder() const { return *destination_; }

    /// The staging folder, once made (its path; empty before).
    const std::string& stagingPath() const { return stagingPath_; }

private:
    explicit MaildirPlacement(std::shared_ptr<const FolderHandle> destination) : destination_(std::move(destination)) {}
    int openStaging(bool rootIsMaildir);

    std::shared_ptr<const FolderHandle> destination_;
    std::shared_ptr<const FolderHandle> tmp_;
    std::shared_ptr<const FolderHandle> staging_;
    std::string stagingName_;
    std::string stagingPath_;
    bool madeTmp_ = false;
    int staged_ = 0; // Maildirs made in the staging folder so far
};

} // namespace tarnwick
