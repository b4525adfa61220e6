#pragma once
// Where the mailbox pass's finished messages go. The pass writes the mailbox as a
// stream of messages in mbox form (each begun by its separator line) and, for an
// output that takes messages one by one, marks where each begins with what it needs to
// know of it. The mbox file is one output (MboxFileOutput), a Maildir folder another
// (MaildirOutput); a new destination is a further implementation of this class.

#include "engine/mailbox/MessageIndex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

class OutputFile;

/// What an output learns of a message as it begins.
struct MessageHead {
    const MessageFacts* facts = nullptr; // the index's record of it, when there is one
    std::optional<std::int64_t> instant; // its separator line's date (seconds since 1970)
};

/// Where in a write a message begins: `at` bytes into the write's pieces taken together
/// (at most their length: a message that begins at the end begins with the next write).
struct MessageStart {
    std::uint64_t at = 0;
    MessageHead head;
};

class MailboxOutput {
public:
    virtual ~MailboxOutput() = default;

    /// Whether the output wants MessageStarts; when false the pass records none.
    virtual bool takesMessages() const = 0;

    /// Writes the next bytes of the stream, `pieces` in order; `starts` (ascending) say
    /// where messages begin among them. False (with errorText()) on failure: the output
    /// takes nothing more.
    virtual bool write(const std::string_view* pieces, std::size_t count, const MessageStart* starts, std::size_t startCount) = 0;
    bool write(std::string_view bytes) { return write(&bytes, 1, nullptr, 0); }

    /// The errno of the failure, 0 when none.
    virtual int error() const = 0;
    virtual std::string errorText() const = 0;

    /// The folder descriptor a spool file for a message too large for memory is made
    /// in, or -1 for the spool folder's path.
    virtual int spoolFolder() const = 0;

    /// The mbox file written, when the output is one: a mailbox split in two parts
    /// appends the second part's file to it.
    virtual OutputFile* file() { return nullptr; }
};

/// The mbox file output: the stream written as it comes, with one gathered write each.
class MboxFileOutput final : public MailboxOutput {
public:
    explicit MboxFileOutput(OutputFile& file) : file_(file) {}

    bool takesMessages() const override { return false; }
    bool write(const std::string_view* pieces, std::size_t count, const MessageStart* starts, std::size_t startCount) override;
    int error() const override;
    std::string errorText() const override;
    int spoolFolder() const override;
    OutputFile* file() override { return &file_; }

private:
    OutputFile& file_;
};

} // namespace tarnwick
