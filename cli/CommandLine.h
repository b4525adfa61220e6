#pragma once
// Parsing of tarnwick-cli's arguments into settings for this run.

#include "platform/SettingsStore.h"
#include "platform/encodings/TextEncoding.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::cli {

struct CommandLine {
    /// Settings given on the command line, in the order given (the last one wins).
    std::vector<std::pair<std::string, SettingValue>> settings;
    std::vector<std::string> operands;
    bool help = false;
    bool version = false;
    bool listEncodings = false;
    bool quiet = false;      // no status lines, no summary
    std::string imapAddress; // --imap: upload SOURCE (a Maildir tree) into this account
    std::string imapCaFile;
    bool imapPlain = false;
    unsigned imapConnections = 0;   // --imap-connections; 0: the upload's default
    bool intoThunderbird = false;   // convert SOURCE into the Thunderbird profile's Local Folders
    std::string thunderbirdProfile; // --thunderbird-profile: that profile, not the default
};

/// The parsed arguments, or the text of a usage error.
struct ParseResult {
    std::optional<CommandLine> commandLine; // none on a usage error
    std::string error;
};

/// Parses argv.
ParseResult parseCommandLine(int argc, char** argv);

/// An on/off switch: --NAME sets the boolean setting `key` for this run, --no-NAME clears it.
struct Switch {
    const char* name;
    const char* negated;
    std::string_view key;
};

/// Every switch parseCommandLine knows, in the order of the help text.
std::span<const Switch> switches();

/// The name of every long option parseCommandLine knows (both forms of each switch
/// included), so that checks can cover each of them.
std::vector<std::string> longOptionNames();

/// "auto" or 0 (Automatic), an IANA name or alias of an available encoding, or the
/// decimal identifier of one
/// (up to 0xFFFFFFFF); none for anything else.
std::optional<EncodingId> parseSourceEncoding(std::string_view text);

/// MboxEncoding holds the identifier's 32-bit pattern as a signed number, as the
/// window's menu tags do; casting the stored integer to uint32_t gives it back.
std::int64_t mboxEncodingSetting(EncodingId encoding);

std::string usageText();

} // namespace tarnwick::cli
