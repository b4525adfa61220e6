#pragma once
// The names of the settings shared by the window, the command line and the engine.

#include <string_view>

namespace tarnwick::keys {

inline constexpr std::string_view kSourcePath = "SourcePath";
inline constexpr std::string_view kDestinationPath = "DestinationPath";
inline constexpr std::string_view kConvertEncodings = "ConvertEncodings";
inline constexpr std::string_view kMboxEncoding = "MboxEncoding";
inline constexpr std::string_view kCharsetNames = "CharsetNames";
inline constexpr std::string_view kProcessEudoraTags = "ProcessEudoraTags";
inline constexpr std::string_view kConvertLineEndings = "ConvertLineEndings";
inline constexpr std::string_view kComplementDateHeaders = "ComplementDateHeaders";
inline constexpr std::string_view kAddEmptyLines = "AddEmptyLines";
inline constexpr std::string_view kReplaceNBSPWithSpaceInMacJapanese = "ReplaceNBSPWithSpaceInMacJapanese";
inline constexpr std::string_view kPutBackAttachments = "PutBackAttachments";
inline constexpr std::string_view kAttachmentFolders = "AttachmentFolders";
/// bool: read Eudora's own records (mailbox indexes, folder maps, folder layout).
inline constexpr std::string_view kUseEudoraRecords = "UseEudoraRecords";
/// string: "flat" (one file per mailbox, ":" joining folder names), "tree" (nested folders) or
/// "thunderbird" (Local Folders: NAME files without extension, sub-folders in NAME.sbd, LF lines).
inline constexpr std::string_view kOutputLayout = "OutputLayout";
/// string: "mbox" (one mbox file per mailbox) or "maildir" (one Maildir folder per mailbox;
/// with OutputLayout "tree" in nested folders, else in Dovecot's Maildir++ form).
inline constexpr std::string_view kOutputFormat = "OutputFormat";
/// string, the window's only: where the mail is going, which sets format, layout and line
/// ends: "thunderbird" (the first choice, when none is stored), "server" (Maildir++),
/// "mutt" (nested Maildirs) or "mbox" (the options as set).
inline constexpr std::string_view kMailProgram = "MailProgram";
/// bool: a text file put back into its message (a recipe, a vCard) gets a charset
/// parameter naming the encoding it is read in, so that readers do not take its bytes
/// for another.
inline constexpr std::string_view kLabelTextAttachments = "LabelTextAttachments";
/// bool: non-ASCII header text as RFC 2047 encoded-words.
inline constexpr std::string_view kEncodeHeaders = "EncodeHeaders";
/// bool: leave out the Content-Length: and Lines: headers Eudora kept from the mail as it arrived.
inline constexpr std::string_view kDropStaleLengths = "DropStaleLengths";
/// bool: with ProcessEudoraTags, a body holding Eudora's styled text (<x-rich> blocks) is
/// written as text/enriched.
inline constexpr std::string_view kConvertRichText = "ConvertRichText";
/// bool: without CR LF conversion, LF where the mailbox's first line ends with CR alone.
inline constexpr std::string_view kMendCROnlyLineEndings = "MendCROnlyLineEndings";
/// string: what becomes of the messages a mailbox's index no longer lists (deleted or moved
/// away in Eudora, their bytes left until the mailbox is compacted): "apart" (a mailbox of
/// their own beside it, NAME (removed in Eudora)), "omit" (left out) or "inside" (among
/// its messages).
inline constexpr std::string_view kRemovedMessages = "RemovedMessages";
/// bool: a mailbox that cannot be converted is listed and the job goes on with the next.
inline constexpr std::string_view kKeepGoing = "KeepGoing";

} // namespace tarnwick::keys
