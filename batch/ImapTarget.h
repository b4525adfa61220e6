#pragma once
// Where an upload goes: the account named by an imaps:// or imap:// address, and the
// server-side name of each folder (modified UTF-7, the server's delimiter).

#include "platform/ImapSession.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct ImapTarget {
    ImapSecurity security = ImapSecurity::Tls;
    std::string user;
    std::string host;
    std::uint16_t port = 993;
    std::vector<std::string> topFolder; // its components, UTF-8; "Eudora" when none is given
};

struct ImapTargetResult {
    std::optional<ImapTarget> target;
    std::string error;
};

/// Reads imaps://USER@HOST[:PORT]/TOPFOLDER (TLS, port 993) or imap://... (STARTTLS,
/// port 143). USER may hold "@" (the last one ends it) and %XX escapes; an IPv6 host
/// is written in brackets. A password in the address is refused.
ImapTargetResult parseImapTarget(std::string_view address);

/// The folder name in IMAP's modified UTF-7 (RFC 3501 5.1.3); bytes that are not
/// UTF-8 become U+FFFD.
std::string encodeModifiedUtf7(std::string_view utf8);

/// The UTF-8 text of a name that may hold modified UTF-7 runs ("&...-"); a run that is
/// not valid modified UTF-7 stays as it is.
std::string decodeModifiedUtf7(std::string_view name);

/// The components of a Maildir++ folder name (".A.B" gives A, B; each decoded with
/// decodeModifiedUtf7); none for a name that is not a Maildir++ folder.
std::optional<std::vector<std::string>> maildirFolderComponents(std::string_view name);

/// The server's name of a folder: the components joined with the delimiter, each
/// encoded, a delimiter inside a component written as "_".
std::string serverFolderName(const std::vector<std::string>& components, char delimiter);

} // namespace tarnwick
