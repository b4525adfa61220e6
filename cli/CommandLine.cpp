#include "cli/CommandLine.h"

#include "engine/text/CharsetCandidates.h"
#include "settings/CharsetNamesText.h"
#include "settings/SettingsKeys.h"

#include <getopt.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace tarnwick::cli {
namespace {

enum OptionCode : int {
    kHelp = 'h',
    kVersion = 'V',
    kFirstLong = 256,
    kSourceEncoding,
    kCharsets,
    kLayout,
    kFormat,
    kRemovedMessages,
    kListEncodings,
    kAttachmentsFolder,
    kKeepGoing,
    kQuiet,
    kImap,
    kImapCa,
    kImapPlain,
    kImapConnections,
    kIntoThunderbird,
    kThunderbirdProfile,
    kFirstSwitch = 512, // switches: kFirstSwitch + 2 * index (+1 for --no-...)
};

const Switch kSwitches[] = {
    {"convert-encodings", "no-convert-encodings", keys::kConvertEncodings},
    {"eudora-tags", "no-eudora-tags", keys::kProcessEudoraTags},
    {"crlf", "no-crlf", keys::kConvertLineEndings},
    {"complement-dates", "no-complement-dates", keys::kComplementDateHeaders},
    {"add-empty-lines", "no-add-empty-lines", keys::kAddEmptyLines},
    {"replace-nbsp", "no-replace-nbsp", keys::kReplaceNBSPWithSpaceInMacJapanese},
    {"attachments", "no-attachments", keys::kPutBackAttachments},
    {"toc", "no-toc", keys::kUseEudoraRecords},
    {"encode-headers", "no-encode-headers", keys::kEncodeHeaders},
    {"drop-stale-lengths", "no-drop-stale-lengths", keys::kDropStaleLengths},
    {"mend-cr", "no-mend-cr", keys::kMendCROnlyLineEndings},
    {"rich-text", "no-rich-text", keys::kConvertRichText},
    {"label-text-attachments", "no-label-text-attachments", keys::kLabelTextAttachments},
};
constexpr int kSwitchCount = static_cast<int>(std::size(kSwitches));

std::vector<option> longOptions()
{
    std::vector<option> options = {
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {"source-encoding", required_argument, nullptr, kSourceEncoding},
        {"charsets", required_argument, nullptr, kCharsets},
        {"layout", required_argument, nullptr, kLayout},
        {"format", required_argument, nullptr, kFormat},
        {"removed-messages", required_argument, nullptr, kRemovedMessages},
        {"list-encodings", no_argument, nullptr, kListEncodings},
        {"attachments-folder", required_argument, nullptr, kAttachmentsFolder},
        {"keep-going", no_argument, nullptr, kKeepGoing},
        {"quiet", no_argument, nullptr, kQuiet},
        {"imap", required_argument, nullptr, kImap},
        {"imap-ca", required_argument, nullptr, kImapCa},
        {"imap-plain", no_argument, nullptr, kImapPlain},
        {"imap-connections", required_argument, nullptr, kImapConnections},
        {"into-thunderbird", no_argument, nullptr, kIntoThunderbird},
        {"thunderbird-profile", required_argument, nullptr, kThunderbirdProfile},
    };
    for (int i = 0; i < kSwitchCount; ++i) {
        options.push_back({kSwitches[i].name, no_argument, nullptr, kFirstSwitch + 2 * i});
        options.push_back({kSwitches[i].negated, no_argument, nullptr, kFirstSwitch + 2 * i + 1});
    }
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

std::optional<std::uint64_t> parseDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// What --into-thunderbird cannot go with: another layout or format, an upload, a
// destination (Thunderbird's Local Folders is the destination).
std::string intoThunderbirdError(const CommandLine& line)
{
    for (const auto& [key, value] : line.settings) {
        const std::string& text = std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
        if ((key == keys::kOutputLayout && text != "thunderbird") || (key == keys::kOutputFormat && text != "mbox"))
            return "--into-thunderbird writes Thunderbird's own folders: it takes no other --layout or --format";
    }
    if (!line.imapAddress.empty())
        return "--into-thunderbird and --imap go to different places: give one of them";
    if (!line.help && !line.version && !line.listEncodings && line.operands.size() != 1)
        return line.operands.empty() ? "SOURCE is required" : "--into-thunderbird takes SOURCE alone, no DESTINATION";
    return {};
}

// Maildir files and Thunderbird's folders end their lines with LF, as the programs
// that read them write them, unless the line asks for CR LF itself.
void preferLFForLFReaders(CommandLine& line)
{
    const auto given = [&line](std::string_view key) {
        return std::any_of(line.settings.begin(), line.settings.end(), [key](const auto& setting) { return setting.first == key; });
    };
    const auto lastFormat = std::find_if(line.settings.rbegin(), line.settings.rend(),
                                         [](const auto& setting) { return setting.first == keys::kOutputFormat; });
    const auto lastLayout = std::find_if(line.settings.rbegin(), line.settings.rend(),
                                         [](const auto& setting) { return setting.first == keys::kOutputLayout; });
    const bool lfReader = (lastFormat != line.settings.rend() && std::get<std::string>(lastFormat->second) == "maildir")
        || (lastLayout != line.settings.rend() && std::get<std::string>(lastLayout->second) == "thunderbird");
    if (lfReader && !given(keys::kConvertLineEndings))
        line.settings.emplace_back(std::string(keys::kConvertLineEndings), false);
}

// The settings and checks that follow from the whole line; the usage error's text, or
// empty.
std::string completeCommandLine(CommandLine& line, std::vector<std::string> attachmentFolders)
{
    if (!line.thunderbirdProfile.empty() && !line.intoThunderbird)
        return "--thunderbird-profile goes with --into-thunderbird";
    if (line.intoThunderbird) {
        if (std::string error = intoThunderbirdError(line); !error.empty())
            return error;
        line.settings.emplace_back(std::string(keys::kOutputLayout), std::string("thunderbird"));
        line.settings.emplace_back(std::string(keys::kOutputFormat), std::string("mbox"));
    }
    preferLFForLFReaders(line);
    if (!attachmentFolders.empty())
        line.settings.emplace_back(std::string(keys::kAttachmentFolders), std::move(attachmentFolders));
    if ((!line.imapCaFile.empty() || line.imapPlain || line.imapConnections) && line.imapAddress.empty())
        return "--imap-ca, --imap-plain and --imap-connections go with --imap";
    if (!line.imapAddress.empty()) {
        if (!line.help && !line.version && line.operands.size() != 1)
            return line.operands.empty() ? "SOURCE is required" : "--imap takes SOURCE alone, no DESTINATION";
        return {};
    }
    if (!line.intoThunderbird && !line.help && !line.version && !line.listEncodings && line.operands.size() != 2)
        return line.operands.size() < 2 ? "SOURCE and DESTINATION are required" : "too many operands";
    return {};
}

} // namespace

std::span<const Switch> switches() { return kSwitches; }

std::vector<std::string> longOptionNames()
{
    std::vector<std::string> names;
    for (const option& entry : longOptions())
        if (entry.name)
            names.emplace_back(entry.name);
    return names;
}

std::optional<EncodingId> parseSourceEncoding(std::string_view text)
{
    if (text == "auto" || text == "0")
        return kEncodingAutomatic;
    if (auto number = parseDecimal(text)) {
        if (*number > 0xFFFFFFFFu)
            return std::nullopt;
        const auto encoding = static_cast<EncodingId>(*number);
        const std::vector<EncodingId> available = availableEncodings();
        if (std::find(available.begin(), available.end(), encoding) == available.end())
            return std::nullopt;
        return encoding;
    }
    const PlatformEncoding platform = encodingForIANAName(text);
    if (platform == kPlatformEncodingInvalid || !isEncodingAvailable(platform))
        return std::nullopt;
    return carryEncoding(platform);
}

std::int64_t mboxEncodingSetting(EncodingId encoding) { return static_cast<std::int32_t>(encoding); }

// An option's value into `line` (folders into `attachmentFolders`); the usage error's
// text, or empty.
std::string takeValue(int code, const char* value, CommandLine& line, std::vector<std::string>& attachmentFolders)
{
    switch (code) {
    case kSourceEncoding: {
        const auto encoding = parseSourceEncoding(value);
        if (!encoding)
            return std::string("unknown encoding '") + value + "' (see --list-encodings)";
        // Its outputs would have no "From " lines.
        if (*encoding != kEncodingAutomatic && !readsASCIIAsASCII(*encoding))
            return std::string("encoding '") + value + "' does not read ASCII as ASCII and cannot be a mailbox encoding";
        line.settings.emplace_back(std::string(keys::kMboxEncoding), mboxEncodingSetting(*encoding));
        return {};
    }
    case kAttachmentsFolder:
        if (*value == '\0')
            return "option '--attachments-folder' needs a folder";
        attachmentFolders.emplace_back(value);
        return {};
    case kCharsets: {
        std::vector<std::string> names = splitCharsetText(normalizeCharsetText(value));
        if (std::none_of(names.begin(), names.end(), [](const std::string& name) { return usableCharset(name).has_value(); }))
            return std::string("--charsets '") + value + "' names no usable charset";
        line.settings.emplace_back(std::string(keys::kCharsetNames), std::move(names));
        return {};
    }
    case kLayout:
        if (std::string_view(value) != "flat" && std::string_view(value) != "tree" && std::string_view(value) != "thunderbird")
            return std::string("unknown layout '") + value + "' (flat, tree or thunderbird)";
        line.settings.emplace_back(std::string(keys::kOutputLayout), std::string(value));
        return {};
    case kFormat:
        if (std::string_view(value) != "mbox" && std::string_view(value) != "maildir")
            return std::string("unknown format '") + value + "' (mbox or maildir)";
        line.settings.emplace_back(std::string(keys::kOutputFormat), std::string(value));
        return {};
    }
    return {};
}

namespace {

// The options of an upload into a mail account; an error text when the value is not valid.
std::string takeUploadOption(int code, const char* value, CommandLine& line)
{
    switch (code) {
    case kImap:
        line.imapAddress = value;
        break;
    case kImapCa:
        line.imapCaFile = value;
        break;
    case kImapPlain:
        line.imapPlain = true;
        break;
    default: {
        const std::string_view digits(value);
        const bool number = !digits.empty() && digits.size() <= 2
            && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int count = number ? std::atoi(value) : 0;
        if (count < 1 || count > 10)
            return "option '--imap-connections' takes a number from 1 to 10";
        line.imapConnections = static_cast<unsigned>(count);
        break;
    }
    }
    return {};
}

} // namespace

ParseResult parseCommandLine(int argc, char** argv)
{
    auto usageError = [](std::string text) { return ParseResult{std::nullopt, std::move(text)}; };
    CommandLine line;
    std::vector<std::string> attachmentFolders;
    const std::vector<option> options = longOptions();
    opterr = 0;
    optind = 1;
    int code;
    while ((code = getopt_long(argc, argv, ":hV", options.data(), nullptr)) != -1) {
        switch (code) {
        case kHelp:
            line.help = true;
            break;
        case kVersion:
            line.version = true;
            break;
        case kListEncodings:
            line.listEncodings = true;
            break;
        case kKeepGoing:
            line.settings.emplace_back(std::string(keys::kKeepGoing), true);
            break;
        case kQuiet:
            line.quiet = true;
            break;
        case kImap:
        case kImapCa:
        case kImapPlain:
        case kImapConnections:
            if (std::string error = takeUploadOption(code, optarg, line); !error.empty())
                return usageError(std::move(error));
            break;
        case kIntoThunderbird:
            line.intoThunderbird = true;
            break;
        case kThunderbirdProfile:
            if (*optarg == '\0')
                return usageError("option '--thunderbird-profile' needs a profile name");
            line.thunderbirdProfile = optarg;
            break;
        case kSourceEncoding:
        case kAttachmentsFolder:
        case kCharsets:
        case kLayout:
        case kFormat:
            if (std::string error = takeValue(code, optarg, line, attachmentFolders); !error.empty())
                return usageError(std::move(error));
            break;
        case kRemovedMessages:
            if (std::string_view(optarg) != "apart" && std::string_view(optarg) != "omit" && std::string_view(optarg) != "inside")
                return usageError(std::string("unknown choice '") + optarg + "' for --removed-messages (apart, omit or inside)");
            line.settings.emplace_back(std::string(keys::kRemovedMessages), std::string(optarg));
            break;
        case ':':
            return usageError(std::string("option '") + argv[optind - 1] + "' needs an argument");
        case '?':
            return usageError(std::string("unknown option '")
                              + (optopt > 0 && optopt < 256 ? std::string("-") + static_cast<char>(optopt) : std::string(argv[optind - 1]))
                              + "'");
        default:
            if (code >= kFirstSwitch && code < kFirstSwitch + 2 * kSwitchCount) {
                const int index = (code - kFirstSwitch) / 2;
                const bool on = (code - kFirstSwitch) % 2 == 0;
                line.settings.emplace_back(std::string(kSwitches[index].key), on);
            }
            break;
        }
    }
    for (int i = optind; i < argc; ++i)
        line.operands.emplace_back(argv[i]);
    if (std::string error = completeCommandLine(line, std::move(attachmentFolders)); !error.empty())
        return usageError(std::move(error));
    return {std::move(line), {}};
}

namespace {

// The help text: data rather than code, kept whole so that it reads as printed.
constexpr std::string_view kUsageText = R"(Usage: tarnwick-cli [OPTIONS] SOURCE DESTINATION
       tarnwick-cli --imap imaps://USER@HOST[:PORT]/FOLDER [OPTIONS] SOURCE
       tarnwick-cli --into-thunderbird [--thunderbird-profile NAME] [OPTIONS] SOURCE

Converts a Eudora mailbox file, or every file of a folder tree, into mbox files.
SOURCE is a mailbox file or a folder. DESTINATION is a folder, or for a single
SOURCE file also a new file name. Existing files are never overwritten.

Options (each applies to this run only; an option not given takes the value
saved by the Tarnwick window, else the default):
  --convert-encodings, --no-convert-encodings
                            re-encode messages into the first fitting charset
  --source-encoding NAME_OR_ID
                            encoding of the input mailboxes: auto (the
                            default: each message in the charset it names,
                            else UTF-8 when valid, else the legacy encoding
                            of the mailbox's platform in the language of
                            your locale), an IANA name or alias (shift_jis,
                            x-mac-japanese, iso-8859-1, ...) or an
                            identifier from --list-encodings
  --charsets "a, b, ..."    output charsets in order of preference
  --eudora-tags, --no-eudora-tags
                            process <x-flowed>, <x-html> and <x-charset> blocks
  --crlf, --no-crlf         end every line with CR LF
  --complement-dates, --no-complement-dates
                            add a Date: header from the separator line where missing
  --add-empty-lines, --no-add-empty-lines
                            add an empty line after each message
  --replace-nbsp, --no-replace-nbsp
                            replace NBSP with a space in MacJapanese input
  --attachments, --no-attachments
                            put the files behind Eudora's attachment lines back
                            into their messages (on by default)
  --attachments-folder DIR  also look for those files in DIR (repeatable; the
                            folders given replace the ones saved by the window)
  --toc, --no-toc           read Eudora's own records: message boundaries and
                            status from each mailbox's .toc index, real names
                            from descmap.pce, attachment folders and Eudora's
                            own files left out (--no-toc: every file by its
                            "From " lines under its own name, as before)
  --removed-messages apart|omit|inside
                            what becomes of the messages a mailbox's .toc
                            no longer lists (deleted or moved away in
                            Eudora, their bytes left until Eudora compacted
                            the mailbox): apart (the default) writes them to
                            a mailbox of their own beside it, named NAME
                            (removed in Eudora); omit leaves them out; inside
                            keeps them among the mailbox's messages
  --layout flat|tree|thunderbird
                            flat: one file per mailbox, ":" joining folder
                            names; tree: mailboxes in nested folders named
                            after the Eudora folders; thunderbird: as
                            Thunderbird's Local Folders, each mailbox a file
                            without extension and its sub-folders in
                            NAME.sbd beside it, lines ended with LF unless
                            --crlf is given
  --format mbox|maildir     mbox: one mbox file per mailbox (the default);
                            maildir: one Maildir folder per mailbox, each
                            message a file with its read, replied and
                            forwarded marks in its name and its date as its
                            file time; with --layout flat the folders are
                            Dovecot's Maildir++ (".Work.Project Alpha"),
                            with --layout tree plain nested folders; lines
                            end with LF unless --crlf is given
  --encode-headers, --no-encode-headers
                            write non-ASCII header text as RFC 2047
                            encoded-words (default on)
  --drop-stale-lengths, --no-drop-stale-lengths
                            leave out the Content-Length: and Lines: headers
                            Eudora kept from the mail as it arrived (default on)
  --mend-cr, --no-mend-cr   without --crlf, end lines with LF in a mailbox
                            whose lines end with CR alone (default on)
  --rich-text, --no-rich-text
                            with --eudora-tags, write a message holding
                            Eudora's styled text (<x-rich>) as text/enriched,
                            which mail programs show formatted, in an HTML
                            message as HTML markup (default on)
  --label-text-attachments, --no-label-text-attachments
                            a text file put back into its message whose
                            bytes are not all ASCII gets the charset it is
                            read in as its Content-Type's charset parameter
                            (default on)
  --keep-going              a mailbox that cannot be converted is listed and the
                            job goes on with the next; the summary names every
                            failure, the last line reads "Error: ..." and the
                            exit status is 1
  --quiet                   print neither the line of each file nor the
                            summary; the result line and the log lines remain
  --imap imaps://USER@HOST[:PORT]/FOLDER
                            convert SOURCE and upload it into this mail
                            account under FOLDER (default Eudora); a Maildir
                            folder tree is uploaded as it is. imap:// uses
                            STARTTLS on port 143. The password comes from
                            TARNWICK_IMAP_PASSWORD or is asked for
  --imap-ca FILE            also trust the certificates in FILE (PEM)
  --imap-plain              with imap://, no encryption (only to a server
                            on this machine)
  --imap-connections N      upload over at most N connections at once, 1 to
                            10 (default 4); when the server allows fewer,
                            the upload goes on over those it gives
  --into-thunderbird        convert SOURCE with --layout thunderbird and place
                            it into the default Thunderbird profile's Local
                            Folders as a new top folder "Eudora" ("Eudora_2"
                            when taken); refused while Thunderbird runs, and
                            nothing is placed unless the whole job completed
  --thunderbird-profile NAME
                            with --into-thunderbird, the profile of that Name
                            (or Path) in profiles.ini instead of the default
  --list-encodings          print ID<TAB>NAME of every available encoding
  -h, --help                print this help
  -V, --version             print the version

A line for each file goes to standard error, then the summary: each mailbox
written with its message count, messages left unconverted and why, attachments
put back and missing, files not converted and why, and every failure. The
result ("Completed", "Canceled" or "Error: ...") is the last line on standard
output. Exit status: 0 completed, 1 error (also when --keep-going went past a
failure), 2 usage error, 130 canceled (SIGINT, SIGTERM or SIGHUP stop the job
after the file under way; a second one stops it at once).
)";

} // namespace

std::string usageText() { return std::string(kUsageText); }

} // namespace tarnwick::cli
