#!/usr/bin/env python3
"""Thunderbird itself reading what --into-thunderbird placed in a profile.

usage: thunderbird_itself.py TARNWICK_CLI [SAMPLES_DIR]

A temporary HOME gets a Thunderbird settings folder whose profile keeps its Local
Folders where its prefs.js says (not Mail/Local Folders), beside a second profile
that is not the default. Each Eudora folder under tests/data/eudora (and the real
samples, when given), and a Windows one made here whose index marks messages read,
replied, forwarded and labelled in a folder named with "&" and an accent, is placed
with --into-thunderbird. Then Thunderbird runs
headless on that profile with Marionette listening on 127.0.0.1 (a port of its own
choosing, read from the profile), and a script in its chrome context makes it build
each folder's index and lists what it shows. Checked against the files written:
every mailbox file is a folder (and nothing else is), each with its message count;
per message the read, replied and forwarded marks and the tags Thunderbird keeps
equal X-Mozilla-Status and X-Mozilla-Keys, the subject as Python decodes it and the
date of the Date header; a .msf index beside every mailbox afterwards; the user's
own folder untouched; and while Thunderbird runs, --into-thunderbird refuses and
places nothing. Exit 77 when Thunderbird is not installed or cannot start.
"""
import email.header, email.utils, json, mailbox, os, re, shutil, signal, socket, struct, subprocess, sys, tempfile, time

# The bits of a message's flags that the X-Mozilla-Status header carries and we set.
MARKS = 0x0001 | 0x0002 | 0x1000
# Thunderbird takes "Re: " off a subject and keeps this flag instead.
HAS_RE = 0x0010
STARTUP_SECONDS = 90
SCRIPT_SECONDS = 120

PREFS = """user_pref("mail.accountmanager.accounts", "account1");
user_pref("mail.accountmanager.localfoldersserver", "server2");
user_pref("mail.account.account1.server", "server2");
user_pref("mail.server.server2.directory-rel", "[ProfD]Mail/Local Folders-1");
user_pref("mail.server.server2.hostname", "Local Folders");
user_pref("mail.server.server2.name", "Local Folders");
user_pref("mail.server.server2.type", "none");
user_pref("mail.server.server2.userName", "nobody");
user_pref("marionette.port", 0);
user_pref("mail.shell.checkDefaultClient", false);
user_pref("mailnews.start_page.enabled", false);
user_pref("app.update.enabled", false);
user_pref("network.dns.disabled", true);
"""

USERS_MAILBOX = b"From - Mon Jan 03 10:00:00 2011\nSubject: kept\nDate: Mon, 3 Jan 2011 10:00:00 +0000\n\nmine\n\n"

# Runs in Thunderbird's chrome context: every folder of Local Folders, its index
# built (parsed from the mailbox when there is no .msf yet), and its messages.
READ_FOLDERS = r"""
const done = arguments[arguments.length - 1];
const { MailServices } = ChromeUtils.importESModule("resource:///modules/MailServices.sys.mjs");
const root = MailServices.accounts.localFoldersServer.rootFolder;
function indexed(folder) {
  return new Promise((resolve, reject) => {
    const listener = {
      OnStartRunningUrl() {},
      OnStopRunningUrl(url, status) { status == 0 ? resolve() : reject(new Error(folder.name + ": " + status)); },
    };
    try {
      folder.QueryInterface(Ci.nsIMsgLocalMailFolder).getDatabaseWithReparse(listener, null);
      resolve();
    } catch (e) {
      if (e.result != Cr.NS_ERROR_NOT_INITIALIZED) reject(e);
    }
  });
}
(async () => {
  const folders = [];
  for (const folder of root.descendants) {
    await indexed(folder);
    const path = [];
    for (let f = folder; f && f != root; f = f.parent) path.unshift(f.name);
    const messages = [];
    for (const hdr of folder.msgDatabase.enumerateMessages())
      messages.push({flags: hdr.flags, keywords: hdr.getStringProperty("keywords"),
                     subject: hdr.mime2DecodedSubject, date: hdr.date / 1000000});
    folders.push({path: path.join("/"), total: folder.getTotalMessages(false), messages});
  }
  return {directory: root.filePath.path, folders};
})().then(done, e => done({error: String(e)}));
"""


class Marionette:
    """The few commands of Marionette's protocol used here: length-prefixed JSON."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=SCRIPT_SECONDS + 30)
        self.buffer = b""
        self.last = 0
        self.read()  # the greeting

    def read(self):
        while b":" not in self.buffer:
            self.receive()
        length, self.buffer = self.buffer.split(b":", 1)
        while len(self.buffer) < int(length):
            self.receive()
        packet, self.buffer = self.buffer[:int(length)], self.buffer[int(length):]
        return json.loads(packet)

    def receive(self):
        data = self.sock.recv(65536)
        if not data:
            raise ConnectionError("Marionette closed the connection")
        self.buffer += data

    def call(self, name, params):
        self.last += 1
        data = json.dumps([0, self.last, name, params]).encode()
        self.sock.sendall(b"%d:%s" % (len(data), data))
        while True:
            reply = self.read()
            if reply[0] == 1 and reply[1] == self.last:
                if reply[2]:
                    raise RuntimeError("%s: %s" % (name, reply[2].get("message", reply[2])))
                return reply[3]


def tool_env(home):
    return dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), LC_ALL="C.UTF-8", TZ="UTC")


def make_profiles(home):
    """A settings folder with two profiles; the second, the default, keeps its Local
    Folders in "Local Folders-1" as a profile does whose first one was taken."""
    base = os.path.join(home, ".thunderbird")
    profile = os.path.join(base, "b2.default-release")
    local = os.path.join(profile, "Mail", "Local Folders-1")
    os.makedirs(local)
    os.makedirs(os.path.join(base, "a1.default", "Mail", "Local Folders"))
    with open(os.path.join(base, "profiles.ini"), "w") as ini:
        ini.write("[Profile1]\nName=default\nIsRelative=1\nPath=a1.default\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\nPath=b2.default-release\n\n"
                  "[Install3B6073811A6ABF12]\nDefault=b2.default-release\nLocked=1\n\n"
                  "[General]\nStartWithLastProfile=1\nVersion=2\n")
    with open(os.path.join(profile, "prefs.js"), "w") as prefs:
        prefs.write(PREFS)
    with open(os.path.join(local, "Kept"), "wb") as kept:
        kept.write(USERS_MAILBOX)
    return profile, local


# The messages of make_labelled_folder: subject, Eudora's status and label, and what
# Thunderbird should show: marks and tags.
LABELLED = [("plain", 0, 0, 0, ""), ("read, label 1", 1, 1, 0x0001, "$label1"), ("replied, label 5", 2, 5, 0x0003, "$label5"),
            ("forwarded, label 7", 3, 7, 0x1001, "$label7"), ("=?UTF-8?B?w6l0w6kgw6AgUGFyaXM=?=", 1, 0, 0x0001, "")]


def make_labelled_folder(root):
    """A Windows Eudora folder whose index marks messages read, replied, forwarded and
    labelled, in a folder named with "&" and an accent (its descmap.pce)."""
    os.makedirs(os.path.join(root, "FAMILY.FOL"))
    messages = [(subject.encode(), status, label) for subject, status, label, _, _ in LABELLED]
    data, toc = b"", bytearray(104 + 218 * len(messages))
    struct.pack_into("<H", toc, 102, len(messages))
    for number, (subject, status, label) in enumerate(messages):
        message = (b"From ???@??? Mon Dec 13 18:45:%02d 2010\r\nSubject: %s\r\n"
                   b"Date: Mon, 13 Dec 2010 18:45:%02d -0600\r\n\r\nbody\r\n\r\n" % (number, subject, number))
        struct.pack_into("<IIIHHH", toc, 104 + 218 * number, len(data), len(message), 0, status, 0, 3)
        struct.pack_into("<H", toc, 104 + 218 * number + 186, label)
        data += message
    for name, content in (("HOLIDAYS.MBX", data), ("HOLIDAYS.TOC", bytes(toc)),
                          ("descmap.pce", b"Holidays 2003,HOLIDAYS.MBX,M,N\r\n")):
        with open(os.path.join(root, "FAMILY.FOL", name), "wb") as out:
            out.write(content)
    with open(os.path.join(root, "descmap.pce"), "wb") as out:
        out.write("Family & Fréres,FAMILY.FOL,F,N\r\n".encode())
    return root


def place(cli, home, source):
    run = subprocess.run([cli, "--into-thunderbird", source], env=tool_env(home), capture_output=True)
    placed = re.search(rb"Placed into Thunderbird: Local Folders > (\S+)", run.stderr)
    if run.returncode != 0 or run.stdout.strip() != b"Completed" or not placed:
        raise SystemExit("placing %s failed: %r %r" % (source, run.stdout, run.stderr[-800:]))
    return placed.group(1).decode()


def decoded(text):
    return str(email.header.make_header(email.header.decode_header(text or "")))


def expected_folders(local):
    """What Thunderbird should show: each mailbox file, as folder path -> messages."""
    folders = {}
    for folder, dirs, names in os.walk(local):
        for name in names:
            if name.endswith(".msf"):
                continue
            path = os.path.relpath(os.path.join(folder, name), local)
            box = mailbox.mbox(os.path.join(folder, name), create=False)
            messages = []
            for key in box.iterkeys():
                msg, head = box[key], box.get_bytes(key).split(b"\n\n", 1)[0]
                keys = re.findall(rb"^X-Mozilla-Keys: (.*)$", head, re.M | re.I)
                date = email.utils.parsedate_to_datetime(msg["Date"]).timestamp() if msg["Date"] else None
                messages.append({"marks": int(msg.get("X-Mozilla-Status", "0"), 16) & MARKS,
                                 "keywords": sorted(keys[0].decode().split()) if keys else [],
                                 "subject": decoded(msg["Subject"]), "date": date})
            folders[re.sub(r"\.sbd/", "/", path)] = messages
    return folders


def compare(expected, shown, problems):
    shown = {f["path"]: f for f in shown}
    for path in sorted(set(expected) - set(shown)):
        problems.append("Thunderbird does not show %s" % path)
    for path in sorted(set(shown) - set(expected) - {"Trash", "Unsent Messages"}):
        problems.append("Thunderbird shows %s, which is no mailbox written" % path)
    messages = 0
    for path in sorted(set(expected) & set(shown)):
        want, got = expected[path], shown[path]["messages"]
        if len(want) != shown[path]["total"] or len(want) != len(got):
            problems.append("%s: %d messages written, Thunderbird counts %d (lists %d)"
                            % (path, len(want), shown[path]["total"], len(got)))
            continue
        messages += len(got)
        print("%s: %d messages" % (path, len(got)))
        for number, (w, g) in enumerate(zip(want, got)):
            subject = re.sub(r"^re: ?", "", w["subject"], flags=re.I) if g["flags"] & HAS_RE else w["subject"]
            seen = {"marks": g["flags"] & MARKS, "keywords": sorted(g["keywords"].split()),
                    "subject": g["subject"], "date": g["date"] if w["date"] is not None else None}
            wanted = dict(w, subject=subject)
            if seen != wanted:
                problems.append("%s #%d: Thunderbird shows %r, the file says %r" % (path, number, seen, wanted))
    return messages


def start_thunderbird(binary, home, profile, log):
    # Its temporary files too stay in the test's folder.
    os.makedirs(os.path.join(home, "tmp"), exist_ok=True)
    env = dict(tool_env(home), MOZ_CRASHREPORTER_DISABLE="1", MOZ_DISABLE_AUTO_SAFE_MODE="1", TMPDIR=os.path.join(home, "tmp"))
    process = subprocess.Popen([binary, "--headless", "--marionette", "-remote-allow-system-access", "--no-remote",
                                "--profile", profile], env=env, stdout=log, stderr=subprocess.STDOUT,
                               start_new_session=True)
    port_file = os.path.join(profile, "MarionetteActivePort")
    deadline = time.monotonic() + STARTUP_SECONDS
    while time.monotonic() < deadline and process.poll() is None:
        if os.path.exists(port_file) and open(port_file).read().strip():
            return process, int(open(port_file).read())
        time.sleep(0.5)
    return process, None


def stop(process):
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def read_with_thunderbird(binary, home, profile, log, while_running=lambda: None):
    """Thunderbird's view of Local Folders, or None when it did not start; calls
    `while_running` before it quits."""
    process, port = start_thunderbird(binary, home, profile, log)
    if port is None:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return None
    try:
        client = Marionette(port)
        client.call("WebDriver:NewSession", {"capabilities": {}})
        client.call("Marionette:SetContext", {"value": "chrome"})
        client.call("WebDriver:SetTimeouts", {"script": SCRIPT_SECONDS * 1000})
        shown = client.call("WebDriver:ExecuteAsyncScript", {"script": READ_FOLDERS, "args": []})["value"]
        while_running()
        try:
            client.call("Marionette:Quit", {"flags": ["eForceQuit"]})
        except (ConnectionError, OSError):
            pass  # it closes the connection as it quits
    finally:
        if process.poll() is None:
            stop(process)
    if "error" in shown:
        raise SystemExit("Thunderbird's script failed: %s" % shown["error"])
    return shown


def main():
    cli = sys.argv[1]
    binary = shutil.which("thunderbird")
    if not binary:
        print("thunderbird_itself: Thunderbird is not installed")
        return 77
    here = os.path.dirname(os.path.abspath(__file__))
    data = os.path.join(here, "..", "data", "eudora")
    sources = [os.path.join(data, f) for f in ("Windows Eudora Folder", "Mac Eudora Folder")]
    samples = sys.argv[2] if len(sys.argv) > 2 else ""
    sources += [os.path.join(samples, f) for f in ("Windows Eudora 7.1 Folder", "Mac Eudora 6.2.4 Folder")
                if samples and os.path.isdir(os.path.join(samples, f))]
    with tempfile.TemporaryDirectory() as home:
        sources.append(make_labelled_folder(os.path.join(home, "labelled")))
        profile, local = make_profiles(home)
        placed = [place(cli, home, source) for source in sources]
        expected = expected_folders(local)
        log_path = os.path.join(home, "thunderbird.log")
        refusal = []

        def place_while_running():
            before = sorted(os.listdir(local))
            run = subprocess.run([cli, "--into-thunderbird", sources[0]], env=tool_env(home), capture_output=True)
            refusal.append((run.returncode, run.stdout.decode(errors="replace").strip(), before, sorted(os.listdir(local))))

        with open(log_path, "w") as log:
            shown = read_with_thunderbird(binary, home, profile, log, place_while_running)
        if shown is None:
            print("thunderbird_itself: Thunderbird did not start; its output ends:")
            print(open(log_path, errors="replace").read()[-2000:])
            return 77
        problems = []
        # Thunderbird holds its profile: nothing is placed while it runs.
        code, said, before, after = refusal[0]
        if code != 1 or not said.startswith("Error: Thunderbird is running") or after != before:
            problems.append("placing while Thunderbird ran: exit %d, %r, Local Folders %r" % (code, said, after))
        if os.path.realpath(shown["directory"]) != os.path.realpath(local):
            problems.append("Thunderbird's Local Folders are %s, the mail went to %s" % (shown["directory"], local))
        messages = compare(expected, shown["folders"], problems)
        holidays = [f for f in shown["folders"] if f["path"] == placed[-1] + "/Family & Fréres/Holidays 2003"]
        seen = [(m["subject"], m["flags"] & MARKS, m["keywords"].strip()) for m in holidays[0]["messages"]] if holidays else None
        if seen != [(decoded(subject), marks, tags) for subject, _, _, marks, tags in LABELLED]:
            problems.append("Thunderbird shows the labelled folder as %r" % seen)
        for path in expected:
            if not os.path.isfile(os.path.join(local, path.replace("/", ".sbd/") + ".msf")):
                problems.append("%s: Thunderbird wrote no index" % path)
        with open(os.path.join(local, "Kept"), "rb") as kept:
            if kept.read() != USERS_MAILBOX:
                problems.append("the user's own folder changed")
        if os.path.isdir(os.path.join(home, ".thunderbird", "a1.default", "Mail", "Local Folders")) and \
                os.listdir(os.path.join(home, ".thunderbird", "a1.default", "Mail", "Local Folders")):
            problems.append("mail went into the profile that is not the default")
        print("thunderbird_itself: placed %s; Thunderbird shows %d folders, %d messages as written"
              % (", ".join(placed), len(shown["folders"]), messages))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
