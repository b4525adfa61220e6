#pragma once
// Maildir output: the mailbox pass's messages, converted as for an mbox file, each
// delivered as one file of a Maildir folder as it comes, with the marks of its status
// headers as the file name's info flags and its separator line's date as the file time.

#include "engine/mailbox/MboxConverter.h"
#include "engine/output/MailboxOutput.h"

#include <cstdint>
#include <deque>
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

/// readMessageMarks over a header that comes in pieces: the same marks, whatever the
/// pieces. Lines are read as they end; a line of a field it reads is kept until it
/// ends, up to kMaxLine bytes (the rest of a longer line is not read).
class MarkReader {
public:
    static constexpr std::size_t kMaxLine = 1u << 20;

    /// Forgets the header read, for the next message.
    void reset();
    /// Reads the next bytes of the message; those after the header's end are passed over.
    void feed(std::string_view bytes);
    /// The marks of what was fed (a last line without its terminator included); its
    /// keywords are views into this reader, valid until the next reset().
    const MessageMarks& finish();

private:
    void readLine(std::string_view line);

    MessageMarks marks_;
    std::deque<std::string> words_; // the keywords, owned
    std::string carry_;             // the line under way
    bool done_ = false;             // the header's end was read
    bool inKeywords_ = false;
};

/// The info flags of a message with `marks` ("DFPRS" in that order as marked, then its
/// keywords' letters in order). Keywords get letters in the order they are first met,
/// `keywords` holding them; a forwarded message has Dovecot's "$Forwarded" as its first
/// keyword. A keyword past the 26th letter is left out and counted in `keywordsLeftOut`.
std::string maildirFlags(const MessageMarks& marks, std::vector<std::string>& keywords, std::uint64_t& keywordsLeftOut);

/// The Maildir output: the mailbox pass's messages, each written as one file of
/// `folder` (without its separator line) as it comes, given its flags from its status
/// headers and its file time from its separator line's date.
class MaildirOutput final : public MailboxOutput {
public:
    explicit MaildirOutput(MaildirFolder& folder) : folder_(folder) {}

    bool takesMessages() const override { return true; }
    bool write(const std::string_view* pieces, std::size_t count, const MessageStart* starts, std::size_t startCount) override;
    int error() const override;
    std::string errorText() const override;
    int spoolFolder() const override;

    /// Ends the last message, writes the folder's keyword list and moves every message
    /// into cur/. False (with errorText()) on failure.
    bool finish();

    const MarkTally& marks() const { return tally_; }
    std::uint64_t keywordsLeftOut() const { return keywordsLeftOut_; }

    /// How many bytes of a message are gathered before they are written to its file.
    static constexpr std::size_t kGathered = 1u << 20;

private:
    void beginMessage(const MessageHead& head);
    bool endMessage();
    bool take(std::string_view bytes);
    bool flush();

    MaildirFolder& folder_;
    bool open_ = false;        // a message begun
    std::uint64_t taken_ = 0;  // its bytes so far, its separator line included
    bool inSeparator_ = false; // its separator line not yet passed
    bool fileBegun_ = false;   // its file made
    MessageHead head_;
    std::string pending_; // its bytes not yet written
    MarkReader reader_;
    MarkTally tally_;
    std::vector<std::string> keywords_;
    std::uint64_t keywordsLeftOut_ = 0;
};

/// The outcome of convertMaildir: the conversion's, and the marks delivered.
struct MaildirResult {
    ConversionResult conversion;
    MarkTally marks;
};

/// Converts the mailbox at `inputPath` as convertMbox does (with `options`, but no empty
/// line after each message, and lines ended by LF unless options.crlfLineEndings) and
/// delivers its messages into `folder` (a new Maildir made by MaildirFolder::create) as
/// the pass finishes them. On failure, or when stopped, every message delivered is
/// removed again, and the folder with them (discard()). Fails with the texts of
/// convertMbox, "Could not write to \"%1\": %2" naming the folder (where it is placed).
MaildirResult convertMaildir(const std::string& inputPath, MaildirFolder& folder, const ConversionOptions& options,
                             CharsetCandidates& candidates, const ConversionControl& control = {});

} // namespace tarnwick
