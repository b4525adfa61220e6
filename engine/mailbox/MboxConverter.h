#pragma once
// Mailbox stream conversion: one Eudora mailbox file into one mbox file.

#include "engine/attachments/AttachmentTally.h"
#include "engine/ConversionOptions.h"
#include "engine/message/MessageConverter.h"
#include "platform/FileIdentity.h"
#include "platform/MappedFile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

class FolderHandle;
class MailboxOutput;

/// The outcome of one mailbox conversion.
struct ConversionResult {
    bool succeeded = true;
    std::string errorText;       // localised, set when the conversion failed
    AttachmentTally attachments; // files put back into messages and files missing
    std::uint64_t messages = 0;  // messages written
    bool notMailbox = false;     // skipped: the input does not begin with a "From " line
    /// Messages left unconverted, by reason: counted by the overloads that convert with
    /// convertMessage themselves (a MessageConversion of the caller's counts its own).
    UnconvertedCounts unconverted;
    /// How many parts the mailbox was converted in at the same time: 2 when it was split
    /// (see ConversionControl::splitBytes) and the second part's output was taken, else 1.
    unsigned parts = 1;
};

/// The per-message conversion as convertMbox hands it each finished message: the
/// message, its header length (or kHeaderLengthNone), what the mailbox carries from
/// message to message, and the buffer for the result. Returns true when `result` holds
/// the bytes to write instead of the message.
using MessageConversion
    = std::function<bool(std::string_view message, std::uint64_t headerLength, MailboxContext& mailbox, std::string& result)>;

/// How many bytes of collected messages convertMbox converts as one batch on either
/// thread, when it converts with convertMessage itself.
inline constexpr std::size_t kConversionBatchBytes = 256u << 10;

/// The size from which convertMbox with charset candidates converts a mailbox as two
/// parts at the same time, and the hardware threads the machine needs for it. With two,
/// the one pass (its conversion and writing threads) already keeps most of both busy,
/// and the second part's temporary file costs more than it gains (bench/ --jobs).
inline constexpr std::uint64_t kSplitBytes = 32u << 20;
inline constexpr unsigned kSplitCores = 4;

/// How convertMbox opens its input, and when it abandons its output.
struct ConversionControl {
    LinkPolicy inputLinks = LinkPolicy::Follow;
    /// When set and true, the output under way is abandoned at its next write.
    const std::atomic<bool>* stop = nullptr;
    /// The identity of the claim as it was created; none: what is at the output path
    /// when the conversion starts.
    std::optional<FileIdentity> claim = std::nullopt;
    /// When set, the output's folder held open (`outputPath` is its path and the
    /// output's name): the output is made and renamed relative to it alone.
    const FolderHandle* outputFolder = nullptr;
    /// When set, called with how far the pass has read into the input and the input's
    /// size, each time it has passed another kProgressStep bytes (never per line).
    std::function<void(std::uint64_t done, std::uint64_t total)> progress = nullptr;
    /// The batch size of the conversion on two threads (tests make it small, so that a
    /// small mailbox spans many batches).
    std::size_t conversionBatchBytes = kConversionBatchBytes;
    /// convertMbox with charset candidates converts a mailbox at least this large in two
    /// parts at the same time, each on its own thread, when the machine has splitCores
    /// hardware threads or more: the second part from the first message after splitFrom
    /// (none: the middle of the input) into an unnamed file appended to the output. 0:
    /// never (tests make both small, and choose splitFrom, to split where they want).
    std::uint64_t splitBytes = kSplitBytes;
    unsigned splitCores = kSplitCores;
    std::optional<std::uint64_t> splitFrom = std::nullopt;
};

/// How much input lies between two calls of ConversionControl::progress.
inline constexpr std::uint64_t kProgressStep = 4u << 20;

/// Converts the mailbox at `inputPath` for the claimed output `outputPath` (an
/// existing file that reserves the name) as `options` say, handing each message to
/// `convert` when options.convertEncodings is on. The output is written to a new
/// temporary file beside `outputPath`, with the input's permission bits, and renamed
/// over the claim only when complete; on failure the temporary file is removed and
/// the claim left as it was. An empty input, or one that is not a mailbox, is skipped
/// (succeeds, nothing written, the claim untouched). Fails with one localised error
/// text ("\"%1\" not found", "Could not open \"%1\": %2", "Could not create \"%1\": %2",
/// "Could not read \"%1\"", "Could not write to \"%1\": %2").
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const MessageConversion& convert, const ConversionControl& control = {});

/// The conversion of a message too large for memory, as convertMbox hands it over
/// from a spool file: its size, how to read it, its header length and where to write
/// the result (see convertLargeMessage).
using LargeMessageConversion
    = std::function<LargeMessageOutcome(std::uint64_t size, const MessageReader& read, std::uint64_t headerLength, MailboxContext& mailbox,
                                        const std::function<bool(std::string_view)>& write)>;

/// convertMbox that hands a message above 4 MiB, collected in an unnamed spool file in
/// the output's folder rather than in memory, to `convertLarge` (when it is set and the
/// message has no attachment line); one that `convertLarge` cannot stream is read back
/// and handed to `convert`.
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const MessageConversion& convert, const LargeMessageConversion& convertLarge,
                             const ConversionControl& control = {});

/// convertMbox with convertMessage and convertLargeMessage over `candidates` (a job's
/// list, shared by its mailboxes), counting the messages left unconverted. Messages are
/// converted in batches on a second thread while the pass goes on, with the bytes, log
/// lines and counts of converting them one after the other (convertMbox with a
/// MessageConversion, which converts on the calling thread alone).
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control = {});

/// The output side of convertMailboxInto: made once the input is known to be a mailbox
/// to convert, finished once the pass is done, discarded when the conversion fails.
class OutputDestination {
public:
    virtual ~OutputDestination() = default;
    /// Makes the output for `input`. False (with errorText()) when it cannot.
    virtual bool open(const MappedFile& input, const ConversionControl& control) = 0;
    virtual MailboxOutput& output() = 0;
    /// Makes what was written whole and durable. False (with errorText()) when it cannot.
    virtual bool finish() = 0;
    /// Removes what was written.
    virtual void discard() = 0;
    /// A path in the folder where spool files for messages too large for memory go.
    virtual const std::string& spoolPath() const = 0;
    /// The output's name in messages.
    virtual const std::string& name() const = 0;
    virtual std::string errorText() const = 0;
};

/// convertMbox over `candidates` into any output: the input opened and checked as
/// convertMbox does (an empty input, or one that is not a mailbox, is skipped without
/// opening the output), the pass run into `destination`'s output, which is finished
/// when the pass succeeded and discarded when it failed. A mailbox is split in two
/// parts only for an output that is an mbox file.
ConversionResult convertMailboxInto(const std::string& inputPath, OutputDestination& destination, const ConversionOptions& options,
                                    CharsetCandidates& candidates, const ConversionControl& control = {});

/// convertMbox over a candidate list of this call's own.
ConversionResult convertMbox(const std::string& inputPath, const std::string& outputPath, const ConversionOptions& options,
                             const ConversionControl& control = {});

} // namespace tarnwick
