// ContentTypeScan reads a Content-Type field in parts and must give what the functions
// over the whole field give: containsFolded for "multipart" and "text", mediaType, and
// parameterValue(field, "boundary") on the field with non-ASCII units as '?'. Each field
// is read cut into three parts at every pair of places, and the boundary kept from
// several offsets.
#include "engine/text/CaseFold.h"
#include "engine/header/MimeHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick {
namespace {

std::u16string widened(std::string_view latin1)
{
    std::u16string text;
    for (const char c : latin1)
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    return text;
}

TEST(ContentTypeScan, GivesWhatTheWholeFieldGives)
{
    const std::u16string fields[] = {
        u"Content-Type: text/plain",
        u"Content-Type: multipart/mixed; boundary=abc",
        u"content-type: MULTIPART/Mixed;BOUNDARY=\"a b;c\"; boundary=second",
        u"Content-Type: multi\r\n part/mixed; boundary=x",
        u"Content-Type: application/x-thing; name=TeXT",
        u"Content-Type: application/MultiPart",
        u"Content-Type: application/tetext",
        u"Content-Type: application/mulTIMULTIPART",
        u"Content-Type: application/x; n=tex; m=ttex\r\n t; o=multipar",
        u"Content-Type: application/octet-stream; name=x",
        u"Content-Type:\tmultipart /\r\n\tmixed ;\r\n boundary = \"quoted \\\" \\\\ \r\n value\" ; x=1",
        u"Content-Type: multipart/mixed; a; boundary=not-this; boundary=this",
        u"Content-Type: multipart/mixed;; ;boundary=x",
        u"Content-Type: multipart/mixed; boundary",
        u"Content-Type: multipart/mixed; boundary=",
        u"Content-Type: multipart/mixed; boundary= \r\n x",
        u"Content-Type: multipart/mixed; boundary\r\n\t=folded",
        u"Content-Type: multipart/mixed; bound ary=x; boundary x=y; boundary=z",
        u"Content-Type: multipart/mixed; boundary=\"unclosed \\",
        u"Content-Type: multipart/mixed; boundary=\"unclosed",
        u"Content-Type: multipart/mixed; boundary=\"esc\\\r\n\"",
        u"Content-Type: multipart/mixed; x=\"a;boundary=in-quotes\"; boundary=out",
        u"Content-Type: multipart/mixed; x=a;boundary=after-unquoted",
        u"Content-Type: multipart/mixed; x=a\tboundary=after-blank",
        u"Content-Type: multipart/mixed; boundary=caf\u00e9\u65e5; boundary=x",
        u"Content-Type: multipart/mixed; \u212aboundary=x; boundary=y",
        u"Content-Type: \u0130multipart/mixed; boundary=x",
        u"Content-Type: multipart/mixed; name=\xd83d\xde00text; boundary=\"\xd83d\xde00\"",
        u"Content-Type: application/x; n=mu\xd83dltipart; m=te\xdc00xt",
        u"Content-Type: application/x; n=TE\u212aT",
        u"Content-Type: multipart/",
        u"Content-Type: multipart",
        u"Content-Type",
        u"Content-Type: multipart/mixed; boundary=\"\"",
        u"Content-Type: multipart/mixed; BoUnDaRy=\"x\" ; boundary=\"y\"",
        u"Content-Type: multipart/mixed; boundary=a=b; c",
        widened("Content-Type: multipart/mixed; boundary=\"caf\xe9\"\r\n x-name=text"),
    };
    for (const std::u16string& field : fields) {
        std::string projected;
        for (const char16_t c : field)
            projected += c < 0x80 ? static_cast<char>(c) : '?';
        const bool named = containsFolded(field, u"multipart") || containsFolded(field, u"text");
        const bool multipart = mediaType(projected).starts_with("multipart/");
        const std::optional<std::string> boundary = parameterValue(projected, "boundary");
        for (std::size_t a = 0; a <= field.size(); ++a) {
            for (std::size_t b = a; b <= field.size(); ++b) {
                for (const auto& [from, keep] : {std::pair<std::uint64_t, std::size_t>{0, 1000}, {0, 1}, {1, 2}, {3, 100}}) {
                    ContentTypeScan scan(from, keep);
                    const std::u16string_view view = field;
                    scan.add(view.substr(0, a));
                    scan.add(view.substr(a, b - a));
                    scan.add(view.substr(b));
                    scan.finish();
                    const std::string where = std::string(projected) + ", cut at " + std::to_string(a) + " and "
                        + std::to_string(b) + ", kept from " + std::to_string(from);
                    ASSERT_EQ(scan.namesTextOrMultipart(), named) << where;
                    ASSERT_EQ(scan.isMultipart(), multipart) << where;
                    ASSERT_EQ(scan.hasBoundary(), boundary.has_value()) << where;
                    if (!boundary)
                        continue;
                    ASSERT_EQ(scan.boundaryLength(), boundary->size()) << where;
                    const std::string kept = from < boundary->size() ? boundary->substr(from, keep) : std::string();
                    ASSERT_EQ(scan.boundaryPart(), kept) << where;
                }
            }
        }
    }
}

} // namespace
} // namespace tarnwick
