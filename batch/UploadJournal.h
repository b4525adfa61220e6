#pragma once
// The record of an account's uploads, kept beside the settings: a line before each
// APPEND ("P") and one after the server took the message ("D"). A message is known
// by its folder, the SHA-256 of its bytes and which copy of those bytes in the
// folder it is, so a folder converted again is recognised message by message.

#include "platform/UploadFiles.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tarnwick {

struct JournalEntries {
    std::unordered_set<std::string> done;
    std::unordered_set<std::string> pending; // begun, never confirmed
};

/// The key of the occurrence-th copy (from 0) of a message in a server folder.
std::string journalKey(std::string_view folder, std::string_view digest, std::uint32_t occurrence);

/// Reads a journal's text. Lines that are not whole entries (a crash cut the last
/// one short, or the file was damaged) are passed over.
JournalEntries parseJournal(std::string_view text);

class UploadJournal {
public:
    /// Reads the journal at path (a missing one is empty) and opens it for appending.
    /// Error text on failure.
    std::string open(const std::string& path);

    bool isDone(const std::string& key) const { return entries_.done.count(key) != 0; }
    bool isPending(const std::string& key) const { return entries_.pending.count(key) != 0 && !isDone(key); }
    std::string markPending(const std::string& key);
    std::string markDone(const std::string& key);

private:
    JournalEntries entries_;
    AppendOnlyFile file_;
};

} // namespace tarnwick
