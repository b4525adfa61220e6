// Eudora's label names from Eudora.ini through the real binary, read back by Python's
// email package: the header decodes to the name in every output that carries keywords,
// and a plain mbox file stays byte for byte as without Eudora.ini.
#include "CliRunner.h"

#include <cstdio>

namespace tarnwick::test {
namespace {

// Five messages of a Windows mailbox and their index, with label N on message N - 1
// (label 0 on the last).
struct LabelledMailbox {
    std::string mbox;
    std::string toc;
    LabelledMailbox()
    {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
        for (int n = 1; n <= 5; ++n) {
            const std::string message = "From ???@??? Mon Dec 13 18:14:25 2010\r\nSubject: message " + std::to_string(n)
                + "\r\nDate: Mon, 13 Dec 2010 18:14:25 +0100\r\n\r\nBody " + std::to_string(n) + "\r\n\r\n";
            spans.emplace_back(static_cast<std::uint32_t>(mbox.size()), static_cast<std::uint32_t>(message.size()));
            mbox += message;
        }
        toc.assign(104 + 218 * spans.size(), '\0');
        const auto put = [&](std::size_t at, std::uint32_t value, int size) {
            for (int i = 0; i < size; ++i)
                toc[at + i] = static_cast<char>(value >> (8 * i));
        };
        put(102, static_cast<std::uint32_t>(spans.size()), 2);
        const std::uint16_t labels[] = {1, 2, 3, 7, 0};
        for (std::size_t i = 0; i < spans.size(); ++i) {
            put(104 + 218 * i, spans[i].first, 4);
            put(104 + 218 * i + 4, spans[i].second, 4);
            put(104 + 218 * i + 16, 3, 2);
            put(104 + 218 * i + 186, labels[i], 2);
        }
    }
};

// "subject|X-Eudora-Label decoded|X-Keywords" for each message of each mbox file or
// Maildir folder (sorted by subject), as Python's email package reads them.
std::string pythonLabels(const std::vector<std::string>& paths)
{
    std::string command = "python3 -c 'import email,email.policy,mailbox,os,sys\n"
                          "for path in sys.argv[1:]:\n"
                          "  box = mailbox.Maildir(path, create=False) if os.path.isdir(path) else mailbox.mbox(path)\n"
                          "  for m in sorted(box, key=lambda m: str(m[\"Subject\"])):\n"
                          "    m = email.message_from_bytes(m.as_bytes(), policy=email.policy.default)\n"
                          "    print(\"%s|%s|%s\" % (m[\"Subject\"], m[\"X-Eudora-Label\"], m[\"X-Keywords\"]))'";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    return commandOutput(command);
}

TEST(CliEudoraLabels, NamesFromEudoraIniReadBackByPythonsEmail)
{
    Sandbox sandbox;
    const LabelledMailbox box;
    // Label 1 renamed in windows-1252, label 2 named as the Windows sample names it, label 3
    // with an empty name, label 7 unset (Eudora's name); AttachDir names a folder not there.
    const std::string ini = "[Settings]\r\nAttachDir=D:\\Mail\\Anh\xe4nge\r\n[Labels]\r\nLabelCount=7\r\n"
                            "Label1=255,128,0,Dringend \xe0 r\xe9gler\r\nLabel2=255,0,0,Label 2\r\nLabel3=255,0,255,\r\n";
    for (const char* source : {"bare", "eudora"}) {
        sandbox.write(std::string(source) + "/In.mbx", box.mbox);
        sandbox.write(std::string(source) + "/In.toc", box.toc);
    }
    sandbox.write("eudora/Eudora.ini", ini);
    const struct Run {
        const char* source;
        std::vector<std::string> args;
        const char* output;
    } runs[] = {
        {"bare", {}, "bare-flat"},
        {"eudora", {}, "flat"},
        {"eudora", {"--layout", "thunderbird"}, "thunderbird"},
        {"eudora", {"--format", "maildir"}, "maildir"},
        {"bare", {"--layout", "thunderbird"}, "bare-thunderbird"},
    };
    for (const Run& run : runs) {
        std::vector<std::string> args = run.args;
        args.push_back(sandbox / run.source);
        args.push_back(sandbox / run.output);
        sandbox.mkdir(run.output);
        const RunResult result = sandbox.run(args);
        EXPECT_EQ(result.out, "Completed\n") << run.output << result.err;
        const std::string line
            = "The attachment folder 'D:\\Mail\\Anh\u00e4nge' named in '" + sandbox / "eudora/Eudora.ini" + "' was not found";
        const std::size_t at = result.err.find(line);
        EXPECT_EQ(at != std::string::npos, run.source == std::string("eudora")) << run.output << result.err;
        EXPECT_EQ(result.err.find(line, at == std::string::npos ? 0 : at + 1), std::string::npos) << "logged once: " << result.err;
    }
    EXPECT_EQ(readFile(sandbox / "flat/In.mbx"), readFile(sandbox / "bare-flat/In.mbx")) << "plain mbox unchanged";
    const std::string labelled = "message 1|Dringend \u00e0 r\u00e9gler|$Label1\n"
                                 "message 2|Label 2|$Label2\n"
                                 "message 3|None|$Label3\n"
                                 "message 4|Label 7|$Label7\n"
                                 "message 5|None|None\n";
    const std::string bare
        = "message 1|None|$Label1\nmessage 2|None|$Label2\nmessage 3|None|$Label3\nmessage 4|None|$Label7\nmessage 5|None|None\n";
    EXPECT_EQ(pythonLabels({sandbox / "thunderbird/In", sandbox / "maildir/.In", sandbox / "bare-thunderbird/In"}),
              labelled + labelled + bare);
    // Not ASCII: written as encoded-words, the header's bytes ASCII.
    const std::string thunderbird = readFile(sandbox / "thunderbird/In");
    EXPECT_NE(thunderbird.find("X-Eudora-Label: =?utf-8?"), std::string::npos) << thunderbird;
}

} // namespace
} // namespace tarnwick::test
