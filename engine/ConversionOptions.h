#pragma once
// What one conversion is asked to do. The batch job reads these from the settings
// store at the start of each file; the engine never reads the store itself.

#include "engine/MessageIndex.h"
#include "platform/TextEncoding.h"

#include <string>
#include <vector>

namespace tarnwick {

/// The folders an attachment line's file is looked for in, in order of preference.
struct AttachmentFolders {
    std::vector<std::string> files;    // for "Attachment converted:" lines
    std::vector<std::string> embedded; // for "Embedded Content:" / "Related:" lines
    bool empty() const { return files.empty() && embedded.empty(); }
};

struct ConversionOptions {
    bool convertEncodings = false;         // re-encode each message into the first fitting charset
    EncodingId sourceEncoding = kEncodingUTF8; // encoding of the input mailbox; 0 for Automatic
    std::vector<std::string> charsetNames; // output charsets in order of preference, as the user wrote them
    bool processEudoraTags = false;        // decode <x-flowed>, <x-html> and <x-charset> blocks
    bool crlfLineEndings = false;          // end every line with CR LF
    bool complementDateHeaders = false;    // add a Date: header from the separator line where missing
    bool addEmptyLines = false;            // add an empty line after each message
    bool replaceNoBreakSpaces = false;     // NBSP to space in MacJapanese and Shift_JIS input
    MessageIndex messageIndex;             // this mailbox's own index, checked against it; empty: none
    // Put the files behind Eudora's attachment lines back into their messages, and keep
    // a multipart Content-Type whose boundary still occurs in the body.
    bool putBackAttachments = false;
    AttachmentFolders attachmentFolders;   // where those files are looked for
    bool encodeHeaders = false;            // non-ASCII header text as RFC 2047 encoded-words
    bool dropStaleLengths = false;         // leave out Content-Length: and Lines: header fields
    bool mendCROnlyLineEndings = false;    // without CR LF: LF where the input's first line ends in CR alone
    std::string language;                  // the user's locale language (Automatic's legacy family)
};

} // namespace tarnwick
