#include "Profiles.h"

#include "platform/encodings/TextEncoding.h"

namespace tarnwick::bench {
namespace {

const ReferenceTool kDd{"dd bs=1M", "dd if={in} of={out} bs=1M status=none"};
const ReferenceTool kTr{"tr CR LF", "tr '\\r' '\\n' < {in} > {out}"};

// Line endings, dates and empty lines on; encodings off: the stream pass alone.
ConversionOptions streamOnly()
{
    ConversionOptions options;
    options.crlfLineEndings = true;
    options.complementDateHeaders = true;
    options.addEmptyLines = true;
    return options;
}

ConversionOptions encodingsFrom(const char* sourceCharset, std::vector<std::string> charsetNames)
{
    ConversionOptions options = streamOnly();
    options.convertEncodings = true;
    options.processEudoraTags = true;
    options.sourceEncoding = carryEncoding(encodingForIANAName(sourceCharset));
    options.charsetNames = std::move(charsetNames);
    return options;
}

} // namespace

const std::vector<Profile>& profiles()
{
    static const std::vector<Profile> table = {
        {"stream-cr",
         "CR mailbox (Mac), line endings + dates + empty lines",
         LineEndings::CR,
         BodyCharset::ASCII,
         streamOnly,
         {kDd, kTr},
         true},
        {"stream-crlf",
         "CR LF mailbox (Windows), line endings + dates + empty lines",
         LineEndings::CRLF,
         BodyCharset::ASCII,
         streamOnly,
         {kDd, kTr},
         true},
        {"stream-mixed",
         "mixed endings, line endings + dates + empty lines",
         LineEndings::Mixed,
         BodyCharset::ASCII,
         streamOnly,
         {kDd, kTr},
         true},
        {"cp1252-encodings",
         "Windows-1252 bodies to us-ascii, iso-8859-1, utf-8",
         LineEndings::CRLF,
         BodyCharset::Windows1252,
         [] {
             return encodingsFrom("windows-1252", {"us-ascii", "iso-8859-1", "utf-8"});
         },
         {kDd, {"iconv 1252>utf-8", "iconv -f WINDOWS-1252 -t UTF-8 < {in} > {out}"}},
         false},
        {"sjis-encodings",
         "Shift_JIS bodies to iso-2022-jp, utf-8",
         LineEndings::CRLF,
         BodyCharset::ShiftJIS,
         [] {
             return encodingsFrom("shift_jis", {"iso-2022-jp", "utf-8"});
         },
         {kDd, {"uconv sjis>2022jp", "uconv -f shift_jis -t iso-2022-jp < {in} > {out}"}},
         false},
    };
    return table;
}

} // namespace tarnwick::bench
