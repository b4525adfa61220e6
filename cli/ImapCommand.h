#pragma once
// tarnwick-cli --imap: uploads a Maildir folder tree into a mail account.

#include "cli/CommandLine.h"

#include <atomic>

namespace tarnwick::cli {

/// Runs the upload that the command line asks for; returns the exit status
/// (0 all uploaded or present, 1 error or mail left behind, 2 usage, 130 canceled).
int runImapUpload(const CommandLine& line, const std::atomic<bool>& cancel);

} // namespace tarnwick::cli
