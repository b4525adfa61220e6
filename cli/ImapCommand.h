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

/// The private folder for the converted mail of uploads of `source` into the account
/// and folder the command line names, in the user's cache folder ($XDG_CACHE_HOME/Tarnwick,
/// else ~/.cache/Tarnwick): the same for the same command, so that a run after an
/// interruption uploads the very files the first one converted.
std::string stagingFolder(const CommandLine& line, const std::string& source);

/// Uploads the Maildir tree `maildir` into the account the command line names;
/// returns the exit status (0 all uploaded or present, 1 error or mail left behind,
/// 2 usage, 130 canceled). The result line "Completed" is left to the caller when
/// printCompleted is false.
int runImapUpload(const CommandLine& line, const std::string& maildir, const std::atomic<bool>& cancel, bool printCompleted = true);

/// Uploads the private Maildir tree `staging` while `convert` fills it (running the job,
/// whose reporter tells `upload` of each Maildir it begins): convert returns -1 when the
/// mail is converted (the upload then goes on to its end, "Completed" printed only when
/// conversionError is empty by then), else the run's exit status, which is returned
/// once the batches on their way are up. The password is asked before convert runs.
int runImapUploadBeside(const CommandLine& line, const std::string& staging, const std::atomic<bool>& cancel,
                        const std::function<int(ConversionUpload&)>& convert, const std::string& conversionError);

/// A usage error in --imap or its options (text without "tarnwick-cli: "), checked before
/// anything is converted; empty when there is none.
std::string imapUsageError(const CommandLine& line);

} // namespace tarnwick::cli
