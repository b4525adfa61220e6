#pragma once
// Finding and checking the index beside a mailbox file.

#include "engine/mailbox/MessageIndex.h"

#include <cstdint>
#include <string>

namespace tarnwick {

/// The messages of the index beside the mailbox at `mailboxPath` ("In.toc" beside
/// "In.mbx"), when that index is a regular file that reads cleanly and fits the
/// mailbox; empty otherwise. An index that exists but is not used gets one log line.
MessageIndex messageIndexFor(const std::string& mailboxPath);

/// How many messages the mailbox at `mailboxPath` holds that `index` does not list (see
/// unindexedMessageCount): those deleted or moved away in Eudora. 0 when it cannot be read.
std::uint64_t removedMessageCount(const std::string& mailboxPath, const MessageIndex& index);

} // namespace tarnwick
