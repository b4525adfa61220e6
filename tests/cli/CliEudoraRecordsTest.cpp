// Eudora's own records through the real binary, read back by Python's mailbox module:
// boundaries and status from the .toc, real names from descmap.pce in both layouts,
// attachment folders and Eudora's files left out of whole Eudora folders (the
// repository's, and the real samples when they are here).
#include "ByteDiff.h"
#include "CliRunner.h"
#include "EudoraFolders.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace tarnwick::test {
namespace {

struct Record {
    std::uint32_t offset, length;
    std::uint16_t status = 0, priority = 3;
};

// An index as Eudora writes it: 104-byte header with the count at 102, 218 bytes per record.
std::string tocBytes(const std::vector<Record>& records)
{
    std::string bytes(104 + 218 * records.size(), '\0');
    auto put = [&](std::size_t at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    put(102, static_cast<std::uint32_t>(records.size()), 2);
    for (std::size_t i = 0; i < records.size(); ++i) {
        put(104 + 218 * i, records[i].offset, 4);
        put(104 + 218 * i + 4, records[i].length, 4);
        put(104 + 218 * i + 12, records[i].status, 2);
        put(104 + 218 * i + 16, records[i].priority, 2);
    }
    return bytes;
}

// Each message of each mbox file as Python's mailbox module reads it: "flags|subject|first
// body line"; of a Maildir, sorted (a Maildir has no order). One Python run for them all.
std::vector<std::vector<std::string>> pythonMessages(const std::vector<std::string>& paths)
{
    std::string command = "python3 -c 'import mailbox,os,sys\n"
                          "for path in sys.argv[1:]:\n"
                          "  print(\"\\f\")\n"
                          "  box = mailbox.Maildir(path, create=False) if os.path.isdir(path) else mailbox.mbox(path)\n"
                          "  for m in sorted(box, key=lambda m: str(m[\"Subject\"])) if os.path.isdir(path) else box:\n"
                          "    body = m.get_payload()\n"
                          "    body = body.splitlines() if isinstance(body, str) else []\n"
                          "    print(m.get_flags() + \"|\" + str(m[\"Subject\"]) + \"|\" + (body[0] if body else \"\"))'";
    for (const std::string& path : paths)
        command += " '" + path + "'";
    std::vector<std::vector<std::string>> boxes;
    const std::string all = commandOutput(command);
    for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
        if (all.compare(start, end - start, "\f") == 0)
            boxes.emplace_back();
        else if (!boxes.empty())
            boxes.back().push_back(all.substr(start, end - start));
    }
    boxes.resize(paths.size());
    return boxes;
}

std::vector<std::string> pythonMessages(const std::string& path) { return pythonMessages(std::vector<std::string>{path}).front(); }

TEST(CliEudoraRecords, BodyFromLineStaysInItsMessage)
{
    Sandbox sandbox;
    const std::string one = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: one\r\n\r\nFrom what I hear, it works.\r\n";
    const std::string two = "From ???@??? Mon Dec 13 18:45:30 2010\r\nSubject: two\r\n\r\nsecond\r\n";
    sandbox.write("src/In.mbx", one + two);
    sandbox.write("src/In.toc",
                  tocBytes({{0, static_cast<std::uint32_t>(one.size()), 1, 3},
                            {static_cast<std::uint32_t>(one.size()), static_cast<std::uint32_t>(two.size()), 2, 1}}));

    sandbox.mkdir("dest");
    sandbox.mkdir("bad-out");
    const RunResult withIndex = sandbox.convert("src", "dest");
    EXPECT_EQ(withIndex.out, "Completed\n") << withIndex.err;
    EXPECT_EQ(pythonMessages(sandbox / "dest/In.mbx"), (std::vector<std::string>{"RO|one|>From what I hear, it works.", "ROA|two|second"}));
    EXPECT_NE(withIndex.err.find("Eudora's own files not converted: 1\n"), std::string::npos) << withIndex.err;

    const RunResult without = sandbox.run({"--no-toc", "--no-convert-encodings", "--no-crlf", "--no-complement-dates",
                                           "--no-add-empty-lines", sandbox / "src/In.mbx", sandbox / "old.mbx"});
    EXPECT_EQ(without.out, "Completed\n");
    EXPECT_EQ(pythonMessages(sandbox / "old.mbx").size(), 3u) << "--no-toc: split at every \"From \" line, as before";

    // An index that does not fit is ignored with one log line; nothing is lost.
    sandbox.write("bad/In.mbx", one + two);
    sandbox.write("bad/In.toc", tocBytes({{0, static_cast<std::uint32_t>(one.size() + two.size())}}));
    const RunResult bad = sandbox.convert("bad", "bad-out");
    EXPECT_EQ(bad.out, "Completed\n");
    EXPECT_NE(bad.err.find("In.toc' not used: entry 1 holds the separator line of another message"), std::string::npos) << bad.err;
    // Without it, only separator lines of Eudora's form start messages: the body line
    // "From what I hear" stays in its message.
    EXPECT_EQ(pythonMessages(sandbox / "bad-out/In.mbx"), (std::vector<std::string>{"|one|>From what I hear, it works.", "|two|second"}));
}

// Flags from each message's record, for the Windows folder's In mailbox converted alone.
TEST(CliEudoraRecords, WindowsFolderStatusFromItsIndex)
{
    Sandbox sandbox;
    const RunResult result = sandbox.run({"--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines",
                                          fixtureFolder(kWindowsFixture) + "In.mbx", sandbox / "In.mbox"});
    EXPECT_EQ(result.out, "Completed\n") << result.err;
    const std::vector<std::string> messages = pythonMessages(sandbox / "In.mbox");
    ASSERT_EQ(messages.size(), 5u);
    // The index says: read, unread, replied, forwarded, unread.
    const char* const flags[] = {"RO|", "O|", "ROA|", "RO|", "O|"};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(messages[i].substr(0, messages[i].find('|') + 1), flags[i]) << i;
    const std::string out = readFile(sandbox / "In.mbox");
    EXPECT_NE(out.find("X-Mozilla-Status: 1001\r\n"), std::string::npos) << "forwarded";
    EXPECT_NE(out.find("X-Priority: 1 (Highest)\r\n"), std::string::npos);
    EXPECT_NE(out.find("X-Priority: 5 (Lowest)\r\n"), std::string::npos);
}

TEST(CliEudoraRecords, RealWindowsSampleStatusFromACopiedIndex)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    Sandbox sandbox;
    const std::string sample = samples + "Windows Eudora 7.1 Folder/";
    std::filesystem::create_directories(sandbox / "src");
    std::filesystem::copy_file(sample + "In.mbx", sandbox / "src/In.mbx");
    std::string toc = readFile(sample + "In.toc");
    ASSERT_EQ(toc.size(), 1194u);
    const std::uint16_t statuses[] = {1, 2, 3, 0, 0};
    const std::uint16_t priorities[] = {3, 3, 3, 1, 5};
    for (std::size_t i = 0; i < 5; ++i) {
        toc[104 + 218 * i + 12] = static_cast<char>(statuses[i]);
        toc[104 + 218 * i + 16] = static_cast<char>(priorities[i]);
    }
    sandbox.write("src/In.toc", toc);
    const RunResult result = sandbox.convert("src/In.mbx", "In.mbox");
    EXPECT_EQ(result.out, "Completed\n") << result.err;
    const std::vector<std::string> messages = pythonMessages(sandbox / "In.mbox");
    ASSERT_EQ(messages.size(), 5u);
    const char* const flags[] = {"RO|", "ROA|", "RO|", "O|", "O|"};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(messages[i].substr(0, messages[i].find('|') + 1), flags[i]) << i;
    const std::string out = readFile(sandbox / "In.mbox");
    EXPECT_NE(out.find("X-Mozilla-Status: 1001\r\n"), std::string::npos) << "forwarded";
    EXPECT_NE(out.find("X-Priority: 1 (Highest)\r\n"), std::string::npos);
    EXPECT_NE(out.find("X-Priority: 5 (Lowest)\r\n"), std::string::npos);
}

// Labels from the real sample's index with labels set at 186: keywords in Thunderbird's
// folders and in Maildir file names; a plain mbox file stays byte for byte as without them.
TEST(CliEudoraRecords, LabelsFromTheIndexBecomeKeywords)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    Sandbox sandbox;
    const std::string sample = samples + "Windows Eudora 7.1 Folder/";
    const std::string toc = readFile(sample + "In.toc");
    ASSERT_EQ(toc.size(), 1194u);
    std::string labelled = toc;
    const std::uint16_t labels[] = {3, 0, 7, 8, 1}; // 8 is no label of Eudora's
    for (std::size_t i = 0; i < 5; ++i)
        labelled[104 + 218 * i + 186] = static_cast<char>(labels[i]);
    for (const char* folder : {"plain", "labelled"}) {
        sandbox.mkdir(std::string(folder) + "-src");
        std::filesystem::copy_file(sample + "In.mbx", sandbox / (std::string(folder) + "-src/In.mbx"));
        sandbox.write(std::string(folder) + "-src/In.toc", folder == std::string("plain") ? toc : labelled);
    }
    for (const char* layout : {"flat", "thunderbird"}) {
        for (const char* folder : {"plain", "labelled"}) {
            sandbox.mkdir(std::string(folder) + "-" + layout);
            const RunResult result = sandbox.run(
                {"--layout", layout, sandbox / (std::string(folder) + "-src"), sandbox / (std::string(folder) + "-" + layout)});
            EXPECT_EQ(result.out, "Completed\n") << result.err;
        }
    }
    EXPECT_SAME_BYTES(readFile(sandbox / "plain-flat/In.mbx"), readFile(sandbox / "labelled-flat/In.mbx")) << "plain mbox unchanged";
    const std::string command = "python3 -c 'import mailbox,sys\n"
                                "for m in mailbox.mbox(sys.argv[1]):\n"
                                "  print(str(m[\"X-Mozilla-Keys\"]).strip() + \"|\" + str(m[\"X-Keywords\"]))' '"
        + sandbox / "labelled-thunderbird/In" + "'";
    const std::string keys = commandOutput(command);
    EXPECT_EQ(keys, "$label3|$Label3\n|None\n$label7|$Label7\n|None\n$label1|$Label1\n");
}

TEST(CliEudoraRecords, CraftedWindowsTreeUnderRealNames)
{
    Sandbox sandbox;
    sandbox.write("src/Eudora.ini", "[Settings]\r\n");
    sandbox.write("src/descmap.pce", "In,In.mbx,S,Y\r\nOut,Out.mbx,S,N\r\nWork,WORK.FOL,F,N\r\nFamily Holidays 2003,FAMILYHO.MBX,M,N\r\n");
    sandbox.write("src/WORK.FOL/descmap.pce", "Project Alpha,PROJECTA.MBX,M,N\r\nBills/2004,BILLS200.MBX,M,N\r\n");
    sandbox.write("src/In.mbx", mailbox(1, "\r\n"));
    sandbox.write("src/Out.mbx", "");
    sandbox.write("src/FAMILYHO.MBX", mailbox(2, "\r\n"));
    sandbox.write("src/WORK.FOL/PROJECTA.MBX", mailbox(3, "\r\n"));
    sandbox.write("src/WORK.FOL/BILLS200.MBX", mailbox(4, "\r\n"));
    sandbox.write("src/attach/saved", mailbox(1, "\r\n"));
    sandbox.write("src/eudora.log", "log\r\n");

    sandbox.mkdir("flat");
    sandbox.mkdir("tree");
    sandbox.mkdir("old");
    const RunResult flat = sandbox.convert("src", "flat");
    EXPECT_EQ(flat.out, "Completed\n") << flat.err;
    EXPECT_EQ(snapshot(sandbox / "flat"),
              (Entries{{"In.mbx", mailbox(1, "\r\n")},
                       {"Family Holidays 2003.MBX", mailbox(2, "\r\n")},
                       {"Work:Project Alpha.MBX", mailbox(3, "\r\n")},
                       {"Work:Bills-2004.MBX", mailbox(4, "\r\n")}}));
    EXPECT_NE(flat.err.find("Eudora's own files not converted: 4\n"), std::string::npos) << flat.err;
    EXPECT_NE(flat.err.find("Files in attachment folders not converted: 1\n"), std::string::npos) << flat.err;
    EXPECT_NE(flat.err.find("Out: empty\n"), std::string::npos) << flat.err;
    EXPECT_EQ(flat.err.find("not Mbox format"), std::string::npos) << flat.err;

    const RunResult tree = sandbox.run({"--layout", "tree", "--no-convert-encodings", "--no-crlf", "--no-complement-dates",
                                        "--no-add-empty-lines", sandbox / "src", sandbox / "tree"});
    EXPECT_EQ(tree.out, "Completed\n") << tree.err;
    EXPECT_EQ(snapshot(sandbox / "tree"),
              (Entries{{"In.mbx", mailbox(1, "\r\n")},
                       {"Family Holidays 2003.MBX", mailbox(2, "\r\n")},
                       {"Work", "/"},
                       {"Work/Project Alpha.MBX", mailbox(3, "\r\n")},
                       {"Work/Bills-2004.MBX", mailbox(4, "\r\n")}}));

    // Converted twice into the same tree: taken names are numbered inside the folders.
    sandbox.run({"--layout", "tree", "--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines",
                 sandbox / "src", sandbox / "tree"});
    EXPECT_TRUE(std::filesystem::exists(sandbox / "tree/Work/Project Alpha_2.MBX"));

    // A file where a folder must go is left alone: the folder is numbered, as files are.
    sandbox.write("blocked/Work", "keep");
    const RunResult blocked = sandbox.run({"--layout", "tree", "--no-crlf", sandbox / "src", sandbox / "blocked"});
    EXPECT_EQ(blocked.exitCode, 0);
    EXPECT_EQ(blocked.out, "Completed\n") << blocked.err;
    EXPECT_EQ(readFile(sandbox / "blocked/Work"), "keep");
    EXPECT_TRUE(std::filesystem::exists(sandbox / "blocked/Work_2/Project Alpha.MBX"));
    EXPECT_TRUE(std::filesystem::exists(sandbox / "blocked/Work_2/Bills-2004.MBX"));
    EXPECT_NE(blocked.err.find("The folder 'Work' is written as 'Work_2'"), std::string::npos) << blocked.err;

    const RunResult old = sandbox.run({"--no-toc", "--no-convert-encodings", "--no-crlf", "--no-complement-dates", "--no-add-empty-lines",
                                       sandbox / "src", sandbox / "old"});
    EXPECT_TRUE(std::filesystem::exists(sandbox / "old/WORK.FOL:PROJECTA.MBX")) << "--no-toc keeps the names on disk";
    EXPECT_TRUE(std::filesystem::exists(sandbox / "old/attach:saved"));
}

// A lived-in mailbox: Eudora listed only C (replied) and A (read), sorted; B was
// deleted and the tail of an older message was written over. B and that tail are the
// user's no more: by default they go to a mailbox of their own, left out or kept inside
// on request, in every layout and format; the summary counts them.
TEST(CliEudoraRecords, MessagesRemovedInEudoraKeptApartLeftOutOrInside)
{
    Sandbox sandbox;
    const std::string a = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: A\r\n\r\nfirst\r\n";
    const std::string b = "From ???@??? Mon Dec 13 18:45:30 2010\r\nSubject: B\r\n\r\ndeleted\r\n";
    const std::string c = "From ???@??? Mon Dec 13 18:45:31 2010\r\nSubject: C\r\n\r\nthird\r\nFrom here on\r\n";
    const std::string tail = "the tail of an older message\r\n";
    sandbox.write("src/descmap.pce", "In,In.mbx,S,Y\r\n");
    sandbox.write("src/In.mbx", a + b + c + tail);
    auto at = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
    sandbox.write("src/In.toc", tocBytes({{at(a.size() + b.size()), at(c.size()), 2, 3}, {0, at(a.size()), 1, 3}}));
    const std::vector<std::string> listed = {"ROA|C|third", "RO|A|first"};
    const std::vector<std::string> removed = {"|B|deleted", "|None|the tail of an older message"};
    const std::string apart = "In: 2 messages removed in Eudora kept apart\n";
    const struct Case {
        std::vector<std::string> options;
        std::string mailbox, removedMailbox; // as written; empty: none
        std::vector<std::string> messages, removedMessages;
        std::string line;
        // clang-format off
    } cases[] = {
        {{}, "In.mbx", "In (removed in Eudora).mbx", listed, removed, apart},
        {{"--layout", "tree"}, "In.mbx", "In (removed in Eudora).mbx", listed, removed, apart},
        {{"--layout", "thunderbird"}, "In", "In (removed in Eudora)", listed, removed, apart},
        {{"--format", "maildir"}, ".In", ".In (removed in Eudora)", {"S|A|first", "RS|C|third"}, {"|B|deleted", "|None|the tail of an older message"}, apart},
        {{"--format", "maildir", "--layout", "tree"}, "In", "In (removed in Eudora)", {"S|A|first", "RS|C|third"},
         {"|B|deleted", "|None|the tail of an older message"}, apart},
        {{"--removed-messages", "omit"}, "In.mbx", "", listed, {}, "In: 2 messages removed in Eudora left out\n"},
        {{"--removed-messages", "inside"}, "In.mbx", "", {"ROA|C|third", "RO|A|first", "|B|deleted", "|None|the tail of an older message"}, {}, ""},
        {{"--no-toc"}, "In.mbx", "", {"|A|first", "|B|deleted", "|C|third", "|None|the tail of an older message"}, {}, ""},
    };
    // clang-format on
    std::vector<std::string> read; // every mailbox written, read back at the end
    std::vector<std::vector<std::string>> expectedMessages;
    int run = 0;
    for (const Case& k : cases) {
        const std::string destination = "out" + std::to_string(run++);
        sandbox.mkdir(destination);
        std::vector<std::string> arguments = k.options;
        arguments.insert(arguments.end(), {sandbox / "src", sandbox / destination});
        const RunResult result = sandbox.run(arguments);
        const std::string trace = testing::PrintToString(k.options);
        EXPECT_EQ(result.out, "Completed\n") << trace << result.err;
        std::set<std::string> written;
        for (const std::string& name : listing(sandbox / destination))
            if (name != "cur" && name != "new" && name != "tmp")
                written.insert(name);
        std::set<std::string> expected = {k.mailbox};
        read.push_back(sandbox / (destination + "/" + k.mailbox));
        expectedMessages.push_back(k.messages);
        if (!k.removedMailbox.empty()) {
            expected.insert(k.removedMailbox);
            read.push_back(sandbox / (destination + "/" + k.removedMailbox));
            expectedMessages.push_back(k.removedMessages);
        }
        EXPECT_EQ(written, expected) << trace;
        EXPECT_EQ(result.err.find("removed in Eudora") == std::string::npos, k.line.empty()) << trace << result.err;
        EXPECT_NE(result.err.find(k.line), std::string::npos) << trace << result.err;
    }

    // Into the source folder itself: the mailbox written apart is not taken for an input.
    const RunResult same = sandbox.run({sandbox / "src", sandbox / "src"});
    EXPECT_EQ(same.out, "Completed\n") << same.err;
    read.push_back(sandbox / "src/In_2 (removed in Eudora).mbx");
    expectedMessages.push_back(removed);
    const std::vector<std::vector<std::string>> messages = pythonMessages(read);
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_EQ(messages[i], expectedMessages[i]) << read[i];
    const std::vector<std::string> names = listing(sandbox / "src");
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& name) { return name.find("removed") != std::string::npos; }),
              1);

    // One message removed is counted in the singular.
    sandbox.write("src/In.toc",
                  tocBytes({{0, at(a.size()), 1, 3}, {at(a.size()), at(b.size()), 0, 3}, {at(a.size() + b.size()), at(c.size()), 2, 3}}));
    sandbox.mkdir("one");
    const RunResult one = sandbox.run({sandbox / "src/In.mbx", sandbox / "one"});
    EXPECT_NE(one.err.find("In.mbx: 1 message removed in Eudora kept apart\n"), std::string::npos) << one.err;
}

// Copied off Windows, names come in any letter case: the index, the folder map and the
// names it lists are found whatever their case when exactly one name fits.
TEST(CliEudoraRecords, NamesFoundWhateverTheirLetterCase)
{
    Sandbox sandbox;
    const std::string one = mailbox(1, "\r\n");
    const auto size = static_cast<std::uint32_t>(one.size());
    sandbox.write("src/DESCMAP.PCE", "In,In.mbx,S,Y\r\nHolidays 2003,holida~1.mbx,M,N\r\nWork,work.fol,F,N\r\nTwo,Two.mbx,M,N\r\n");
    sandbox.write("src/IN.MBX", one);
    sandbox.write("src/in.TOC", tocBytes({{0, size, 1, 3}}));
    sandbox.write("src/HOLIDA~1.MBX", one);
    sandbox.write("src/holida~1.toc", tocBytes({{0, size, 2, 3}}));
    sandbox.write("src/WORK.FOL/Descmap.Pce", "Alpha,ALPHA.MBX,M,N\r\n");
    sandbox.write("src/WORK.FOL/alpha.mbx", one);
    sandbox.write("src/WORK.FOL/ALPHA.TOC", tocBytes({{0, size, 3, 3}}));
    // Two indexes that differ only in case: which one Eudora had is not known, neither is used.
    sandbox.write("src/Two.mbx", one);
    sandbox.write("src/Two.TOC", tocBytes({{0, size, 1, 3}}));
    sandbox.write("src/two.toc", tocBytes({{0, size, 2, 3}}));
    sandbox.mkdir("out");
    const RunResult result = sandbox.convert("src", "out");
    EXPECT_EQ(result.out, "Completed\n") << result.err;
    std::set<std::string> names;
    for (const std::string& name : listing(sandbox / "out"))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"In.MBX", "Holidays 2003.MBX", "Work:Alpha.mbx", "Two.mbx"}));
    const std::vector<std::vector<std::string>> messages = pythonMessages(
        {sandbox / "out/In.MBX", sandbox / "out/Holidays 2003.MBX", sandbox / "out/Work:Alpha.mbx", sandbox / "out/Two.mbx"});
    const char* const flags[] = {"RO", "ROA", "RO", ""};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(messages[i].size(), 1u) << i;
        EXPECT_EQ(messages[i][0].substr(0, messages[i][0].find('|')), flags[i]) << i;
    }
    EXPECT_NE(readFile(sandbox / "out/Work:Alpha.mbx").find("X-Mozilla-Status: 1001"), std::string::npos) << "forwarded";
}

// A Mac mailbox's index comes from the AppleDouble file beside it: the message deleted
// in Eudora is kept apart, and since where Mac Eudora keeps the marks is not known, no
// status header claims any. A Mac folder is known by its Mail Folder alone.
TEST(CliEudoraRecords, MacIndexFromTheAppleDoubleFile)
{
    Sandbox sandbox;
    const std::string a = "From ???@??? Mon Dec 13 18:45:29 2010\rSubject: A\rStatus:   \r\rfirst\r";
    const std::string b = "From ???@??? Mon Dec 13 18:45:30 2010\rSubject: B\r\rdeleted\r";
    const std::string c = "From ???@??? Mon Dec 13 18:45:31 2010\rSubject: C\r\rthird\rFrom here on we walk to the harbour.\r";
    auto at = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
    for (const char* folder : {"with", "without"})
        sandbox.write(std::string(folder) + "/Mail Folder/In", a + b + c);
    // Two indexes, as Mac Eudora may leave them: the one that covers more is used.
    sandbox.write("with/Mail Folder/._In",
                  macIndexFile({{{0, at(a.size())}}, {{0, at(a.size())}, {at(a.size() + b.size()), at(c.size())}}}));
    for (const char* folder : {"with", "without"}) {
        sandbox.mkdir(std::string("out-") + folder);
        const RunResult result = sandbox.run({"--no-crlf", sandbox / folder, sandbox / ("out-" + std::string(folder))});
        EXPECT_EQ(result.out, "Completed\n") << result.err;
    }
    EXPECT_EQ(listing(sandbox / "out-without"), std::vector<std::string>{"In"});
    const std::vector<std::vector<std::string>> messages
        = pythonMessages({sandbox / "out-with/In", sandbox / "out-with/In (removed in Eudora)", sandbox / "out-without/In"});
    EXPECT_EQ(messages[0], (std::vector<std::string>{"|A|first", "|C|third"}));
    EXPECT_EQ(messages[1], (std::vector<std::string>{"|B|deleted"}));
    EXPECT_EQ(messages[2], (std::vector<std::string>{"|A|first", "|B|deleted", "|C|third"}));
    const std::string with = readFile(sandbox / "out-with/In");
    EXPECT_EQ(with.find("X-Mozilla-Status"), std::string::npos) << with;
    EXPECT_NE(with.find("\nStatus:   \n"), std::string::npos) << "Eudora's own blank line stays: " << with;
    EXPECT_NE(with.find("\n>From here on we walk"), std::string::npos) << with;
}

struct FolderCase {
    std::string folder;
    const char* layout;
    Entries names;
    const char* empty;
    std::vector<const char*> emptyNames;
};

void expectOnlyMailboxes(const std::vector<FolderCase>& cases)
{
    Sandbox sandbox;
    int run = 0;
    for (const FolderCase& c : cases) {
        const std::string destination = "out" + std::to_string(run++);
        sandbox.mkdir(destination);
        const RunResult result = sandbox.run({"--layout", c.layout, c.folder, sandbox / destination});
        EXPECT_EQ(result.out, "Completed\n") << c.folder;
        Entries names;
        for (const auto& [name, bytes] : snapshot(sandbox / destination))
            names[name] = "";
        EXPECT_EQ(names, c.names) << c.folder << " " << c.layout;
        EXPECT_EQ(result.err.find("not Mbox format"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("not used"), std::string::npos) << "the indexes fit, empty or not: " << result.err;
        EXPECT_NE(result.err.find("Attachments put back: 5, missing: 0\n"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Files in attachment folders not converted: 5\n"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.empty), std::string::npos) << result.err;
        for (const char* name : c.emptyNames)
            EXPECT_NE(result.err.find(name), std::string::npos) << name << " named empty: " << result.err;
    }
}

TEST(CliEudoraRecords, EudoraFoldersGiveOnlyTheirMailboxes)
{
    const std::string windows = fixtureFolder(kWindowsFixture), mac = fixtureFolder(kMacFixture);
    expectOnlyMailboxes({
        {windows, "flat", {{"In.mbx", ""}, {"Out.mbx", ""}, {"Clubs:Harbour bridge, phase 2.MBX", ""}}, "Junk, Trash: empty\n", {}},
        {windows,
         "tree",
         {{"In.mbx", ""}, {"Out.mbx", ""}, {"Clubs", ""}, {"Clubs/Harbour bridge, phase 2.MBX", ""}},
         "Junk, Trash: empty\n",
         {}},
        {mac, "flat", {{"In", ""}, {"Choir", ""}}, "Junk, Out, Trash: empty\n", {}},
        {mac, "tree", {{"In", ""}, {"Choir", ""}}, "Junk, Out, Trash: empty\n", {}},
    });
}

TEST(CliEudoraRecords, RealSampleFoldersGiveOnlyTheirMailboxes)
{
    TARNWICK_REAL_SAMPLES_OR_SKIP(samples);
    const std::vector<const char*> empties = {"Out", "Junk", "Trash"};
    expectOnlyMailboxes({
        {samples + "Windows Eudora 7.1 Folder", "flat", {{"In.mbx", ""}}, "empty\n", empties},
        {samples + "Mac Eudora 6.2.4 Folder", "flat", {{"In", ""}}, "empty\n", empties},
        {samples + "Mac Eudora 6.2.4 Folder", "tree", {{"In", ""}}, "empty\n", empties},
    });
}

} // namespace
} // namespace tarnwick::test
