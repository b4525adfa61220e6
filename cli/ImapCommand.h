#pragma once
// tarnwick-cli --imap: uploads a Maildir folder tree into a mail account.

#include "cli/CommandLine.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace tarnwick {
class ConversionUpload;
}

namespace tarnwick::cli {

/// The private folder that a conversion for an upload of `source` into the account and
/// folder the command line names works in, in the user's cache folder
/// ($XDG_CACHE_HOME/Tarnwick, else ~/.cache/Tarnwick): the same for the same command, so
/// that a run after one that was killed clears what that one left.
std::string stagingFolder(const CommandLine& line, const std::string& source);

/// Uploads the Maildir tree `maildir` into the account the command line names;
/// returns the exit status (0 all uploaded or present, 1 error or mail left behind,
/// 2 usage, 130 canceled). The result line "Completed" is left to the caller when
/// printCompleted is false.
int runImapUpload(const CommandLine& line, const std::string& maildir, const std::atomic<bool>& cancel, bool printCompleted = true);

/// Uploads the mail that `convert` converts into the private folder `staging` as it
/// converts it (running the job, whose reporter hands `upload` each Maildir it begins).
/// The password is asked and the first connection made before convert runs. convert
/// returns -1 when the mail is converted (with the job's error in its second argument
/// when it went past failed mailboxes), else the run's exit status, which is returned
/// once the batches on their way are up, unless the upload stopped first and says why.
int runImapUploadBeside(const CommandLine& line, const std::string& staging, const std::atomic<bool>& cancel,
                        const std::function<int(ConversionUpload&, std::string&)>& convert);

/// A usage error in --imap or its options (text without "tarnwick-cli: "), checked before
/// anything is converted; empty when there is none.
std::string imapUsageError(const CommandLine& line);

} // namespace tarnwick::cli
