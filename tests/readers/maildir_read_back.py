#!/usr/bin/env python3
"""Maildir output read back with Python's mailbox.Maildir, against the mbox output
of the same folder read with mailbox.mbox.

usage: maildir_read_back.py TARNWICK_CLI [SAMPLES_DIR]

For each Eudora folder under tests/data/eudora (and the real sample folders in
SAMPLES_DIR, when given) it converts with --format maildir in both layouts (Maildir++:
folders listed by list_folders(); tree: plain nested Maildirs) and with mbox
(--layout tree --no-crlf --no-add-empty-lines), then checks that the Maildir++
folders are the mbox files' paths (names in modified UTF-7) and that each mailbox holds the same
messages, byte for byte once the mbox's line ends are LF (the random MIME
boundaries of rebuilt messages and empty last lines left aside), every message in cur/ with
no CR, its file time the separator line's date, and the same attachments.
"""
import base64, email, email.policy, mailbox, os, re, subprocess, sys, tempfile

# The boundaries and Content-IDs of rebuilt messages are random: compared without them.
BOUNDARY = re.compile(rb"(?<=[=.])_?[0-9a-f]{32}(?=@tarnwick\.invalid>)|=_[0-9a-f]{32}")


def convert(cli, home, *args):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8", TZ="UTC")
    run = subprocess.run([cli, *args], env=env, capture_output=True)
    if run.returncode != 0 or run.stdout.strip() != b"Completed":
        raise SystemExit("conversion %s failed: %r %r" % (args, run.stdout, run.stderr[-500:]))


def comparable(data):
    """Without the random boundaries, and with one line end at the end: Python's mbox
    reader takes an empty last line as part of the separator, Maildir keeps it."""
    return BOUNDARY.sub(b"=_", data.replace(b"\r\n", b"\n")).rstrip(b"\n") + b"\n"


def attachments(data):
    parsed = email.message_from_bytes(data, policy=email.policy.default)
    return sorted(part.get_filename() for part in parsed.walk() if part.get_filename())


def modified_utf7(name):
    """IMAP's modified UTF-7 (RFC 3501 5.1.3), as Dovecot names Maildir++ folders."""
    out, pending = [], []
    def flush():
        if pending:
            data = "".join(pending).encode("utf-16-be")
            out.append("&" + base64.b64encode(data).decode().rstrip("=").replace("/", ",") + "-")
            pending.clear()
    for ch in name:
        if 0x20 <= ord(ch) <= 0x7E:
            flush()
            out.append("&-" if ch == "&" else ch)
        else:
            pending.append(ch)
    flush()
    return "".join(out)


def mbox_files(root):
    """The mbox files below `root`, each as its path's components."""
    for folder, _, files in os.walk(root):
        for name in files:
            yield os.path.relpath(os.path.join(folder, name), root).split(os.sep)


def main():
    cli = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    data = os.path.join(here, "..", "data", "eudora")
    folders = [os.path.join(data, f) for f in ("Windows Eudora Folder", "Mac Eudora Folder")]
    samples = sys.argv[2] if len(sys.argv) > 2 else ""
    folders += [os.path.join(samples, f) for f in ("Windows Eudora 7.1 Folder", "Mac Eudora 6.2.4 Folder")
                if samples and os.path.isdir(os.path.join(samples, f))]
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for number, source in enumerate(folders):
            folder = os.path.basename(source)
            out = {kind: os.path.join(work, str(number), kind) for kind in ("mbox", "flat", "tree")}
            for path in out.values():
                os.makedirs(path)
            convert(cli, work, "--no-crlf", "--no-add-empty-lines", "--layout", "tree", source, out["mbox"])
            convert(cli, work, "--format", "maildir", source, out["flat"])
            convert(cli, work, "--format", "maildir", "--layout", "tree", source, out["tree"])
            root = mailbox.Maildir(out["flat"], factory=None, create=False)
            files = sorted(mbox_files(out["mbox"]))
            paths = [parts[:-1] + [parts[-1][:-4] if parts[-1].lower().endswith(".mbx") else parts[-1]] for parts in files]
            plus = [".".join(modified_utf7(part.replace(".", "_")) for part in parts) for parts in paths]
            if sorted(root.list_folders()) != sorted(plus):
                problems.append("%s: Maildir++ folders %s, mbox files %s" % (folder, sorted(root.list_folders()), plus))
                continue
            for file, parts, name in zip(files, paths, plus):
                box = mailbox.mbox(os.path.join(out["mbox"], *file), factory=None, create=False)
                expected = sorted(comparable(box.get_bytes(key)) for key in box.iterkeys())
                for layout, maildir in (("flat", root.get_folder(name)),
                                        ("tree", mailbox.Maildir(os.path.join(out["tree"], *parts), factory=None, create=False))):
                    keys = list(maildir.iterkeys())
                    raw = [maildir.get_bytes(key) for key in keys]
                    got = sorted(comparable(data) for data in raw)
                    label = "%s %s %s" % (folder, layout, "/".join(parts))
                    if len(got) != len(expected):
                        problems.append("%s: %d messages, %d in the mbox output" % (label, len(got), len(expected)))
                    elif got != expected:
                        problems.append("%s: messages differ from the mbox output" % label)
                    if any(b"\r" in data for data in raw):
                        problems.append("%s: CR in a message" % label)
                    if any(maildir.get_message(key).get_subdir() != "cur" for key in keys):
                        problems.append("%s: a message outside cur/" % label)
                    found = sorted(name for data in got for name in attachments(data))
                    wanted = sorted(name for data in expected for name in attachments(data))
                    if found != wanted:
                        problems.append("%s: attachments %s, mbox output %s" % (label, found, wanted))
                    dates = {int(maildir.get_message(key).get_date()) for key in keys}
                    print("%s: %d messages, %d attachments, file times %s" % (label, len(got), len(found), sorted(dates)))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
