#pragma once
// Finding and checking the index beside a mailbox file.

#include "engine/mailbox/MessageIndex.h"
#include "platform/ContainedFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tarnwick {

/// The names of the folders a walk is in, each listed once, so that looking names up
/// in a folder of many mailboxes costs one listing, not one per mailbox. Only the
/// folders on the path of the last lookup are kept (a walk never comes back to another).
class FolderNameLookup {
public:
    /// The one entry of `folder` equal to `name` under case folding (an exact one first).
    std::optional<std::string> find(const std::string& folder, const std::string& name);

private:
    std::map<std::string, std::shared_ptr<const OpenFolder>> listed_;
};

/// The messages of the index beside the mailbox at `mailboxPath` ("In.toc" beside
/// "In.mbx"), when that index is a regular file that reads cleanly and fits the
/// mailbox; empty otherwise. An index that exists but is not used gets one log line.
/// An index named in another letter case is looked up through `names` (a job's).
MessageIndex messageIndexFor(const std::string& mailboxPath, FolderNameLookup& names);
MessageIndex messageIndexFor(const std::string& mailboxPath);

/// How many messages the mailbox at `mailboxPath` holds that `index` does not list (see
/// unindexedMessageCount): those deleted or moved away in Eudora. 0 when it cannot be read.
std::uint64_t removedMessageCount(const std::string& mailboxPath, const MessageIndex& index);

} // namespace tarnwick
