#pragma once
// Puts the files behind a message's attachment lines back into it: the message becomes
// multipart/mixed (and multipart/related around HTML and its inline images), each
// found file a base64 part streamed from its folder. Lines whose file is missing stay.

#include "engine/attachments/AttachmentLine.h"
#include "engine/attachments/AttachmentTally.h"
#include "engine/ByteRange.h"
#include "engine/ConversionOptions.h"
#include "engine/attachments/MimeWriter.h"
#include "engine/text/AutomaticEncoding.h"
#include "platform/ContainedFile.h"
#include "platform/encodings/TextEncoding.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// The text conversion the message would get without attachments (as convertMessage):
/// true when `result` holds the bytes to write instead of `message`.
using TextConversion = std::function<bool(std::string_view message, std::uint64_t headerLength, std::string& result)>;

struct ReattachmentContext {
    const AttachmentFolders& folders;
    EncodingId sourceEncoding;     // what the names in the lines are written in
    std::string_view terminator;   // every line written ends with it
    const TextConversion* convert; // null when the text is written as collected
    AttachmentTally& tally;
    /// The encoding the conversion takes the message's header in, for its subject in
    /// log lines; asked only when a file is missing. Null: `sourceEncoding`.
    const std::function<EncodingId()>* subjectEncoding = nullptr;
    /// What a text file put back is taken to be in, for its charset label: the source
    /// encoding, and with Automatic the mailbox it comes from.
    EncodingId textEncoding = kEncodingAutomatic;
    AutomaticSource automatic{};
    /// Whether a text file put back gets that charset label at all (off: as written
    /// before labels were given, for those who want those bytes).
    bool labelTextFiles = true;
};

enum class ReattachOutcome {
    Unchanged,   // no file was found: nothing written, the message goes out as today
    Written,     // the whole rebuilt message went to the sink
    WriteFailed, // the sink refused bytes
    ReadFailed,  // a file could not be read to its end; `failedPath` and `error` say which
};

struct ReattachResult {
    ReattachOutcome outcome = ReattachOutcome::Unchanged;
    std::string failedPath;
    int error = 0;
};

/// The file found for one attachment line, and how it is written. The file is opened
/// again when it is written, so that a message naming many files holds none open.
struct FoundAttachment {
    AttachmentReference reference;
    const OpenFolder* folder = nullptr;  // where it was found
    std::vector<std::string> components; // below `folder`, as named on disk
    std::string path;                    // for messages
    std::string displayName;             // UTF-8
    std::string mediaType;
    std::string contentId;           // without angle brackets; embedded parts only
    std::string header;              // the part's header, blank line included
    std::size_t embeddedOrdinal = 0; // among the message's embedded lines, found or not
};

/// What looking a message's attachment lines up found: the files, and the lines that go.
struct AttachmentLookup {
    std::vector<FoundAttachment> parts;
    std::vector<ByteRange> removed;
    std::size_t embeddedLines = 0;
};

/// The first half of writeWithAttachments: looks each line's file up, logs and counts
/// the missing ones. Converts and writes nothing.
AttachmentLookup lookUpAttachments(std::string_view message, std::uint64_t headerLength, std::span<const ByteRange> lines,
                                   const ReattachmentContext& context);

/// The second half: writes the message rebuilt with the files `found` (at least one).
ReattachResult writeWithAttachments(std::string_view message, std::uint64_t headerLength, AttachmentLookup& found,
                                    const ReattachmentContext& context, ByteSink& sink);

/// `message` is one collected message (separator line first, lines ended by the
/// output terminator); `lines` the contents ranges of the body lines that may be
/// attachment lines. Looks each line's file up, logs and counts the missing ones, and
/// when at least one is found writes the rebuilt message to `sink`.
ReattachResult writeWithAttachments(std::string_view message, std::uint64_t headerLength, std::span<const ByteRange> lines,
                                    const ReattachmentContext& context, ByteSink& sink);

} // namespace tarnwick
