#pragma once
// A folder that an interrupted run left behind (a Maildir job's staging folder, which
// holds only copies): removed with everything in it, but only once no process holds
// the lock its run took on it.

#include "platform/OutputFile.h"

#include <string>

namespace tarnwick {

class FolderHandle;

/// Removes the folder `name` of `parent` and everything in it when no process holds a
/// lock on it (the run that made it holds one while it runs: FolderHandle::
/// lockAsEntryOf). Everything is removed relative to the folders opened, never through
/// a link, never on another file system, and no deeper than kLeftoverFolderLevels.
/// Held when it is locked; Kept (with `error`) when it is no folder, the lock cannot
/// be had on this file system, or not all of it could be removed (what could, is).
LeftoverOutcome removeLeftoverFolder(const FolderHandle& parent, const std::string& name, int& error);

inline constexpr int kLeftoverFolderLevels = 8;

} // namespace tarnwick
