"""tarnwick-cli --imap against a real Dovecot on 127.0.0.1, read back with imaplib.
Usage: imap_upload_test.py TARNWICK_CLI   (exit 77 when Dovecot cannot run here)"""

import calendar
import email
import fcntl
import hashlib
import imaplib
import mailbox
import os
import pathlib
import re
import resource
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import imap_server  # noqa: E402

CLI = None
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = None
WORK = None
DATE = calendar.timegm((2003, 5, 6, 7, 8, 9))


def message_text(index, size=0, folder="In"):
    body = f"Message {index} in {folder}.\n" + ("x" * 70 + "\n") * (size // 71)
    return (f"From: sender{index}@example.org\nTo: me@example.org\nSubject: {folder} {index}\n"
            f"Message-ID: <{folder}.{index}@tarnwick.test>\nDate: Tue, 6 May 2003 07:08:09 +0000\n\n{body}")


def stage(root, folders):
    """folders: {name or "": [(text, flags)]} -> Maildir++ tree; file times = DATE + index."""
    box = mailbox.Maildir(root, create=True)
    for name, messages in folders.items():
        target = box if name == "" else box.add_folder(name)
        for i, (text, flags) in enumerate(messages):
            m = mailbox.MaildirMessage(text)
            m.set_subdir("cur")
            m.set_flags(flags)
            key = target.add(m)
            os.utime(os.path.join(target._path, target._lookup(key)), (DATE + i, DATE + i))
    return root


def count_text(n):
    return f"{n} message" if n == 1 else f"{n} messages"


def crlf(data):
    return re.sub(rb"(?<!\r)\n", b"\r\n", data)


class ImapUpload(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.config = os.path.join(self.dir, "config")

    def run_cli(self, source, user="anna", top="Eudora", password=None, port=None, host="127.0.0.1",
                ca=True, env=None, scheme="imaps", extra=(), preexec=None):
        password = password if password is not None else imap_server.USERS[user][0]
        port = port or (SERVER.tls_port if scheme == "imaps" else SERVER.plain_port)
        address = f"{scheme}://{user}@{host}:{port}/{top}"
        command = [CLI, "--imap", address] + (["--imap-ca", SERVER.cert] if ca else []) + list(extra) + [source]
        environment = dict(os.environ, TARNWICK_IMAP_PASSWORD=password, XDG_CONFIG_HOME=self.config,
                           TARNWICK_IMAP_RETRY_DELAYS="50,50")
        environment.update(env or {})
        result = subprocess.run(command, env=environment, capture_output=True, text=True, timeout=120,
                                stdin=subprocess.DEVNULL, preexec_fn=preexec)
        return result

    def eudora_folder(self, mailboxes):
        """A Eudora folder of mailboxes {name: [message text, LF lines]}, written as Windows
        Eudora does (CR LF, each after its separator line); its path."""
        source = os.path.join(self.dir, "Eudora")
        os.makedirs(source)
        separator = "From ???@??? Tue May 06 07:08:09 2003\r\n"
        for name, texts in mailboxes.items():
            with open(os.path.join(source, name + ".mbx"), "w", newline="") as f:
                for text in texts:
                    f.write(separator + text.replace("\n", "\r\n"))
        return source

    def large_mailbox(self, name, count):
        """A Eudora folder holding NAME.mbx with count messages of about 1 KB; its path."""
        return self.eudora_folder({name: [message_text(i, 1000, name) for i in range(count)]})

    def maildir_reference(self, source):
        """The --format maildir conversion of source, for what the server should hold; its path."""
        reference = os.path.join(self.dir, "reference")
        os.makedirs(reference)
        subprocess.run([CLI, "--quiet", "--format", "maildir", source, reference], check=True, capture_output=True,
                       env=dict(os.environ, XDG_CONFIG_HOME=self.config), stdin=subprocess.DEVNULL)
        return reference

    def cli_environment(self, cache):
        """anna's password, this test's settings and cache folder, for a run started by hand."""
        return dict(os.environ, TARNWICK_IMAP_PASSWORD="anna-secret", XDG_CONFIG_HOME=self.config, XDG_CACHE_HOME=cache)

    def connect(self, user="anna"):
        client = imaplib.IMAP4_SSL("127.0.0.1", SERVER.tls_port,
                                   ssl_context=ssl.create_default_context(cafile=SERVER.cert))
        client.login(user, imap_server.USERS[user][0])
        return client

    def folder_messages(self, client, folder):
        """[(flags set, internaldate epoch, bytes)] in UID order; None when missing."""
        typ, _ = client.select(folder, readonly=True)
        if typ != "OK":
            return None
        typ, data = client.uid("FETCH", "1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
        result = []
        for item in data:
            if not isinstance(item, tuple):
                continue
            head = item[0].decode()
            flags = set(re.search(r"FLAGS \(([^)]*)\)", head).group(1).split()) - {"\\Recent"}
            date = imaplib.Internaldate2tuple(item[0])
            result.append((flags, calendar.timegm(date) if date else None, item[1]))
        if not data or data == [None]:
            return []
        return result

    def test_folders_flags_dates_and_bodies_arrive_and_a_second_run_uploads_nothing(self):
        root = stage(os.path.join(self.dir, "stage"), {
            "": [(message_text(1), ""), (message_text(2), "S"), (message_text(3), "RS"),
                 (message_text(4), "PS"), (message_text(5), "D"), (message_text(6), "FS")],
            "Work": [(message_text(i, folder="Work"), "S") for i in range(3)],
            "Work.Projects": [(message_text(0, 4000, "Projects"), "")],
            "Fächer": [(message_text(0, folder="Faecher"), "S")],
            "Tom & Jerry": [(message_text(0, folder="TomJerry"), "")],
        })
        # A folder that exists already is used, and what it holds stays.
        client = self.connect()
        client.create("Eudora")
        client.append("Eudora", None, None, b"Subject: already here\r\n\r\nkept\r\n")
        client.logout()

        first = self.run_cli(root)
        self.assertEqual(first.returncode, 0, first.stderr + first.stdout)
        self.assertIn("Uploaded 12 messages", first.stderr)
        self.assertIn("0 already present, 0 refused, 0 failed", first.stderr)
        self.assertEqual(first.stdout.strip(), "Completed")

        client = self.connect()
        typ, listed = client.list('""', "Eudora*")
        names = sorted(re.search(rb'"\." (.*)$', line).group(1).decode().strip('"') for line in listed)
        self.assertEqual(names, ["Eudora", "Eudora.F&AOQ-cher", "Eudora.Tom &- Jerry", "Eudora.Work",
                                 "Eudora.Work.Projects"])
        expected_flags = [set(), {"\\Seen"}, {"\\Answered", "\\Seen"}, {"$Forwarded", "\\Seen"}, {"\\Draft"},
                          {"\\Flagged", "\\Seen"}]
        staged = {}
        for name, sub in [("Eudora", ""), ("Eudora.Work", ".Work"), ("Eudora.Work.Projects", ".Work.Projects"),
                          ("Eudora.F&AOQ-cher", ".Fächer"), ("Eudora.Tom &- Jerry", ".Tom & Jerry")]:
            cur = os.path.join(root, sub, "cur")
            by_date = sorted(os.listdir(cur), key=lambda f: os.stat(os.path.join(cur, f)).st_mtime)
            staged[name] = [open(os.path.join(cur, f), "rb").read() for f in by_date]
        for name, files in staged.items():
            messages = self.folder_messages(client, '"' + name + '"')
            if name == "Eudora":
                self.assertEqual(messages[0][2], b"Subject: already here\r\n\r\nkept\r\n")
                messages = messages[1:]
                self.assertEqual([m[0] for m in messages], expected_flags)
            self.assertEqual(len(messages), len(files), name)
            for (flags, date, body), data in zip(messages, files):
                self.assertEqual(body, crlf(data), name)
            self.assertEqual([m[1] for m in messages], [DATE + i for i in range(len(files))], name)
        client.logout()

        second = self.run_cli(root)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertIn("Uploaded 0 messages (0 KB); 12 already present, 0 refused, 0 failed", second.stderr)
        client = self.connect()
        self.assertEqual(len(self.folder_messages(client, "Eudora")), 7)
        client.logout()

    def test_a_eudora_folder_is_converted_and_uploaded_as_the_maildir_output_holds_it(self):
        source = os.path.join(REPO, "tests", "data", "eudora", "Windows Eudora Folder")
        if not os.path.isdir(source):
            self.skipTest("no Eudora fixture folder")
        reference = os.path.join(self.dir, "reference")
        os.makedirs(reference)
        environment = dict(os.environ, XDG_CONFIG_HOME=self.config)
        made = subprocess.run([CLI, "--quiet", "--format", "maildir", source, reference], env=environment,
                              capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertEqual(made.returncode, 0, made.stderr + made.stdout)
        cache = os.path.join(self.dir, "cache")
        result = self.run_cli(source, top="Converted", env={"XDG_CACHE_HOME": cache})
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        self.assertEqual(result.stdout.strip().splitlines()[-1], "Completed")
        self.assertEqual(os.listdir(os.path.join(cache, "Tarnwick")), [], "the converted copy was left behind")
        folders = [name for name in os.listdir(reference) if name.startswith(".")]
        self.assertTrue(folders)
        client = self.connect()
        total = 0
        for name in folders:
            cur = os.path.join(reference, name, "cur")
            # Rebuilt messages get MIME boundaries of their own in each conversion.
            same = lambda data: re.sub(rb"[0-9a-f]{32}", b"_", data)
            expected = sorted(same(crlf(open(os.path.join(cur, f), "rb").read())) for f in os.listdir(cur))
            messages = self.folder_messages(client, '"Converted' + name + '"')
            self.assertIsNotNone(messages, name)
            self.assertEqual(sorted(same(m[2]) for m in messages), expected, name)
            total += len(expected)
        client.logout()
        self.assertIn(f"Uploaded {count_text(total)} (", result.stderr)

    def test_a_converted_folder_cut_off_mid_upload_is_converted_again_and_finished_without_duplicates(self):
        source = os.path.join(REPO, "tests", "data", "eudora", "Windows Eudora Folder")
        if not os.path.isdir(source):
            self.skipTest("no Eudora fixture folder")
        cache = {"XDG_CACHE_HOME": os.path.join(self.dir, "cache")}
        proxy = imap_server.CuttingProxy(SERVER.tls_port, cut_after=9000, refuse_after_cut=True)
        try:
            first = self.run_cli(source, top="Resumed", port=proxy.port, env=cache)
        finally:
            proxy.stop()
        self.assertTrue(proxy.cut)
        self.assertEqual(first.returncode, 1, first.stderr)
        self.assertIn("not uploaded yet", first.stderr)
        self.assertEqual(os.listdir(os.path.join(self.dir, "cache", "Tarnwick")), [])
        second = self.run_cli(source, top="Resumed", env=cache)
        self.assertEqual(second.returncode, 0, second.stderr + second.stdout)
        self.assertRegex(second.stderr, r"; [1-9][0-9]* already present, 0 refused, 0 failed")
        self.assertEqual(os.listdir(os.path.join(self.dir, "cache", "Tarnwick")), [])
        client = self.connect()
        typ, listed = client.list('""', "Resumed.*")
        bodies = []
        for line in listed:
            name = re.search(rb'"\." (.*)$', line).group(1).decode()
            bodies += [m[2] for m in self.folder_messages(client, name)]
        client.logout()
        self.assertEqual(len(bodies), len(set(bodies)), "a message arrived twice")
        reference = self.maildir_reference(source)
        converted = sum(len(os.listdir(os.path.join(reference, name, "cur"))) for name in os.listdir(reference)
                        if name.startswith("."))
        self.assertEqual(len(bodies), converted)

    def test_with_keep_going_a_mailbox_that_fails_to_convert_leaves_the_others_to_upload(self):
        # Writes over 16 KB fail: the large mailbox's message, too large to be held in memory
        # on its way, cannot be converted; the other can.
        source = self.eudora_folder({
            "Large": ["Subject: large\n\n" + ("y" * 70 + "\n") * 16000],
            "Small": [f"Subject: small {i}\nMessage-ID: <small.{i}@tarnwick.test>\n\nText {i}.\n" for i in range(3)]})
        cache = os.path.join(self.dir, "cache")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (16384, 16384))
        for keep_going in (False, True):
            with self.subTest(keep_going=keep_going):
                top = "KeptGoing" if keep_going else "Stopped"
                extra = ("--keep-going",) if keep_going else ()
                result = self.run_cli(source, top=top, extra=extra, env={"XDG_CACHE_HOME": cache}, preexec=limit)
                self.assertEqual(result.returncode, 1, result.stderr + result.stdout)
                self.assertTrue(result.stdout.startswith("Error: "), result.stdout)
                self.assertEqual(os.listdir(os.path.join(cache, "Tarnwick")), [])
                client = self.connect()
                small = self.folder_messages(client, f'"{top}.Small"')
                large = self.folder_messages(client, f'"{top}.Large"')
                client.logout()
                if keep_going:
                    self.assertEqual(len(small), 3, result.stderr)
                    self.assertIn("Uploaded 3 messages", result.stderr)
                    self.assertIn("were not uploaded, or only in part: upload each on its own", result.stderr)
                else:
                    # The job stops at the failure: a mailbox converted whole before it is up whole.
                    self.assertIn(len(small or []), (0, 3), result.stderr)
                    self.assertEqual("Uploaded 3 messages" in result.stderr, bool(small), result.stderr)
                self.assertIsNone(large)

    def test_a_refused_login_stops_before_converting_and_a_run_that_keeps_going_ends_in_the_conversions_error(self):
        # The first run cannot log in: nothing is converted. The second converts (one mailbox
        # fails), uploads the other and still says what was not converted.
        source = self.eudora_folder({
            "Large": ["Subject: large\n\n" + ("y" * 70 + "\n") * 16000],
            "Small": ["Subject: small\nMessage-ID: <later.0@tarnwick.test>\n\nText.\n"]})
        env = {"XDG_CACHE_HOME": os.path.join(self.dir, "cache")}
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (16384, 16384))
        first = self.run_cli(source, top="Later", extra=("--keep-going",), env=env, preexec=limit,
                             password="not-the-password")
        self.assertEqual(first.returncode, 1, first.stderr)
        self.assertIn("did not accept the login", first.stdout)
        self.assertNotIn("Processing", first.stderr)
        self.assertEqual(os.listdir(os.path.join(self.dir, "cache", "Tarnwick")), [])
        second = self.run_cli(source, top="Later", extra=("--keep-going",), env=env, preexec=limit)
        self.assertEqual(second.returncode, 1, second.stderr + second.stdout)
        self.assertIn("Uploaded 1 message ", second.stderr)
        self.assertTrue(second.stdout.startswith("Error: "), second.stdout)
        self.assertIn("File too large", second.stdout)

    def test_mailboxes_converted_while_they_upload_arrive_whole_in_the_folders_the_maildir_output_names(self):
        # "a.b" and "a_b" both become ".a_b": the second mailbox is numbered, as in the
        # Maildir output; labelled messages carry their keywords.
        # Past the 200 messages of a batch, so that some go up before their mailbox is done.
        source = self.eudora_folder({
            name: [("X-Keywords: Work\n" if i % 7 == 0 else "") + message_text(i, 300, name) for i in range(count)]
            for name, count in (("a.b", 800), ("a_b", 800), ("In", 50))})
        reference = self.maildir_reference(source)
        result = self.run_cli(source, top="Beside", env={"XDG_CACHE_HOME": os.path.join(self.dir, "cache")})
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        client = self.connect()
        folders = sorted(name for name in os.listdir(reference) if name.startswith("."))
        self.assertEqual(len(folders), 3, folders)
        for name in folders:
            cur = os.path.join(reference, name, "cur")
            expected = sorted(crlf(pathlib.Path(cur, f).read_bytes()) for f in os.listdir(cur))
            messages = self.folder_messages(client, '"Beside' + name + '"')
            self.assertEqual(sorted(m[2] for m in messages), expected, name)
            self.assertEqual([b"X-Keywords: Work" in m[2] for m in messages], ["Work" in m[0] for m in messages], name)
            self.assertTrue(any("Work" in m[0] for m in messages), name)
        client.logout()

    def test_messages_too_large_to_hold_in_memory_arrive_whole_and_leave_nothing_in_the_cache(self):
        source = self.eudora_folder(
            {"Big": [message_text(i, size, "Big") for i, size in enumerate((1_600_000, 500, 3_000_000, 1_048_000))]})
        reference = self.maildir_reference(source)
        cache = os.path.join(self.dir, "cache")
        result = self.run_cli(source, user="large", top="Whole", env={"XDG_CACHE_HOME": cache})
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        cur = os.path.join(reference, ".Big", "cur")
        expected = sorted(crlf(pathlib.Path(cur, f).read_bytes()) for f in os.listdir(cur))
        self.assertGreater(max(map(len, expected)), 2 << 20)
        client = self.connect("large")
        messages = self.folder_messages(client, '"Whole.Big"')
        client.logout()
        self.assertEqual(sorted(m[2] for m in messages), expected)
        self.assertEqual([], [name for _, _, files in os.walk(cache) for name in files])

    def test_a_second_run_of_the_same_upload_is_refused_while_the_first_runs(self):
        count = 6000
        source = self.large_mailbox("In", count)
        cache = os.path.join(self.dir, "cache")
        address = f"imaps://anna@127.0.0.1:{SERVER.tls_port}/Twice"
        environment = self.cli_environment(cache)
        command = [CLI, "--imap", address, "--imap-ca", SERVER.cert, source]
        first = subprocess.Popen(command, env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                 stdin=subprocess.DEVNULL)
        folder = os.path.join(cache, "Tarnwick")
        deadline = time.time() + 30
        while first.poll() is None and time.time() < deadline and not (
                os.path.isdir(folder) and any(name.endswith(".lock") for name in os.listdir(folder))):
            time.sleep(0.002)
        second = subprocess.run(command, env=environment, capture_output=True, text=True, timeout=60,
                                stdin=subprocess.DEVNULL)
        out, err = first.communicate(timeout=120)
        self.assertEqual(first.returncode, 0, err + out)
        self.assertEqual(second.returncode, 1, second.stderr + second.stdout)
        self.assertEqual(second.stdout.strip(), "Error: Another upload of the same mail into this account is running")
        self.assertEqual(os.listdir(folder), [])
        client = self.connect()
        ids = [email.message_from_bytes(m[2])["Message-ID"] for m in self.folder_messages(client, "Twice.In")]
        client.logout()
        self.assertEqual(len(ids), count)
        self.assertEqual(len(set(ids)), count, "a message arrived twice")

    def test_a_maildir_tree_that_another_run_is_uploading_into_the_account_is_refused(self):
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), "S")]})
        cache = os.path.join(self.dir, "cache")
        key = hashlib.sha256(f"anna@127.0.0.1/Held\n{root}".encode()).hexdigest()[:24]
        os.makedirs(os.path.join(cache, "Tarnwick"))
        with open(os.path.join(cache, "Tarnwick", f"upload-{key}.lock"), "w") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            refused = self.run_cli(root, top="Held", env={"XDG_CACHE_HOME": cache})
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertEqual(refused.stdout.strip(), "Error: Another upload of the same mail into this account is running")
        result = self.run_cli(root, top="Held", env={"XDG_CACHE_HOME": cache})
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        self.assertIn("Uploaded 1 message ", result.stderr)

    def test_a_run_killed_while_converting_has_uploaded_part_and_the_next_finishes_it_without_duplicates(self):
        count = 12000
        source = self.large_mailbox("Big", count)
        cache = os.path.join(self.dir, "cache")
        address = f"imaps://anna@127.0.0.1:{SERVER.tls_port}/Overlap"
        environment = self.cli_environment(cache)
        log = open(os.path.join(self.dir, "killed.err"), "w+")
        process = subprocess.Popen([CLI, "--imap", address, "--imap-ca", SERVER.cert, source], env=environment,
                                   stdout=subprocess.DEVNULL, stderr=log, stdin=subprocess.DEVNULL)
        home = os.path.join(SERVER.homes, "anna", "Maildir", ".Overlap.Big")
        # The job's summary ends the conversion.
        converted = lambda: "Mailboxes converted" in pathlib.Path(log.name).read_text()
        arrived = 0
        deadline = time.time() + 60
        while process.poll() is None and time.time() < deadline and not arrived:
            arrived = sum(len(os.listdir(os.path.join(home, part))) for part in ("new", "cur")
                          if os.path.isdir(os.path.join(home, part)))
            time.sleep(0.002)
        still_converting = not converted()
        process.kill()
        process.wait()
        log.close()
        self.assertTrue(arrived, "nothing arrived while the process ran")
        self.assertTrue(still_converting, "nothing arrived before the conversion was over")
        time.sleep(0.5)  # the server finishes what the killed run sent
        second = subprocess.run([CLI, "--imap", address, "--imap-ca", SERVER.cert, source], env=environment,
                                capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(second.returncode, 0, second.stderr + second.stdout)
        client = self.connect()
        ids = [email.message_from_bytes(m[2])["Message-ID"] for m in self.folder_messages(client, "Overlap.Big")]
        client.logout()
        self.assertEqual(len(ids), count)
        self.assertEqual(len(set(ids)), count, "a message arrived twice")

    def test_labels_go_up_as_keywords(self):
        root = stage(os.path.join(self.dir, "stage"), {
            "Labels": [(message_text(1), "Sa"), (message_text(2), "bc"), (message_text(3), "")]})
        with open(os.path.join(root, ".Labels", "dovecot-keywords"), "w") as f:
            f.write("0 $label1\n1 Work\n2 $Forwarded\n")
        result = self.run_cli(root, top="Keywords")
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        client = self.connect()
        self.assertEqual([m[0] for m in self.folder_messages(client, "Keywords.Labels")],
                         [{"\\Seen", "$label1"}, {"Work", "$Forwarded"}, set()])
        client.logout()

    def test_starttls_and_plain_text_on_this_machine(self):
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), "S"), (message_text(2), "")]})
        for label, extra in [("StartTls", ()), ("Plain", ("--imap-plain",))]:
            with self.subTest(label):
                result = self.run_cli(root, top=label, scheme="imap", extra=extra)
                self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
                self.assertIn("Uploaded 2 messages", result.stderr)
                client = self.connect()
                self.assertEqual([m[0] for m in self.folder_messages(client, label)], [{"\\Seen"}, set()])
                client.logout()
        # Dovecot's log says which connections were encrypted.
        logins = [line for line in SERVER.log().splitlines() if "Login: user=<anna>" in line]
        self.assertTrue(any("TLS" in line for line in logins))

    def test_the_upload_speaks_japanese_where_the_user_does(self):
        if not os.path.exists(os.path.join(os.path.dirname(CLI), "..", "app", "tarnwick_ja.qm")):
            self.skipTest("no Japanese catalogue built")
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), ""), (message_text(2), "")]})
        for run, summary in [(1, "メッセージ 2 通をアップロードしました (1 KB)。既にあったもの 0、拒否 0、失敗 0"),
                             (2, "メッセージ 0 通をアップロードしました (0 KB)。既にあったもの 2、拒否 0、失敗 0")]:
            result = self.run_cli(root, top="Japanese", env={"LANG": "ja_JP.UTF-8", "LC_ALL": "", "LANGUAGE": ""})
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("127.0.0.1 に接続しています...", result.stderr)
            self.assertIn("「Japanese」をアップロードしています (メッセージ 2 通)...", result.stderr)
            self.assertIn("  Japanese: メッセージ 2 通のうち %d 通をアップロード" % (2 if run == 1 else 0), result.stderr)
            self.assertIn(summary, result.stderr)
            self.assertEqual(result.stdout, "完了しました\n")
        missing = self.run_cli(os.path.join(self.dir, "stage"), top="Japanese", port=imap_server.free_port(),
                               env={"LANG": "ja_JP.UTF-8", "LC_ALL": "", "LANGUAGE": ""})
        self.assertIn("メッセージ 2 通がまだアップロードされていません", missing.stderr)
        self.assertIn("停止しました: ", missing.stderr)
        self.assertTrue(missing.stdout.startswith("エラー: "), missing.stdout)

    def test_the_password_is_asked_on_the_terminal_without_echo(self):
        import pty
        import select
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), "")]})
        environment = dict(os.environ, XDG_CONFIG_HOME=self.config)
        environment.pop("TARNWICK_IMAP_PASSWORD", None)
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(CLI, [CLI, "--imap", f"imaps://anna@127.0.0.1:{SERVER.tls_port}/Asked", "--imap-ca", SERVER.cert,
                            root], environment)
        seen = b""
        sent = False
        while True:
            ready, _, _ = select.select([fd], [], [], 30)
            if not ready:
                break
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if not sent and b"Password for anna at 127.0.0.1: " in seen:
                os.write(fd, b"anna-secret\n")
                sent = True
        _, status = os.waitpid(pid, 0)
        self.assertTrue(sent, seen)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, seen)
        self.assertNotIn(b"anna-secret", seen)
        self.assertIn(b"Uploaded 1 message ", seen)

    def test_wrong_password_is_refused_and_nothing_is_created(self):
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), "")]})
        result = self.run_cli(root, top="WrongPassword", password="not-the-password")
        self.assertEqual(result.returncode, 1)
        self.assertIn("did not accept the login of anna", result.stdout)
        self.assertIn("1 message not uploaded yet", result.stderr)
        client = self.connect()
        self.assertEqual(client.list('""', "WrongPassword*")[1], [None])
        client.logout()

    def test_a_certificate_not_trusted_or_for_another_name_is_refused(self):
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(1), "")]})
        cases = [("not trusted", {"ca": False}, "issuer is unknown"),
                 ("another name", {"host": "localhost"}, "does not match")]
        for label, options, reason in cases:
            with self.subTest(label):
                result = self.run_cli(root, top="Untrusted", **options)
                self.assertEqual(result.returncode, 1, label)
                self.assertIn("The certificate of", result.stdout, label)
                self.assertIn(reason, result.stdout, label)
        client = self.connect()
        self.assertEqual(client.list('""', "Untrusted*")[1], [None])
        client.logout()

    def test_a_folder_that_cannot_be_created_fails_its_messages_and_the_rest_goes_on(self):
        root = stage(os.path.join(self.dir, "stage"), {
            "": [(message_text(1), "S")],
            "Work": [(message_text(i, folder="Work"), "") for i in range(2)],
        })
        result = self.run_cli(root, user="locked")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('Could not create the folder "Eudora.Work"', result.stderr)
        self.assertIn("Uploaded 1 message ", result.stderr)
        self.assertIn("0 refused, 2 failed", result.stderr)
        client = self.connect("locked")
        self.assertEqual(len(self.folder_messages(client, "Eudora")), 1)
        client.logout()

    def test_a_full_mailbox_stops_the_run_and_says_what_was_uploaded(self):
        messages = [(message_text(i, 6000, "Full"), "") for i in range(8)]
        root = stage(os.path.join(self.dir, "stage"), {"": messages})
        result = self.run_cli(root, user="quota")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stdout, r"(?i)Error: .*quota")
        uploaded = int(re.search(r"Uploaded (\d+) messages? ", result.stderr).group(1))
        self.assertGreater(uploaded, 0)
        self.assertLess(uploaded, 8)
        self.assertIn(count_text(8 - uploaded) + " not uploaded yet", result.stderr)
        self.assertIn("Run the same command again", result.stderr)
        client = self.connect("quota")
        self.assertEqual(len(self.folder_messages(client, "Eudora")), uploaded)
        client.logout()

    def test_converted_mail_a_refusal_names_the_message_and_a_full_mailbox_stops_the_conversion(self):
        source = self.eudora_folder({"In": [message_text(i, 300 * 1024 if i == 1 else 1400) for i in range(3000)]})
        for user in ("anna", "quota"):
            with self.subTest(user):
                result = self.run_cli(source, user=user, top="Converted")
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertRegex(result.stderr, r'"Converted/In, message 2" \(\d+ KB\) was refused as too large')
                if user == "anna":
                    self.assertIn("Uploaded 2999 messages", result.stderr)
                    self.assertEqual(result.stdout.strip(), "Error: 1 message was not uploaded")
                    continue
                # Stopped by the server: the conversion stops too, well before its end.
                self.assertRegex(result.stdout, r"(?i)Error: .*quota")
                self.assertNotIn("Mailboxes converted", result.stderr)
                self.assertLess(int(re.search(r"Uploaded (\d+) messages? ", result.stderr).group(1)), 30)

    def test_a_message_over_the_size_limit_is_refused_once_and_the_others_go(self):
        # anna's server refuses it when it comes (NO [LIMIT]); limited's announces
        # APPENDLIMIT, so it is never sent.
        cases = [("anna", 300 * 1024, r'\(\d+ KB\) was refused as too large: .*\[LIMIT\]'),
                 ("limited", 100 * 1024, r'\(\d+ KB\) is larger than 127\.0\.0\.1 accepts \(64 KB\)')]
        for user, size, reason in cases:
            with self.subTest(user):
                root = stage(os.path.join(self.dir, user), {
                    "": [(message_text(1), ""), (message_text(2, size), ""), (message_text(3), "")]})
                for run in (1, 2):
                    result = self.run_cli(root, user=user, top="Big")
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertEqual(len(re.findall(reason, result.stderr)), 1, result.stderr)
                    self.assertNotIn("trying again", result.stderr)
                    uploaded, present = (2, 0) if run == 1 else (0, 2)
                    self.assertIn(f"Uploaded {uploaded} messages", result.stderr)
                    self.assertIn(f"{present} already present, 1 refused, 0 failed", result.stderr)
                    self.assertEqual(result.stdout.strip(), "Error: 1 message was not uploaded")
                client = self.connect(user)
                self.assertEqual([m[2] for m in self.folder_messages(client, "Big")],
                                 [crlf(message_text(i).encode()) for i in (1, 3)])
                client.logout()
        logged = SERVER.log()
        self.assertIn("user=<limited>", logged)

    def test_a_message_the_server_hangs_up_on_is_refused_as_too_large_and_the_others_go(self):
        # A server that closes the connection when a message over its limit comes,
        # instead of answering NO: a proxy on the plain port drops every connection
        # that announces a literal over 100 KB.
        sizes = [0, 2000, 150 * 1024, 0, 3000]
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(i, size, "Drop"), "") for i, size in enumerate(sizes)]})
        proxy = imap_server.DroppingProxy(SERVER.plain_port, 100 * 1024)
        try:
            for run in (1, 2):
                result = self.run_cli(root, top="Drop", scheme="imap", port=proxy.port, extra=("--imap-plain",))
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(len(re.findall(r'\(15\d KB\) was refused as too large: ', result.stderr)), 1, result.stderr)
                self.assertRegex(result.stderr, r"\d already present, 1 refused, 0 failed")
                self.assertEqual(result.stdout.strip(), "Error: 1 message was not uploaded")
        finally:
            proxy.stop()
        self.assertGreaterEqual(proxy.drops, 4)
        client = self.connect()
        self.assertEqual([m[2] for m in self.folder_messages(client, "Drop")],
                         [crlf(message_text(i, sizes[i], "Drop").encode()) for i in (0, 1, 3, 4)])
        client.logout()

    def test_connections_the_server_refuses_leave_the_upload_to_those_it_gave(self):
        # A server of its own that takes two connections of a user at once (Dovecot's
        # default is ten); the upload asks for six.
        os.chmod(self.dir, 0o755)  # as root, Dovecot's own users must reach its files
        os.makedirs(os.path.join(self.dir, "dovecot"))
        server = imap_server.Dovecot(os.path.join(self.dir, "dovecot"))
        with open(server.config, "a") as f:
            f.write("protocol imap {\n  mail_max_userip_connections = 2\n}\n")
        server.start()
        try:
            count = 2400
            root = os.path.join(self.dir, "stage")
            for part in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(root, part))
            for i in range(count):
                path = os.path.join(root, "cur", f"{DATE + i}.{i}.test:2,")
                with open(path, "w") as f:
                    f.write(message_text(i, 700, "Few"))
                os.utime(path, (DATE + i, DATE + i))
            result = self.run_cli(root, top="Few", port=server.tls_port, ca=False,
                                  extra=["--imap-ca", server.cert, "--imap-connections", "6"])
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("going on over the connections already open", result.stderr)
            self.assertIn("Maximum number of connections", server.log(tail=None))
            self.assertIn(f"Uploaded {count_text(count)} (", result.stderr)
            client = imaplib.IMAP4_SSL("127.0.0.1", server.tls_port,
                                       ssl_context=ssl.create_default_context(cafile=server.cert))
            client.login("anna", "anna-secret")
            ids = [email.message_from_bytes(m[2])["Message-ID"] for m in self.folder_messages(client, "Few")]
            client.logout()
            self.assertEqual(sorted(ids), sorted(f"<Few.{i}@tarnwick.test>" for i in range(count)))
        finally:
            server.stop()

    def cut_and_resume(self, top, refuse_after_cut):
        count = 30
        root = stage(os.path.join(self.dir, "stage"),
                     {"": [(message_text(i, 2500, top), "S") for i in range(count)]})
        proxy = imap_server.CuttingProxy(SERVER.tls_port, cut_after=45000, refuse_after_cut=refuse_after_cut)
        try:
            first = self.run_cli(root, top=top, port=proxy.port)
        finally:
            proxy.stop()
        self.assertTrue(proxy.cut, "the proxy never cut the connection")
        client = self.connect()
        on_server = len(self.folder_messages(client, top))
        client.logout()
        if refuse_after_cut:
            self.assertEqual(first.returncode, 1, first.stderr)
            self.assertIn("trying again", first.stderr)
            self.assertLess(on_server, count)
            second = self.run_cli(root, top=top)
            self.assertEqual(second.returncode, 0, second.stderr)
            self.assertIn(f"Uploaded {count_text(count - on_server)} (", second.stderr)
        else:
            self.assertEqual(first.returncode, 0, first.stderr)
            self.assertIn("trying again", first.stderr)
        client = self.connect()
        bodies = [m[2] for m in self.folder_messages(client, top)]
        client.logout()
        ids = [email.message_from_bytes(b)["Message-ID"] for b in bodies]
        self.assertEqual(len(ids), count)
        self.assertEqual(len(set(ids)), count, "a message arrived twice")

    def test_a_run_killed_mid_upload_is_finished_by_the_next_without_duplicates(self):
        # Killed while batches are on their way: what the server may hold has its
        # journal line on disk, and is looked for before it is sent again.
        count = 600
        root = stage(os.path.join(self.dir, "stage"), {"": [(message_text(i, 1500, "Killed"), "") for i in range(count)]})
        address = f"imaps://anna@127.0.0.1:{SERVER.tls_port}/Killed"
        environment = dict(os.environ, TARNWICK_IMAP_PASSWORD="anna-secret", XDG_CONFIG_HOME=self.config)
        sessions = lambda: (len(re.findall(r"Login: user=<anna>", SERVER.log(tail=None))),
                            len(re.findall(r"imap\(anna\).*Disconnected", SERVER.log(tail=None))))
        begun_before, ended_before = sessions()
        process = subprocess.Popen([CLI, "--imap", address, "--imap-ca", SERVER.cert, root], env=environment,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        home = os.path.join(SERVER.homes, "anna", "Maildir", ".Killed")
        deadline = time.time() + 60
        while process.poll() is None and time.time() < deadline:
            arrived = [name for part in ("new", "cur", "tmp") if os.path.isdir(os.path.join(home, part))
                       for name in os.listdir(os.path.join(home, part))]
            if len(arrived) >= 50:
                break
            time.sleep(0.002)
        process.kill()
        process.wait()
        # The server finishes (or drops) what the killed run sent, on each of its
        # connections, before the next looks.
        deadline = time.time() + 10
        while time.time() < deadline:
            begun, ended = sessions()
            if begun > begun_before and ended - ended_before >= begun - begun_before:
                break
            time.sleep(0.02)
        second = self.run_cli(root, top="Killed")
        self.assertEqual(second.returncode, 0, second.stderr)
        client = self.connect()
        ids = [email.message_from_bytes(m[2])["Message-ID"] for m in self.folder_messages(client, "Killed")]
        client.logout()
        self.assertEqual(len(ids), count)
        self.assertEqual(len(set(ids)), count, "a message arrived twice")

    def test_a_connection_cut_mid_upload_is_resumed_by_the_next_run_without_duplicates(self):
        self.cut_and_resume("Cut", refuse_after_cut=True)

    def test_a_connection_cut_mid_upload_is_reconnected_within_the_run(self):
        self.cut_and_resume("Reconnect", refuse_after_cut=False)


def main():
    global CLI, SERVER, WORK
    CLI = os.path.abspath(sys.argv[1])
    WORK = tempfile.mkdtemp(prefix="tarnwick-imap-")
    try:
        SERVER = imap_server.Dovecot(WORK)
        SERVER.start()
    except (imap_server.SkipServer, OSError, subprocess.CalledProcessError) as error:
        print(f"imap_upload_test: skipped: {error}")
        shutil.rmtree(WORK, ignore_errors=True)
        return 77
    try:
        program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
        ok = program.result.wasSuccessful()
        if not ok:
            print(SERVER.log())
        return 0 if ok else 1
    finally:
        SERVER.stop()
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
