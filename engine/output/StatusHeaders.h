#pragma once
// The status headers that mbox readers take flags from (Status, X-Status,
// X-Mozilla-Status, X-Priority), built from a message's index record, and the
// keyword headers some readers take its labels from.

#include "engine/mailbox/MessageIndex.h"

#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

/// The headers a message gets beyond those every mbox reader takes flags from.
enum class ExtraStatusHeaders : unsigned char {
    None,
    Labels, // "X-Keywords: $LabelN" for Eudora's label N, and "X-Eudora-Label:" with its name
    // As Thunderbird writes its folders: "X-Mozilla-Status2:" and "X-Mozilla-Keys:" (the
    // label as Thunderbird's tag $labelN), and "X-Keywords:" with $Forwarded and $LabelN
    // for Dovecot reading the same files.
    Thunderbird,
};

/// Which of the status headers a message's own header block already holds.
struct PresentStatusHeaders {
    bool status = false;
    bool xStatus = false;
    bool xMozillaStatus = false;
    bool xPriority = false;
    bool xKeywords = false;
    bool xMozillaStatus2 = false;
    bool xMozillaKeys = false;
    bool xEudoraLabel = false;
};

/// Records in `present` whether a header line (its contents, without terminator) is
/// one of the status headers with a value (the keyword headers only when `extra`
/// adds them); names compare without regard to ASCII case. Returns true for one of
/// them with an empty or blank value (Eudora writes "Status:   " into every message):
/// that line says nothing and gives way to the header appendStatusHeaders adds.
bool noteStatusHeader(std::string_view line, ExtraStatusHeaders extra, PresentStatusHeaders& present);

/// Appends, each ended by `terminator`, the status headers the message lacks:
/// "Status: RO" (read) or "Status: O"; "X-Status:" with "A" when replied and "T" when a
/// draft (mbox readers' answered and draft flags); "X-Mozilla-Status:" with read 0x0001,
/// replied 0x0002, queued 0x0800 (a draft) and forwarded 0x1000 (forwarded or
/// redirected) as four hex digits; the headers `extra` adds; and "X-Priority:" for a
/// priority other than normal (3) or unknown (0), then "X-Keywords:". Beside the
/// keywords, "X-Eudora-Label:" with the label's name from `labelNames` (label N at N - 1,
/// UTF-8; an empty or missing one is none): as it is where it is printable ASCII, else as
/// RFC 2047 encoded-words in UTF-8, folded to lines of at most 78 characters.
void appendStatusHeaders(const MessageFacts& facts, const PresentStatusHeaders& present, ExtraStatusHeaders extra,
                         std::string_view terminator, std::string& out, std::span<const std::string> labelNames = {});

} // namespace tarnwick
