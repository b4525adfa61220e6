// --into-thunderbird against fake Thunderbird profiles: which profile it finds, the new
// top folder it makes beside what is there (numbered when the name is taken), and
// what it refuses: no profile, no Local Folders, Thunderbird running, a job that failed.
#include "CliRunner.h"

#include <sys/wait.h>

namespace tarnwick::test {
namespace {

const std::string kOne = "From ???@??? Tue Apr 03 10:15:22 2001\nSubject: x\n\nBody\n\n";

// A sandbox with a Eudora folder "src" and, unless `ini` is empty, a Thunderbird
// settings folder `base` (below home) with that profiles.ini and a profile `profile`
// holding Mail/Local Folders with a folder of the user's.
struct ProfileSandbox : Sandbox {
    ProfileSandbox(const std::string& base, const std::string& ini, const std::string& profile)
    {
        write("config/Tarnwick/Tarnwick.conf",
              "[General]\nConvertEncodings=bool:false\nComplementDateHeaders=bool:false\n"
              "AddEmptyLines=bool:false\nConvertLineEndings=bool:true\n");
        write("src/In.mbx", mailbox(1, "\r\n"));
        write("src/Work/Old", mailbox(2));
        if (ini.empty())
            return;
        write("home/" + base + "/profiles.ini", ini);
        localFolders
            = profile.starts_with("/") ? profile + "/Mail/Local Folders" : *this / ("home/" + base + "/" + profile + "/Mail/Local Folders");
        write(localFolders.substr(root.size() + 1) + "/Inbox", "mine");
        write(localFolders.substr(root.size() + 1) + "/Inbox.msf", "index");
    }
    RunResult place(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> args = {"--into-thunderbird", "--no-toc"};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(*this / "src");
        return run(args);
    }
    std::string localFolders;
};

// What a placed top folder NAME holds.
Entries placed(const std::string& name)
{
    return {{name, ""},
            {name + ".sbd", "/"},
            {name + ".sbd/In", kOne},
            {name + ".sbd/Work", ""},
            {name + ".sbd/Work.sbd", "/"},
            {name + ".sbd/Work.sbd/Old", kOne + kOne}};
}

Entries withUsersFolder(Entries entries)
{
    entries["Inbox"] = "mine";
    entries["Inbox.msf"] = "index";
    return entries;
}

TEST(CliIntoThunderbird, FindsTheDefaultProfileAndAddsATopFolder)
{
    const struct Case {
        const char* label;
        std::string base, ini, profile;
    } cases[] = {
        {"installation's default", ".thunderbird",
         "[Profile0]\nName=a\nIsRelative=1\nPath=a.default\nDefault=1\n[Profile1]\nName=b\nIsRelative=1\nPath=b.default-release\n"
         "[Install4F96D1932A9F858E]\nDefault=b.default-release\nLocked=1\n",
         "b.default-release"},
        {"profile marked default", ".thunderbird", "[Profile0]\nPath=a.x\n[Profile1]\nPath=b.default\nDefault=1\n", "b.default"},
        {"older settings folder", ".mozilla-thunderbird", "[Profile0]\nName=default\nIsRelative=1\nPath=z9.default\n", "z9.default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProfileSandbox sandbox(c.base, c.ini, c.profile);
        const RunResult result = sandbox.place();
        EXPECT_EQ(result.out, "Completed\n") << result.err;
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.err.find("Placed into Thunderbird: Local Folders > Eudora (\"" + sandbox.localFolders + "/Eudora.sbd\")"),
                  std::string::npos)
            << result.err;
        // LF lines though CR LF is saved; the user's folder as it was; no hidden folder left.
        EXPECT_EQ(snapshot(sandbox.localFolders), withUsersFolder(placed("Eudora")));
    }
}

TEST(CliIntoThunderbird, ATakenNameGetsTheNextNumber)
{
    ProfileSandbox sandbox(".thunderbird", "[Profile0]\nPath=p\n", "p");
    const std::string local = sandbox.localFolders.substr(sandbox.root.size() + 1);
    sandbox.write(local + "/Eudora", "earlier");
    sandbox.write(local + "/Eudora_2.sbd/Kept", "kept");
    sandbox.write(local + "/Eudora_3.msf", "index");
    EXPECT_EQ(sandbox.place().out, "Completed\n");
    ASSERT_EQ(sandbox.place({"--quiet"}).out, "Completed\n");
    Entries expected = withUsersFolder(placed("Eudora_4"));
    expected.merge(placed("Eudora_5"));
    expected.merge(Entries{{"Eudora", "earlier"}, {"Eudora_2.sbd", "/"}, {"Eudora_2.sbd/Kept", "kept"}, {"Eudora_3.msf", "index"}});
    EXPECT_EQ(snapshot(sandbox.localFolders), expected);
}

// A child process holding .parentlock as a running Thunderbird does, until destroyed.
struct HeldLock {
    explicit HeldLock(const std::string& path)
    {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_SETLK, &lock) != 0)
                ::_exit(1);
            (void)!::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char byte = 0;
        ::close(ready[1]);
        EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the lock was not taken";
        ::close(ready[0]);
    }
    ~HeldLock()
    {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid_t pid;
};

// A process id that no process has: a child's after it was reaped.
pid_t endedProcess()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(CliIntoThunderbird, RefusedWhileThunderbirdRunsOrWithoutAProfile)
{
    const std::string running = "Error: Thunderbird is running (its profile \"";
    const struct Case {
        const char* label;
        std::string ini;
        std::function<void(ProfileSandbox&)> prepare;
        std::string error;
    } cases[] = {
        {"no profiles.ini", "", {}, "Error: No Thunderbird profile found (looked in \""},
        {"no default profile", "[Profile0]\nPath=p\n[Profile1]\nPath=q\n", {}, "names no default Thunderbird profile"},
        {"no Local Folders yet", "[Profile0]\nPath=p\n", [](ProfileSandbox& s) { std::filesystem::remove_all(s.localFolders); },
         "has no Local Folders yet"},
        {"lock link of a live process", "[Profile0]\nPath=p\n",
         [](ProfileSandbox& s) {
             std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(::getpid()), s / "home/.thunderbird/p/lock");
         },
         running},
        {"lock link not of that form", "[Profile0]\nPath=p\n",
         [](ProfileSandbox& s) { std::filesystem::create_symlink("somewhere", s / "home/.thunderbird/p/lock"); }, running},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProfileSandbox sandbox(".thunderbird", c.ini, "p");
        if (c.prepare)
            c.prepare(sandbox);
        const Entries before = snapshot(sandbox / "home");
        const RunResult result = sandbox.place();
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.out.find(c.error), std::string::npos) << result.out;
        EXPECT_EQ(snapshot(sandbox / "home"), before);
    }

    ProfileSandbox sandbox(".thunderbird", "[Profile0]\nPath=p\n", "p");
    {
        HeldLock lock(sandbox / "home/.thunderbird/p/.parentlock");
        const Entries before = snapshot(sandbox / "home");
        const RunResult result = sandbox.place();
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, running + sandbox / "home/.thunderbird/p" + "\" is in use): quit Thunderbird, then try again\n");
        EXPECT_EQ(snapshot(sandbox / "home"), before);
    }
    // Once Thunderbird has quit (its .parentlock unlocked, a crashed one's lock link
    // naming a process that ended), the folder goes in.
    std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(endedProcess()), sandbox / "home/.thunderbird/p/lock");
    EXPECT_EQ(sandbox.place().out, "Completed\n");
    EXPECT_EQ(snapshot(sandbox.localFolders), withUsersFolder(placed("Eudora")));
}

TEST(CliIntoThunderbird, AJobThatFailsPlacesNothing)
{
    ProfileSandbox sandbox(".thunderbird", "[Profile0]\nPath=p\n", "p");
    sandbox.write("src/Large", mailbox(400));
    const RunResult result = sandbox.run({"--into-thunderbird", "--no-toc", "--keep-going", sandbox / "src"}, {.fileSizeLimit = 4096});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.starts_with("Error: ")) << result.out;
    EXPECT_EQ(result.err.find("Placed into Thunderbird"), std::string::npos) << result.err;
    // Neither a top folder nor the hidden folder the job wrote into.
    EXPECT_EQ(snapshot(sandbox.localFolders), withUsersFolder({}));
}

// Of several profiles, the default or the one named; its Local Folders where its
// prefs.js puts them. A name no profile has is refused, listing the names, and so are
// Local Folders that keep a file per message.
TEST(CliIntoThunderbird, TheProfileNamedAndItsLocalFoldersFromPrefs)
{
    const std::string ini = "[Profile1]\nName=default\nIsRelative=1\nPath=a.default\n\n"
                            "[Profile0]\nName=default-release\nIsRelative=1\nPath=b.default-release\n\n"
                            "[Install4F96D1932A9F858E]\nDefault=b.default-release\nLocked=1\n";
    const std::string moved = "user_pref(\"mail.accountmanager.localfoldersserver\", \"server3\");\n"
                              "user_pref(\"mail.server.server3.directory-rel\", \"[ProfD]Mail/Local Folders-1\");\n"
                              "user_pref(\"mail.server.server3.hostname\", \"Local Folders\");\n"
                              "user_pref(\"mail.server.server3.type\", \"none\");\n";
    const struct Case {
        const char* label;
        std::vector<std::string> more;
        std::string profile, local; // where the folder goes, below home/.thunderbird
    } cases[] = {
        {"the default, its prefs.js moving Local Folders", {}, "b.default-release", "b.default-release/Mail/Local Folders-1"},
        {"by name", {"--thunderbird-profile", "default"}, "a.default", "a.default/Mail/Local Folders"},
        {"by path", {"--thunderbird-profile=b.default-release"}, "b.default-release", "b.default-release/Mail/Local Folders-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProfileSandbox sandbox(".thunderbird", ini, "b.default-release");
        sandbox.write("home/.thunderbird/b.default-release/prefs.js", moved);
        sandbox.write("home/.thunderbird/b.default-release/Mail/Local Folders-1/Inbox", "mine");
        sandbox.write("home/.thunderbird/b.default-release/Mail/Local Folders-1/Inbox.msf", "index");
        sandbox.write("home/.thunderbird/a.default/Mail/Local Folders/Inbox", "mine");
        sandbox.write("home/.thunderbird/a.default/Mail/Local Folders/Inbox.msf", "index");
        const RunResult result = sandbox.place(c.more);
        EXPECT_EQ(result.out, "Completed\n") << result.err;
        const std::string local = sandbox / ("home/.thunderbird/" + c.local);
        EXPECT_NE(result.err.find("Local Folders > Eudora (\"" + local + "/Eudora.sbd\")"), std::string::npos) << result.err;
        EXPECT_EQ(snapshot(local), withUsersFolder(placed("Eudora")));
        for (const std::string other : {"a.default/Mail/Local Folders", "b.default-release/Mail/Local Folders-1"}) {
            if (other != c.local) {
                EXPECT_EQ(snapshot(sandbox / ("home/.thunderbird/" + other)), withUsersFolder({})) << other;
            }
        }
        // The folder prefs.js moved away from stays as it was.
        EXPECT_EQ(snapshot(sandbox.localFolders), withUsersFolder({}));
    }

    // Local Folders in Thunderbird's Maildir store would not show the mbox folders.
    {
        ProfileSandbox sandbox(".thunderbird", ini, "b.default-release");
        sandbox.write("home/.thunderbird/b.default-release/prefs.js",
                      "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
                      "user_pref(\"mail.server.server1.type\", \"none\");\n"
                      "user_pref(\"mail.server.server1.storeContractID\", \"@mozilla.org/msgstore/maildirstore;1\");\n");
        const Entries before = snapshot(sandbox / "home");
        const RunResult result = sandbox.place();
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.out.find("keeps its Local Folders as one file per message (Maildir)"), std::string::npos) << result.out;
        EXPECT_EQ(snapshot(sandbox / "home"), before);
    }
    ProfileSandbox sandbox(".thunderbird", ini, "b.default-release");
    const Entries before = snapshot(sandbox / "home");
    const RunResult result = sandbox.place({"--thunderbird-profile", "Default"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              "Error: \"" + sandbox / "home/.thunderbird/profiles.ini"
                  + "\" names no Thunderbird profile \"Default\" (its profiles: default, default-release)\n");
    EXPECT_EQ(snapshot(sandbox / "home"), before);
}

TEST(CliIntoThunderbird, UsageErrors)
{
    ProfileSandbox sandbox(".thunderbird", "[Profile0]\nPath=p\n", "p");
    const struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--into-thunderbird", sandbox / "src", sandbox / "out"}, "--into-thunderbird takes SOURCE alone, no DESTINATION"},
        {{"--into-thunderbird"}, "SOURCE is required"},
        {{"--into-thunderbird", "--format", "maildir", sandbox / "src"}, "it takes no other --layout or --format"},
        {{"--layout", "tree", "--into-thunderbird", sandbox / "src"}, "it takes no other --layout or --format"},
        {{"--into-thunderbird", "--imap", "imaps://u@h/F", sandbox / "src"}, "--into-thunderbird and --imap go to different places"},
        {{"--thunderbird-profile", "p", sandbox / "src", sandbox / "out"}, "--thunderbird-profile goes with --into-thunderbird"},
        {{"--into-thunderbird", "--thunderbird-profile=", sandbox / "src"}, "option '--thunderbird-profile' needs a profile name"},
    };
    const Entries before = snapshot(sandbox.root);
    for (const Case& c : cases) {
        const RunResult result = sandbox.run(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.error;
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
    }
    // Thunderbird's own layout and format may be named.
    EXPECT_EQ(sandbox.place({"--layout", "thunderbird", "--format", "mbox"}).out, "Completed\n");
    EXPECT_EQ(snapshot(sandbox.localFolders), withUsersFolder(placed("Eudora")));
}

} // namespace
} // namespace tarnwick::test
