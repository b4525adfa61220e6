#pragma once
// Maildir output: a mailbox converted as for an mbox file, then each of its messages
// delivered as one file of a Maildir folder, with the marks of its status headers as
// the file name's info flags and its separator line's date as the file time.

#include "engine/mailbox/MboxConverter.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class MaildirFolder;

/// What one message's status headers say, as mbox readers take them: "Status:" (R
/// read), "X-Status:" (A answered, F flagged, T draft), "X-Mozilla-Status:" (0x0001
/// read, 0x0002 replied, 0x0004 flagged, 0x1000 forwarded) and "X-Keywords:" (words
/// apart by spaces or commas). A mark any of them gives is set.
struct MessageMarks {
    bool seen = false;
    bool answered = false;
    bool forwarded = false;
    bool flagged = false;
    bool draft = false;
    std::vector<std::string_view> keywords; // views into the header, in order, each once
};

/// Reads the marks from `header` (a message's header lines, each ended by LF or CR LF;
/// reading stops at the first empty line). Names compare without regard to ASCII case;
/// a keyword that an IMAP flag cannot hold (a control character, space or one of
/// (){%*"\]) is left out.
MessageMarks readMessageMarks(std::string_view header);

/// How many of the messages written into one destination folder carry each mark.
struct MarkTally {
    std::uint64_t messages = 0;
    std::uint64_t seen = 0;
    std::uint64_t answered = 0;
    std::uint64_t forwarded = 0;
    std::uint64_t flagged = 0;
    std::uint64_t keyworded = 0; // messages with at least one keyword
    void add(const MessageMarks& marks);
};

/// The most keywords a Maildir folder's file names can carry (the letters a to z).
inline constexpr std::size_t kMaildirKeywordLetters = 26;

/// One message as a Maildir folder takes it.
struct MaildirMessage {
    std::string_view bytes;              // the message without its separator line
    std::string flags;                   // the info flags in order ("FRS", then keyword letters)
    std::optional<std::int64_t> instant; // the separator line's date, when it has one
};

/// Splits converted mbox bytes (every message begins with a "From " line at a line
/// start, lines end with LF or CR LF) and hands each message to `deliver`, in order,
/// until it returns false (then false). Keywords are given letters in the order they
/// are first met, `keywords` holding them; a keyword past the 26th is left out and
/// counted in `keywordsLeftOut`. Bytes before the first "From " line are not a message.
bool forEachMaildirMessage(std::string_view bytes, std::vector<std::string>& keywords, MarkTally& tally, std::uint64_t& keywordsLeftOut,
                           const std::function<bool(const MaildirMessage&)>& deliver);

/// The outcome of convertMaildir: the conversion's, and the marks delivered.
struct MaildirResult {
    ConversionResult conversion;
    MarkTally marks;
};

/// Converts the mailbox at `inputPath` as convertMbox does (with `options`, but no empty
/// line after each message, and lines ended by LF unless options.crlfLineEndings) into
/// a file in `folder`'s tmp/, then delivers its messages into `folder` (a new Maildir
/// made by MaildirFolder::create) and removes that file. On failure, or when stopped,
/// every message delivered is removed again, and the folder with them (discard()).
/// Fails with the texts of convertMbox, and "Could not write to \"%1\": %2" for a
/// delivery that failed.
MaildirResult convertMaildir(const std::string& inputPath, MaildirFolder& folder, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control = {});

} // namespace tarnwick
