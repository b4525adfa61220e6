#pragma once
// The legacy encodings Eudora stored mail in, by language family and by the platform the
// mailbox comes from.

#include "platform/encodings/TextEncoding.h"

#include <span>
#include <string_view>

namespace tarnwick {

/// Where a mailbox was written: Mac Eudora ends lines with CR alone, Windows Eudora with CR LF.
enum class MailboxOrigin { Windows, Mac };

struct LegacyFamily {
    std::string_view name; // for tests and diagnostics ("Western", "Japanese", ...)
    EncodingId mac;        // what Mac Eudora stored
    EncodingId windows;    // what Windows Eudora stored
    bool multibyte;        // clean decoding is itself evidence for a multibyte family

    /// The origin's encoding first, then the other platform's.
    EncodingId primary(MailboxOrigin origin) const { return origin == MailboxOrigin::Mac ? mac : windows; }
    EncodingId secondary(MailboxOrigin origin) const { return origin == MailboxOrigin::Mac ? windows : mac; }
};

/// Every family, Western first.
std::span<const LegacyFamily> legacyFamilies();

/// The Western family (Mac OS Roman, Windows-1252): the default and the last resort.
const LegacyFamily& westernFamily();

/// The family of a locale language as userLanguage() gives it ("ja", "zh_tw", "pt_br");
/// Western for an empty or unknown language.
const LegacyFamily& familyForLanguage(std::string_view language);

/// The family of a charset name (IANA or ICU detector names, any case); none when the
/// charset belongs to no family (UTF-8, unknown names).
const LegacyFamily* familyForCharset(std::string_view charset);

} // namespace tarnwick
