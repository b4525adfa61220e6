#pragma once
// The record of an account's uploads, kept beside the settings: a line before each
// APPEND ("P") and one after the server took the message ("D"). A message is known
// by its folder, the SHA-256 of its bytes and which copy of those bytes in the
// folder it is, so a folder converted again is recognised message by message.
// Lines are written as they come and put on disk together (commit): before a batch
// of APPENDs, so that every message the server may hold has at least its "P" line.

#include "platform/UploadFiles.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarnwick {

/// A key as held in memory: 16 bytes of the SHA-256 of its text (a long journal
/// costs 16 bytes an entry, not the whole text).
using JournalKeyHash = std::array<std::uint8_t, 16>;
JournalKeyHash journalKeyHash(std::string_view key);

struct JournalKeyHashing {
    std::size_t operator()(const JournalKeyHash& hash) const
    {
        std::size_t value;
        std::memcpy(&value, hash.data(), sizeof value);
        return value;
    }
};

/// The keys of a journal: a sorted list read from the file, and those added since.
class JournalKeySet {
public:
    bool contains(const JournalKeyHash& hash) const;
    void insert(const JournalKeyHash& hash) { added_.insert(hash); }
    /// Sorts what was read (loaded with load) for lookups.
    void load(const JournalKeyHash& hash) { sorted_.push_back(hash); }
    void finishLoading();
    std::size_t size() const { return sorted_.size() + added_.size(); }

private:
    std::vector<JournalKeyHash> sorted_;
    std::unordered_set<JournalKeyHash, JournalKeyHashing> added_;
};

struct JournalEntries {
    JournalKeySet done;
    JournalKeySet pending; // begun; done as well when it was confirmed
};

/// The key of the occurrence-th copy (from 0) of a message in a server folder.
std::string journalKey(std::string_view folder, std::string_view digest, std::uint32_t occurrence);

/// Reads the whole lines of a journal's text into entries (loaded, not yet sorted);
/// returns the length of text they took. Lines that are not whole entries (a crash
/// cut one short, or the file was damaged) are passed over.
std::size_t readJournalLines(std::string_view text, JournalEntries& entries);

/// A journal's text read whole: what readJournalLines gives, sorted.
JournalEntries parseJournal(std::string_view text);

class UploadJournal {
public:
    /// Reads the journal at path (a missing one is empty) and opens it for appending.
    /// Error text on failure.
    std::string open(const std::string& path);

    bool isDone(const std::string& key) const { return entries_.done.contains(journalKeyHash(key)); }
    bool isPending(const std::string& key) const
    {
        const JournalKeyHash hash = journalKeyHash(key);
        return entries_.pending.contains(hash) && !entries_.done.contains(hash);
    }
    /// Write the line; on disk with the next commit.
    std::string markPending(const std::string& key);
    std::string markDone(const std::string& key);
    /// Puts every line written so far on disk.
    std::string commit() { return file_.sync(); }
    std::size_t entryCount() const { return entries_.done.size() + entries_.pending.size(); }

private:
    JournalEntries entries_;
    AppendOnlyFile file_;
};

} // namespace tarnwick
