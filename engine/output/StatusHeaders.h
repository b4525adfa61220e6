#pragma once
// The status headers that mbox readers take flags from (Status, X-Status,
// X-Mozilla-Status, X-Priority), built from a message's index record.

#include "engine/mailbox/MessageIndex.h"

#include <string>
#include <string_view>

namespace tarnwick {

/// Which of the status headers a message's own header block already holds.
struct PresentStatusHeaders {
    bool status = false;
    bool xStatus = false;
    bool xMozillaStatus = false;
    bool xPriority = false;
    bool xKeywords = false;
};

/// Records in `present` whether a header line (its contents, without terminator) is
/// one of the status headers with a value; names compare without regard to ASCII
/// case. Returns true for one of them with an empty or blank value (Eudora writes
/// "Status:   " into every message): that line says nothing and gives way to the
/// header appendStatusHeaders adds.
bool noteStatusHeader(std::string_view line, PresentStatusHeaders& present);

/// Appends, each ended by `terminator`, the status headers the message lacks:
/// "Status: RO" (read) or "Status: O"; "X-Status:" with "A" when replied and "T" when a
/// draft (mbox readers' answered and draft flags); "X-Mozilla-Status:" with read 0x0001,
/// replied 0x0002, queued 0x0800 (a draft) and forwarded 0x1000 (forwarded or
/// redirected) as four hex digits; and "X-Priority:" for a priority other than normal
/// (3) or unknown (0).
/// Appends "X-Keywords: $LabelN" (ended by `terminator`) for a message with Eudora's
/// label N, unless the message has an X-Keywords header of its own: the keyword that
/// Dovecot takes from an mbox file, and a Maildir output gives the message.
void appendKeywordsHeader(const MessageFacts& facts, const PresentStatusHeaders& present, std::string_view terminator,
                          std::string& out);

void appendStatusHeaders(const MessageFacts& facts, const PresentStatusHeaders& present,
                         std::string_view terminator, std::string& out);

} // namespace tarnwick
