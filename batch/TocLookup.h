#pragma once
// Finding and checking the index beside a mailbox file.

#include "engine/mailbox/MessageIndex.h"

#include <string>

namespace tarnwick {

/// The messages of the index beside the mailbox at `mailboxPath` ("In.toc" beside
/// "In.mbx"), when that index is a regular file that reads cleanly and fits the
/// mailbox; empty otherwise. An index that exists but is not used gets one log line.
MessageIndex messageIndexFor(const std::string& mailboxPath);

} // namespace tarnwick
