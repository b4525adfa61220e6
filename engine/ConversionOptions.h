#pragma once
// What one conversion is asked to do. The batch job reads these from the settings
// store at the start of each file; the engine never reads the store itself.

#include "engine/mailbox/MessageIndex.h"
#include "engine/output/StatusHeaders.h"
#include "platform/ContainedFile.h"
#include "platform/encodings/TextEncoding.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

/// The folders an attachment line's file is looked for in, in order of preference,
/// each held open: a file is only ever opened relative to the folder found.
struct AttachmentFolders {
    using Folders = std::vector<std::shared_ptr<const OpenFolder>>;
    Folders files;    // for "Attachment converted:" lines
    Folders embedded; // for "Embedded Content:" / "Related:" lines
    bool empty() const { return files.empty() && embedded.empty(); }

    /// Opens the folders named (links followed: the caller chose them).
    static AttachmentFolders open(const std::vector<std::string>& files, const std::vector<std::string>& embedded)
    {
        AttachmentFolders folders;
        for (const std::string& path : files)
            folders.files.push_back(OpenFolder::open(path, LinkPolicy::Follow));
        for (const std::string& path : embedded)
            folders.embedded.push_back(OpenFolder::open(path, LinkPolicy::Follow));
        return folders;
    }
    /// The folders' paths, as found.
    static std::vector<std::string> paths(const Folders& folders)
    {
        std::vector<std::string> paths;
        for (const auto& folder : folders)
            paths.push_back(folder->path());
        return paths;
    }
};

struct ConversionOptions {
    bool convertEncodings = false;                                    // re-encode each message into the first fitting charset
    EncodingId sourceEncoding = kEncodingUTF8;                        // encoding of the input mailbox; 0 for Automatic
    std::vector<std::string> charsetNames;                            // output charsets in order of preference, as the user wrote them
    bool processEudoraTags = false;                                   // decode <x-flowed>, <x-html> and <x-charset> blocks
    bool convertRichText = false;                                     // with processEudoraTags: <x-rich> as text/enriched or HTML
    bool crlfLineEndings = false;                                     // end every line with CR LF
    bool lfLineEndings = false;                                       // without CR LF: end every line with LF
    ExtraStatusHeaders extraStatusHeaders = ExtraStatusHeaders::None; // keyword headers of an indexed message
    std::vector<std::string> labelNames;                              // with keyword headers: Eudora's label names (appendStatusHeaders)
    bool complementDateHeaders = false;                               // add a Date: header from the separator line where missing
    bool addEmptyLines = false;                                       // add an empty line after each message
    bool replaceNoBreakSpaces = false;                                // NBSP to space in MacJapanese and Shift_JIS input
    MessageIndex messageIndex;                                        // this mailbox's own index, checked against it; empty: none
    UnindexedInput unindexed = UnindexedInput::Inside;                // with an index: what becomes of the input it does not cover
    // A "From " line starts a message only in the separator's form: a sender and a date
    // that hasSeparatorDate accepts (the input's first line always); another is body
    // text, written as ">From ".
    bool separatorsOfEudorasForm = false;
    // Put the files behind Eudora's attachment lines back into their messages, and keep
    // a multipart Content-Type whose boundary still occurs in the body.
    bool putBackAttachments = false;
    AttachmentFolders attachmentFolders; // where those files are looked for
    bool labelTextAttachments = false;   // a text file put back gets the charset it is read in
    bool encodeHeaders = false;          // non-ASCII header text as RFC 2047 encoded-words
    bool dropStaleLengths = false;       // leave out Content-Length: and Lines: header fields
    bool mendCROnlyLineEndings = false;  // without CR LF: LF where the input's first line ends in CR alone
    std::string language;                // the user's locale language (Automatic's legacy family)
};

} // namespace tarnwick
