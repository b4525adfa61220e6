// Eudora's styled text in a lived-in Windows folder, through the real binary and read
// back by Python's email package: text/enriched by default, as before with --no-rich-text.
#include "CliRunner.h"

#include <cstdio>

namespace tarnwick::test {
namespace {

// "content type|charset|body" of each message of an mbox file, as Python's email reads it.
std::string pythonParts(const std::string& path)
{
    const std::string command = "python3 -c 'import mailbox,sys,email.policy\n"
                                "for m in mailbox.mbox(sys.argv[1], factory=None):\n"
                                "  m = email.message_from_bytes(m.as_bytes(), policy=email.policy.default)\n"
                                "  print(m.get_content_type() + \"|\" + str(m.get_content_charset()) + \"|\" + "
                                "repr(m.get_content()))' '"
        + path + "'";
    return commandOutput(command);
}

TEST(CliRichText, StyledTextBecomesEnrichedText)
{
    Sandbox sandbox;
    const std::string styled = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: styled\r\n\r\nHello,\r\n"
                               "<x-rich><bold>Bold</bold> <fontfamily><param>Courier New</param>caf\xE9</fontfamily>\r\n"
                               "x <<y\r\n\r\nNext <italic>one</x-rich>\r\n";
    const std::string plain = "From ???@??? Mon Dec 13 18:46:29 2010\r\nSubject: plain\r\n\r\nsee <x-rich> here\r\n";
    sandbox.write("src/descmap.pce", "In,In.mbx,S,Y\r\n");
    sandbox.write("src/In.mbx", styled + plain);
    sandbox.mkdir("on");
    sandbox.mkdir("off");
    const RunResult on = sandbox.run({"--no-crlf", "--no-add-empty-lines", sandbox / "src", sandbox / "on"});
    EXPECT_EQ(on.out, "Completed\n") << on.err;
    EXPECT_EQ(pythonParts(sandbox / "on/In.mbx"),
              "text/enriched|iso-8859-1|'Hello,\\n\\n<bold>Bold</bold> <fontfamily><param>Courier New</param>caf\xC3\xA9</fontfamily>\\n"
              "x <<y\\n\\nNext <italic>one</italic>\\n'\n"
              "text/plain|None|'see <x-rich> here\\n'\n");

    const RunResult off = sandbox.run({"--no-crlf", "--no-add-empty-lines", "--no-rich-text", sandbox / "src", sandbox / "off"});
    EXPECT_EQ(off.out, "Completed\n") << off.err;
    EXPECT_EQ(pythonParts(sandbox / "off/In.mbx"),
              "text/plain|iso-8859-1|'Hello,\\n<x-rich><bold>Bold</bold> <fontfamily><param>Courier New</param>caf\xC3\xA9</fontfamily>\\n"
              "x <<y\\n\\nNext <italic>one</x-rich>\\n'\n"
              "text/plain|None|'see <x-rich> here\\n'\n");
}

// A message too large to be held in memory (read from the spool file in blocks) gets the
// rewrite of one held whole; in an HTML message the styled part becomes HTML markup.
TEST(CliRichText, LargeAndHtmlMessages)
{
    Sandbox sandbox;
    const std::string unit = "<x-rich><bold>b</bold> line &\r\n\r\nmore</x-rich>\r\n";
    std::string large = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: large\r\n\r\n";
    std::size_t blocks = 0;
    for (; large.size() < (std::size_t{5} << 20); ++blocks)
        large += unit;
    const std::string html = "From ???@??? Mon Dec 13 18:46:29 2010\r\nSubject: html\r\n\r\n"
                             "<x-html><p>x</p></x-html>\r\n<x-rich><fontfamily><param>Arial</param>y</fontfamily> & <<z\r\n\r\n"
                             "<color><param>0000,8000,ffff</param>w</color></x-rich>\r\n";
    sandbox.write("src/descmap.pce", "In,In.mbx,S,Y\r\n");
    sandbox.write("src/In.mbx", large + html);
    sandbox.mkdir("on");
    const RunResult on = sandbox.run({"--no-crlf", "--no-add-empty-lines", sandbox / "src", sandbox / "on"});
    EXPECT_EQ(on.out, "Completed\n") << on.err;
    const std::string command
        = "python3 -c 'import mailbox,sys,email.policy\n"
          "for m in mailbox.mbox(sys.argv[1], factory=None):\n"
          "  m = email.message_from_bytes(m.as_bytes(), policy=email.policy.default)\n"
          "  c = m.get_content()\n"
          "  print(m.get_content_type(), len(c), c.count(\"<bold>b</bold> line &\\n\\nmore\\n\\n\"), \"x-rich\" in c)\n"
          "  print(repr(c[:200]) if len(c) < 1000 else \"\")' '"
        + sandbox / "on/In.mbx" + "'";
    const std::string all = commandOutput(command);
    const std::string rewritten = "<bold>b</bold> line &\n\nmore\n\n";
    EXPECT_EQ(all,
              "text/enriched " + std::to_string(blocks * rewritten.size() - 1) + " " + std::to_string(blocks - 1) + " False\n\n"
                  + "text/html 85 0 False\n'<p>x</p>\\n<font face=\"Arial\">y</font> &amp; &lt;z\\n<br>\\n"
                    "<font color=\"#0080ff\">w</font>\\n'\n");
}

} // namespace
} // namespace tarnwick::test
